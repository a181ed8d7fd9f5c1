#pragma once
// Byte builders for ID3v2 tags, shared by the tests and the benchmark: Qt Core
// and zlib only.

#include <QByteArray>
#include <cstdint>
#include <zlib.h>

namespace id3test {

inline QByteArray Synchsafe(uint32_t v) {
    QByteArray b(4, 0);
    b[0] = char((v >> 21) & 0x7F);
    b[1] = char((v >> 14) & 0x7F);
    b[2] = char((v >> 7) & 0x7F);
    b[3] = char(v & 0x7F);
    return b;
}
inline QByteArray BE32(uint32_t v) {
    QByteArray b(4, 0);
    b[0] = char(v >> 24);
    b[1] = char(v >> 16);
    b[2] = char(v >> 8);
    b[3] = char(v);
    return b;
}
inline QByteArray Header(int version, int revision, int flags, uint32_t size) {
    QByteArray h("ID3");
    h.append(char(version)).append(char(revision)).append(char(flags)).append(Synchsafe(size));
    return h;
}
inline QByteArray FrameV3(const char* id, const QByteArray& data, int status = 0, int format = 0) {
    QByteArray f(id, 4);
    f.append(BE32(uint32_t(data.size()))).append(char(status)).append(char(format)).append(data);
    return f;
}
inline QByteArray FrameV4(const char* id, const QByteArray& data, int status = 0, int format = 0) {
    QByteArray f(id, 4);
    f.append(Synchsafe(uint32_t(data.size())))
        .append(char(status))
        .append(char(format))
        .append(data);
    return f;
}
// A Latin-1 text frame body.
inline QByteArray Text(const QByteArray& latin1) {
    return QByteArray(1, '\0') + latin1;
}
// A whole tag: header, body and padding zeros.
inline QByteArray Tag(int version, const QByteArray& body, int padding = 0, int flags = 0,
                      int revision = 0) {
    return Header(version, revision, flags, uint32_t(body.size() + padding)) + body +
           QByteArray(padding, '\0');
}
// Some bytes that stand for audio behind the tag.
inline QByteArray Audio(int n, int seed = 1) {
    QByteArray a(n, 0);
    uint32_t x = uint32_t(seed) * 2654435761u + 1;
    for (int k = 0; k < n; ++k) {
        x = x * 1103515245u + 12345u;
        a[k] = char(x >> 16);
    }
    return a;
}

// Bytes packed by zlib at the given level.
inline QByteArray Deflated(const QByteArray& in, int level = Z_DEFAULT_COMPRESSION) {
    uLongf len = compressBound(uLong(in.size()));
    QByteArray out(int(len), 0);
    compress2(reinterpret_cast<Bytef*>(out.data()), &len,
              reinterpret_cast<const Bytef*>(in.constData()), uLong(in.size()), level);
    out.resize(int(len));
    return out;
}

} // namespace id3test
