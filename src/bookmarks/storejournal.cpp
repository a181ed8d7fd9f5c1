#include "bookmarks/storejournal.h"

#include "bookmarks/treefile.h"
#include "util/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kStoreKind = 'S';

struct State {
    int depth = 0;
    TJournalWriter journal;
    int64_t startLength = -1; // -1: there was no store when the journal began
    QSet<int64_t> preserved;  // record records whose old bytes are journalled
    bool wrote = false;       // the store was written since the journal began
};

std::map<QString, std::unique_ptr<State>>& states() {
    static std::map<QString, std::unique_ptr<State>> s;
    return s;
}

QString keyOf(const QString& storePath) {
    return QDir::cleanPath(QFileInfo(storePath).absoluteFilePath());
}

State& stateOf(const QString& storePath) {
    auto& slot = states()[keyOf(storePath)];
    if (!slot) slot = std::make_unique<State>();
    return *slot;
}

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

int64_t lengthOf(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return int64_t(st.st_size);
}

// Entries holding the old bytes of every record slot in records not journalled yet (and
// inside the length the journal began with), marked as journalled.
bool oldBytes(const QString& storePath, State& s, const QVector<int64_t>& records,
              QVector<QByteArray>* entries, QString* error) {
    QFile f(storePath);
    bool opened = false;
    for (const int64_t slot : records) {
        const int64_t at = slot * kStoreRecordSize;
        if (slot < 0 || at >= s.startLength || s.preserved.contains(slot)) continue;
        if (!opened && !(opened = f.open(QIODevice::ReadOnly)))
            return fail(error, QStringLiteral("Cannot read the bookmark store \"%1\": %2")
                                   .arg(QDir::toNativeSeparators(storePath), f.errorString()));
        const int64_t n = std::min<int64_t>(kStoreRecordSize, s.startLength - at);
        const QByteArray old = f.seek(at) ? f.read(n) : QByteArray();
        if (old.size() != n)
            return fail(error, QStringLiteral("Cannot read the bookmark store \"%1\": %2")
                                   .arg(QDir::toNativeSeparators(storePath), f.errorString()));
        QByteArray e;
        PutI64(e, at);
        e += old;
        entries->append(e);
    }
    for (const int64_t slot : records)
        s.preserved.insert(slot);
    return true;
}

// Journals the records, beginning the journal when the command has none yet.
bool journalSlots(const QString& storePath, State& s, const QVector<int64_t>& records,
                  QString* error) {
    if (records.isEmpty() || storePath.isEmpty()) return true;
    if (s.journal.Active()) {
        QVector<QByteArray> entries;
        return oldBytes(storePath, s, records, &entries, error) && s.journal.Append(entries, error);
    }
    const QString journal = StoreJournalPath(storePath);
    if (QFileInfo::exists(journal)) {
        // Left by a run that ended part way: what it covers is undone first.
        const TStoreRecovery r = RecoverStore(storePath, error);
        if (r == TStoreRecovery::Busy)
            return fail(error, QStringLiteral("The bookmark store is being changed by another "
                                              "program."));
        if (r == TStoreRecovery::Failed) return false;
    }
    s.startLength = lengthOf(storePath);
    s.preserved.clear();
    s.wrote = false;
    QVector<QByteArray> entries;
    if (!oldBytes(storePath, s, records, &entries, error)) return false;
    QByteArray payload;
    PutI64(payload, s.startLength);
    return s.journal.Begin(journal, kStoreKind, payload, entries, error);
}

bool commit(const QString& storePath, State& s, QString* error) {
    if (!s.journal.Active()) return true;
    if (s.wrote) {
        if (QFileInfo::exists(storePath) && !SyncFile(storePath))
            return fail(error, QStringLiteral("Cannot sync the bookmark store \"%1\".")
                                   .arg(QDir::toNativeSeparators(storePath)));
        // A store this command created must keep its name before the journal goes.
        if (s.startLength < 0 && !SyncFolder(FolderOf(storePath)))
            return fail(error, QStringLiteral("Cannot sync the folder of \"%1\".")
                                   .arg(QDir::toNativeSeparators(storePath)));
    }
    if (!s.journal.End(error)) return false;
    s.preserved.clear();
    s.wrote = false;
    return true;
}

} // namespace

TStoreCommand::TStoreCommand(const QString& path) : storePath(path) {
    if (storePath.isEmpty()) return; // no data folder: nothing is stored
    State& s = stateOf(storePath);
    // A journal left by a run that ended part way is undone before the command
    // looks at the store (should that fail, its first write fails too).
    if (s.depth++ == 0 && !s.journal.Active() && QFileInfo::exists(StoreJournalPath(storePath)))
        RecoverStore(storePath);
}

TStoreCommand::~TStoreCommand() {
    if (storePath.isEmpty()) return;
    State& s = stateOf(storePath);
    if (--s.depth > 0) return;
    // A failure keeps the journal: the store is rolled back at the next start,
    // unless a later command of this run ends it first.
    commit(storePath, s, nullptr);
    if (!s.journal.Active()) states().erase(keyOf(storePath));
}

bool TStoreCommand::Preserve(const QVector<int32_t>& places, QString* error) {
    QVector<int64_t> records;
    for (const int32_t place : places)
        records.append(int64_t(place) - 1);
    return journalSlots(storePath, stateOf(storePath), records, error);
}

bool PrepareStoreWrite(const QString& storePath, int64_t offset, int64_t len, QString* error) {
    State& s = stateOf(storePath);
    if (s.depth == 0) return fail(error, QStringLiteral("A store write outside a command."));
    QVector<int64_t> records;
    for (int64_t slot = offset / kStoreRecordSize;
         len > 0 && slot <= (offset + len - 1) / kStoreRecordSize; ++slot)
        records.append(slot);
    if (!journalSlots(storePath, s, records, error)) return false;
    s.wrote = true;
    return true;
}

bool CheckpointStore(const QString& storePath, QString* error) {
    auto it = states().find(keyOf(storePath));
    if (it == states().end()) return true;
    return commit(storePath, *it->second, error);
}

namespace {
TStoreRolledBack rolledBackHook = nullptr;
} // namespace

void SetStoreRolledBackHook(TStoreRolledBack hook) {
    rolledBackHook = hook;
}

TStoreRecovery RecoverStore(const QString& storePath, QString* error) {
    TJournalReader journal;
    switch (journal.Open(StoreJournalPath(storePath))) {
    case TJournalReader::None:
        return TStoreRecovery::Nothing;
    case TJournalReader::Busy:
        return TStoreRecovery::Busy;
    case TJournalReader::Torn:
        // Its header never landed whole, so the store was never touched.
        journal.Remove();
        return TStoreRecovery::Untouched;
    case TJournalReader::Valid:
        break;
    }
    TPayloadReader payload{journal.Payload};
    const int64_t startLength = payload.I64();
    if (journal.Kind != kStoreKind || !payload.ok) {
        journal.Remove();
        return TStoreRecovery::Untouched;
    }
    const QByteArray native = QFile::encodeName(storePath);
    const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
        fail(error, QStringLiteral("Cannot open the bookmark store \"%1\": %2")
                        .arg(QDir::toNativeSeparators(storePath),
                             QString::fromLocal8Bit(strerror(errno))));
        return TStoreRecovery::Failed;
    }
    if (fd < 0) {
        // No store: the command created it and it is gone again, or it was
        // removed some other way; there is nothing to put back into.
        journal.Remove();
        return TStoreRecovery::Untouched;
    }
    // What differs from the journal. The first copy journalled of a slot is
    // the one the command found, so later ones of the same slot are skipped.
    QVector<QPair<int64_t, QByteArray>> restore;
    QSet<int64_t> seen;
    for (const QByteArray& e : journal.Entries) {
        TPayloadReader r{e};
        const int64_t at = r.I64();
        if (!r.ok || at < 0 || seen.contains(at)) continue;
        seen.insert(at);
        const QByteArray old = e.mid(r.at);
        QByteArray now(old.size(), '\0');
        if (::pread(fd, now.data(), size_t(now.size()), off_t(at)) == ssize_t(old.size()) &&
            now == old)
            continue;
        restore.append({at, old});
    }
    struct stat st;
    const int64_t length = ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
    const bool changed = startLength < 0 || !restore.isEmpty() || length != startLength;
    bool ok = true;
    if (changed) {
        // The tree file may name records that are about to go: it goes first,
        // so that a failure below still leaves a tree to be rebuilt.
        const QString tree = FolderOf(storePath) + QLatin1Char('/') + TreeFileName();
        if (QFile::exists(tree) && !QFile::remove(tree)) {
            ::close(fd);
            fail(error,
                 QStringLiteral("Cannot remove \"%1\".").arg(QDir::toNativeSeparators(tree)));
            return TStoreRecovery::Failed;
        }
        if (startLength < 0) {
            // The command created the store.
            ok = ::unlink(native.constData()) == 0;
        } else {
            for (const auto& [at, old] : restore)
                ok = ok && ::pwrite(fd, old.constData(), size_t(old.size()), off_t(at)) ==
                               ssize_t(old.size());
            ok = ok && (length == startLength || ::ftruncate(fd, off_t(startLength)) == 0);
            ok = ok && ::fsync(fd) == 0;
        }
        ok = ok && SyncFolder(FolderOf(storePath));
    }
    const int saved = errno;
    ::close(fd);
    if (!ok) {
        fail(error, QStringLiteral("Cannot put back the bookmark store \"%1\": %2")
                        .arg(QDir::toNativeSeparators(storePath),
                             QString::fromLocal8Bit(strerror(saved))));
        return TStoreRecovery::Failed;
    }
    if (changed && rolledBackHook) rolledBackHook(storePath);
    journal.Remove();
    return changed ? TStoreRecovery::RolledBack : TStoreRecovery::Untouched;
}
