// libFuzzer target for the tag facade over every format: any bytes, as a file
// whose content chooses the back end (our ID3v2 library, or TagLib for MP4,
// Ogg Vorbis, Opus, Ogg FLAC and FLAC), are read with their cover, in memory
// and from a file; then one field is saved. TagLib meets files it has never
// seen here: the read must end in bounded time and memory, never crash, and
// a save that succeeds must read back; one that fails leaves the file as it was.
#include "tags/filetags.h"
#include "tags/taglibtags.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace {

// One scratch file per process (in memory where there is a tmpfs: the saves
// sync), removed when the fuzzer exits.
struct Scratch {
    std::string path;
    Scratch() {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path = std::string(dir) + "/narrabel-tags-fuzz-" + std::to_string(getpid());
    }
    ~Scratch() { ::unlink(path.c_str()); }
};

const std::string& ScratchPath() {
    static const Scratch s;
    return s.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The last byte picks the extension the file gets (for content that says nothing).
    static const char* const extensions[] = {".mp3", ".m4b", ".opus", ".ogg", ".flac", ".aac"};
    const uint8_t knobs = size > 0 ? data[size - 1] : 0;
    const QString path =
        QString::fromStdString(ScratchPath()) + QString::fromLatin1(extensions[knobs % 6]);

    // In memory, through each TagLib format class in turn.
    static const TTagFormat formats[] = {TTagFormat::Mp4, TTagFormat::OggVorbis, TTagFormat::Opus,
                                         TTagFormat::OggFlac, TTagFormat::Flac};
    TFileTag inMemory;
    inMemory.Format = formats[(knobs >> 3) % 5];
    ReadTagLibBytes(inMemory, bytes, trCover);

    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return 0;
    f.close();
    TFileTag t = ReadFileTag(path, trCover);
    if (t.Cover.size() > TFileTag::kMaxCoverBytes) __builtin_trap();
    if (t.Unreadable || !(knobs & 0x80)) {
        QFile::remove(path);
        return 0;
    }
    t.Fields.Title = QStringLiteral("fuzz \u00e9\u4e00");
    const TTagSaveResult r = SaveFileTag(t);
    QFile saved(path);
    saved.open(QIODevice::ReadOnly);
    const QByteArray after = saved.readAll();
    if (!r.Ok()) {
        if (after != bytes) __builtin_trap(); // a refusal changes nothing
    } else if (ReadFileTag(path).Fields.Title != t.Fields.Title) {
        __builtin_trap();
    }
    QFile::remove(path);
    return 0;
}
