// Figures for the player device, printed as plain lines:
//   sound_bench [seconds-of-playback]
// - CPU use of the whole process (all GStreamer threads) while a 64 kbit/s MP3
//   plays and a one-second timer reads the position, as the main window does:
//   at 1.0x without a boost, and side by side at 1.5x with +12 dB (and each of
//   the two alone), in short turns, the lower quartile of each;
// - the boost's limiter against GStreamer's audiodynamic on a full-scale sine
//   raised by 12 dB: peak, level and distortion, and the limiter's own cost;
// - Position error right after 20 random jumps (close, start point, open,
//   play) in a VBR MP3 with and without a Xing header, and the time a jump takes;
// - how fast an MP3 without a frame count is measured by counting its frames,
//   and how soon Open gives such a file back (the count goes on elsewhere);
// - how long the sound is silent after a skip while playing (a seek in the
//   open file) and after a jump that reopens the file, measured from the
//   sink's monitor.

#include "playback/boostlimiter.h"
#include "playback/mediaplayer.h"
#include "playerfixtures.h"
#include "sinkrecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// CPU of the whole process, in % of one core, while file plays from fromMs at
// rate with a boost, for ms, with the window's one-second position tick.
double CpuWhilePlaying(const QString& file, int32_t fromMs, double rate, double boostDb, int ms) {
    TMediaPlayer mp;
    mp.SetRate(rate);
    mp.SetBoost(boostDb);
    mp.SetFileName(file);
    mp.Open();
    mp.SetStartPos(fromMs);
    mp.Play();
    Run(1000); // past the start-up
    QTimer tick;
    int32_t last = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] { last = mp.Position(); });
    tick.start(1000);
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Run(ms);
    const double cpu = CpuSeconds() - cpu0, elapsed = double(wall.elapsed()) / 1000;
    if (mp.Mode() != TMediaPlayer::mpPlaying)
        std::printf("cpu   (the player stopped playing: mode %d at %d ms)\n", mp.Mode(), last);
    return 100 * cpu / elapsed;
}

// A stretch of interleaved stereo float sound: its level in dBFS, its peak,
// and how far it is from a pure sine of freq (the rest after the best-fitting
// sine, as a share of the whole: THD+N in %).
struct Shape {
    double levelDb = 0, peak = 0, thdPercent = 0;
};
Shape Analyse(const std::vector<float>& s, int rate, double freq) {
    // The first half second is passed over: a limiter settles there.
    const size_t from = size_t(rate) / 2, frames = s.size() / 2;
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0, total = 0, peak = 0;
    for (size_t f = from; f < frames; ++f) {
        const double x = s[2 * f], w = 2 * M_PI * freq * double(f) / rate;
        const double si = std::sin(w), co = std::cos(w);
        ss += si * si, sc += si * co, cc += co * co, xs += x * si, xc += x * co, total += x * x;
        peak = std::max({peak, std::fabs(double(s[2 * f])), std::fabs(double(s[2 * f + 1]))});
    }
    // Least squares: x = a sin + b cos.
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double rest = 0;
    for (size_t f = from; f < frames; ++f) {
        const double w = 2 * M_PI * freq * double(f) / rate;
        const double e = s[2 * f] - (a * std::sin(w) + b * std::cos(w));
        rest += e * e;
    }
    const double n = double(frames - from);
    return {10 * std::log10(total / n), peak, 100 * std::sqrt(rest / total)};
}

// A full-scale 440 Hz sine raised by 12 dB through the boost's limiter and
// through GStreamer's volume and audiodynamic (as a limiter: a compressor
// above 1.0 with ratio 0), and how long the limiter takes.
void LimiterFigures(const QString& dir) {
    constexpr int rate = 44100;
    const int seconds = 3;
    std::vector<float> sine(size_t(rate) * seconds * 2);
    for (size_t f = 0; f < sine.size() / 2; ++f)
        sine[2 * f] = sine[2 * f + 1] = float(std::sin(2 * M_PI * 440 * double(f) / rate));
    const Shape plain = Analyse(sine, rate, 440);
    std::printf("boost full-scale sine as it is:            level %6.2f dBFS, peak %.3f, "
                "THD+N %6.2f %%\n",
                plain.levelDb, plain.peak, plain.thdPercent);
    std::vector<float> ours = sine;
    TBoostLimiter limiter;
    limiter.SetFormat(rate, 2);
    limiter.SetBoostDb(12);
    limiter.Process(ours.data(), ours.size() / 2);
    const Shape mine = Analyse(ours, rate, 440);
    std::printf("boost +12 dB, the boost's limiter:          level %6.2f dBFS, peak %.3f, "
                "THD+N %6.2f %%\n",
                mine.levelDb, mine.peak, mine.thdPercent);
    for (const char* knee : {"hard-knee", "soft-knee"}) {
        const QString raw = dir + "/dynamic.raw";
        const bool ok = RunPipeline(
            QStringLiteral("audiotestsrc wave=sine freq=440 volume=1.0 samplesperbuffer=1024 "
                           "num-buffers=%1 ! audio/x-raw,format=F32LE,rate=%2,channels=2 ! "
                           "volume volume=3.98107 ! audiodynamic mode=compressor "
                           "characteristics=%3 threshold=1.0 ratio=0.0 ! filesink location=\"%4\"")
                .arg(seconds * rate / 1024)
                .arg(rate)
                .arg(QLatin1String(knee), raw));
        QFile f(raw);
        if (!ok || !f.open(QIODevice::ReadOnly)) {
            std::printf("boost audiodynamic (%s) is not there\n", knee);
            continue;
        }
        const QByteArray data = f.readAll();
        std::vector<float> theirs(size_t(data.size()) / sizeof(float));
        std::memcpy(theirs.data(), data.constData(), theirs.size() * sizeof(float));
        const Shape shape = Analyse(theirs, rate, 440);
        std::printf("boost +12 dB, volume ! audiodynamic %-9s: level %6.2f dBFS, peak %.3f, "
                    "THD+N %6.2f %%\n",
                    knee, shape.levelDb, shape.peak, shape.thdPercent);
    }
    // The limiter's cost on loud noise (it works all the time).
    std::vector<float> noise(size_t(rate) * 60 * 2);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> amp(-0.5f, 0.5f);
    for (float& x : noise)
        x = amp(rng);
    QElapsedTimer t;
    t.start();
    limiter.Process(noise.data(), noise.size() / 2);
    std::printf("boost the limiter at +12 dB on loud noise: %.1f ms for a minute of stereo sound "
                "(%.3f %% of one core)\n",
                double(t.nsecsElapsed()) / 1e6, double(t.nsecsElapsed()) / 1e6 / 600);
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
    // The recorder listens before anything plays: a monitor stream that joins
    // later lowers the null sink's latency under the playing stream, which
    // stalls that stream for about a second at its next flush (a plain playbin
    // does the same), and that would be counted against the first skip.
    SinkRecorder rec;
    if (!rec.Start()) {
        std::printf("skips %-18s cannot record the sink's monitor (parec)\n", name);
        return;
    }
    TMediaPlayer mp;
    mp.SetFileName(file);
    mp.Open();
    mp.SetStartPos(60000);
    mp.Play();
    Run(1500);
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

    // CPU while playing: in turns, so that what else the machine does falls on
    // each alike. From the loud stretch of the file, where the limiter works.
    {
        struct Setting {
            const char* name;
            double rate, boost;
            std::vector<double> turns;
            double percent = 0;
        } settings[] = {{"1.0x without boost", 1.0, 0, {}},
                        {"1.5x with +12 dB", 1.5, 12, {}},
                        {"1.5x without boost", 1.5, 0, {}},
                        {"1.0x with +12 dB", 1.0, 12, {}}};
        // Short turns, many of them, each setting's lower quartile compared:
        // now and then a stream takes two to four times the wakeups in
        // PulseAudio's own threads, whatever it plays (a bare playbin does
        // the same), which would drown the filter's share.
        constexpr int rounds = 16;
        const int ms = std::max(1000, seconds * 1000 / rounds);
        for (int r = 0; r < rounds; ++r)
            for (Setting& s : settings)
                s.turns.push_back(CpuWhilePlaying(cbr, 250000, s.rate, s.boost, ms));
        for (Setting& s : settings) {
            std::sort(s.turns.begin(), s.turns.end());
            s.percent = s.turns[s.turns.size() / 4];
        }
        std::printf("cpu   64 kbit/s MP3, %d turns of %.1f s of playback each, in turns; lower "
                    "quartile (median; least, most):\n",
                    rounds, ms / 1000.0);
        for (const Setting& s : settings)
            std::printf("cpu     %-20s %6.2f %% of one core  (%.2f x the plain figure)  (%.2f; "
                        "%.2f, %.2f)\n",
                        s.name, s.percent, s.percent / settings[0].percent,
                        s.turns[s.turns.size() / 2], s.turns.front(), s.turns.back());
    }
    LimiterFigures(dir.path());

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
