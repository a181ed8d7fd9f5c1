#pragma once
// Tag saves that survive a kill or a power cut.
//
// A save that changes the file in place (the tag rewritten where it was, or
// space inserted or removed in front of the audio by the file system) first
// journals the file's length, the old tag and the space operation, synced; the
// journal goes once the file is synced. A save that must move the audio writes
// a new file beside the old one and renames it over; its journal names that
// temporary. Whatever point a save reached, RecoverTagJournal puts the old tag
// (and the audio's place) back, or removes the temporary.
//
// The journal lives in the journal folder (the data folder, set at start-up)
// as "Narrabel.tag-journal"; without one (the command-line tool, or a data
// folder gone meanwhile) it lives beside the file as a hidden
// ".narrabel-<hash>.journal", where the next look at the file finds it.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace id3v2 {

void SetJournalFolder(const QString& folder); // empty: beside each file
QString JournalFolder();
// Where a save of path keeps its journal.
QString SaveJournalPath(const QString& path);
// The journal of tag saves in a journal folder.
QString FolderJournalPath(const QString& folder);
// The journal a save of path keeps beside it when there is no journal folder.
QString SideJournalPath(const QString& path);
// A fresh name for the new file a save of path writes beside it.
QString NewTemporaryPath(const QString& path);

struct TTagRecovery {
    enum What {
        Nothing,   // no journal
        Untouched, // the save had not changed the file yet
        Restored,  // the old tag is back (and the audio where it was)
        Abandoned, // a save's new file was removed; the file kept its old tag
        Busy,      // another running program holds the journal
        Failed,    // the file could not be put back; the journal stays for the next try
    };
    What Result = Nothing;
    QString File;  // the audio file the journal names
    QString Error; // for Failed
};
// Undoes the save the journal at journalPath describes; with onlyFile given,
// only when the journal is about that file (Nothing otherwise).
TTagRecovery RecoverTagJournal(const QString& journalPath, const QString& onlyFile = {});
// Undoes an unfinished save of path: from its own journal beside it, and from
// the journal folder's when that one is about path. Run before a tag is read.
TTagRecovery RecoverTagFile(const QString& path);

// The two kinds of journal, as the saver writes them.
enum : char { kInPlaceSave = 'T', kReplaceSave = 'R' };
enum TSpaceOp : uint32_t { spaceNone = 0, spaceInserted = 1, spaceRemoved = 2 };
// A save in place of the file at path (device and inode dev, ino) of length
// oldLength: the old tag at offset, and the space inserted or removed at at.
QByteArray InPlacePayload(const QString& path, uint64_t dev, uint64_t ino, uint64_t oldLength,
                          uint64_t offset, TSpaceOp op, uint64_t at, uint64_t delta,
                          const std::vector<uint8_t>& oldTag);
// A save of path that writes temp and renames it over path.
QByteArray ReplacePayload(const QString& path, const QString& temp);

} // namespace id3v2
