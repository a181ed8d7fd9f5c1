#pragma once
// Renaming after tags, below its two windows: the pattern and the other
// choices the rename window shows, the single rename of the file the tag
// editor chose (with the questions it asks), and the mass rename of a folder
// tree as a plan that the preview window shows, ticks and applies, with its
// log. Bookmarks and every remembered path follow each rename.

#include "rename/composename.h"
#include "rename/massrename.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class TRenamer : public QObject {
    Q_OBJECT
public:
    explicit TRenamer(QObject* parent = nullptr);

    // ---- the choices, as the rename window shows them
    TNamePattern Pattern;
    QString Extension;        // for new names, without "."
    bool PreviewFirst = true; // "Preview mass updates"
    bool Mass = false;
    // The mass rename's root folder, without a trailing "/" (except "/").
    QString Folder() const { return folder; }
    // False (nothing changed) when the folder does not exist.
    bool SelectFolder(const QString& path);

    // ---- one file
    // The file to rename, by its full path; its tag is taken from the tag
    // source now (without reading), the outcome cleared.
    void SetSingle(const QString& path, const QString& extension);
    void SetMass();
    QString SinglePath() const { return singlePath; }
    // The new name the window shows: the single file's, or the pattern's own in mass mode.
    QString ProposedName() const;
    // Renames the single file to newName (in its folder) after asking, when
    // the name takes a field that could not be read in full; says what went
    // wrong. False: the user went back to the window (nothing done).
    bool RenameSingle(const QString& newName);
    // "ok" after the last single rename succeeded, else empty.
    QString Outcome;
    // The text shown when the file to rename is no longer there.
    static QString GoneMessage(const QString& path);

    // The new name (no folder) of path, its tag read first with readTags.
    QString ComposeName(const QString& path, bool readTags);
    TNameSource TagOf(const QString& path, bool read);
    // Renames within the file's folder, never over an existing file, nor a file
    // with bookmarks to a path the store cannot hold; on success the bookmarks
    // and every path the program remembers follow (Repoint).
    bool RenameAndRepoint(const QString& oldPath, const QString& newPath);
    TRenameStatus LastStatus = TRenameStatus::Ok;

    // ---- a folder tree
    // Walks Folder for proposals; found(row) for each as it is found, status
    // with each folder and file. Cancelled by CancelRequested or Closing.
    void BuildList(const std::function<void(const TRenameAction&)>& found,
                   const std::function<void(const QString&)>& status);
    // Applies the ticked Rows and writes the log (LastLog), which is then
    // opened. The apply is not interrupted; a failed log or repointing is
    // thrown once it is done.
    void ApplyList(const std::function<void(int index, const TRenameAction&)>& progress);
    std::vector<TRenameAction> Rows; // the proposals as last built, and their results
    TMassRenameLog LastLog;
    bool Busy = false;     // a search or an apply runs
    bool Applying = false; // an apply runs: it cannot be cancelled
    bool CancelRequested = false;

    // ---- what the program hands in, with working defaults for the tags
    // (the shared tag record), the clock (the local time) and the log (opened
    // with the desktop's viewer)
    std::function<TNameSource(const QString& path, bool read)> TagSource;
    std::function<void(const QString& oldPath, const QString& newPath)> Repoint;
    std::function<bool(const QString& path)> HasBookmarks;
    std::function<QString()> DataFolder;
    std::function<bool()> Closing;
    std::function<QDateTime()> Now;
    std::function<void(const QString& path)> OpenLog;

private:
    QString folder;
    QString singlePath;       // the file a single rename acts on
    TNameSource singleSource; // its tag, as it was when the rename was prepared
};
