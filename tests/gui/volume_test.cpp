// The volume bar against the test run's PulseAudio null sink, checked with
// pactl; and without a server, or with one that never answers.

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/audiomixer.h"
#include "support/guitestsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* const kSink = "narrabel_test";

QString Pactl(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("PULSE_SERVER"); // always the real test server
    p.setProcessEnvironment(env);
    p.start("pactl", args);
    if (!p.waitForFinished(10000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Raw channel volumes of the test sink.
QList<int> SinkVolumes() {
    QList<int> out;
    static const QRegularExpression re(QStringLiteral(":\\s*(\\d+)\\s*/"));
    auto it = re.globalMatch(Pactl({"get-sink-volume", kSink}));
    while (it.hasNext())
        out << it.next().captured(1).toInt();
    return out;
}

bool SinkMuted() {
    return Pactl({"get-sink-mute", kSink}).contains("yes");
}

void SetSink(const QStringList& volumes, bool mute) {
    Pactl(QStringList({"set-sink-volume", kSink}) + volumes);
    Pactl({"set-sink-mute", kSink, mute ? "1" : "0"});
}

// Points libpulse somewhere else for the windows created meanwhile.
class ServerOverride {
public:
    explicit ServerOverride(const QString& server) {
        if (const char* old = std::getenv("PULSE_SERVER")) saved = QByteArray(old);
        setenv("PULSE_SERVER", server.toUtf8().constData(), 1);
    }
    ~ServerOverride() {
        if (saved.isNull())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", saved.constData(), 1);
    }

private:
    QByteArray saved;
};

class VolumeTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        ASSERT_FALSE(Pactl({"info"}).isEmpty()) << "no PulseAudio server for the test run";
        Pactl({"set-default-sink", kSink});
    }
    QSlider* bar() const { return frmMain->tbVolume; }
};

TEST_F(VolumeTest, StartUpReadsTheVolumeWritesItToBothChannelsAndUnmutes) {
    struct Case {
        QStringList volumes; // per channel, as set before start
        bool muted;
        int bar;          // what the bar shows
        QList<int> after; // channels after start-up
        bool mutedAfter;
    };
    const Case cases[] = {
        {{"30000"}, true, 30000, {30000, 30000}, false},
        {{"20000", "40000"}, false, 20000, {20000, 20000}, false}, // the left channel rules
        // Volume 0: the bar already stands there, so the mixer is left alone.
        {{"0"}, true, 0, {0, 0}, true},
        // Boosted past 100 %: the bar shows full and the boost (and mute) stay.
        {{"98304"}, false, 65535, {98304, 98304}, false},
        {{"70000", "90000"}, true, 65535, {70000, 90000}, true},
    };
    for (const Case& c : cases) {
        SetSink(c.volumes, c.muted);
        StartProgram();
        EXPECT_EQ(bar()->value(), c.bar) << c.volumes.join(' ').toStdString();
        EXPECT_EQ(bar()->maximum(), 65535);
        EXPECT_EQ(bar()->toolTip(), "Volume");
        EXPECT_EQ(SinkVolumes(), c.after) << c.volumes.join(' ').toStdString();
        EXPECT_EQ(SinkMuted(), c.mutedAfter) << c.volumes.join(' ').toStdString();
        EXPECT_TRUE(dialogs->asked.empty());
        CloseProgram();
    }
}

TEST_F(VolumeTest, MovingTheBarSetsBothChannelsAndClearsTheMute) {
    SetSink({"30000"}, false);
    StartProgram();
    for (int v : {65535, 0, 12345}) {
        Pactl({"set-sink-mute", kSink, "1"});
        bar()->setValue(v);
        EXPECT_EQ(SinkVolumes(), QList<int>({v, v}));
        EXPECT_FALSE(SinkMuted()) << v;
    }
    // The program's own bar moves are not written back.
    frmMain->Updating = true;
    bar()->setValue(50000);
    frmMain->Updating = false;
    EXPECT_EQ(SinkVolumes(), QList<int>({12345, 12345}));
    EXPECT_FALSE(frmMain->Updating);
}

TEST_F(VolumeTest, MixerLinesAndFlags) {
    SetSink({"25000", "26000"}, true);
    TAudioMixer mixer;
    ASSERT_TRUE(mixer.IsOpen());
    TMixerVolume v;
    ASSERT_TRUE(mixer.GetVolume(0, -1, v));
    EXPECT_EQ(v.Left, 25000);
    EXPECT_EQ(v.Right, 26000);
    EXPECT_EQ(v.Mute, 1);
    EXPECT_TRUE(v.Stereo);
    EXPECT_FALSE(v.VolDisabled);
    EXPECT_FALSE(v.MuteDisabled);
    EXPECT_FALSE(v.MuteIsSelector);
    // Only the destination line itself exists.
    EXPECT_FALSE(mixer.GetVolume(1, -1, v));
    EXPECT_EQ(v.Left, -1);
    EXPECT_FALSE(mixer.GetVolume(0, 0, v));
    EXPECT_FALSE(mixer.SetVolume(0, 0, 100, 100, 0));

    // -1 conventions: right -1 takes left; left -1 leaves the volume; mute -1 leaves the mute.
    ASSERT_TRUE(mixer.SetVolume(0, -1, 31000, -1, -1));
    EXPECT_EQ(SinkVolumes(), QList<int>({31000, 31000}));
    EXPECT_TRUE(SinkMuted());
    ASSERT_TRUE(mixer.SetVolume(0, -1, -1, 5, 0));
    EXPECT_EQ(SinkVolumes(), QList<int>({31000, 31000}));
    EXPECT_FALSE(SinkMuted());
    ASSERT_TRUE(mixer.SetVolume(0, -1, 1000, 2000, 1));
    EXPECT_EQ(SinkVolumes(), QList<int>({1000, 2000}));
    EXPECT_TRUE(SinkMuted());
}

TEST_F(VolumeTest, NoServerGivesZeroAndMovingTheBarChangesNothing) {
    SetSink({"30000"}, true);
    QTemporaryDir nowhere;
    {
        ServerOverride server("unix:" + nowhere.filePath("no-such-socket"));
        StartProgram();
        EXPECT_FALSE(program->Mixer.IsOpen());
        EXPECT_EQ(bar()->value(), 0);
        bar()->setValue(40000);
        EXPECT_EQ(SinkVolumes(), QList<int>({30000, 30000}));
        EXPECT_TRUE(SinkMuted());
        EXPECT_TRUE(dialogs->asked.empty());
        CloseProgram();
    }
}

TEST_F(VolumeTest, AServerThatNeverAnswersDoesNotFreezeTheWindow) {
    // A socket that accepts connections and never says a word.
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("silent").toUtf8();
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    {
        // Unbounded waits would hang here until CTest's timeout; how long the
        // bounded ones take is not this test's business.
        ServerOverride server("unix:" + QString::fromUtf8(path));
        StartProgram();
        EXPECT_EQ(bar()->value(), 0);
        bar()->setValue(30000); // may try the server once more, briefly
        EXPECT_TRUE(dialogs->asked.empty());
        CloseProgram();
    }
    close(fd);
}

} // namespace
