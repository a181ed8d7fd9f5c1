// libFuzzer target: loads any bytes as a file's tag, reads every frame through
// the accessors, and saves into the same temporary file with changed frames;
// whatever followed the old tag must follow the new one unchanged.
#include "tags/id3v2/id3v2.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// One scratch file per process, removed when the fuzzer exits.
struct Scratch {
    std::string path = "/tmp/narrabel-id3v2-fuzz-" + std::to_string(getpid()) + ".mp3";
    ~Scratch() { ::unlink(path.c_str()); }
};

const std::string& TempPath() {
    static const Scratch s;
    return s.path;
}

bool WriteFile(const std::string& p, const uint8_t* data, size_t size) {
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    size_t off = 0;
    while (off < size) {
        const ssize_t w = ::write(fd, data + off, size - off);
        if (w <= 0) break;
        off += size_t(w);
    }
    ::close(fd);
    return off == size;
}

QByteArray ReadFile(const std::string& p) {
    QByteArray out;
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, int(n));
    std::fclose(f);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = TempPath();
    if (!WriteFile(path, data, size)) return 0;
    const QString qpath = QString::fromStdString(path);
    // The first byte past the header picks the save's tweaks.
    const uint8_t knobs = size > 10 ? data[size - 1] : 0;

    Tid3v2tag tag;
    const uint16_t rc = tag.LoadFromFile(qpath, 0);
    TFrameIndex& frames = tag.Frames();
    for (int i = 1; i <= frames.Count(); ++i) {
        QString text;
        tag.GetTextFrame(frames.GetID(i), text);
    }
    COMM comm;
    tag.GetComment(comm, QString(), QStringLiteral("None"));
    if (rc >= 256) return 0;

    const qint64 oldEnd = qint64(tag.TagOffset()) + 10 + tag.TagSize();
    const QByteArray before = ReadFile(path);
    // Odd knobs write a title beyond ISO-8859-1 (UTF-16 or UTF-8, surrogate pairs).
    const QString title =
        (knobs & 0x01) ? QString::fromUtf8("\u0141\U0001F600").repeated((knobs & 0x0F) * 100 + 1)
                       : QString((knobs & 0x0F) * 300 + 1, QLatin1Char('t'));
    tag.SetTextFrame(QStringLiteral("TIT2"), title);
    comm.Language = QStringLiteral("ENG");
    comm.Encoding = knobs % 4;
    comm.Text = QStringLiteral("fuzz");
    tag.SetComment(comm, QString(), QStringLiteral("None"));
    if (knobs & 0x10) tag.SetUnsynchronisation(true);
    if (knobs & 0x20) tag.SetCRCPresent(true);
    if ((knobs & 0x40) && frames.Count() > 0)
        frames.SetWriteFlags(1, fbFormat,
                             uint8_t(frames.GetWriteFlags(1, fbFormat) | ffCompressed));
    if (knobs & 0x80) tag.SetDropUnsupported(true);
    const uint8_t version = (knobs & 0x08) ? 4 : 3;
    const uint16_t saved = tag.SaveToFile(QStringLiteral("="), version, 0, -1);
    const QByteArray after = ReadFile(path);
    if (saved >= 256) {
        // Refusals and failures leave the file as it was.
        if (after != before) __builtin_trap();
        return 0;
    }
    const qint64 newEnd = qint64(tag.TagOffset()) + tag.TagSize();
    if (after.mid(int(newEnd)) != before.mid(int(oldEnd))) __builtin_trap();

    Tid3v2tag again;
    if (again.LoadFromFile(qpath, 0) >= 256) __builtin_trap();
    QString reread;
    if (again.GetTextFrame(QStringLiteral("TIT2"), reread) != txtOk || reread != title)
        __builtin_trap();
    return 0;
}
