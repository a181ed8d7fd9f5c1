// Reading the tags of 2,000 files; growing a tag by 10 KiB in a 2 GB file that
// was saved once before, in place and by moving the audio, side by side with
// TagLib and with copying the file once; and narrabel-tag reading hostile tags
// (wall time and peak memory of the process).
//   id3v2_bench [--benchmark_filter=...]   (files go under $TMPDIR or /tmp;
//   the 2 GB files need about 6 GB free there and are removed at the end)
//   id3v2_bench --write-hostile DIR        (writes the hostile files into DIR)
#include "id3v2_bytes.h"
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>
#include <vector>

using namespace id3test;

namespace {

// A typical audio-book tag: texts, a comment, a small picture, padding.
QByteArray SampleTag(int k) {
    QByteArray body =
        FrameV3("TIT2", Text("Chapter " + QByteArray::number(k))) +
        FrameV3("TPE1", Text("Some Author")) + FrameV3("TALB", Text("A Long Book Title")) +
        FrameV3("TRCK", Text(QByteArray::number(k % 40))) + FrameV3("TYER", Text("2004")) +
        FrameV3("TCON", Text("Speech")) + FrameV3("COMM", QByteArray("\0eng\0A comment", 14)) +
        FrameV3("APIC", QByteArray("\0image/jpeg\0\3\0", 14) + QByteArray(8000, 'p'));
    return Tag(3, body, 2048);
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

void CopyOnce(const QString& from, const QString& to) {
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buf(1 << 20);
    ssize_t n;
    while ((n = ::read(in, buf.data(), buf.size())) > 0) {
        if (::write(out, buf.data(), size_t(n)) != n) break;
    }
    ::close(in);
    ::close(out);
}
// No dirty pages left behind by the set-up: every timed step starts alike.
void Settle(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ::fsync(fd);
    ::close(fd);
}

// A 2 GB file whose tag was saved once by us (so its length is a multiple of
// 4096, as after any first save), and a working copy of it.
struct BigFile {
    QTemporaryDir dir{QDir::tempPath() + "/narrabel-bench-XXXXXX"};
    QString saved, work, copy;
    BigFile() {
        saved = dir.path() + "/saved.mp3";
        work = dir.path() + "/work.mp3";
        copy = dir.path() + "/copy.mp3";
        QFile f(saved);
        f.open(QIODevice::WriteOnly);
        f.write(SampleTag(1));
        const QByteArray chunk = MpegAudio(417 * 2500);
        qint64 left = 2000ll * 1000 * 1000;
        while (left > 0) {
            const qint64 n = std::min<qint64>(left, chunk.size());
            f.write(chunk.constData(), n);
            left -= n;
        }
        f.close();
        Save(saved, QStringLiteral("Saved once"), false);
        Settle(saved);
        Restore();
    }
    void Restore() const {
        CopyOnce(saved, work);
        Settle(work);
    }
    // Sets the title and saves; returns whether the audio was moved.
    static bool Save(const QString& path, const QString& title, bool forceMove) {
        Tid3v2tag tag;
        tag.LoadFromFile(path, 0);
        tag.Seams.ForceMove = forceMove;
        bool moved = false;
        tag.OnProgress = [&] {
            moved = moved || tag.StatusText() == QLatin1String("Re-positioning audio data");
        };
        tag.SetTextFrame(QStringLiteral("TIT2"), title);
        if (tag.SaveToFile(QStringLiteral("="), 255, 255, -1) >= 256) std::abort();
        return moved;
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

// In place: the file system inserts the space; afterwards the tag shrinks back
// the same way (not timed). Inserting drops the file's cached pages behind the
// insertion point, so the time depends on how much of the file is in memory:
// none of it (a file saved some time ago) or all of it (just written).
void BM_Grow2GB_InPlace(benchmark::State& state) {
    BigFile& b = Big();
    const bool cached = state.range(0) != 0;
    int moved = 0;
    auto prepare = [&] {
        Settle(b.work);
        const int fd = ::open(QFile::encodeName(b.work).constData(), O_RDONLY);
        if (cached) {
            std::vector<char> buf(1 << 20);
            while (::read(fd, buf.data(), buf.size()) > 0) {
            }
        } else {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        }
        ::close(fd);
    };
    prepare();
    for (auto _ : state) {
        moved += BigFile::Save(b.work, LongTitle(), false);
        state.PauseTiming();
        moved += BigFile::Save(b.work, QStringLiteral("Saved once"), false);
        prepare();
        state.ResumeTiming();
    }
    state.counters["audio_moved"] = moved;
}
BENCHMARK(BM_Grow2GB_InPlace)
    ->ArgName("cached")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The same grow with the audio moved inside the file (where the file system
// cannot insert space).
void BM_Grow2GB_Moving(benchmark::State& state) {
    BigFile& b = Big();
    for (auto _ : state) {
        if (!BigFile::Save(b.work, LongTitle(), true)) state.SkipWithError("nothing moved");
        state.PauseTiming();
        BigFile::Save(b.work, QStringLiteral("Saved once"), false);
        Settle(b.work);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Grow2GB_Moving)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Grow2GB_TagLib(benchmark::State& state) {
    BigFile& b = Big();
    const std::string work = QFile::encodeName(b.work).toStdString();
    const TagLib::String title(LongTitle().toStdString());
    for (auto _ : state) {
        {
            TagLib::MPEG::File f(work.c_str(), false);
            f.ID3v2Tag(true)->setTitle(title);
            if (!f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3))
                state.SkipWithError("save failed");
        }
        state.PauseTiming();
        b.Restore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Grow2GB_TagLib)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Copy2GB_Once(benchmark::State& state) {
    BigFile& b = Big();
    for (auto _ : state) {
        CopyOnce(b.work, b.copy);
        state.PauseTiming();
        QFile::remove(b.copy);
        ::sync();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Copy2GB_Once)->Unit(benchmark::kMillisecond)->Iterations(3);

// Hostile tags, each written in front of a little audio.
void WriteHostileFiles(const QString& dir) {
    const QByteArray audio = MpegAudio(4096);
    auto put = [&](const char* kind, int version, const QByteArray& body) {
        QFile f(dir + '/' + kind + ".mp3");
        f.open(QIODevice::WriteOnly);
        f.write(Tag(version, body) + audio);
    };
    // Six comments, each inflating to 250 MB and declaring 256 MB.
    const QByteArray bomb = Deflated(QByteArray("\0eng\0", 5) + QByteArray(250 << 20, '\0'), 9);
    QByteArray body = FrameV3("TIT2", Text("t"));
    for (int k = 0; k < 6; ++k)
        body += FrameV3("COMM", BE32(0x0FFFFFFF) + bomb, 0, 0x80);
    put("comm-bombs", 3, body);
    // Twelve version 4 comments that declare nothing.
    body = FrameV4("TIT2", QByteArray("\0t", 2));
    for (int k = 0; k < 12; ++k)
        body += FrameV4("COMM", bomb, 0, 0x08);
    put("undeclared-bombs", 4, body);
    // 2,000 comments that each inflate to 1 MiB, and one plain one last.
    const QByteArray mib = Deflated(QByteArray("\0engd\0", 6) + QByteArray((1 << 20) - 6, 'm'), 9);
    body = FrameV3("TIT2", Text("t"));
    for (int k = 0; k < 2000; ++k)
        body += FrameV3("COMM", BE32(1 << 20) + mib, 0, 0x80);
    body += FrameV3("COMM", QByteArray("\0eng\0last", 9));
    put("budget", 3, body);
    // A 22 MB tag of 1-byte frames.
    const QByteArray one = FrameV3("TXXX", "x");
    put("tiny-frames", 3, one.repeated((22 << 20) / one.size()));
}

struct HostileFiles {
    QTemporaryDir dir{QDir::tempPath() + "/narrabel-bench-XXXXXX"};
    QString Path(const char* kind) const { return dir.path() + '/' + kind + ".mp3"; }
    HostileFiles() { WriteHostileFiles(dir.path()); }
};
HostileFiles& Hostile() {
    static HostileFiles h;
    return h;
}

// Runs a program and prints its wall time in seconds and its peak resident
// size in KiB. This runs as a fresh process of this binary: a process started
// straight from the benchmark would inherit the benchmark's own peak.
int Measure(char** argv) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru;
    if (pid < 0 || ::wait4(pid, &status, 0, &ru) != pid) return 1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.6f %ld\n", took.count(), ru.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// One run of "narrabel-tag read" on the file: its wall time, and its peak
// resident size as a counter.
void BM_HostileRead(benchmark::State& state, const char* kind) {
    const std::string path = QFile::encodeName(Hostile().Path(kind)).toStdString();
    double peakMiB = 0;
    for (auto _ : state) {
        int out[2];
        if (::pipe(out) != 0) break;
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_adddup2(&io, out[1], 1);
        posix_spawn_file_actions_addclose(&io, out[0]);
        const char* argv[] = {"/proc/self/exe", "--measure",  NARRABEL_TAG_TOOL,
                              "read",           path.c_str(), nullptr};
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, argv[0], &io, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&io);
        ::close(out[1]);
        char line[128] = {};
        const ssize_t got = spawned == 0 ? ::read(out[0], line, sizeof line - 1) : -1;
        ::close(out[0]);
        int status = 1;
        if (spawned == 0) ::waitpid(pid, &status, 0);
        double seconds = 0;
        long kib = 0;
        if (got <= 0 || std::sscanf(line, "%lf %ld", &seconds, &kib) != 2 || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("narrabel-tag read failed");
            break;
        }
        state.SetIterationTime(seconds);
        peakMiB = std::max(peakMiB, double(kib) / 1024);
    }
    state.counters["peak_RSS_MB"] = peakMiB;
}
// Three runs, each timed by the run itself.
void HostileRuns(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
}
BENCHMARK_CAPTURE(BM_HostileRead, comm_bombs, "comm-bombs")->Apply(HostileRuns);
BENCHMARK_CAPTURE(BM_HostileRead, undeclared_bombs, "undeclared-bombs")->Apply(HostileRuns);
BENCHMARK_CAPTURE(BM_HostileRead, budget, "budget")->Apply(HostileRuns);
BENCHMARK_CAPTURE(BM_HostileRead, tiny_frames, "tiny-frames")->Apply(HostileRuns);

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--measure") == 0) return Measure(argv + 2);
    // Leaves the hostile files in a folder, to look at them with other tools.
    if (argc == 3 && std::strcmp(argv[1], "--write-hostile") == 0) {
        WriteHostileFiles(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
