#include "util/journal.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr char kMagic[8] = {'N', 'a', 'r', 'r', 'J', 'n', 'l', '1'};
constexpr int kHeaderFixed = 8 + 4 + 4 + 4; // magic, kind and 3 zeros, nonce, payload length
// A journal holds at most an old tag (under 256 MiB) and its framing.
constexpr int64_t kMaxJournal = int64_t(300) << 20;

uint32_t Crc(uint32_t crc, const char* p, size_t n) {
    return uint32_t(crc32(crc, reinterpret_cast<const Bytef*>(p), uInt(n)));
}

uint32_t GetU32(const char* p) {
    return qFromLittleEndian<uint32_t>(p);
}

bool WriteAll(int fd, const QByteArray& data, int64_t at) {
    int64_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.constData() + done, size_t(data.size() - done), off_t(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

QByteArray EntryRecord(uint32_t nonce, const QByteArray& entry) {
    QByteArray out;
    PutU32(out, uint32_t(entry.size()));
    out += entry;
    char salt[4];
    qToLittleEndian<uint32_t>(nonce, salt);
    uint32_t crc = Crc(Crc(0, nullptr, 0), salt, 4);
    crc = Crc(crc, out.constData(), size_t(out.size()));
    PutU32(out, crc);
    return out;
}

QString ErrnoText() {
    return QString::fromLocal8Bit(strerror(errno));
}

bool Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

bool SameFile(int fd, const QString& path) {
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::stat(QFile::encodeName(path).constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool SyncFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool SyncFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // Some file systems cannot sync a folder; they keep names in order anyway.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    ::close(fd);
    return ok;
}

QString FolderOf(const QString& path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// ---------------------------------------------------------------- writing

TJournalWriter::~TJournalWriter() {
    if (fd >= 0) ::close(fd);
}

bool TJournalWriter::Begin(const QString& journalPath, char kind, const QByteArray& payload,
                           const QVector<QByteArray>& entries, QString* error) {
    if (fd >= 0) return Fail(error, QStringLiteral("A journal is open already."));
    const QByteArray native = QFile::encodeName(journalPath);
    for (int attempt = 0;; ++attempt) {
        fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return Fail(error, QStringLiteral("Cannot create the journal \"%1\": %2")
                                   .arg(journalPath, ErrnoText()));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            fd = -1;
            return Fail(error,
                        QStringLiteral("\"%1\" is in use by another program.").arg(journalPath));
        }
        // Locked a name another program removed meanwhile: start again.
        if (SameFile(fd, journalPath)) break;
        ::close(fd);
        fd = -1;
        if (attempt == 3)
            return Fail(error,
                        QStringLiteral("Cannot create the journal \"%1\".").arg(journalPath));
    }
    path = journalPath;
    nonce = QRandomGenerator::system()->generate();
    QByteArray head(kMagic, sizeof kMagic);
    head += kind;
    head += QByteArray(3, '\0');
    PutU32(head, nonce);
    PutU32(head, uint32_t(payload.size()));
    head += payload;
    PutU32(head, Crc(Crc(0, nullptr, 0), head.constData(), size_t(head.size())));
    for (const QByteArray& e : entries)
        head += EntryRecord(nonce, e);
    if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, head, 0) || ::fsync(fd) != 0 ||
        !SyncFolder(FolderOf(path))) {
        const QString why = ErrnoText();
        ::unlink(native.constData());
        ::close(fd);
        fd = -1;
        return Fail(error,
                    QStringLiteral("Cannot write the journal \"%1\": %2").arg(journalPath, why));
    }
    return true;
}

bool TJournalWriter::Append(const QVector<QByteArray>& entries, QString* error) {
    if (fd < 0) return Fail(error, QStringLiteral("No journal is open."));
    if (entries.isEmpty()) return true;
    QByteArray all;
    for (const QByteArray& e : entries)
        all += EntryRecord(nonce, e);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !WriteAll(fd, all, int64_t(st.st_size)) || ::fsync(fd) != 0)
        return Fail(error,
                    QStringLiteral("Cannot write the journal \"%1\": %2").arg(path, ErrnoText()));
    return true;
}

bool TJournalWriter::End(QString* error) {
    if (fd < 0) return true;
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return Fail(error,
                    QStringLiteral("Cannot remove the journal \"%1\": %2").arg(path, ErrnoText()));
    // Once its removal is on disk, a later crash can never roll back what it covered.
    const bool synced = SyncFolder(FolderOf(path));
    ::close(fd);
    fd = -1;
    if (!synced) return Fail(error, QStringLiteral("Cannot sync the folder of \"%1\".").arg(path));
    return true;
}

// ---------------------------------------------------------------- reading

TJournalReader::~TJournalReader() {
    if (fd >= 0) ::close(fd);
}

TJournalReader::State TJournalReader::Open(const QString& journalPath) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    Kind = 0;
    Payload.clear();
    Entries.clear();
    path = journalPath;
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return None;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
        return Busy;
    }
    struct stat st;
    if (!SameFile(fd, path) || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return None;
    }
    if (st.st_size < kHeaderFixed + 4 || st.st_size > kMaxJournal) return Torn;
    QByteArray all(int(st.st_size), '\0');
    int64_t got = 0;
    while (got < all.size()) {
        const ssize_t n = ::pread(fd, all.data() + got, size_t(all.size() - got), off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    all.truncate(int(got));
    const char* p = all.constData();
    if (all.size() < kHeaderFixed + 4 || memcmp(p, kMagic, sizeof kMagic) != 0) return Torn;
    const uint32_t nonce = GetU32(p + 12);
    const int64_t payloadLen = GetU32(p + 16);
    const int64_t headEnd = kHeaderFixed + payloadLen;
    if (headEnd + 4 > all.size()) return Torn;
    if (Crc(Crc(0, nullptr, 0), p, size_t(headEnd)) != GetU32(p + headEnd)) return Torn;
    Kind = p[8];
    Payload = all.mid(kHeaderFixed, int(payloadLen));
    char salt[4];
    qToLittleEndian<uint32_t>(nonce, salt);
    int64_t at = headEnd + 4;
    while (at + 8 <= all.size()) {
        const int64_t len = GetU32(p + at);
        if (at + 4 + len + 4 > all.size()) break;
        uint32_t crc = Crc(Crc(0, nullptr, 0), salt, 4);
        crc = Crc(crc, p + at, size_t(4 + len));
        if (crc != GetU32(p + at + 4 + len)) break;
        Entries.append(all.mid(int(at + 4), int(len)));
        at += 4 + len + 4;
    }
    return Valid;
}

bool TJournalReader::Remove() {
    if (fd < 0) return true;
    const bool ok = ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
    const bool synced = SyncFolder(FolderOf(path));
    ::close(fd);
    fd = -1;
    return ok && synced;
}

// ---------------------------------------------------------------- payloads

void PutU32(QByteArray& out, uint32_t v) {
    char b[4];
    qToLittleEndian<uint32_t>(v, b);
    out.append(b, 4);
}

void PutI64(QByteArray& out, int64_t v) {
    char b[8];
    qToLittleEndian<int64_t>(v, b);
    out.append(b, 8);
}

void PutBytes(QByteArray& out, const QByteArray& bytes) {
    PutU32(out, uint32_t(bytes.size()));
    out += bytes;
}

uint32_t TPayloadReader::U32() {
    if (!ok || at + 4 > data.size()) {
        ok = false;
        return 0;
    }
    const uint32_t v = qFromLittleEndian<uint32_t>(data.constData() + at);
    at += 4;
    return v;
}

int64_t TPayloadReader::I64() {
    if (!ok || at + 8 > data.size()) {
        ok = false;
        return 0;
    }
    const int64_t v = qFromLittleEndian<int64_t>(data.constData() + at);
    at += 8;
    return v;
}

QByteArray TPayloadReader::Bytes() {
    const uint32_t n = U32();
    if (!ok || int64_t(at) + n > data.size()) {
        ok = false;
        return {};
    }
    const QByteArray b = data.mid(at, int(n));
    at += int(n);
    return b;
}
