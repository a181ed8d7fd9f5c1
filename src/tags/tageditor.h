#pragma once
// The tag editor's commands, below its window: reading and saving the seven
// fields of a file, the copy buffer, a fill proposal taken over, copying the
// fields down a folder's files with their track numbers counted on, the walk
// through the autolist, and deleting a file with its bookmarks. The window
// holds the boxes and the file list and shows what these give.

#include "tags/filetags.h"
#include "tags/fillrules.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class TAppState;
class TBookmarkCommands;
class TListeningSession;

// The seven tag fields the editor copies and pastes between files.
struct TChgRec {
    QString Artist;
    QString Album;
    QString Track;
    QString Title;
    QString Year;
    QString Genre;
    QString Comment;
    bool HasData = false;
};

class TTagEditor : public QObject {
    Q_OBJECT
public:
    TTagEditor(TAppState& app, TBookmarkCommands& bookmarks, TListeningSession& session,
               QObject* parent = nullptr);

    // The fields of path's tag, whatever its format; empty when it has none.
    // The read is kept: a save of that file writes what differs from it.
    TChgRec Read(const QString& path);
    // Writes the fields that differ from what path's last read showed into
    // path (a player playing it steps aside); says why when the save fails.
    void Save(const QString& path, const TChgRec& fields);
    // fields with the fill window's proposal over artist, album, track and title.
    static TChgRec WithProposal(TChgRec fields, const TFillResult& proposal);
    // A track number as copying downwards writes it: two digits at least.
    static QString TrackText(int64_t n);

    // The record "Copy record" took, for "Paste record" (one for the run).
    TChgRec CopyBuffer;

    // Copies fields (the track counted on from fields.Track) into each of paths
    // in turn, letting events run before each; shown(i) before path i is
    // written. Ends quietly at the first error and when the program closes.
    // While it runs, CopyingDown holds: the editor's list must stay as it is.
    void CopyDownwards(const TChgRec& fields, const QStringList& paths,
                       const std::function<void(int index)>& shown);
    bool CopyingDown = false;

    // Takes entries off the end of the autolist until one names a file that
    // lacks artist or album (or, with the option, track or title), and returns
    // the last one taken. Empty, after saying so, when it named no file.
    QString NextAutolistEntry();

    // Deletes path with all of its bookmarks after asking. The file goes
    // first: when it stays, so do its bookmarks. True when it is gone.
    bool DeleteFileAndBookmarks(const QString& path);

private:
    TFileTag shown; // the last file read, as it was shown
    TAppState& app;
    TBookmarkCommands& bookmarks;
    TListeningSession& session;
};
