#pragma once
// Small MP3 files made at test time: an optional ID3v2.3 tag with text frames
// (Latin-1, or UTF-16 for texts beyond it), followed by silent MPEG-1 Layer III frames (128
// kbit/s, 44.1 kHz, about 26 ms each) that real decoders play.

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace testsupport {

struct Mp3Tags {
    Mp3Tags() = default;
    Mp3Tags(const QString& artist, const QString& album, const QString& track = {},
            const QString& title = {})
        : Artist(artist), Album(album), Track(track), Title(title) {}
    QString Artist, Album, Track, Title, Year, Genre, Comment;
    // Extra text frames (id, value) written after the ones above.
    std::vector<std::pair<QByteArray, QString>> Extra;
};

// The ID3v2.3 tag alone (empty when no field is set and withTag is false).
QByteArray Id3v23Tag(const Mp3Tags& tags, int padding = 0);
// Silent audio frames.
QByteArray SilentFrames(int count);
// Writes tag + frames to path; returns the path.
QString MakeMp3(const QString& path, const Mp3Tags& tags, int frames = 40, bool withTag = true);

} // namespace testsupport
