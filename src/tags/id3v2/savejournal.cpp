#include "tags/id3v2/savejournal.h"

#include "util/journal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace id3v2 {

namespace {

QString& folderSetting() {
    static QString folder;
    return folder;
}

// Whether the journal folder may hold a journal: only a save of this program
// puts one there (every save asks SaveJournalPath first), and the start-up
// recovery, or the first look after such a save, finds it gone. Until then
// every read looks; after that none needs to.
std::atomic<bool>& folderJournalMaybe() {
    static std::atomic<bool> maybe{false};
    return maybe;
}

// A short stable name for a file, so that names made from it fit any folder.
QString NameHash(const QString& path) {
    const QByteArray name = QFile::encodeName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    return QString::fromLatin1(
        QCryptographicHash::hash(name, QCryptographicHash::Sha1).toHex().left(16));
}

QString Beside(const QString& path, const QString& name) {
    const QString folder = FolderOf(path);
    return (folder == QLatin1String("/") ? folder : folder + QLatin1Char('/')) + name;
}

bool WriteAt(int fd, const QByteArray& data, uint64_t at) {
    int64_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + done, size_t(data.size() - done),
                                   off_t(at + uint64_t(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Whether two paths name one file (the same text when either is missing).
bool SameFile(const QString& a, const QString& b) {
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

TTagRecovery Failed(TTagRecovery r, const QString& what) {
    r.Result = TTagRecovery::Failed;
    r.Error =
        QStringLiteral("%1 \"%2\": %3").arg(what, r.File, QString::fromLocal8Bit(strerror(errno)));
    return r;
}

// Puts the old tag back and the audio where it was, whatever the save reached.
TTagRecovery UndoInPlace(TJournalReader& journal, TTagRecovery r) {
    TPayloadReader p{journal.Payload};
    const QByteArray native = p.Bytes();
    const uint64_t dev = uint64_t(p.I64()), ino = uint64_t(p.I64());
    const int64_t oldLength = p.I64(), offset = p.I64();
    const uint32_t op = p.U32();
    const int64_t at = p.I64(), delta = p.I64();
    const QByteArray oldTag = p.Bytes();
    r.File = QFile::decodeName(native);
    if (!p.ok || oldLength < 0 || offset < 0 || at < 0 || delta < 0) {
        journal.Remove();
        r.Result = TTagRecovery::Untouched;
        return r;
    }
    const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || uint64_t(st.st_dev) != dev ||
        uint64_t(st.st_ino) != ino) {
        // The file is gone or another one has its name: nothing of it to undo.
        if (fd >= 0) ::close(fd);
        journal.Remove();
        r.Result = TTagRecovery::Untouched;
        return r;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const int64_t length = int64_t(st.st_size);
    if (length == oldLength) {
        QByteArray now(oldTag.size(), '\0');
        if (::pread(fd, now.data(), size_t(now.size()), off_t(offset)) == ssize_t(now.size()) &&
            now == oldTag) {
            // The save never got to the file.
            journal.Remove();
            r.Result = TTagRecovery::Untouched;
            return r;
        }
    }
    // Space the save inserted or removed is removed or inserted again; the
    // length says whether the operation happened (it is all or nothing).
    if (op == spaceInserted && length == oldLength + delta) {
        if (::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, off_t(at), off_t(delta)) != 0)
            return Failed(r, QStringLiteral("Cannot remove the space inserted into"));
    } else if (op == spaceRemoved && length == oldLength - delta) {
        if (::fallocate(fd, FALLOC_FL_INSERT_RANGE, off_t(at), off_t(delta)) != 0)
            return Failed(r, QStringLiteral("Cannot insert the space removed from"));
    } else if (op != spaceNone && length != oldLength) {
        errno = EINVAL;
        return Failed(r, QStringLiteral("Unexpected length of"));
    }
    if (!WriteAt(fd, oldTag, uint64_t(offset)) ||
        (::fstat(fd, &st) == 0 && st.st_size != oldLength &&
         ::ftruncate(fd, off_t(oldLength)) != 0) ||
        ::fsync(fd) != 0)
        return Failed(r, QStringLiteral("Cannot put back the tag of"));
    journal.Remove();
    r.Result = TTagRecovery::Restored;
    return r;
}

// The new file never took the old one's place, or did so whole: either way
// only a temporary may be left.
TTagRecovery UndoReplace(TJournalReader& journal, TTagRecovery r) {
    TPayloadReader p{journal.Payload};
    const QByteArray native = p.Bytes();
    const QByteArray temp = p.Bytes();
    r.File = QFile::decodeName(native);
    r.Result = TTagRecovery::Untouched;
    if (p.ok && !temp.isEmpty()) {
        struct stat st;
        if (::lstat(temp.constData(), &st) == 0) {
            if (::unlink(temp.constData()) != 0)
                return Failed(r, QStringLiteral("Cannot remove the temporary file beside"));
            SyncFolder(FolderOf(QFile::decodeName(temp)));
            r.Result = TTagRecovery::Abandoned;
        }
    }
    journal.Remove();
    return r;
}

} // namespace

void SetJournalFolder(const QString& folder) {
    folderSetting() = folder;
    folderJournalMaybe() = !folder.isEmpty(); // a run that ended part way may have left one
}

QString JournalFolder() {
    return folderSetting();
}

QString SideJournalPath(const QString& path) {
    return Beside(path, QStringLiteral(".narrabel-") + NameHash(path) + QStringLiteral(".journal"));
}

QString FolderJournalPath(const QString& folder) {
    return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
           QStringLiteral("Narrabel.tag-journal");
}

QString SaveJournalPath(const QString& path) {
    const QString& folder = folderSetting();
    // A data folder that went away meanwhile cannot hold it; the file's own folder can.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return SideJournalPath(path);
    folderJournalMaybe() = true;
    return FolderJournalPath(folder);
}

QString NewTemporaryPath(const QString& path) {
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix;
    for (int k = 0; k < 6; ++k)
        suffix += QLatin1Char(chars[QRandomGenerator::global()->bounded(62)]);
    return Beside(path, QStringLiteral(".narrabel-") + NameHash(path) + QLatin1Char('-') + suffix +
                            QStringLiteral(".tmp"));
}

QByteArray InPlacePayload(const QString& path, uint64_t dev, uint64_t ino, uint64_t oldLength,
                          uint64_t offset, TSpaceOp op, uint64_t at, uint64_t delta,
                          const std::vector<uint8_t>& oldTag) {
    QByteArray p;
    PutBytes(p, QFile::encodeName(path));
    PutI64(p, int64_t(dev));
    PutI64(p, int64_t(ino));
    PutI64(p, int64_t(oldLength));
    PutI64(p, int64_t(offset));
    PutU32(p, op);
    PutI64(p, int64_t(at));
    PutI64(p, int64_t(delta));
    PutBytes(p, QByteArray(reinterpret_cast<const char*>(oldTag.data()), int(oldTag.size())));
    return p;
}

QByteArray ReplacePayload(const QString& path, const QString& temp) {
    QByteArray p;
    PutBytes(p, QFile::encodeName(path));
    PutBytes(p, QFile::encodeName(temp));
    return p;
}

TTagRecovery RecoverTagJournal(const QString& journalPath, const QString& onlyFile) {
    TTagRecovery r;
    TJournalReader journal;
    switch (journal.Open(journalPath)) {
    case TJournalReader::None:
        return r;
    case TJournalReader::Busy:
        r.Result = TTagRecovery::Busy;
        return r;
    case TJournalReader::Torn:
        // Never landed whole, so the save never touched the file.
        journal.Remove();
        r.Result = TTagRecovery::Untouched;
        return r;
    case TJournalReader::Valid:
        break;
    }
    if (!onlyFile.isEmpty() && (journal.Kind == kInPlaceSave || journal.Kind == kReplaceSave)) {
        TPayloadReader p{journal.Payload};
        if (!SameFile(QFile::decodeName(p.Bytes()), onlyFile)) return r;
    }
    if (journal.Kind == kInPlaceSave) return UndoInPlace(journal, r);
    if (journal.Kind == kReplaceSave) return UndoReplace(journal, r);
    journal.Remove();
    r.Result = TTagRecovery::Untouched;
    return r;
}

TTagRecovery RecoverTagFile(const QString& path) {
    TTagRecovery result;
    auto exists = [](const QString& journal) {
        struct stat st;
        return ::lstat(QFile::encodeName(journal).constData(), &st) == 0;
    };
    // Both places: the file may have been saved by the tool (beside it, at any
    // time, so always looked at) or by the program (in the journal folder).
    const QString side = SideJournalPath(path);
    if (exists(side)) {
        const TTagRecovery r = RecoverTagJournal(side, path);
        if (r.Result != TTagRecovery::Nothing) result = r;
    }
    if (!folderSetting().isEmpty() && folderJournalMaybe()) {
        const QString folder = FolderJournalPath(folderSetting());
        if (exists(folder)) {
            const TTagRecovery r = RecoverTagJournal(folder, path);
            if (r.Result != TTagRecovery::Nothing) result = r;
        }
        // A journal about another file, or one another program holds, is looked at again.
        if (!exists(folder)) folderJournalMaybe() = false;
    }
    return result;
}

} // namespace id3v2
