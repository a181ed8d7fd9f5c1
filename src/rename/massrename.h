#pragma once
// Renaming files after their tags without ever replacing a file, and the mass
// rename of a folder tree as a planned list of actions: walk, review, apply, log.
// The window only shows and drives the plan; everything that touches the disk
// is here.

#include "rename/composename.h"
#include "tags/mp3.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

enum class TRenameStatus {
    Ok,
    IllegalName,  // the new path leaves the file's folder, or names no entry
    TargetExists, // something already has the new name; nothing was touched
    Failed,       // the file system refused (missing file, permissions, name too long)
    // The file has bookmarks and the store cannot hold the new path; nothing was touched.
    TooLongForBookmarks,
};

// Why a rename of a file with bookmarks is refused when its new path is longer
// than the store holds (the bookmarks would point at nothing).
extern const QString kTooLongForBookmarks;
// Whether renaming oldPath to newPath is refused for that reason: the file has
// bookmarks (hasBookmarks; none when unset) and the store cannot hold newPath.
bool TooLongForBookmarks(const QString& oldPath, const QString& newPath,
                         const std::function<bool(const QString&)>& hasBookmarks);

// Renames a file within its own folder. Never replaces an existing entry, not
// even when one appears meanwhile: renameat2 with RENAME_NOREPLACE, or link and
// unlink where the file system lacks that flag. Renaming a path to itself is Ok.
TRenameStatus RenameNoReplace(const QString& oldPath, const QString& newPath);

// True when something (a dangling link included) has that path.
bool PathTaken(const QString& path);

// Renames a file (RenameNoReplace) and brings its bookmarks along as one step.
// When the store (storePath; empty: none) holds bookmarks of oldPath, the
// intent (both paths) is journalled beside the store before the rename and
// removed once they point at newPath, so that a run ending in between has the
// bookmarks repointed at the next start (RecoverRename).
// followRename runs once the file has its new name, to make the caller's
// remembered paths follow and repoint the store (the main window's FileRenamed,
// which shows its caption and lets events run meanwhile); unset, the store is
// repointed here. Its exceptions pass on, after the intent is removed.
TRenameStatus RenameAndRepoint(
    const QString& storePath, const QString& oldPath, const QString& newPath,
    const std::function<void(const QString& oldPath, const QString& newPath)>& followRename = {});

// The intent journal of the store at storePath.
QString RenameJournalPath(const QString& storePath);

struct TRenameRecovery {
    enum What { Nothing, Finished, Dropped, Busy, Failed };
    What Result = Nothing;
    QString OldPath, NewPath;
    QString Error; // for Failed
};
// Finishes a rename a run left half done: when newPath exists and oldPath does
// not, the store's bookmarks and the paths remembered in the data folder
// (resume point, recent files, history, autolist) follow it; otherwise the
// intent is dropped (the rename never happened).
TRenameRecovery RecoverRename(const QString& storePath);

enum class TRowResult { NotRun, Unticked, Ok, Skipped, Error };

// One proposal of a mass rename.
struct TRenameAction {
    QString OldPath;     // full path
    QString NewName;     // composed name, no folder
    bool Checked = true; // will be applied
    // Before the apply: a foreseen reason why the row will not be renamed
    // ("NewName exists", "illegal name"); after it: why it was not.
    QString SkipReason;
    TRowResult Result = TRowResult::NotRun;
    // The new name takes a tag field that could not be read in full: proposed
    // unticked, for the user to judge.
    bool TagCutShort = false;
    QString NewPath() const;
};

// Hooks of the walk. Only ReadTag is required.
struct TMassRenameWalk {
    std::function<TNameSource(const QString& path)> ReadTag;
    // Whether a file has bookmarks (none when unset): such a file whose new path
    // the store cannot hold is foreseen as refused.
    std::function<bool(const QString& path)> HasBookmarks;
    // Asked where each folder begins; true skips that folder and all not yet entered.
    std::function<bool()> Stop;
    // Each folder's path as it is entered, then each file's name; the window shows
    // it and lets pending events run.
    std::function<void(const QString& text)> Status;
    // Each row as it is found.
    std::function<void(const TRenameAction& row)> Found;
};

// Walks root depth first: each folder's subfolders (directory order, hidden ones
// and links left out) before its own regular, non-hidden "*.mp3" files and
// other audio books (m4b, m4a, aac, opus, ogg, oga, flac; any letter case). An
// MP3's new name ends in ext, any other file's in its own extension. A file
// gets a row when its composed name differs from its name other than in
// letter case.
std::vector<TRenameAction> PlanMassRename(const QString& root, const TNamePattern& pattern,
                                          const QString& ext, const TMassRenameWalk& walk);

// Hooks of the apply. Rename is required (the window repoints bookmarks there).
struct TMassRenameApply {
    std::function<bool(const QString& oldPath, const QString& newPath)> Rename;
    // As in the walk: a file with bookmarks is not renamed to a path the store
    // cannot hold; its row is logged as an error with the reason.
    std::function<bool(const QString& path)> HasBookmarks;
    // Before each row, with its 1-based index.
    std::function<void(int index, const TRenameAction& row)> Progress;
    // Read once when the apply starts (log name, date and "Started") and once
    // when it ends ("Finished"). Defaults to the local time.
    std::function<QDateTime()> Now;
};

struct TMassRenameLog {
    QString Path;    // where the log was written (or would have been)
    QByteArray Text; // the whole log, CR LF line ends, UTF-8
    bool Saved = false;
};

// "MassRenameLog_yyyymmdd-hhnn.txt" for that time.
QString MassRenameLogName(const QDateTime& when);

// Applies the ticked rows in order and writes the log into dataFolder (ending
// in "/"). Control characters in names show escaped in the log (a line feed as
// "\n"), so that every entry keeps to its own lines. A log never replaces another: when the
// minute's name is taken, the log is saved as "MassRenameLog_yyyymmdd-hhnn_2.txt" (_3 ...).
TMassRenameLog ApplyMassRename(std::vector<TRenameAction>& rows, const QString& dataFolder,
                               const TMassRenameApply& apply);

// Test seam: replaces the renameat2 call (nullptr restores it), so that the
// link-and-unlink path can be exercised on any file system.
using TRenameat2Fn = int (*)(int, const char*, int, const char*, unsigned);
void SetRenameat2ForTest(TRenameat2Fn fn);
