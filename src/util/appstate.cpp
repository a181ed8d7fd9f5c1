#include "util/appstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

TAppState::TAppState(QObject* parent) : QObject(parent) {}

TAppState::~TAppState() = default;

QString TAppState::DataFolderPath() {
    QString folder = SpecialFolderPath(4) + QStringLiteral("Narrabel");
    if (!folder.startsWith('/')) folder = QStringLiteral("/") + folder;
    return folder;
}

bool TAppState::ResolveDataFolder() {
    const QString folder = DataFolderPath();
    // A fresh account may have no documents folder yet: make it too.
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        DataFolder.clear();
        StorePath.clear();
        return false;
    }
    DataFolder = folder + '/';
    StorePath = DataFolder + QStringLiteral("Narrabel.nbm");
    return true;
}

QString TAppState::DataFile(const QString& name) const {
    return DataFolder.isEmpty() ? QString() : DataFolder + name;
}

TAppState::TLock TAppState::LockDataFolder() {
    LockHolder.clear();
    if (lock) return TLock::Held;
    if (DataFolder.isEmpty()) return TLock::Unavailable;
    auto taken = std::make_unique<QLockFile>(DataFile(LockFileName()));
    // Only a holder that no longer runs makes a lock stale, however old it is.
    taken->setStaleLockTime(0);
    if (taken->tryLock(0)) {
        lock = std::move(taken);
        return TLock::Held;
    }
    if (taken->error() != QLockFile::LockFailedError) return TLock::Unavailable;
    qint64 pid = 0;
    QString host, program;
    if (taken->getLockInfo(&pid, &host, &program))
        LockHolder = QStringLiteral("process %1").arg(pid);
    return TLock::Busy;
}

void TAppState::UnlockDataFolder() {
    lock.reset(); // QLockFile removes its file as it goes
}

void TAppState::CheckWritable() {
    WriteProblem.clear();
    if (DataFolder.isEmpty()) return;
    const QString folder = QDir::cleanPath(DataFolder);
    const QByteArray native = QFile::encodeName(folder);
    QString why;
    struct stat st;
    struct statvfs fs;
    // Read-only as the file manager shows it: the owner's write bit clear,
    // or a folder this user may not write (root may write anywhere, but a
    // folder made read-only stays read-only for root too).
    if (::stat(native.constData(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
        why = QStringLiteral("is read-only");
    } else if (::access(native.constData(), W_OK) != 0) {
        why = errno == EACCES || errno == EPERM || errno == EROFS
                  ? QStringLiteral("is read-only")
                  : QString::fromLocal8Bit(strerror(errno))
                        .prepend(QStringLiteral("cannot be "
                                                "written: "));
    } else if (::statvfs(native.constData(), &fs) == 0 && fs.f_bavail == 0) {
        why = QStringLiteral("is full");
    }
    if (!why.isEmpty())
        WriteProblem =
            QStringLiteral("Bookmarks and your place cannot be saved: %1 %2.").arg(folder, why);
    emit TitleChanged(Title());
}

void TAppState::SetCaption(const QString& text) {
    if (text == caption) return;
    caption = text;
    emit TitleChanged(Title());
}

QString TAppState::Title() const {
    if (WriteProblem.isEmpty() || caption != QLatin1String("Narrabel")) return caption;
    return caption + QStringLiteral(" - ") + WriteProblem;
}
