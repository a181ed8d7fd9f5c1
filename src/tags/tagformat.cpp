#include "tags/tagformat.h"

#include <QFile>
#include <QStringList>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kHeadSize = 64;

bool StartsWith(const QByteArray& data, qsizetype at, const char* magic, qsizetype n) {
    return data.size() >= at + n && std::memcmp(data.constData() + at, magic, size_t(n)) == 0;
}

// The stream an Ogg file starts with, from its first packet.
TTagFormat OggStream(const QByteArray& head) {
    if (head.size() < 28) return TTagFormat::None;
    const int segments = uint8_t(head[26]);
    const qsizetype packet = 27 + segments;
    if (StartsWith(head, packet, "\x01vorbis", 7)) return TTagFormat::OggVorbis;
    if (StartsWith(head, packet, "OpusHead", 8)) return TTagFormat::Opus;
    if (StartsWith(head, packet,
                   "\x7f"
                   "FLAC",
                   5))
        return TTagFormat::OggFlac;
    return TTagFormat::None;
}

// MPEG audio frame sync (MPEG-1/2/2.5 layers I-III, and ADTS AAC).
bool MpegSync(const QByteArray& data) {
    return data.size() >= 2 && uint8_t(data[0]) == 0xFF && (uint8_t(data[1]) & 0xE0) == 0xE0;
}

QString Extension(const QString& name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? name.mid(dot + 1).toLower() : QString();
}

bool ReadAt(int fd, qint64 at, QByteArray& out, int size) {
    out.resize(size);
    const ssize_t n = ::pread(fd, out.data(), size_t(size), off_t(at));
    if (n < 0) {
        out.clear();
        return false;
    }
    out.resize(qsizetype(n));
    return true;
}

} // namespace

qint64 LeadingId3v2Size(const QByteArray& head) {
    if (head.size() < 10 || !StartsWith(head, 0, "ID3", 3)) return 0;
    const auto b = [&](int k) { return uint8_t(head[k]); };
    if (b(3) == 0xFF || b(4) == 0xFF) return 0;
    for (int k = 6; k < 10; ++k)
        if (b(k) & 0x80) return 0;
    const qint64 size = (qint64(b(6)) << 21) | (qint64(b(7)) << 14) | (qint64(b(8)) << 7) | b(9);
    // A version 4 tag may end in a footer as long as its header.
    return 10 + size + ((b(3) == 4 && (b(5) & 0x10)) ? 10 : 0);
}

TTagFormat TagFormatOfBytes(const QByteArray& head, const QByteArray& afterId3,
                            const QString& name) {
    if (LeadingId3v2Size(head) > 0) {
        // Some programs put an ID3v2 tag in front of a FLAC stream; its own
        // tags are what players show.
        if (StartsWith(afterId3, 0, "fLaC", 4)) return TTagFormat::Flac;
        return TTagFormat::Id3v2;
    }
    if (StartsWith(head, 4, "ftyp", 4)) return TTagFormat::Mp4;
    if (StartsWith(head, 0, "OggS", 4)) return OggStream(head);
    if (StartsWith(head, 0, "fLaC", 4)) return TTagFormat::Flac;
    if (MpegSync(head)) return TTagFormat::Id3v2;
    // Containers of other kinds never get an ID3v2 tag put in front of them.
    static const char* const others[] = {
        "RIFF", "RIFX", "MThd", "FORM",    "\x1a\x45\xdf\xa3", "\x30\x26\xb2\x75",
        "wvpk", "MAC ", "ADIF", "\0\0\x01"};
    for (const char* magic : others)
        if (StartsWith(head, 0, magic, qsizetype(magic[0] ? std::strlen(magic) : 3)))
            return TTagFormat::Foreign;
    const QString ext = Extension(name);
    if (ext == QLatin1String("mp3")) return TTagFormat::Id3v2;
    if (ext == QLatin1String("m4b") || ext == QLatin1String("m4a") || ext == QLatin1String("mp4"))
        return TTagFormat::Mp4;
    if (ext == QLatin1String("ogg") || ext == QLatin1String("oga")) return TTagFormat::OggVorbis;
    if (ext == QLatin1String("opus")) return TTagFormat::Opus;
    if (ext == QLatin1String("flac")) return TTagFormat::Flac;
    return TTagFormat::None;
}

void ReadHead(int fd, QByteArray& head, QByteArray& afterId3) {
    if (!ReadAt(fd, 0, head, kHeadSize)) return;
    if (const qint64 skip = LeadingId3v2Size(head); skip > 0) ReadAt(fd, skip, afterId3, 4);
}

TTagFormat DetectTagFormat(const QString& path) {
    QByteArray head, after;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st;
        // Only a regular file is read: a FIFO or a device would block or never end.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ReadHead(fd, head, after);
        ::close(fd);
    }
    return TagFormatOfBytes(head, after, path);
}

QString TagFormatName(TTagFormat format) {
    switch (format) {
    case TTagFormat::Id3v2:
        return QStringLiteral("ID3v2");
    case TTagFormat::Mp4:
        return QStringLiteral("MP4");
    case TTagFormat::OggVorbis:
        return QStringLiteral("Ogg Vorbis");
    case TTagFormat::Opus:
        return QStringLiteral("Opus");
    case TTagFormat::OggFlac:
        return QStringLiteral("Ogg FLAC");
    case TTagFormat::Flac:
        return QStringLiteral("FLAC");
    case TTagFormat::Foreign:
        return QStringLiteral("another container");
    case TTagFormat::None:
        break;
    }
    return {};
}
