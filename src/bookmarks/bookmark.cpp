#include "bookmarks/bookmark.h"

#include "bookmarks/storejournal.h"
#include "bookmarks/treefile.h"
#include "util/journal.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

static_assert(TBookmarkRec::Size == kStoreRecordSize, "the journal keeps whole records");

namespace {

constexpr int offRecNo = 0;
constexpr int offPath = 4;
constexpr int offStamp = 259;
constexpr int offDesc = 280;
constexpr int offPos = 536;
constexpr int offSig = 540;

QString signatureText() {
    return PadLeftTo(QStringLiteral("Narrabel bookmarks"), 254);
}

QString decodeStored(const char* data, int len) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(data, len));
    if (!utf8.hasError()) return s;
    // Written by an 8-bit program: keep every byte as one character.
    return QString::fromLatin1(data, len);
}

void putShort(char* field, int capacity, const QString& text) {
    const QByteArray bytes = CutUtf8(text, capacity).toUtf8();
    field[0] = char(uint8_t(bytes.size()));
    memcpy(field + 1, bytes.constData(), size_t(bytes.size()));
}

QString getShort(const char* field, int capacity) {
    const int len = std::min(int(uint8_t(field[0])), capacity);
    return decodeStored(field + 1, len);
}

int32_t getInt(const char* p) {
    return qFromLittleEndian<int32_t>(p);
}
void putInt(char* p, int32_t v) {
    qToLittleEndian<int32_t>(v, p);
}

QString key(const QString& storePath) {
    return QDir::cleanPath(QFileInfo(storePath).absoluteFilePath());
}

// Each write made through this file bumps its store's generation, so that a
// compaction can tell whether the store changed while it copied.
QHash<QString, int64_t>& generations() {
    static QHash<QString, int64_t> g;
    return g;
}

struct FileStamp {
    int64_t size = -1;
    int64_t mtime = 0;
    bool operator==(const FileStamp& o) const { return size == o.size && mtime == o.mtime; }
};

FileStamp stampOf(const QString& path) {
    // One look at the file: it is asked before every lookup and after every write.
    FileStamp s;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return s;
    s.size = int64_t(st.st_size);
    s.mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

QString ioError(const QString& what, const QString& path, const QFile& f) {
    return QStringLiteral("%1 \"%2\": %3")
        .arg(what, QDir::toNativeSeparators(path), f.errorString());
}

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

} // namespace

// ---------------------------------------------------------------- index cache

class TIndexAccess {
public:
    struct Cache {
        TBookmarkIndex index;
        bool loaded = false;
        FileStamp stamp;
    };
    static std::map<QString, std::unique_ptr<Cache>>& caches() {
        static std::map<QString, std::unique_ptr<Cache>> c;
        return c;
    }
    static Cache& cacheOf(const QString& storePath) {
        auto& slot = caches()[key(storePath)];
        if (!slot) slot = std::make_unique<Cache>();
        return *slot;
    }
    static void load(Cache& c, const QString& storePath) {
        c.index.clear();
        c.stamp = stampOf(storePath);
        ForEachRecord(storePath, [&](const TBookmarkRec& r) {
            TBookmarkRec copy = r;
            copy.Signature.clear();
            const int32_t place = c.index.Count() + 1;
            if (copy.RecNo != place) c.index.numbered = false;
            c.index.records.append(copy);
            c.index.link(place);
            return true;
        });
        c.loaded = true;
    }
    // Called after a record was written at its place by this process.
    // before: the file's stamp just before the write (another writer in
    // between means the index no longer matches).
    static void written(const QString& storePath, const TBookmarkRec& rec,
                        const FileStamp& before) {
        ++generations()[key(storePath)];
        Cache& c = cacheOf(storePath);
        if (!c.loaded) return;
        if (!(before == c.stamp) || rec.RecNo < 1 || rec.RecNo > c.index.Count() + 1) {
            c.loaded = false;
            return;
        }
        TBookmarkRec copy = rec;
        copy.Signature.clear();
        c.index.put(copy);
        c.stamp = stampOf(storePath);
    }
    static void replaced(const QString& storePath, QVector<TBookmarkRec>&& records) {
        ++generations()[key(storePath)];
        Cache& c = cacheOf(storePath);
        c.index.clear();
        for (auto& r : records) {
            r.Signature.clear();
            c.index.records.append(r);
            c.index.link(c.index.Count());
        }
        c.loaded = true;
        c.stamp = stampOf(storePath);
    }
};

void TBookmarkIndex::clear() {
    records.clear();
    byPath.clear();
    numbered = true;
}

void TBookmarkIndex::link(int32_t place) {
    TBookmarkRec& r = records[place - 1];
    if (r.Deleted()) return;
    auto it = byPath.find(r.FilePath);
    if (it == byPath.end()) it = byPath.insert(r.FilePath, {});
    r.FilePath = it.key(); // share one copy of each path
    QVector<int32_t>& v = it.value();
    v.insert(std::lower_bound(v.begin(), v.end(), place), place);
}

void TBookmarkIndex::unlink(int32_t place) {
    const TBookmarkRec& r = records[place - 1];
    if (r.Deleted()) return;
    auto it = byPath.find(r.FilePath);
    if (it == byPath.end()) return;
    QVector<int32_t>& v = it.value();
    auto pos = std::lower_bound(v.begin(), v.end(), place);
    if (pos != v.end() && *pos == place) v.erase(pos);
    if (v.isEmpty()) byPath.erase(it);
}

void TBookmarkIndex::put(const TBookmarkRec& rec) {
    const int32_t place = rec.RecNo;
    if (place == Count() + 1) {
        records.append(rec);
    } else {
        unlink(place);
        records[place - 1] = rec;
    }
    link(place);
}

const TBookmarkRec* TBookmarkIndex::At(int64_t recNo) const {
    if (recNo < 1 || recNo > Count()) return nullptr;
    return &records[int(recNo - 1)];
}

QVector<int32_t> TBookmarkIndex::LiveRecordsOf(const QString& path) const {
    return byPath.value(path);
}

QStringList TBookmarkIndex::LivePaths() const {
    QStringList out;
    QSet<QString> seen;
    for (const auto& r : records) {
        if (r.Deleted() || seen.contains(r.FilePath)) continue;
        seen.insert(r.FilePath);
        out.append(r.FilePath);
    }
    return out;
}

const TBookmarkRec* TBookmarkIndex::firstWithRecNo(int64_t recNo) const {
    if (numbered) return At(recNo);
    for (const auto& r : records)
        if (r.RecNo == recNo) return &r;
    return nullptr;
}

int64_t TBookmarkIndex::LatestChildRecord(const QStringList& childTexts) const {
    if (childTexts.isEmpty()) return 0;
    QStringList list = childTexts;
    for (QString& entry : list) {
        // Entries already beginning with "_" are never looked up.
        if (entry.startsWith('_')) continue;
        const TBookmarkRec* r = firstWithRecNo(NodeRecordNumber(entry));
        if (r)
            entry = QStringLiteral("_") + r->Stamp + QStringLiteral("_") +
                    ZeroPadTo(QString::number(r->RecNo), 8);
    }
    std::stable_sort(list.begin(), list.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return ParseLooseInt(list.last().mid(16, 8));
}

const TBookmarkIndex& BookmarkIndex(const QString& storePath) {
    auto& c = TIndexAccess::cacheOf(storePath);
    if (!c.loaded || !(stampOf(storePath) == c.stamp)) TIndexAccess::load(c, storePath);
    return c.index;
}

bool HasLiveBookmarks(const QString& storePath, const QString& path) {
    return !storePath.isEmpty() && QFileInfo::exists(storePath) &&
           !BookmarkIndex(storePath).LiveRecordsOf(path).isEmpty();
}

void DropBookmarkIndexes() {
    TIndexAccess::caches().clear();
}

void StoreChangedElsewhere(const QString& storePath) {
    ++generations()[key(storePath)];
    TIndexAccess::cacheOf(storePath).loaded = false;
}

namespace {
// A store put back from its journal is read again by its index.
const bool rollbacksFollowed = (SetStoreRolledBackHook(&StoreChangedElsewhere), true);
} // namespace

// ---------------------------------------------------------------- record

QByteArray TBookmarkRec::ToBytes() const {
    QByteArray b(Size, '\0');
    char* p = b.data();
    putInt(p + offRecNo, RecNo);
    putShort(p + offPath, PathCapacity, FilePath);
    putShort(p + offStamp, StampCapacity, Stamp);
    putShort(p + offDesc, PathCapacity, Description);
    putInt(p + offPos, Position);
    putShort(p + offSig, PathCapacity, Signature);
    return b;
}

TBookmarkRec TBookmarkRec::FromBytes(const char* p) {
    TBookmarkRec r;
    r.RecNo = getInt(p + offRecNo);
    r.FilePath = getShort(p + offPath, PathCapacity);
    r.Stamp = getShort(p + offStamp, StampCapacity);
    r.Description = getShort(p + offDesc, PathCapacity);
    r.Position = getInt(p + offPos);
    r.Signature = getShort(p + offSig, PathCapacity);
    return r;
}

TBookmark::TBookmark(const QString& storePath, int64_t recNo) {
    if (recNo < 1) return;
    QFile f(storePath);
    if (!f.open(QIODevice::ReadOnly)) return;
    const int64_t offset = (recNo - 1) * TBookmarkRec::Size;
    if (offset + TBookmarkRec::Size > f.size() || !f.seek(offset)) return;
    const QByteArray bytes = f.read(TBookmarkRec::Size);
    if (bytes.size() != TBookmarkRec::Size) return;
    Rec = TBookmarkRec::FromBytes(bytes.constData());
    Valid = true;
}

// ---------------------------------------------------------------- descriptions

QString CutUtf8(const QString& text, int maxBytes) {
    if (maxBytes <= 0) return {};
    if (text.size() * 3 <= maxBytes) return text; // cannot be longer
    const QByteArray u = text.toUtf8();
    if (u.size() <= maxBytes) return text;
    int n = maxBytes;
    while (n > 0 && (uint8_t(u[n]) & 0xC0) == 0x80)
        --n;
    return QString::fromUtf8(u.constData(), n);
}

bool PathFitsStore(const QString& path) {
    return path.size() * 3 <= TBookmarkRec::PathCapacity ||
           path.toUtf8().size() <= TBookmarkRec::PathCapacity;
}

QString DescriptionDateTime(const QDateTime& when) {
    // The locale's formats are worked out once per locale: an import composes
    // thousands of descriptions.
    static QString cachedLocale, dateFormat, timeFormat;
    const QLocale loc = QLocale::system();
    if (loc.name() != cachedLocale || dateFormat.isEmpty()) {
        // The long time format may name the time zone; the descriptions never did.
        QString tf = loc.timeFormat(QLocale::LongFormat);
        tf.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b\\s*")));
        timeFormat = tf.trimmed();
        dateFormat = loc.dateFormat(QLocale::ShortFormat);
        cachedLocale = loc.name();
    }
    return loc.toString(when.date(), dateFormat) + QLatin1Char(' ') +
           loc.toString(when.time(), timeFormat);
}

bool DescriptionNeeded(const TBookmarkRec& rec, const TWriteContext& ctx) {
    if (ctx.Closing || ctx.Deleting) return false;
    return rec.Description.isEmpty() || ctx.AlwaysInsert;
}

QString ComposeDescription(const TBookmarkRec& rec, const TMP3Rec& tag, const QDateTime& now) {
    QString text;
    if (!tag.Album.isEmpty()) {
        text = tag.Album;
        if (!tag.Track.isEmpty()) text += QStringLiteral(" - ") + tag.Track;
        if (!tag.Title.isEmpty()) text += QStringLiteral(" - ") + tag.Title;
    } else {
        // The file name without its extension (whatever its length).
        const QString name = ExtractFileName(rec.FilePath);
        const int dot = name.lastIndexOf('.');
        text = dot > 0 ? name.left(dot) : name;
    }
    text += QStringLiteral(" (") + DescriptionDateTime(now) + QStringLiteral(")");
    if (!rec.Description.isEmpty())
        text += QStringLiteral(" [") + rec.Description + QStringLiteral("]");
    if (rec.Position == 1) text += QStringLiteral(" [START]");
    return CutUtf8(text, TBookmarkRec::PathCapacity);
}

QString WithSuffixes(const QString& text, int32_t position, int32_t recNo) {
    const QString suffix = QStringLiteral(" {") + FormatMinSec(position) + QStringLiteral("} [") +
                           ZeroPadTo(QString::number(recNo), 8) + QStringLiteral("]");
    const int room = TBookmarkRec::PathCapacity - int(suffix.toUtf8().size());
    return CutUtf8(text, room) + suffix;
}

namespace {

void addToAutolist(const TBookmarkRec& rec, const TWriteContext& ctx) {
    if (!ctx.EditList) return;
    const TMP3Rec& t = ctx.Tag;
    // Asked only when the file would be listed: the autolist may be long.
    const auto listed = [&] { return ctx.EditList->contains(rec.FilePath); };
    if (t.Artist.isEmpty() || t.Album.isEmpty()) {
        if (!listed()) ctx.EditList->append(rec.FilePath);
    } else if ((t.Track.isEmpty() || t.Title.isEmpty()) && ctx.AutoExtra && !listed()) {
        // Listed once only: every write of such a file would add it again.
        ctx.EditList->append(rec.FilePath);
    }
}

// Stage 2: suffixes, stamp, signature, and the 796 bytes at the record's place.
bool store(TBookmark& bm, const QString& storePath, const QDateTime& now, QString* error) {
    TBookmarkRec& r = bm.Rec;
    // A command of its own unless the caller's command is open.
    TStoreCommand command(storePath);
    const FileStamp before = stampOf(storePath);
    const bool existed = before.size >= 0;
    QFile f(storePath);
    if (!f.open(QIODevice::ReadWrite))
        return fail(error, ioError(QStringLiteral("Cannot open the bookmark store"), storePath, f));
    // A store made now keeps its name through a power cut, like the records it gets.
    if (!existed) SyncFolder(FolderOf(storePath));
    const int64_t count = f.size() / TBookmarkRec::Size;
    if (r.RecNo == 0) {
        if (count >= TBookmarkRec::MaxRecNo)
            return fail(
                error,
                QStringLiteral("The bookmark store is full (%1 records); compact it.").arg(count));
        // A torn last record (a partial write) is overwritten, never built upon.
        r.RecNo = int32_t(count + 1);
    } else if (r.RecNo < 0 || r.RecNo > count) {
        return fail(error, QStringLiteral("Bookmark record %1 is not in the store.").arg(r.RecNo));
    }
    r.Description = WithSuffixes(r.Description, r.Position, r.RecNo);
    r.Stamp = now.toString(QStringLiteral("yyyyMMdd hh:mm"));
    r.Signature = signatureText();
    const QByteArray bytes = r.ToBytes();
    const int64_t offset = int64_t(r.RecNo - 1) * TBookmarkRec::Size;
    if (!PrepareStoreWrite(storePath, offset, bytes.size(), error)) return false;
    if (!f.seek(offset) || f.write(bytes) != bytes.size() || !f.flush())
        return fail(error,
                    ioError(QStringLiteral("Cannot write the bookmark store"), storePath, f));
    f.close();
    TIndexAccess::written(storePath, r, before);
    return true;
}

} // namespace

bool WriteBookmark(TBookmark& bm, const QString& storePath, const TWriteContext& ctx,
                   QString* error) {
    TBookmarkRec& r = bm.Rec;
    // A cut path would name another file, or none.
    if (!PathFitsStore(r.FilePath)) return fail(error, PathTooLongMessage());
    if (DescriptionNeeded(r, ctx)) {
        addToAutolist(r, ctx);
        r.Description = ComposeDescription(r, ctx.Tag, ctx.Now);
    }
    return store(bm, storePath, ctx.Now, error);
}

bool MarkDeleted(TBookmark& bm, const QString& storePath, const QDateTime& now, QString* error) {
    if (bm.Rec.RecNo < 1)
        return fail(error,
                    QStringLiteral("Bookmark record %1 is not in the store.").arg(bm.Rec.RecNo));
    bm.Rec.FilePath = QStringLiteral("*");
    return store(bm, storePath, now, error);
}

// ---------------------------------------------------------------- bulk reads

int32_t StoreRecordCount(const QString& storePath) {
    QFileInfo fi(storePath);
    if (!fi.isFile()) return 0;
    return int32_t(fi.size() / TBookmarkRec::Size);
}

bool ForEachRecord(const QString& storePath, const std::function<bool(const TBookmarkRec&)>& fn,
                   QString* error) {
    QFile f(storePath);
    if (!f.open(QIODevice::ReadOnly))
        return fail(error, ioError(QStringLiteral("Cannot read the bookmark store"), storePath, f));
    constexpr int chunkRecords = 512;
    int64_t place = 0;
    for (;;) {
        // The size is looked at again each time: records may be appended meanwhile.
        const int64_t count = f.size() / TBookmarkRec::Size;
        if (place >= count) break;
        const int64_t n = std::min<int64_t>(chunkRecords, count - place);
        const QByteArray chunk =
            f.seek(place * TBookmarkRec::Size) ? f.read(n * TBookmarkRec::Size) : QByteArray();
        const int64_t got = chunk.size() / TBookmarkRec::Size;
        for (int64_t i = 0; i < got; ++i)
            if (!fn(TBookmarkRec::FromBytes(chunk.constData() + i * TBookmarkRec::Size)))
                return true;
        if (got < n)
            return fail(error,
                        ioError(QStringLiteral("Cannot read the bookmark store"), storePath, f));
        place += got;
    }
    return true;
}

QStringList DebugListing(const QString& storePath) {
    QStringList lines;
    ForEachRecord(storePath, [&](const TBookmarkRec& r) {
        lines.append(ZeroPadTo(QString::number(uint32_t(r.RecNo)), 8) + QStringLiteral(" - ") +
                     ZeroPadTo(QString::number(uint32_t(r.Position)), 12) + QStringLiteral(" - ") +
                     r.Stamp + QStringLiteral(" - ") + PadRightTo(r.FilePath, 254) +
                     QStringLiteral(" - ") + PadRightTo(r.Description, 254) + TrimCtl(r.Signature));
        return true;
    });
    return lines;
}

// ---------------------------------------------------------------- compaction

namespace {

// One copy of the live records into tmp. False on a read/write failure or when
// step cancels (*cancelled set).
bool copyLive(QFile& src, QFile& dst, const TStep& step, bool* cancelled,
              QVector<TBookmarkRec>* kept) {
    kept->clear();
    if (!dst.resize(0) || !dst.seek(0)) return false;
    int32_t counter = 0;
    int64_t place = 0;
    for (;;) {
        if (step) {
            if (!step()) {
                *cancelled = true;
                return false;
            }
        }
        const int64_t count = src.size() / TBookmarkRec::Size;
        if (place >= count) break;
        if (!src.seek(place * TBookmarkRec::Size)) return false;
        QByteArray bytes = src.read(TBookmarkRec::Size);
        if (bytes.size() != TBookmarkRec::Size) return false;
        ++place;
        TBookmarkRec r = TBookmarkRec::FromBytes(bytes.constData());
        if (r.Deleted()) continue;
        // Only the number changes; every other byte is copied as it is.
        r.RecNo = ++counter;
        putInt(bytes.data() + offRecNo, r.RecNo);
        if (dst.write(bytes) != bytes.size()) return false;
        kept->append(r);
    }
    return dst.flush();
}

} // namespace

TCompactResult CompactStore(const QString& storePath, const QString& tmpPath, const TStep& step,
                            QString* error, const QStringList& derived) {
    if (!QFileInfo(storePath).isFile()) return TCompactResult::NoStore;
    QFile src(storePath);
    if (!src.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(error, ioError(QStringLiteral("Cannot open the bookmark store"), storePath, src));
        return TCompactResult::Failed;
    }
    // The compaction's own scratch file, never the store: it is renamed over the
    // store only once complete. Not a QSaveFile, because a store changed
    // meanwhile has it copied again from the start, and the derived files go
    // between the last copy and the rename.
    QFile::remove(tmpPath);
    QFile dst(tmpPath);
    if (!dst.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        fail(error, ioError(QStringLiteral("Cannot create"), tmpPath, dst));
        return TCompactResult::Failed;
    }
    auto abandon = [&](TCompactResult result) {
        dst.close();
        QFile::remove(tmpPath);
        return result;
    };
    const QString k = key(storePath);
    const int64_t generation = generations().value(k);
    const FileStamp before = stampOf(storePath);
    bool cancelled = false;
    QVector<TBookmarkRec> kept;
    bool ok = copyLive(src, dst, step, &cancelled, &kept);
    if (cancelled) return abandon(TCompactResult::Cancelled);
    // The store changed while events ran: copy again, this time without
    // yielding, so the copy holds every write.
    if (ok && (generations().value(k) != generation || !(stampOf(storePath) == before)))
        ok = copyLive(src, dst, {}, &cancelled, &kept);
    if (!ok) {
        fail(error, ioError(QStringLiteral("Cannot compact the bookmark store"), storePath,
                            dst.error() != QFileDevice::NoError ? dst : src));
        return abandon(TCompactResult::Failed);
    }
    if (::fsync(dst.handle()) != 0) {
        fail(error, ioError(QStringLiteral("Cannot compact the bookmark store"), storePath, dst));
        return abandon(TCompactResult::Failed);
    }
    // Writes made meanwhile are in the copy; they are synced and their journal
    // ends before the copy takes the store's place, which it would no longer fit.
    if (!CheckpointStore(storePath, error)) return abandon(TCompactResult::Failed);
    // Nothing may keep the old numbers once the new store is in place: should
    // the program end right after the rename, the next start rebuilds the tree.
    for (const QString& file : derived) {
        QFile d(file);
        if (d.exists() && !d.remove()) {
            fail(error, QStringLiteral("Cannot delete \"%1\" (%2); the bookmarks were not "
                                       "compacted.")
                            .arg(QDir::toNativeSeparators(file), d.errorString()));
            return abandon(TCompactResult::Failed);
        }
    }
    if (!derived.isEmpty()) SyncFolder(FolderOf(storePath));
    dst.close();
    src.close();
    // One rename replaces the store: there is never a moment without one.
    if (::rename(QFile::encodeName(tmpPath).constData(),
                 QFile::encodeName(storePath).constData()) != 0) {
        fail(error, QStringLiteral("Cannot replace the bookmark store \"%1\": %2")
                        .arg(QDir::toNativeSeparators(storePath),
                             QString::fromLocal8Bit(strerror(errno))));
        QFile::remove(tmpPath);
        return TCompactResult::Failed;
    }
    SyncFolder(FolderOf(storePath));
    TIndexAccess::replaced(storePath, std::move(kept));
    return TCompactResult::Done;
}

int RepointBookmarks(const QString& storePath, const QString& oldPath, const QString& newPath,
                     const TStep& step, QString* error) {
    if (!QFileInfo(storePath).isFile()) return 0;
    // "*" is the mark of a deleted record, never a file.
    if (oldPath == QLatin1String("*") || newPath == QLatin1String("*")) return 0;
    const QVector<int32_t> places = BookmarkIndex(storePath).LiveRecordsOf(oldPath);
    if (places.isEmpty()) return 0;
    if (!PathFitsStore(newPath)) {
        fail(error, PathTooLongMessage());
        return -1;
    }
    // One command for the batch: its records are journalled at once, and the
    // store is synced once, at its end.
    TStoreCommand command(storePath);
    if (!command.Preserve(places, error)) return -1;
    QFile f(storePath);
    if (!f.open(QIODevice::ReadWrite)) {
        fail(error, ioError(QStringLiteral("Cannot open the bookmark store"), storePath, f));
        return -1;
    }
    int changed = 0;
    for (const int32_t place : places) {
        if (step && !step()) break;
        const int64_t offset = int64_t(place - 1) * TBookmarkRec::Size;
        QByteArray bytes = f.seek(offset) ? f.read(TBookmarkRec::Size) : QByteArray();
        if (bytes.size() != TBookmarkRec::Size) break;
        // Looked at again: events run between records, and the index only says
        // where this path was.
        TBookmarkRec r = TBookmarkRec::FromBytes(bytes.constData());
        if (r.Deleted() || r.FilePath != oldPath) continue;
        r.FilePath = newPath;
        memset(bytes.data() + offPath, 0, 255);
        putShort(bytes.data() + offPath, TBookmarkRec::PathCapacity, r.FilePath);
        const FileStamp before = stampOf(storePath);
        if (!PrepareStoreWrite(storePath, offset, bytes.size(), error)) return -1;
        if (!f.seek(offset) || f.write(bytes) != bytes.size() || !f.flush()) {
            fail(error, ioError(QStringLiteral("Cannot write the bookmark store"), storePath, f));
            return -1;
        }
        ++changed;
        if (r.RecNo == place)
            TIndexAccess::written(storePath, r, before);
        else
            ++generations()[key(storePath)];
    }
    return changed;
}
