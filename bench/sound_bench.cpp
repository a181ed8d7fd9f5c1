// Figures for the player device, printed as plain lines:
//   sound_bench [seconds-of-playback]
// - CPU use of the whole process (all GStreamer threads) while a 64 kbit/s MP3
//   plays and a one-second timer reads the position, as the main window does;
// - Position error right after 20 random jumps (close, start point, open,
//   play) in a VBR MP3 with and without a Xing header, and the time a jump takes;
// - how fast an MP3 without a frame count is measured by counting its frames,
//   and how soon Open gives such a file back (the count goes on elsewhere);
// - how long the sound is silent after a skip while playing (a seek in the
//   open file) and after a jump that reopens the file, measured from the
//   sink's monitor.

#include "playback/mediaplayer.h"
#include "playerfixtures.h"
#include "sinkrecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sys/resource.h>

using namespace playerfixtures;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Run(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The length once the frames of a file without a frame count have been counted.
int32_t CountedLength(TMediaPlayer& mp) {
    QEventLoop wait;
    QObject::connect(&mp, &TMediaPlayer::LengthKnown, &wait, &QEventLoop::quit);
    if (mp.LengthPending()) wait.exec();
    return mp.Length();
}

void Jumps(const QString& file, const char* name) {
    TMediaPlayer mp;
    std::mt19937 rng(20240601);
    mp.SetFileName(file);
    mp.Open();
    std::uniform_int_distribution<int> pick(0, std::max(1, CountedLength(mp) - 1000));
    double maxErr = 0, sumErr = 0, maxJumpMs = 0;
    for (int i = 0; i < 20; ++i) {
        const int x = pick(rng);
        QElapsedTimer t;
        t.start();
        mp.Close();
        mp.SetStartPos(x);
        mp.Open();
        mp.Play();
        maxJumpMs = std::max(maxJumpMs, double(t.nsecsElapsed()) / 1e6);
        const double err = std::fabs(double(mp.Position() - x));
        maxErr = std::max(maxErr, err);
        sumErr += err;
        Run(50);
    }
    std::printf("jumps %-18s 20 random PlayFrom: Position error max %.1f ms, mean %.1f ms; "
                "slowest jump %.1f ms\n",
                name, maxErr, sumErr / 20, maxJumpMs);
}

// Silences heard after count jumps, 800 ms apart, made by jump().
void Silences(const QString& file, const char* name,
              const std::function<void(TMediaPlayer&)>& jump) {
    TMediaPlayer mp;
    mp.SetFileName(file);
    mp.Open();
    mp.SetStartPos(60000);
    mp.Play();
    Run(1000);
    SinkRecorder rec;
    if (!rec.Start()) {
        std::printf("skips %-18s cannot record the sink's monitor (parec)\n", name);
        return;
    }
    Run(500);
    constexpr int count = 20;
    for (int i = 0; i < count; ++i) {
        jump(mp);
        Run(800);
    }
    std::vector<int> gaps = SinkRecorder::SilencesMs(rec.Stop());
    std::sort(gaps.begin(), gaps.end());
    std::printf("skips %-18s %d jumps while playing: %zu silences, median %d ms, longest %d ms\n",
                name, count, gaps.size(), gaps.empty() ? 0 : gaps[gaps.size() / 2],
                gaps.empty() ? 0 : gaps.back());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 30;
    QTemporaryDir dir;
    const QString wav = dir.filePath("src.wav");
    WriteWav(wav, 600.0);
    const QString cbr = dir.filePath("cbr64.mp3"), xing = dir.filePath("xing.mp3"),
                  bare = dir.filePath("bare.mp3");
    if (!EncodeMp3(wav, cbr, Mp3Kind::Cbr64) || !EncodeMp3(wav, xing, Mp3Kind::VbrXing) ||
        !EncodeMp3(wav, bare, Mp3Kind::VbrBare)) {
        std::fprintf(stderr, "cannot encode the test files\n");
        return 1;
    }

    // CPU while playing.
    {
        TMediaPlayer mp;
        mp.SetFileName(cbr);
        mp.Open();
        mp.Play();
        Run(1000); // past the start-up
        QTimer tick;
        int32_t last = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] { last = mp.Position(); });
        tick.start(1000);
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        Run(seconds * 1000);
        const double cpu = CpuSeconds() - cpu0, elapsed = double(wall.elapsed()) / 1000;
        std::printf("cpu   64 kbit/s MP3, %.0f s of playback: %.2f %% of one core "
                    "(position %d ms, mode %d)\n",
                    elapsed, 100 * cpu / elapsed, last, mp.Mode());
    }

    // Skips: back 15 s and forward 30 s in turn, as the keys do.
    int turn = 0;
    Silences(cbr, "seek (skip keys)",
             [&turn](TMediaPlayer& mp) { mp.Seek(mp.Position() + (turn++ % 2 ? 30000 : -15000)); });
    Silences(cbr, "reopen (PlayFrom)", [&turn](TMediaPlayer& mp) {
        const int32_t to = mp.Position() + (turn++ % 2 ? 30000 : -15000);
        mp.Close();
        mp.SetStartPos(to);
        mp.Open();
        mp.Play();
    });

    Jumps(xing, "VBR with Xing");
    Jumps(bare, "VBR without Xing");
    Jumps(cbr, "CBR 64 kbit/s");

    // An hour-long book: the same stretch six times over (MP3 frames join up).
    const QString hourBare = dir.filePath("hour-bare.mp3"), hourCbr = dir.filePath("hour-cbr.mp3");
    for (auto [from, to] : {std::pair{bare, hourBare}, std::pair{cbr, hourCbr}}) {
        QFile in(from);
        in.open(QIODevice::ReadOnly);
        const QByteArray data = in.readAll();
        QFile out(to);
        out.open(QIODevice::WriteOnly);
        for (int i = 0; i < 6; ++i)
            out.write(data);
    }
    {
        QFile f(hourBare);
        const double mb = double(f.size()) / 1e6;
        QElapsedTimer t;
        t.start();
        const int64_t ms = TMediaPlayer::MpegAudioLengthMs(hourBare);
        const double took = double(t.nsecsElapsed()) / 1e9;
        std::printf("scan  %.1f MB VBR MP3 without frame count: %lld ms long, frames counted in "
                    "%.1f ms (%.0f MB/s)\n",
                    mb, (long long)ms, took * 1000, mb / took);
    }
    {
        // Opening such a file: the caller gets it back at once, the count follows.
        const QString fresh = dir.filePath("hour-bare-copy.mp3");
        QFile::copy(hourBare, fresh);
        TMediaPlayer mp;
        mp.SetFileName(fresh);
        QElapsedTimer t;
        t.start();
        mp.Open();
        const double opened = double(t.nsecsElapsed()) / 1e6;
        const int32_t estimate = mp.Length();
        const int32_t counted = CountedLength(mp);
        std::printf("open  the same file anew: Open returns in %.1f ms (estimate %d ms); "
                    "counted length %d ms known after %.1f ms\n",
                    opened, estimate, counted, double(t.nsecsElapsed()) / 1e6);
    }
    {
        // A player let go of (a jump elsewhere, the program closing) calls its count off.
        const QString fresh = dir.filePath("hour-bare-copy2.mp3");
        QFile::copy(hourBare, fresh);
        QElapsedTimer t;
        {
            TMediaPlayer mp;
            mp.SetFileName(fresh);
            mp.Open();
            t.start();
        }
        QThreadPool::globalInstance()->waitForDone();
        std::printf("drop  a player while it counts that file: its count ends after %.1f ms\n",
                    double(t.nsecsElapsed()) / 1e6);
    }
    Jumps(hourBare, "1 h VBR, no Xing");
    Jumps(hourCbr, "1 h CBR 64 kbit/s");

    return 0;
}
