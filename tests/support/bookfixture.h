#pragma once
// Audio books of every format made at test time by Debian's ffmpeg: a few
// seconds of sound with the tags given, and a cover picture where the
// container takes one (M4B, M4A, FLAC, MP3).

#include <QString>

namespace testsupport {

struct BookSpec {
    QString Artist, Album, Title, Track;
    double Seconds = 2;
    bool Cover = false;
};

bool HaveFfmpeg();
// The format follows the extension: m4b, m4a (MP4), aac (ADTS behind an ID3v2
// tag), opus, ogg (Vorbis), oga (Ogg FLAC), flac, mp3. Returns path, or empty
// (after a test failure) when ffmpeg fails.
QString MakeBook(const QString& path, const BookSpec& spec);

} // namespace testsupport
