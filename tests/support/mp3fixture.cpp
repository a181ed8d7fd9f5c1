#include "support/mp3fixture.h"

#include "support/testsupport.h"
#include "tags/id3v2/id3v2.h"

namespace testsupport {

namespace {

QByteArray be32(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (24 - 8 * i)) & 0xFF);
    return b;
}

QByteArray syncsafe(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (21 - 7 * i)) & 0x7F);
    return b;
}

QByteArray frame(const QByteArray& id, const QByteArray& body) {
    return id + be32(uint32_t(body.size())) + QByteArray(2, '\0') + body;
}

} // namespace

QByteArray Id3v23Tag(const Mp3Tags& t, int padding) {
    QByteArray frames;
    // ISO-8859-1 when the text fits it, else UTF-16 with a byte order mark.
    auto encoded = [](const QString& v) {
        if (id3v2::IsLatin1(v)) return QByteArray(1, '\0') + v.toLatin1();
        QByteArray b("\x01\xFF\xFE", 3);
        for (QChar c : v)
            b += char(c.unicode() & 0xFF), b += char(c.unicode() >> 8);
        return b;
    };
    auto text = [&](const char* id, const QString& v) {
        if (!v.isEmpty()) frames += frame(id, encoded(v));
    };
    text("TPE1", t.Artist);
    text("TALB", t.Album);
    text("TRCK", t.Track);
    text("TIT2", t.Title);
    text("TYER", t.Year);
    text("TCON", t.Genre);
    if (!t.Comment.isEmpty())
        frames +=
            frame("COMM", QByteArray(1, '\0') + "eng" + QByteArray(1, '\0') + t.Comment.toLatin1());
    for (const auto& [id, v] : t.Extra)
        text(id.constData(), v);
    frames += QByteArray(padding, '\0');
    return QByteArray("ID3\x03\x00\x00", 6) + syncsafe(uint32_t(frames.size())) + frames;
}

QByteArray SilentFrames(int count) {
    // 128 kbit/s at 44.1 kHz: 417 bytes per frame (no padding bit).
    QByteArray one(417, '\0');
    one[0] = char(0xFF);
    one[1] = char(0xFB);
    one[2] = char(0x90);
    one[3] = char(0x64);
    QByteArray out;
    out.reserve(one.size() * count);
    for (int i = 0; i < count; ++i)
        out += one;
    return out;
}

QString MakeMp3(const QString& path, const Mp3Tags& tags, int frames, bool withTag) {
    WriteAll(path, (withTag ? Id3v23Tag(tags) : QByteArray()) + SilentFrames(frames));
    return path;
}

} // namespace testsupport
