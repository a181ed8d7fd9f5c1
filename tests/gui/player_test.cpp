// The player device against real files and the real sound server (the test
// run's null sink).

#include "playback/mediaplayer.h"
#include "support/guitestsupport.h"
#include "util/errors.h"

#include "playerfixtures.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace playerfixtures;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        dir = new QTemporaryDir();
        ASSERT_TRUE(WriteWav(Path("long.wav"), 30.0));
        ASSERT_TRUE(WriteWav(Path("short.wav"), 2.5));
        for (auto k : {Mp3Kind::Cbr64, Mp3Kind::VbrXing, Mp3Kind::VbrBare}) {
            QString error;
            ASSERT_TRUE(EncodeMp3(Path("long.wav"), Mp3(k), k, &error)) << error.toStdString();
        }
        ASSERT_TRUE(EncodeMp3(Path("short.wav"), Path("short.mp3"), Mp3Kind::Cbr64));
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static QString Path(const QString& name) { return dir->filePath(name); }
    static QString Mp3(Mp3Kind k) {
        return Path(k == Mp3Kind::Cbr64     ? "cbr.mp3"
                    : k == Mp3Kind::VbrXing ? "xing.mp3"
                                            : "bare.mp3");
    }
    static bool WaitFor(const std::function<bool()>& cond, int ms) {
        QDeadlineTimer deadline(ms);
        while (!cond()) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(10);
        }
        return true;
    }
    // The length once the file's frames have been counted (off the caller's thread).
    static int32_t CountedLength(TMediaPlayer& mp) {
        EXPECT_TRUE(WaitFor([&] { return !mp.LengthPending(); }, 5000));
        return mp.Length();
    }
    // Call order of a jump: close, start point, open, play.
    static void PlayFrom(TMediaPlayer& mp, const QString& file, int32_t ms) {
        mp.Close();
        mp.SetFileName(file);
        mp.SetStartPos(ms);
        mp.Open();
        mp.Play();
    }
    static QTemporaryDir* dir;
};

QTemporaryDir* PlayerTest::dir = nullptr;

void ExpectNoDevice(const std::function<void()>& f, const char* what) {
    try {
        f();
        ADD_FAILURE() << what << " did not raise";
    } catch (const NarrabelError& e) {
        EXPECT_EQ(e.message(), "No MCI device open") << what;
    }
}

TEST_F(PlayerTest, NothingOpenRaisesNoDeviceButModeAndPositionDoNot) {
    TMediaPlayer mp;
    ExpectNoDevice([&] { mp.Play(); }, "Play");
    ExpectNoDevice([&] { mp.Pause(); }, "Pause");
    ExpectNoDevice([&] { mp.Resume(); }, "Resume");
    ExpectNoDevice([&] { mp.SetPosition(100); }, "Position write");
    ExpectNoDevice([&] { mp.Length(); }, "Length");
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpNotReady);
    EXPECT_EQ(mp.Position(), 0);
    mp.Close(); // nothing open: no effect, no error
    mp.SetStartPos(10);
    EXPECT_FALSE(mp.IsOpen());

    // After a close the device is back to having nothing open.
    mp.SetFileName(Mp3(Mp3Kind::Cbr64));
    mp.Open();
    mp.Close();
    ExpectNoDevice([&] { mp.Play(); }, "Play after Close");
}

TEST_F(PlayerTest, OpenFailuresCarryTheDecodersMessage) {
    testsupport::WriteAll(Path("text.mp3"), QByteArray("this is not sound at all\n").repeated(50));
    const QString cases[] = {Path("missing.mp3"), Path("text.mp3"), QString()};
    for (const QString& file : cases) {
        TMediaPlayer mp;
        mp.SetFileName(file);
        try {
            mp.Open();
            ADD_FAILURE() << "opened " << file.toStdString();
        } catch (const NarrabelError& e) {
            EXPECT_FALSE(e.message().isEmpty()) << file.toStdString();
            EXPECT_NE(e.message(), "No MCI device open");
        }
        EXPECT_FALSE(mp.IsOpen());
        EXPECT_EQ(mp.Mode(), TMediaPlayer::mpNotReady);
        ExpectNoDevice([&] { mp.Play(); }, "Play after a failed Open");
    }
}

TEST_F(PlayerTest, OpenPlayPauseResumeAndPositionWrite) {
    TMediaPlayer mp;
    mp.SetFileName(Mp3(Mp3Kind::Cbr64));
    EXPECT_EQ(mp.FileName(), Mp3(Mp3Kind::Cbr64));
    mp.Open();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpStopped);
    EXPECT_EQ(mp.Position(), 0);

    mp.Play();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    ASSERT_TRUE(WaitFor([&] { return mp.Position() >= 400; }, 5000)) << "position does not move";

    mp.Pause();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPaused);
    const int32_t paused = mp.Position();
    QTest::qWait(400);
    EXPECT_NEAR(mp.Position(), paused, 30) << "a paused device keeps its place";

    mp.Pause(); // paused: Pause resumes
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(WaitFor([&] { return mp.Position() >= paused + 300; }, 5000));
    mp.Pause();
    mp.Resume();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);

    // Writing the position stops the device at the new place; Play goes on from there.
    mp.SetPosition(12000);
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpStopped);
    EXPECT_NEAR(mp.Position(), 12000, 50);
    mp.Resume(); // not paused: plays
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(WaitFor([&] { return mp.Position() >= 12300; }, 5000));
    EXPECT_LT(mp.Position(), 15000);

    // Pause on a stopped device does nothing.
    mp.SetPosition(0);
    mp.Pause();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpStopped);
}

TEST_F(PlayerTest, QuickJumpsAndSpeedChangesWhilePlayingNeverLeaveItSilent) {
    // Each pauses the output and plays it again within milliseconds: on a busy
    // machine that could leave the sound server's stream stalled for good.
    TMediaPlayer mp;
    mp.SetFileName(Mp3(Mp3Kind::Cbr64));
    mp.Open();
    mp.Play();
    const std::pair<const char*, std::function<void(int)>> moves[] = {
        {"two jumps",
         [&](int i) {
             mp.SetPosition(2000 * i), mp.Resume(), mp.SetPosition(2000 * i + 500), mp.Resume();
         }},
        {"two speed changes", [&](int) { mp.SetRate(1.5), mp.SetRate(1.0); }},
        {"pause, resume and jump",
         [&](int i) { mp.Pause(), mp.Resume(), mp.SetPosition(2000 * i), mp.Resume(); }},
    };
    for (const auto& [name, move] : moves) {
        for (int i = 1; i <= 4; ++i) {
            move(i);
            const int32_t from = mp.Position();
            EXPECT_TRUE(WaitFor([&] { return mp.Position() >= from + 150; }, 5000))
                << name << " " << i << ": stands at " << mp.Position();
        }
    }
}

TEST_F(PlayerTest, LengthMatchesTheDecodedLengthForEveryKindOfMp3) {
    for (auto k : {Mp3Kind::Cbr64, Mp3Kind::VbrXing, Mp3Kind::VbrBare}) {
        const double truth = DecodedLengthMs(Mp3(k));
        ASSERT_GT(truth, 29000) << KindName(k);
        TMediaPlayer mp;
        mp.SetFileName(Mp3(k));
        mp.Open();
        EXPECT_NEAR(CountedLength(mp), truth, 50) << KindName(k);
        EXPECT_EQ(mp.Length(), mp.Length()) << "read twice, same answer";
        bool fromHeader = true;
        EXPECT_NEAR(double(TMediaPlayer::MpegAudioLengthMs(Mp3(k), &fromHeader)), truth, 50);
        EXPECT_EQ(fromHeader, k == Mp3Kind::VbrXing) << KindName(k);
    }
    EXPECT_EQ(TMediaPlayer::MpegAudioLengthMs(Path("long.wav")), -1) << "not MPEG audio";
}

TEST_F(PlayerTest, LengthSurvivesTagsAndDamage) {
    // An ID3v2 tag in front, an ID3v1 tag behind and a damaged stretch in the
    // middle: the frames still count, and GStreamer agrees after decoding.
    QByteArray mp3 = testsupport::ReadAll(Mp3(Mp3Kind::VbrBare));
    QByteArray tag("ID3\x03\x00\x00\x00\x00\x01\x00", 10); // 128 bytes of body
    tag.append(QByteArray(128, '\0'));
    QByteArray damaged = mp3;
    for (int i = 0; i < 700; ++i)
        damaged[damaged.size() / 2 + i] = char(0x55);
    QByteArray v1("TAG");
    v1.append(QByteArray(125, ' '));
    testsupport::WriteAll(Path("tagged.mp3"), tag + damaged + v1);
    const double truth = DecodedLengthMs(Path("tagged.mp3"));
    ASSERT_GT(truth, 0);
    TMediaPlayer mp;
    mp.SetFileName(Path("tagged.mp3"));
    mp.Open();
    EXPECT_NEAR(CountedLength(mp), truth, 50);

    // Read a little at a time, with frames, tags and the damage straddling the
    // edges of what was read: the same answers as reading it whole.
    for (const QString& file :
         {Path("tagged.mp3"), Mp3(Mp3Kind::Cbr64), Mp3(Mp3Kind::VbrXing), Mp3(Mp3Kind::VbrBare)}) {
        bool wholeHeader = false;
        const int64_t whole = TMediaPlayer::MpegAudioLengthMs(file, &wholeHeader);
        ASSERT_GT(whole, 0) << file.toStdString();
        for (qint64 window : {1, 5, 417, 1000, 4096, 70000}) {
            bool header = !wholeHeader;
            EXPECT_EQ(TMediaPlayer::MpegAudioLengthMs(file, &header, window), whole)
                << file.toStdString() << ", " << window;
            EXPECT_EQ(header, wholeHeader) << file.toStdString() << ", " << window;
        }
    }
}

TEST_F(PlayerTest, AFileRenamedUnderThePlayerKeepsItsCountedLength) {
    // As the window follows a rename: the open device takes the new name, and
    // the next jump reopens by it. A file changed meanwhile is counted again.
    const QByteArray bare = testsupport::ReadAll(Mp3(Mp3Kind::VbrBare));
    const int64_t exact = TMediaPlayer::MpegAudioLengthMs(Mp3(Mp3Kind::VbrBare));
    struct Case {
        const char* what;
        bool waitForCount; // before the rename
        bool changed;      // after it
    };
    const Case cases[] = {
        {"renamed once counted", true, false},
        {"renamed while counted", false, false},
        {"renamed and changed", true, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString before = Path(QStringLiteral("before%1.mp3").arg(n));
        const QString after = Path(QStringLiteral("after%1.mp3").arg(n++));
        testsupport::WriteAll(before, bare);
        TMediaPlayer mp;
        mp.SetFileName(before);
        mp.Open();
        ASSERT_TRUE(mp.LengthPending()) << c.what;
        if (c.waitForCount) {
            EXPECT_EQ(CountedLength(mp), exact) << c.what;
        }
        ASSERT_TRUE(QFile::rename(before, after)) << c.what;
        if (c.changed) testsupport::WriteAll(after, bare + bare);
        mp.SetFileName(after);
        PlayFrom(mp, after, 1000);
        const int64_t now = c.changed ? TMediaPlayer::MpegAudioLengthMs(after) : exact;
        if (c.waitForCount) {
            EXPECT_EQ(mp.LengthPending(), c.changed) << c.what;
        }
        EXPECT_EQ(CountedLength(mp), now) << c.what;
        PlayFrom(mp, after, 2000);
        EXPECT_FALSE(mp.LengthPending()) << c.what;
        EXPECT_EQ(mp.Length(), now) << c.what;
    }
}

TEST_F(PlayerTest, PlayFromLandsWithin50msForEveryKindOfMp3) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, 29000);
    for (auto k : {Mp3Kind::Cbr64, Mp3Kind::VbrXing, Mp3Kind::VbrBare}) {
        TMediaPlayer mp;
        for (int x : {0, 1, 9999, 15000, 29500, pick(rng), pick(rng), pick(rng)}) {
            PlayFrom(mp, Mp3(k), x);
            EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
            EXPECT_NEAR(mp.Position(), x, 50) << KindName(k) << " at " << x;
        }
        mp.Close();
    }
}

TEST_F(PlayerTest, EndOfStreamStopsAtTheEnd) {
    TMediaPlayer mp;
    QSignalSpy finished(&mp, &TMediaPlayer::Finished);
    mp.SetFileName(Path("short.mp3"));
    mp.Open();
    const int32_t length = CountedLength(mp);
    ASSERT_GT(length, 2000);
    mp.SetStartPos(length - 400);
    mp.Play();
    ASSERT_TRUE(WaitFor([&] { return mp.Mode() == TMediaPlayer::mpStopped; }, 5000));
    EXPECT_EQ(mp.Position(), length);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(mp.IsOpen());

    mp.Play(); // at the end: nothing left to play
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpStopped);
    mp.SetPosition(0);
    EXPECT_EQ(mp.Position(), 0);
    mp.Play();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(WaitFor([&] { return mp.Position() > 200; }, 5000));
}

TEST_F(PlayerTest, ReopeningForgetsTheOldFilesEnd) {
    // An end reported by a file that has been closed must not stop the next one.
    TMediaPlayer mp;
    PlayFrom(mp, Path("short.mp3"), 2400);
    PlayFrom(mp, Mp3(Mp3Kind::Cbr64), 1000);
    QTest::qWait(700);
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    EXPECT_GT(mp.Position(), 1050);
}

TEST_F(PlayerTest, MoreFormatsOpenAndPlay) {
    ASSERT_TRUE(WriteMidi(Path("tune.mid")));
    struct Case {
        const char* name;
        QString pipeline; // empty: the file is written directly
    };
    const QString src = QStringLiteral("filesrc location=\"%1\" ! wavparse ! audioconvert ! ")
                            .arg(Path("short.wav"));
    const Case cases[] = {
        {"short.wav", {}},
        {"clip.avi",
         src + QStringLiteral("avimux ! filesink location=\"%1\"").arg(Path("clip.avi"))},
        {"clip.mpg", src + QStringLiteral("lamemp3enc ! mpegpsmux ! filesink location=\"%1\"")
                               .arg(Path("clip.mpg"))},
        {"tune.mid", {}},
        // A film: its sound plays, its picture goes nowhere.
        {"film.avi",
         QStringLiteral("videotestsrc num-buffers=75 ! video/x-raw,width=160,height=120,"
                        "framerate=25/1 ! jpegenc ! avimux name=m ! filesink "
                        "location=\"%1\" filesrc location=\"%2\" ! wavparse ! "
                        "audioconvert ! m.")
             .arg(Path("film.avi"), Path("short.wav"))},
    };
    for (const Case& c : cases) {
        if (!c.pipeline.isEmpty()) {
            QString error;
            ASSERT_TRUE(RunPipeline(c.pipeline, &error)) << c.name << ": " << error.toStdString();
        }
        TMediaPlayer mp;
        mp.SetFileName(Path(c.name));
        try {
            mp.Open();
        } catch (const NarrabelError& e) {
            ADD_FAILURE() << c.name << ": " << e.message().toStdString();
            continue;
        }
        EXPECT_GT(mp.Length(), 1500) << c.name;
        mp.Play();
        EXPECT_TRUE(WaitFor([&] { return mp.Position() >= 300; }, 5000)) << c.name;
        EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying) << c.name;
    }
}

// A socket that takes connections and never says a word: a stuck sound server.
class SilentServer {
public:
    explicit SilentServer(const QString& path) {
        const QByteArray p = path.toUtf8();
        fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, p.constData(), size_t(std::min<int>(p.size(), 100)));
        ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
             listen(fd, 16) == 0;
        if (const char* old = std::getenv("PULSE_SERVER")) saved = old;
        setenv("PULSE_SERVER", ("unix:" + p).constData(), 1);
    }
    ~SilentServer() {
        if (saved.isNull())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", saved.constData(), 1);
        if (fd >= 0) close(fd);
    }
    bool ok = false;

private:
    int fd = -1;
    QByteArray saved;
};

// The test run's own sound server stopped (SIGSTOP) for a while: it takes
// connections and answers nothing, as a hung server does. Only the private
// server of a test run (its sink is "narrabel_test") is ever stopped.
class StoppedServer {
public:
    StoppedServer() {
        QProcess sink;
        sink.start("pactl", {"get-default-sink"});
        if (!sink.waitForFinished(5000) ||
            sink.readAllStandardOutput().trimmed() != "narrabel_test")
            return;
        QFile pidFile(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/pid");
        if (pidFile.open(QIODevice::ReadOnly)) pid = pidFile.readAll().trimmed().toInt();
        ok = pid > 0 && kill(pid, SIGSTOP) == 0;
    }
    ~StoppedServer() {
        if (ok) kill(pid, SIGCONT);
    }
    bool ok = false;

private:
    pid_t pid = 0;
};

TEST_F(PlayerTest, AStuckSoundServerCostsSecondsNotTheWindow) {
    TMediaPlayer mp;
    mp.SetFileName(Mp3(Mp3Kind::Cbr64));
    mp.Open(); // the real server answered: it is trusted for a while
    mp.Close();
    {
        StoppedServer server;
        if (!server.ok) GTEST_SKIP() << "not the test run's own sound server";
        // Trusted a moment ago, so the output itself gets stuck: Open gives up.
        EXPECT_THROW(mp.Open(), NarrabelError);
        EXPECT_FALSE(mp.IsOpen());
    }
    // The server is back: the device works again.
    mp.Open();
    mp.Play();
    EXPECT_EQ(mp.Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(WaitFor([&] { return mp.Position() > 300; }, 5000));
    mp.Close();
}

TEST_F(PlayerTest, AStuckSoundServerIsNoticedBeforeOpening) {
    // Not trusted yet (a fresh program, or its trust has lapsed): asked first, briefly.
    QTest::qWait(10500);
    SilentServer server(Path("silent2"));
    ASSERT_TRUE(server.ok);
    TMediaPlayer mp;
    mp.SetFileName(Mp3(Mp3Kind::Cbr64));
    try {
        mp.Open();
        ADD_FAILURE() << "opened";
    } catch (const NarrabelError& e) {
        EXPECT_EQ(e.message(), "The sound server does not answer.");
    }
}

} // namespace
