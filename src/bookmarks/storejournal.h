#pragma once
// Store commands: every change of the bookmark store belongs to one user
// command (a new bookmark, a delete, one import, one repointing batch). Before
// the first byte of the store changes, the store's length is journalled in
// "Narrabel.nbm-journal" beside it, and before a record is overwritten, its
// old bytes; each is synced first. When the outermost command ends, the store
// is synced and the journal removed. A run that ends part way leaves the
// journal, and RecoverStore puts the store back as the command found it.
//
// Commands nest: a command started while another is open (the window lets
// events run during bulk work, and the user may make a bookmark meanwhile)
// becomes part of the outer one. Every writer of the store opens a command of
// its own, so a write outside any command is a command by itself. The window
// opens one around each user command, so that the tree file saved at its end
// is covered too: should the store be rolled back, the tree file goes with it.
//
//   { TStoreCommand command(StorePath);  // import, delete, ...
//     ... WriteBookmark / MarkDeleted ... SaveTreeFile }  // synced here, once

#include <QString>
#include <QVector>
#include <cstdint>

// The store's record size (TBookmarkRec::Size): the journal keeps whole records.
constexpr int64_t kStoreRecordSize = 796;

class TStoreCommand {
public:
    explicit TStoreCommand(const QString& storePath);
    // Ends the command; the outermost one syncs the store and removes the
    // journal (a failure keeps the journal: the next command or start ends it).
    ~TStoreCommand();
    TStoreCommand(const TStoreCommand&) = delete;
    TStoreCommand& operator=(const TStoreCommand&) = delete;

    // Journals the records at these places (from 1) now, in one synced write,
    // so that rewriting them later costs no sync each (a repointing batch, a
    // delete of many nodes). False (error set) when the journal cannot be written.
    bool Preserve(const QVector<int32_t>& places, QString* error = nullptr);

private:
    QString storePath;
};

inline QString StoreJournalPath(const QString& storePath) {
    return storePath + QStringLiteral("-journal");
}

// For the store's writers, inside an open command: journals what writing len
// bytes at offset will overwrite (appends need nothing but the length the
// command began with). False (error set) when that cannot be put on disk first.
bool PrepareStoreWrite(const QString& storePath, int64_t offset, int64_t len,
                       QString* error = nullptr);
// Syncs the store and ends its journal now, even inside a command: the
// compaction does so before its renumbered copy replaces the store.
bool CheckpointStore(const QString& storePath, QString* error = nullptr);

enum class TStoreRecovery {
    Nothing,    // no journal
    Untouched,  // a journal, but the store was as it says (or it never landed whole)
    RolledBack, // the store was put back; the tree file beside it was removed
    Busy,       // another running program holds the journal
    Failed,     // the store could not be put back; the journal stays for the next try
};
// What else must learn that a store was put back: the store's index, which
// then reads it again (set once by the store's own code).
using TStoreRolledBack = void (*)(const QString& storePath);
void SetStoreRolledBackHook(TStoreRolledBack hook);

// Rolls the store back to where an unfinished command found it, and removes
// the tree file beside it when the store changed (the tree names records by
// number). Also run by the first write after a journal was found left behind.
TStoreRecovery RecoverStore(const QString& storePath, QString* error = nullptr);
