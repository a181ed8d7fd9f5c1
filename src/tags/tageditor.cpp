#include "tags/tageditor.h"

#include "bookmarks/bookmarkcommands.h"
#include "playback/session.h"
#include "rename/massrename.h"
#include "tags/writetag.h"
#include "util/appstate.h"
#include "util/dialogs.h"
#include "util/options.h"
#include "util/qorext.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

TTagEditor::TTagEditor(TAppState& appState, TBookmarkCommands& commands,
                       TListeningSession& listening, QObject* parent)
    : QObject(parent), app(appState), bookmarks(commands), session(listening) {}

TChgRec TTagEditor::Read(const QString& path) {
    shown = ReadFileTag(path);
    const TMP3Rec& t = shown.Fields;
    return {t.Artist, t.Album, t.Track, t.Title, t.Year, t.Genre, t.Comment, true};
}

void TTagEditor::Save(const QString& path, const TChgRec& fields) {
    // What the user was shown of this file: the editor's read, or the file as
    // it is now when another file was read since (copying down).
    TFileTag tag = shown.Path == path ? shown : ReadFileTag(path);
    shown = TFileTag(); // once saved, the next save compares with the file anew
    TMP3Rec& t = tag.Fields;
    t.Artist = fields.Artist;
    t.Album = fields.Album;
    t.Title = fields.Title;
    t.Track = fields.Track;
    t.Year = fields.Year;
    t.Genre = fields.Genre;
    t.Comment = fields.Comment;
    WriteTag(session, tag);
}

TChgRec TTagEditor::WithProposal(TChgRec fields, const TFillResult& proposal) {
    fields.Artist = proposal.Artist;
    fields.Album = proposal.Album;
    fields.Track = proposal.Track;
    fields.Title = proposal.Title;
    return fields;
}

QString TTagEditor::TrackText(int64_t n) {
    return n >= 0 && n < 10 ? QStringLiteral("0%1").arg(n) : QString::number(n);
}

void TTagEditor::CopyDownwards(const TChgRec& fields, const QStringList& paths,
                               const std::function<void(int)>& shown) {
    const QScopedValueRollback<bool> copying(CopyingDown, true);
    int64_t n = ParseLooseInt(fields.Track);
    try {
        for (int i = 0; i < paths.size(); ++i) {
            QCoreApplication::processEvents();
            if (app.Closing) break; // the program is ending
            if (shown) shown(i);
            TChgRec next = fields;
            next.Track = TrackText(++n);
            Save(paths[i], next);
        }
    } catch (...) {
        // Any error ends the run quietly; the files done so far keep their tags.
    }
}

QString TTagEditor::NextAutolistEntry() {
    TSuperStringList* list = app.EditList.get();
    // Entries are taken from the end; the last one taken is the candidate.
    QString candidate;
    while (list && !list->isEmpty()) {
        candidate = list->takeLast();
        if (!QFileInfo(candidate).isFile()) {
            candidate.clear();
            continue;
        }
        const TChgRec t = Read(candidate);
        if (t.Artist.isEmpty() || t.Album.isEmpty() ||
            (AppOptions().AutoExtra && (t.Track.isEmpty() || t.Title.isEmpty())))
            break;
    }
    if (candidate.isEmpty()) ShowMessage(QStringLiteral("The autolist is empty."));
    return candidate;
}

bool TTagEditor::DeleteFileAndBookmarks(const QString& path) {
    if (!AskYesNo(QStringLiteral("Delete this file and all related bookmarks?\r\r") + path))
        return false;
    // This system lets a file that is playing be deleted. A file that is gone
    // already counts as deleted.
    if (!QFile::remove(path) && PathTaken(path)) {
        ShowMessage(QStringLiteral("Cannot delete ") + path);
        return false;
    }
    if (session.FileText() == path) {
        session.SetFileText(QString());
        session.OpenCurrentFile();
    }
    bookmarks.DeleteBookmarksOfFile(path);
    return true;
}
