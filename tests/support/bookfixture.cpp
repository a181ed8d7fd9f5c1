#include "support/bookfixture.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <gtest/gtest.h>

namespace testsupport {

bool HaveFfmpeg() {
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

QString MakeBook(const QString& path, const BookSpec& spec) {
    const QString ext = QFileInfo(path).suffix().toLower();
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QStringLiteral("sine=frequency=330:duration=%1").arg(spec.Seconds)};
    const bool picture =
        spec.Cover && (ext == "m4b" || ext == "m4a" || ext == "flac" || ext == "mp3");
    if (picture)
        args << "-f"
             << "lavfi"
             << "-i"
             << "testsrc2=s=160x200:d=1";
    args << "-map"
         << "0:a";
    if (picture)
        args << "-map"
             << "1:v"
             << "-frames:v"
             << "1"
             << "-c:v"
             << "mjpeg"
             << "-disposition:v"
             << "attached_pic";
    const QString fields[][2] = {{"artist", spec.Artist},
                                 {"album", spec.Album},
                                 {"title", spec.Title},
                                 {"track", spec.Track}};
    for (const auto& f : fields)
        if (!f[1].isEmpty()) args << "-metadata" << f[0] + "=" + f[1];
    if (ext == "m4b" || ext == "m4a")
        args << "-c:a"
             << "aac"
             << "-b:a"
             << "32k"
             << "-f"
             << "ipod";
    else if (ext == "aac")
        args << "-c:a"
             << "aac"
             << "-b:a"
             << "32k"
             << "-f"
             << "adts"
             << "-write_id3v2"
             << "1";
    else if (ext == "opus")
        args << "-c:a"
             << "libopus"
             << "-b:a"
             << "24k";
    else if (ext == "ogg")
        args << "-c:a"
             << "libvorbis";
    else if (ext == "oga")
        args << "-c:a"
             << "flac"
             << "-f"
             << "ogg";
    else if (ext == "flac")
        args << "-c:a"
             << "flac";
    else
        args << "-c:a"
             << "libmp3lame"
             << "-b:a"
             << "32k"
             << "-id3v2_version"
             << "3";
    args << path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        ADD_FAILURE() << "ffmpeg could not make " << path.toStdString() << ": "
                      << ffmpeg.readAllStandardError().toStdString();
        return {};
    }
    return path;
}

} // namespace testsupport
