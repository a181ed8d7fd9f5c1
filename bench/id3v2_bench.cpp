// Reading the tags of 2,000 files, and saving a tag that grows by 10 KiB into a
// 200 MB file, side by side with TagLib and with copying the file once.
//   id3v2_bench [--benchmark_filter=...]   (files go under $TMPDIR or /tmp)
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <memory>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray Synchsafe(uint32_t v) {
    QByteArray b(4, 0);
    b[0] = char((v >> 21) & 0x7F);
    b[1] = char((v >> 14) & 0x7F);
    b[2] = char((v >> 7) & 0x7F);
    b[3] = char(v & 0x7F);
    return b;
}
QByteArray Frame(const char* id, const QByteArray& data) {
    const uint32_t n = uint32_t(data.size());
    QByteArray f(id, 4);
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    f.append(2, '\0');
    return f + data;
}
QByteArray TextFrame(const char* id, const QByteArray& text) {
    return Frame(id, QByteArray(1, '\0') + text);
}

// A typical audio-book tag: texts, a comment, a small picture, padding.
QByteArray SampleTag(int k) {
    QByteArray body = TextFrame("TIT2", "Chapter " + QByteArray::number(k)) +
                      TextFrame("TPE1", "Some Author") + TextFrame("TALB", "A Long Book Title") +
                      TextFrame("TRCK", QByteArray::number(k % 40)) + TextFrame("TYER", "2004") +
                      TextFrame("TCON", "Speech") +
                      Frame("COMM", QByteArray("\0eng\0A comment", 14)) +
                      Frame("APIC", QByteArray("\0image/jpeg\0\3\0", 14) + QByteArray(8000, 'p'));
    const int padding = 2048;
    return "ID3" + QByteArray("\3\0\0", 3) + Synchsafe(uint32_t(body.size() + padding)) + body +
           QByteArray(padding, '\0');
}

QByteArray MpegAudio(int bytes) {
    // Frame headers of 128 kbit/s, 44.1 kHz MPEG-1 layer III, 417 bytes each.
    QByteArray frame(417, '\x55');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0x00);
    QByteArray out;
    out.reserve(bytes);
    while (out.size() < bytes)
        out.append(frame);
    out.resize(bytes);
    return out;
}

struct ReadSet {
    QTemporaryDir dir{QDir::tempPath() + "/narrabel-bench-XXXXXX"};
    std::vector<QString> files;
    std::vector<std::string> native;
    ReadSet() {
        const QByteArray audio = MpegAudio(32 * 1024);
        for (int k = 0; k < 2000; ++k) {
            const QString p = dir.path() + QStringLiteral("/f%1.mp3").arg(k);
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write(SampleTag(k) + audio);
            files.push_back(p);
            native.push_back(QFile::encodeName(p).toStdString());
        }
    }
};
ReadSet& Reads() {
    static ReadSet s;
    return s;
}

void BM_Read2000_Narrabel(benchmark::State& state) {
    ReadSet& s = Reads();
    for (auto _ : state) {
        size_t chars = 0;
        for (const QString& p : s.files) {
            ReadTag(p);
            chars += size_t(CurrentTag().Title.size());
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_Read2000_Narrabel)->Unit(benchmark::kMillisecond);

void BM_Read2000_TagLib(benchmark::State& state) {
    ReadSet& s = Reads();
    for (auto _ : state) {
        size_t chars = 0;
        for (const std::string& p : s.native) {
            TagLib::MPEG::File f(p.c_str(), false);
            TagLib::ID3v2::Tag* t = f.ID3v2Tag(false);
            if (!t) continue;
            chars += t->title().size() + t->artist().size() + t->album().size() +
                     t->comment().size() + t->genre().size() + t->year() + t->track();
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_Read2000_TagLib)->Unit(benchmark::kMillisecond);

// The 200 MB file, and a working copy restored before every timed save.
struct BigFile {
    QTemporaryDir dir{QDir::tempPath() + "/narrabel-bench-XXXXXX"};
    QString pristine, work, copy;
    BigFile() {
        pristine = dir.path() + "/pristine.mp3";
        work = dir.path() + "/work.mp3";
        copy = dir.path() + "/copy.mp3";
        QFile f(pristine);
        f.open(QIODevice::WriteOnly);
        f.write(SampleTag(1));
        const QByteArray chunk = MpegAudio(417 * 2500);
        qint64 left = 200ll * 1000 * 1000;
        while (left > 0) {
            const qint64 n = std::min<qint64>(left, chunk.size());
            f.write(chunk.constData(), n);
            left -= n;
        }
    }
    void Restore() const { CopyOnce(pristine, work); }
    static void CopyOnce(const QString& from, const QString& to) {
        const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
        const int out =
            ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> buf(1 << 20);
        ssize_t n;
        while ((n = ::read(in, buf.data(), buf.size())) > 0) {
            if (::write(out, buf.data(), size_t(n)) != n) break;
        }
        ::close(in);
        ::close(out);
    }
};
BigFile& Big() {
    static BigFile b;
    return b;
}
// Grows the tag by 10 KiB beyond its padding.
const QString& LongTitle() {
    static const QString t(10 * 1024 + 2048, QLatin1Char('x'));
    return t;
}

void BM_Grow200MB_Narrabel(benchmark::State& state) {
    BigFile& b = Big();
    for (auto _ : state) {
        state.PauseTiming();
        b.Restore();
        state.ResumeTiming();
        Tid3v2tag tag;
        tag.LoadFromFile(b.work, 0);
        tag.SetTextFrame(QStringLiteral("TIT2"), LongTitle());
        if (tag.SaveToFile(QStringLiteral("="), 255, 255, -1) >= 256)
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_Grow200MB_Narrabel)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Grow200MB_TagLib(benchmark::State& state) {
    BigFile& b = Big();
    const std::string work = QFile::encodeName(b.work).toStdString();
    const TagLib::String title(LongTitle().toStdString());
    for (auto _ : state) {
        state.PauseTiming();
        b.Restore();
        state.ResumeTiming();
        TagLib::MPEG::File f(work.c_str(), false);
        f.ID3v2Tag(true)->setTitle(title);
        if (!f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3))
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_Grow200MB_TagLib)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Copy200MB_Once(benchmark::State& state) {
    BigFile& b = Big();
    for (auto _ : state) {
        state.PauseTiming();
        b.Restore();
        QFile::remove(b.copy);
        state.ResumeTiming();
        BigFile::CopyOnce(b.work, b.copy);
    }
}
BENCHMARK(BM_Copy200MB_Once)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
