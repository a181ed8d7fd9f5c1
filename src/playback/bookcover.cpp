#include "playback/bookcover.h"

#include "playback/bookorder.h"
#include "tags/filetags.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

// In order of preference.
const char* const kCoverNames[] = {"cover.jpg", "cover.png", "folder.jpg"};

// The first cover name the folder holds (any letter case), as a path.
QString CoverIn(const QString& folder) {
    if (folder.isEmpty()) return {};
    QStringList filters;
    for (const char* name : kCoverNames)
        filters << QLatin1String(name);
    // Name filters ignore letter case.
    const QStringList found =
        QDir(folder).entryList(filters, QDir::Files | QDir::Readable, QDir::NoSort);
    for (const char* name : kCoverNames)
        for (const QString& f : found)
            if (f.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
                const QString path = QDir(folder).filePath(f);
                if (QFileInfo(path).size() <= TFileTag::kMaxCoverBytes) return path;
            }
    return {};
}

} // namespace

QString CoverFileOf(const QString& audioFile) {
    const QString folder = QFileInfo(audioFile).absolutePath();
    QString file = CoverIn(folder);
    if (file.isEmpty()) {
        const QString book = BookFolder(audioFile);
        if (book != folder) file = CoverIn(book);
    }
    return file;
}

TCover CoverOf(const QString& audioFile, const TFileTag* tag) {
    TCover cover;
    if (audioFile.isEmpty()) return cover;
    const TFileTag read = tag ? TFileTag() : ReadFileTag(audioFile, trCover);
    const TFileTag& t = tag ? *tag : read;
    if (!t.Cover.isEmpty()) {
        cover.Bytes = t.Cover;
        cover.Mime = t.CoverMime;
        return cover;
    }
    const QString file = CoverFileOf(audioFile);
    if (file.isEmpty()) return cover;
    QFile f(file);
    // One byte past the limit at most: a file that grew meanwhile is no cover either.
    if (!f.open(QIODevice::ReadOnly)) return cover;
    cover.Bytes = f.read(TFileTag::kMaxCoverBytes + 1);
    if (cover.Bytes.size() > TFileTag::kMaxCoverBytes) cover.Bytes.clear();
    if (cover.Bytes.isEmpty()) return cover;
    cover.File = file;
    cover.Mime = file.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
                     ? QStringLiteral("image/png")
                     : QStringLiteral("image/jpeg");
    return cover;
}

QString CoverArtUrl(const TCover& cover) {
    if (cover.IsEmpty()) return {};
    if (!cover.File.isEmpty()) return QUrl::fromLocalFile(cover.File).toString();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty()) return {};
    const QString folder = cache + QStringLiteral("/covers");
    const QString ext = cover.Mime.endsWith(QLatin1String("png"))   ? QStringLiteral("png")
                        : cover.Mime.endsWith(QLatin1String("gif")) ? QStringLiteral("gif")
                        : cover.Mime.endsWith(QLatin1String("bmp")) ? QStringLiteral("bmp")
                                                                    : QStringLiteral("jpg");
    const QString name =
        QString::fromLatin1(
            QCryptographicHash::hash(cover.Bytes, QCryptographicHash::Sha1).toHex()) +
        QLatin1Char('.') + ext;
    const QString path = folder + QLatin1Char('/') + name;
    // The same picture is written once, however often its file is played. A
    // cache needs no sync: a copy cut short by a crash is found by its size
    // and written again.
    if (QFileInfo(path).size() != cover.Bytes.size()) {
        const QString temp = path + QStringLiteral(".part");
        QFile f(temp);
        if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly) ||
            f.write(cover.Bytes) != cover.Bytes.size() || !f.flush()) {
            f.remove();
            return {};
        }
        f.close();
        QFile::remove(path);
        if (!QFile::rename(temp, path)) {
            QFile::remove(temp);
            return {};
        }
    }
    return QUrl::fromLocalFile(path).toString();
}
