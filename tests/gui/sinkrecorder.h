#pragma once
// What the test sink plays, recorded from its monitor with parec: the sound a
// listener would hear, to measure levels and silences. Samples are float, 1.0
// full scale, interleaved by channel. And a null sink of a test program's own.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

class SinkRecorder {
public:
    static constexpr int Rate = 44100;
    static constexpr int Channels = 2;

    ~SinkRecorder() { Stop(); }

    // Starts recording a monitor (the default sink's unless named, as
    // "narrabel_boost.monitor"); false when parec cannot.
    bool Start(const QString& monitor = QStringLiteral("@DEFAULT_MONITOR@")) {
        proc.setProgram(QStringLiteral("parec"));
        proc.setArguments(
            {QStringLiteral("-d"), monitor, QStringLiteral("--raw"),
             QStringLiteral("--format=float32le"), QStringLiteral("--rate=%1").arg(Rate),
             QStringLiteral("--channels=%1").arg(Channels), QStringLiteral("--latency-msec=10")});
        QObject::connect(&proc, &QProcess::readyReadStandardOutput, [this] { take(); });
        proc.start();
        if (!proc.waitForStarted(5000)) return false;
        // The monitor sends silence while nothing plays: the first bytes say it runs.
        QDeadlineTimer until(5000);
        while (Frames() == 0 && !until.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return Frames() > 0;
    }

    // Stops and returns everything recorded.
    const std::vector<float>& Stop() {
        if (proc.state() != QProcess::NotRunning) {
            take();
            proc.terminate();
            if (!proc.waitForFinished(3000)) proc.kill();
            proc.waitForFinished(1000);
            take();
        }
        return samples;
    }

    // Frames recorded so far (one sample of each channel).
    size_t Frames() {
        take();
        return samples.size() / Channels;
    }
    const std::vector<float>& Samples() const { return samples; }

    // The level of frames [from, to) in dB full scale (RMS of every channel).
    static double RmsDb(const std::vector<float>& s, size_t from, size_t to) {
        to = std::min(to, s.size() / Channels);
        double sum = 0;
        size_t n = 0;
        for (size_t i = from * Channels; i < to * Channels; ++i, ++n)
            sum += double(s[i]) * s[i];
        return n ? 10 * std::log10(std::max(sum / n, 1e-20)) : -200;
    }
    static float Peak(const std::vector<float>& s, size_t from = 0, size_t to = SIZE_MAX) {
        to = std::min(to, s.size() / Channels);
        float peak = 0;
        for (size_t i = from * Channels; i < to * Channels; ++i)
            peak = std::max(peak, std::fabs(s[i]));
        return peak;
    }
    // Runs of silence (every 10 ms block below -60 dBFS) inside the sound,
    // each as its length in milliseconds; silence before the first sound and
    // after the last is not counted.
    static std::vector<int> SilencesMs(const std::vector<float>& s) {
        const size_t block = Rate / 100;
        std::vector<bool> quiet;
        for (size_t f = 0; f + block <= s.size() / Channels; f += block)
            quiet.push_back(RmsDb(s, f, f + block) < -60);
        std::vector<int> runs;
        int run = 0;
        bool heard = false;
        for (bool q : quiet) {
            if (!q) {
                if (heard && run > 0) runs.push_back(run * 10);
                heard = true;
                run = 0;
            } else if (heard) {
                ++run;
            }
        }
        return runs;
    }

private:
    void take() {
        raw += proc.readAllStandardOutput();
        const qsizetype whole = raw.size() / qsizetype(sizeof(float)) * qsizetype(sizeof(float));
        if (whole == 0) return; // nothing to copy (and no buffer to copy into yet)
        const size_t at = samples.size();
        samples.resize(at + size_t(whole) / sizeof(float));
        std::memcpy(samples.data() + at, raw.constData(), size_t(whole));
        raw.remove(0, whole);
    }

    QProcess proc;
    QByteArray raw;
    std::vector<float> samples;
};

// A null sink of the test program's own, so that sound other test programs
// play meanwhile neither spoils what it measures nor is spoilt by it. Made
// before the program's first player opens anything: the player keeps its
// one connection to the sound server, and the sink it chose, for the life of
// the process. Taken away again at the end.
class OwnSink {
public:
    // options: more of module-null-sink's, as "format=float32le".
    explicit OwnSink(const QString& name, const QStringList& options = {}) {
        QProcess load;
        load.start(QStringLiteral("pactl"),
                   QStringList{QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                               QStringLiteral("sink_name=") + name} +
                       options);
        if (!load.waitForFinished(5000) || load.exitCode() != 0) return;
        module = QString::fromLatin1(load.readAllStandardOutput()).trimmed();
        qputenv("PULSE_SINK", name.toUtf8());
    }
    ~OwnSink() {
        if (module.isEmpty()) return;
        qunsetenv("PULSE_SINK");
        QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module});
    }
    OwnSink(const OwnSink&) = delete;
    OwnSink& operator=(const OwnSink&) = delete;
    bool Loaded() const { return !module.isEmpty(); }

private:
    QString module;
};

// Every test of a program plays into a sink of the program's own, named
// base_PID: the same test built twice (plain and sanitized) may run at once.
// Set up before the program's first player opens.
class OwnSinkEnvironment : public ::testing::Environment {
public:
    explicit OwnSinkEnvironment(const QString& base, QStringList options = {})
        : options(std::move(options)) {
        name = QStringLiteral("%1_%2").arg(base).arg(::getpid());
        Instance() = this;
    }
    void SetUp() override {
        sink = std::make_unique<OwnSink>(name, options);
        ASSERT_TRUE(sink->Loaded()) << "pactl load-module module-null-sink";
    }
    void TearDown() override { sink.reset(); }
    static QString Name() { return Instance() ? Instance()->name : QString(); }
    static QString Monitor() { return Name() + QStringLiteral(".monitor"); }

private:
    static OwnSinkEnvironment*& Instance() {
        static OwnSinkEnvironment* instance = nullptr;
        return instance;
    }
    QString name;
    QStringList options;
    std::unique_ptr<OwnSink> sink;
};
