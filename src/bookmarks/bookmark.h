#pragma once
// The bookmark store "Narrabel.nbm": a headerless file of 796-byte records,
// appended at the end, rewritten in place, shortened only by compaction. A
// record's place (from 1) is its number.
//
// How the windows use it (everything here is QtCore only and never shows a
// message; failures come back as false plus an error text to show or throw):
//   - one record:      TBookmark bm(StorePath, n); if (!bm.Valid) "lookup failed: "...
//   - a new bookmark:  TBookmark bm; bm.Rec.FilePath = ...; bm.Rec.Position = ...;
//                      TWriteContext ctx = ...;  // flags, switches, clock, autolist
//                      if (DescriptionNeeded(bm.Rec, ctx)) ctx.Tag = ReadFileTag(path).Fields;
//                      WriteBookmark(bm, StorePath, ctx, &err);  // bm.Rec now as stored
//   - delete:          MarkDeleted(bm, StorePath, now, &err)
//   - bulk:            ForEachRecord / CompactStore / RepointBookmarks (with a per-record
//                      callback that lets the window process events and may cancel)
//   - lookups without reading one record per tree node: BookmarkIndex(StorePath),
//                      kept in step with every write made through this file.

#include "tags/mp3.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>

// One stored bookmark. In memory the texts are QStrings; on disk they are short
// strings of UTF-8 bytes (length byte, text, zeros up to the capacity).
struct TBookmarkRec {
    static constexpr int Size = 796;
    static constexpr int PathCapacity = 254; // bytes, FilePath and Description
    static constexpr int StampCapacity = 20; // bytes
    static constexpr int MaxRecNo = 9999999; // the tree spots bookmark nodes by "[0"
    // The position of a start bookmark: it marks a file, not a place in it.
    static constexpr int32_t StartMark = 1;

    int32_t RecNo = 0; // 0 for a bookmark not stored yet
    QString FilePath;  // "*" marks a deleted record
    QString Stamp;     // "yyyymmdd hh:mm" of the last write
    QString Description;
    int32_t Position = 0; // milliseconds; 1 marks a start bookmark
    QString Signature;

    bool Deleted() const { return FilePath == QLatin1String("*"); }
    // The 796 bytes as stored (texts cut at their capacities on whole characters).
    QByteArray ToBytes() const;
    // Reads 796 bytes; texts that are not valid UTF-8 are taken as Latin-1.
    static TBookmarkRec FromBytes(const char* bytes);
};

// A record and whether it could be read.
class TBookmark {
public:
    TBookmark() = default;
    // A copy of rec; Valid.
    explicit TBookmark(const TBookmarkRec& rec) : Rec(rec), Valid(true) {}
    // Reads record recNo (from 1) of the store. Any failure (no store, recNo < 1
    // or past the last whole record, short read) leaves Valid false.
    TBookmark(const QString& storePath, int64_t recNo);

    TBookmarkRec Rec;
    bool Valid = false;
};

// What WriteBookmark needs from the main window, passed in rather than read.
struct TWriteContext {
    bool Closing = false;      // the main window is closing
    bool Deleting = false;     // a tree delete is running
    bool AlwaysInsert = false; // option chkAlwaysInsert
    bool AutoExtra = false;    // option chkAutoExtra
    // The tag of the bookmark's file, read by the caller when DescriptionNeeded
    // says so (an empty record stands for a file without a readable tag).
    TMP3Rec Tag;
    QDateTime Now = QDateTime::currentDateTime();
    // The tag editor's autolist: paths whose tags lack artist/album (or, with
    // AutoExtra, track/title) are appended here while composing a description.
    // Null: no autolist.
    QStringList* EditList = nullptr;
};

// The store's file name inside the data folder.
inline QString StoreFileName() {
    return QStringLiteral("Narrabel.nbm");
}

// Whether WriteBookmark will compose the description from the tag (so the
// caller should read the tag into ctx.Tag first).
bool DescriptionNeeded(const TBookmarkRec& rec, const TWriteContext& ctx);
// Short date and long time of the locale, as descriptions show them.
QString DescriptionDateTime(const QDateTime& when);
// The composed text in front of the suffixes (stage 1), without the autolist.
QString ComposeDescription(const TBookmarkRec& rec, const TMP3Rec& tag, const QDateTime& now);
// Appends " {mm:ss} [nnnnnnnn]" for the record's position and number, shortening
// the text in front so that the whole fits 254 bytes with the suffix complete.
QString WithSuffixes(const QString& text, int32_t position, int32_t recNo);
// Keeps the first characters of text that fit in maxBytes of UTF-8.
QString CutUtf8(const QString& text, int maxBytes);
// Whether a file's path fits the store's path field whole (254 bytes of UTF-8).
// A cut path would name another file, or none: such files get no bookmarks.
bool PathFitsStore(const QString& path);
// Why a path that does not fit is refused.
inline QString PathTooLongMessage() {
    return QStringLiteral("The path of this file is too long to bookmark (254 bytes at most).");
}

// Stores bm.Rec: appends it when RecNo is 0 (setting RecNo) or rewrites place
// RecNo. Composes the description first when DescriptionNeeded. Updates
// Description, Stamp, Signature and RecNo in bm. The store is created when it
// does not exist. False (with a message in *error) when the store cannot be
// opened or written, or is full, or the path does not fit (nothing written).
bool WriteBookmark(TBookmark& bm, const QString& storePath, const TWriteContext& ctx,
                   QString* error = nullptr);
// FilePath := "*", then stored in place with a fresh suffix pair and stamp.
bool MarkDeleted(TBookmark& bm, const QString& storePath, const QDateTime& now,
                 QString* error = nullptr);

// Whole records in the store (0 when it does not exist).
int32_t StoreRecordCount(const QString& storePath);
// Calls fn for every whole record in file order until it returns false. Returns
// false (with a message in *error) when the store could not be opened or a read
// failed part way; the records before the failure have been passed to fn.
bool ForEachRecord(const QString& storePath, const std::function<bool(const TBookmarkRec&)>& fn,
                   QString* error = nullptr);

// Called between records by the bulk operations; returning false cancels.
using TStep = std::function<bool()>;

enum class TCompactResult { NoStore, Done, Cancelled, Failed };
// Copies the live records, renumbered from 1, to tmpPath and renames that over
// the store in one step. Writes made through this file while step lets events
// run are never lost: when any happened, the copy is made again without
// yielding before the rename. Descriptions are not touched.
// derived: files that name records by number (the tree file). They are deleted
// after the last copy and before the store is replaced, so none can outlive the
// old numbering; when one cannot be deleted the compaction fails and the store
// stays as it was. The caller rebuilds the tree afterwards.
TCompactResult CompactStore(const QString& storePath, const QString& tmpPath,
                            const TStep& step = {}, QString* error = nullptr,
                            const QStringList& derived = {});
// Sets FilePath := newPath in every live record whose path equals oldPath
// exactly; nothing else changes. A newPath that does not fit the store fails
// (-1, nothing written) when there is a record to change. The records are found through
// the store's index, so a rename costs what its own bookmarks cost, not a read
// of the whole store. step runs before each record is changed. Returns the
// number of records changed, or -1 on failure (error set).
int RepointBookmarks(const QString& storePath, const QString& oldPath, const QString& newPath,
                     const TStep& step = {}, QString* error = nullptr);

// The debug view's listing: one line per whole record, deleted ones included.
// Empty when the store cannot be read; a failed read ends the list.
QStringList DebugListing(const QString& storePath);

// An in-memory view of the store for lookups at library scale. Loaded on first
// use with one sequential read, kept in step by every write of this file, and
// reloaded when the file was changed behind its back (size or time differ).
class TBookmarkIndex {
public:
    // Records in the store (places 1..Count()).
    int32_t Count() const { return int32_t(records.size()); }
    // The record at place recNo; nullptr outside 1..Count(). Signature is not kept.
    const TBookmarkRec* At(int64_t recNo) const;
    // Live records of a path (exact comparison), in file order.
    QVector<int32_t> LiveRecordsOf(const QString& path) const;
    // Every distinct live path, in order of first appearance.
    QStringList LivePaths() const;

    // The record number that LatestChildNode goes to, for an outer node whose
    // children have these texts (in tree order): the child written last (by
    // stamp, then number); 0 when there are no children. The caller then picks
    // the child whose text ends in that number.
    int64_t LatestChildRecord(const QStringList& childTexts) const;

private:
    friend class TIndexAccess;
    QVector<TBookmarkRec> records;
    QHash<QString, QVector<int32_t>> byPath; // live places per path, ascending
    bool numbered = true;                    // every record holds its own place as RecNo
    void put(const TBookmarkRec& rec);       // record at place rec.RecNo (appends at Count()+1)
    void link(int32_t place);
    void unlink(int32_t place);
    const TBookmarkRec* firstWithRecNo(int64_t recNo) const;
    void clear();
};

// The index of a store, loaded or refreshed as needed.
const TBookmarkIndex& BookmarkIndex(const QString& storePath);
// Whether the store holds a live bookmark of path (false without a store).
bool HasLiveBookmarks(const QString& storePath, const QString& path);
// Forgets every cached index (tests, or after the data folder changed).
void DropBookmarkIndexes();
// The store was changed other than through this file (put back after a run
// that ended part way): its index is read again at its next use, and a
// compaction running meanwhile copies again.
void StoreChangedElsewhere(const QString& storePath);
