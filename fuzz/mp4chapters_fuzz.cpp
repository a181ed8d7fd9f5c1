// libFuzzer target for the MP4 chapter reader: any bytes, as a file, read by
// that reader alone (a file it leaves to libavformat is not read further).
// The read must end in bounded time and memory, never crash, and keep to the
// caps on chapters and titles, whatever the boxes declare.
#include "playback/chapters.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace {

// One scratch file per process, in memory where there is a tmpfs.
struct Scratch {
    std::string path;
    Scratch() {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path = std::string(dir) + "/narrabel-mp4chapters-fuzz-" + std::to_string(getpid());
    }
    ~Scratch() { ::unlink(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scratch scratch;
    const QString path = QString::fromStdString(scratch.path);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        return 0;
    f.close();
    const TChapterRead read = ReadChapterFileWith(TChapterReader::Mp4Boxes, path);
    if (read.Chapters.size() > MaxChapters + 1) __builtin_trap();
    for (const TChapter& c : read.Chapters)
        if (c.Title.size() > 4 * MaxChapterTitle + 16) __builtin_trap();
    if (CleanChapters(read.Chapters, read.LengthMs).size() > MaxChapters) __builtin_trap();
    return 0;
}
