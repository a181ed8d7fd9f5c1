// The media controls on the session bus: the real program, started on a
// private bus of this test's own and the test run's null sink, driven over
// D-Bus as a desktop panel or playerctl would.

#include "app/mpris.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "playback/session.h"
#include "support/bookfixture.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"

#include "playerfixtures.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <memory>

namespace {

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.narrabel");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// Records the player's change notices.
class Notices : public QObject {
    Q_OBJECT
public:
    QStringList changed; // property names, in the order announced
    QList<qlonglong> seeked;
public slots:
    void onChanged(const QString& iface, const QVariantMap& props, const QStringList&) {
        if (iface == kPlayer) changed += props.keys();
    }
    void onSeeked(qlonglong position) { seeked << position; }
};

// One running Narrabel with a data folder of its own.
struct Instance {
    std::unique_ptr<QTemporaryDir> home = testsupport::MakeTempDir();
    QProcess process;
    QString dataFolder() const { return home->path() + QStringLiteral("/Documents/Narrabel/"); }
    QString errors() { return QString::fromUtf8(process.readAllStandardError()); }
};

class MprisTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
        daemon = new QProcess();
        daemon->start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1")});
        if (daemon->waitForReadyRead(10000))
            address = QString::fromUtf8(daemon->readLine()).trimmed();
        files = testsupport::MakeTempDir().release();
        using testsupport::Mp3Tags;
        // About 52 s each: room for jumps and a minute-long speed test.
        testsupport::MakeMp3(PartA(), Mp3Tags("Jane Doe", "Long Book", "03/12", "Part Three"),
                             2000);
        testsupport::MakeMp3(PartB(), Mp3Tags("Jane Doe", "Long Book", "04", "Part Four"), 2000);
        QDir().mkpath(files->filePath("m4b"));
        playerfixtures::MakeChapterBook(ChapterBook(), {"Quiet start", "The tone", ""}, 8000);
    }
    static void TearDownTestSuite() {
        QDBusConnection::disconnectFromBus(QStringLiteral("mpris-test"));
        if (daemon) {
            daemon->kill();
            daemon->waitForFinished();
        }
        delete daemon;
        daemon = nullptr;
        delete files;
        files = nullptr;
    }
    void SetUp() override {
        if (address.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed; ./test.sh installs it";
    }
    void TearDown() override {
        for (auto& i : instances) {
            i->process.kill();
            i->process.waitForFinished();
        }
    }

    static QString PartA() { return files->filePath(QStringLiteral("a.mp3")); }
    static QString PartB() { return files->filePath(QStringLiteral("b.mp3")); }
    static QString ChapterBook() { return files->filePath(QStringLiteral("m4b/Chapter Book.m4b")); }
    static QDBusConnection Bus() {
        return QDBusConnection::connectToBus(address, QStringLiteral("mpris-test"));
    }

    // Starts the program; busAddress overrides the private bus.
    Instance& Start(const QStringList& args, const QString& busAddress = QString(),
                    const QStringList& history = {}) {
        instances.push_back(std::make_unique<Instance>());
        Instance& i = *instances.back();
        if (!history.isEmpty()) {
            QDir().mkpath(i.dataFolder());
            QByteArray lines;
            for (const QString& path : history)
                lines += TBMHistory::EntryLine(path, 1).toUtf8() + "\r\n";
            testsupport::WriteAll(i.dataFolder() + QStringLiteral("Narrabel.nbh"), lines);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString h = i.home->path();
        env.insert(QStringLiteral("HOME"), h);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), h + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), h + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   busAddress.isEmpty() ? address : busAddress);
        i.process.setProcessEnvironment(env);
        i.process.start(QStringLiteral(NARRABEL_BINARY_DIR "/narrabel"), args);
        EXPECT_TRUE(i.process.waitForStarted());
        return i;
    }
    // Waits until the program holds the name.
    static bool Registered() {
        return WaitFor([] { return Bus().interface()->isServiceRegistered(kService).value(); },
                       15000);
    }
    static QVariant Get(const QString& iface, const QString& name) {
        QDBusInterface props(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                             Bus());
        QDBusReply<QDBusVariant> r = props.call(QStringLiteral("Get"), iface, name);
        return r.isValid() ? r.value().variant() : QVariant();
    }
    static void Set(const QString& name, const QVariant& value) {
        QDBusInterface props(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                             Bus());
        props.call(QStringLiteral("Set"), kPlayer, name, QVariant::fromValue(QDBusVariant(value)));
    }
    static QString Status() { return Get(kPlayer, QStringLiteral("PlaybackStatus")).toString(); }
    static qlonglong Position() { return Get(kPlayer, QStringLiteral("Position")).toLongLong(); }
    static QVariantMap Metadata() {
        QVariantMap out;
        const QVariant v = Get(kPlayer, QStringLiteral("Metadata"));
        v.value<QDBusArgument>() >> out;
        return out;
    }
    static QString Title() { return Metadata().value(QStringLiteral("xesam:title")).toString(); }
    static void Call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kPlayer, method);
        m.setArguments(args);
        Bus().call(m);
    }
    static bool Ends(Instance& i, int ms) {
        return WaitFor([&i] { return i.process.state() == QProcess::NotRunning; }, ms) &&
               i.process.exitStatus() == QProcess::NormalExit && i.process.exitCode() == 0;
    }

    static QProcess* daemon;
    static QString address;
    static QTemporaryDir* files;
    std::vector<std::unique_ptr<Instance>> instances;
};

QProcess* MprisTest::daemon = nullptr;
QString MprisTest::address;
QTemporaryDir* MprisTest::files = nullptr;

TEST_F(MprisTest, PanelsDriveTheWindowAsItsButtonsDo) {
    // The history ends on part A, the file the command line plays.
    Start({PartA(), QStringLiteral("0")}, {}, {PartB(), PartA()});
    ASSERT_TRUE(Registered());
    Notices notices;
    Bus().connect(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"), &notices,
                  SLOT(onChanged(QString, QVariantMap, QStringList)));
    Bus().connect(kService, kPath, kPlayer, QStringLiteral("Seeked"), &notices,
                  SLOT(onSeeked(qlonglong)));

    EXPECT_EQ(Get(kRoot, QStringLiteral("Identity")).toString(), "Narrabel");
    EXPECT_EQ(Get(kRoot, QStringLiteral("DesktopEntry")).toString(), "narrabel");
    ASSERT_TRUE(WaitFor([] { return Status() == "Playing"; }, 10000)) << Status().toStdString();

    const QVariantMap meta = Metadata();
    EXPECT_EQ(meta.value("xesam:title").toString(), "Part Three");
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{"Jane Doe"});
    EXPECT_EQ(meta.value("xesam:album").toString(), "Long Book");
    EXPECT_EQ(meta.value("xesam:trackNumber").toInt(), 3);
    EXPECT_EQ(meta.value("xesam:url").toString(), QUrl::fromLocalFile(PartA()).toString());
    EXPECT_NEAR(meta.value("mpris:length").toLongLong() / 1000, 52245, 100);

    // Play/Pause is the button's own handler; the panels hear of each change.
    Call(QStringLiteral("PlayPause"));
    EXPECT_TRUE(WaitFor([] { return Status() == "Paused"; }));
    Call(QStringLiteral("Stop")); // already paused: stays there
    Call(QStringLiteral("Play"));
    EXPECT_TRUE(WaitFor([] { return Status() == "Playing"; }));
    EXPECT_TRUE(WaitFor([&] { return notices.changed.count("PlaybackStatus") >= 2; }));

    // A jump lands where it was asked to, and says so.
    const auto track = meta.value("mpris:trackid").value<QDBusObjectPath>();
    const int seeks = notices.seeked.size();
    Call(QStringLiteral("SetPosition"),
         {QVariant::fromValue(track), QVariant::fromValue(qlonglong(20000000))});
    ASSERT_TRUE(WaitFor([&] { return notices.seeked.size() > seeks; }));
    EXPECT_NEAR(notices.seeked.last() / 1000, 20000, 50);
    EXPECT_GE(Position() / 1000, 19950);
    // Another track's id is not this one: ignored.
    Call(QStringLiteral("SetPosition"),
         {QVariant::fromValue(QDBusObjectPath("/org/narrabel/track/other")),
          QVariant::fromValue(qlonglong(1000000))});
    Call(QStringLiteral("Seek"), {QVariant::fromValue(qlonglong(-10000000))});
    ASSERT_TRUE(WaitFor([&] { return notices.seeked.size() > seeks + 1; }));
    EXPECT_NEAR(notices.seeked.last() / 1000, 10000, 1500);

    // Speed 1.5: the file's own time runs half as fast again as the clock.
    Set(QStringLiteral("Rate"), 1.5);
    EXPECT_TRUE(WaitFor([] { return Get(kPlayer, QStringLiteral("Rate")).toDouble() == 1.5; }));
    EXPECT_TRUE(WaitFor([&] { return notices.changed.contains("Rate"); }));
    // The new rate settles in once the sound output runs again.
    const qlonglong settled = Position() + 1000000;
    QStringList seen; // what the position did meanwhile, in ms
    ASSERT_TRUE(WaitFor(
        [&] {
            const qlonglong now = Position();
            if (seen.size() < 40) seen << QString::number(now / 1000);
            return now >= settled;
        },
        15000))
        << Status().toStdString() << ", waiting for " << settled / 1000
        << " ms: " << seen.join(' ').toStdString();
    QElapsedTimer clock;
    clock.start();
    const qlonglong from = Position();
    QTest::qWait(3000);
    const double ratio = double(Position() - from) / 1000.0 / double(clock.elapsed());
    EXPECT_NEAR(ratio, 1.5, 0.2);

    // Volume is the bar's 0..65535.
    Set(QStringLiteral("Volume"), 0.5);
    EXPECT_TRUE(WaitFor(
        [] { return std::abs(Get(kPlayer, QStringLiteral("Volume")).toDouble() - 0.5) < 0.001; }));

    // A headset's Previous and Next skip back 15 s and forward 30 s within the
    // file (the window's own Prev and Next walk the history).
    EXPECT_TRUE(Get(kPlayer, QStringLiteral("CanGoPrevious")).toBool());
    EXPECT_TRUE(Get(kPlayer, QStringLiteral("CanGoNext")).toBool());
    for (const auto& [method, by] : {std::pair{"Previous", -15000}, std::pair{"Next", 30000}}) {
        const int seeks = notices.seeked.size();
        const qlonglong from = Position() / 1000;
        Call(QString::fromLatin1(method));
        ASSERT_TRUE(WaitFor([&] { return notices.seeked.size() > seeks; })) << method;
        EXPECT_NEAR(notices.seeked.last() / 1000, std::max<qlonglong>(0, from + by), 1500)
            << method;
        EXPECT_EQ(Title(), "Part Three") << method;
        EXPECT_TRUE(WaitFor([] { return Status() == "Playing"; }));
    }
    EXPECT_DOUBLE_EQ(Get(kPlayer, QStringLiteral("Rate")).toDouble(), 1.5);

    // Quit ends the program as a logout does: however long the book played,
    // no question (nobody may be at the window), and the place it stood at
    // becomes the resume point.
    ASSERT_TRUE(WaitFor([] { return Position() > 0; }));
    const qlonglong at = Position() / 1000;
    Bus().call(QDBusMessage::createMethodCall(kService, kPath, kRoot, QStringLiteral("Quit")));
    Instance& program = *instances.back();
    ASSERT_TRUE(Ends(program, 15000)) << program.errors().toStdString();
    TSuperStringList rsm;
    ASSERT_TRUE(rsm.LoadFromFile(program.dataFolder() + QStringLiteral("Narrabel.rsm")));
    EXPECT_EQ(rsm.value(0), PartA());
    EXPECT_NEAR(rsm.value(1).toLongLong(), at - 2500, 1000);
}

// The same commands, given to the program's own media controls while a
// dialog is up, wait as the window's buttons do: speed and volume stay.
class MprisCommandsTest : public WindowsTest {};

TEST_F(MprisCommandsTest, NothingActsWhileADialogIsUp) {
    StartProgram();
    ASSERT_NE(program->Mpris, nullptr);
    TMpris& controls = *program->Mpris;
    const int volume = frmMain->Volume();
    const int wanted = volume > 30000 ? 16384 : 49151;
    QDialog dialog(frmMain);
    dialog.setModal(true);
    dialog.show();
    ASSERT_TRUE(WaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
    controls.SetRate(2.0);
    controls.SetVolume(wanted / 65535.0);
    // The commands' turn in the event loop comes and goes.
    bool passed = false;
    QTimer::singleShot(0, [&passed] { QTimer::singleShot(0, [&passed] { passed = true; }); });
    ASSERT_TRUE(WaitFor([&] { return passed; }));
    EXPECT_DOUBLE_EQ(session->Speed(), 1.0);
    EXPECT_EQ(frmMain->Volume(), volume);
    dialog.hide();
    controls.SetRate(2.0);
    controls.SetVolume(wanted / 65535.0);
    EXPECT_TRUE(WaitFor([&] { return session->Speed() == 2.0 && frmMain->Volume() == wanted; }));
    controls.SetVolume(volume / 65535.0);
    EXPECT_TRUE(WaitFor([&] { return frmMain->Volume() == volume; }));
}

// An M4B's tags and cover reach the panels: its embedded picture as a copy in
// the cache folder, named by its bytes.
TEST_F(MprisTest, ABooksTagsAndCoverReachThePanels) {
    if (!testsupport::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testsupport::BookSpec spec;
    spec.Artist = "Ursula K. Le Guin";
    spec.Album = "Earthsea";
    spec.Title = "A Wizard of Earthsea";
    spec.Seconds = 30;
    spec.Cover = true;
    QDir().mkpath(files->filePath("Earthsea"));
    const QString m4b = testsupport::MakeBook(files->filePath("Earthsea/Earthsea.m4b"), spec);
    ASSERT_FALSE(m4b.isEmpty());
    Instance& i = Start({m4b, QStringLiteral("0")});
    ASSERT_TRUE(Registered());
    ASSERT_TRUE(WaitFor([] { return Status() == "Playing"; }, 10000)) << i.errors().toStdString();
    const QVariantMap meta = Metadata();
    EXPECT_EQ(meta.value("xesam:title").toString(), "A Wizard of Earthsea");
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{"Ursula K. Le Guin"});
    EXPECT_EQ(meta.value("xesam:album").toString(), "Earthsea");
    const QUrl art(meta.value("mpris:artUrl").toString());
    ASSERT_TRUE(art.isLocalFile()) << art.toString().toStdString();
    const QImage cover(art.toLocalFile());
    EXPECT_EQ(cover.size(), QSize(160, 200));
    // A copy in the cache, named by its bytes.
    const QByteArray bytes = testsupport::ReadAll(art.toLocalFile());
    EXPECT_EQ(QFileInfo(art.toLocalFile()).fileName(),
              QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex() + ".jpg");
    EXPECT_TRUE(art.toLocalFile().contains("/covers/"));
}

TEST_F(MprisTest, AFileWithChaptersIsShownAsItsBookAtTheChapterPlaying) {
    Start({ChapterBook(), QStringLiteral("9000")});
    ASSERT_TRUE(Registered());
    ASSERT_TRUE(WaitFor([] { return Title() == "The tone"; }, 15000)) << Title().toStdString();
    // No tag: the book is known by its file's name.
    EXPECT_EQ(Metadata().value("xesam:album").toString(), "Chapter Book");
    EXPECT_EQ(Metadata().value("xesam:url").toString(),
              QUrl::fromLocalFile(ChapterBook()).toString());
    // The panels hear of the next chapter as it comes.
    Notices notices;
    Bus().connect(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"), &notices,
                  SLOT(onChanged(QString, QVariantMap, QStringList)));
    const auto track = Metadata().value("mpris:trackid").value<QDBusObjectPath>();
    Call(QStringLiteral("SetPosition"),
         {QVariant::fromValue(track), QVariant::fromValue(qlonglong(16500000))});
    EXPECT_TRUE(WaitFor([] { return Title() == "Chapter 3"; }, 10000)) << Title().toStdString();
    EXPECT_TRUE(WaitFor([&] { return notices.changed.contains("Metadata"); }));
}

TEST_F(MprisTest, WithoutABusOrWithTheNameTakenTheProgramRunsAsBefore) {
    Instance& first = Start({});
    ASSERT_TRUE(Registered());
    const uint owner = Bus().interface()->servicePid(kService).value();

    // A second instance on the same bus, and one with no bus at all: each
    // plays its sound bite and ends by itself, saying nothing about the bus.
    Instance& second = Start({PartA(), QStringLiteral("0"), QStringLiteral("2")});
    Instance& alone = Start({PartB(), QStringLiteral("0"), QStringLiteral("2")},
                            QStringLiteral("unix:path=/nonexistent/bus"));
    for (Instance* i : {&second, &alone}) {
        ASSERT_TRUE(Ends(*i, 30000)) << i->errors().toStdString();
        EXPECT_FALSE(i->errors().contains("bus", Qt::CaseInsensitive));
        EXPECT_TRUE(QFileInfo::exists(i->dataFolder() + "Narrabel.opt"));
    }
    EXPECT_EQ(Bus().interface()->servicePid(kService).value(), owner);

    // Quit ends it as a logout does, saving what the close saves.
    QDBusMessage quit = QDBusMessage::createMethodCall(kService, kPath, kRoot, "Quit");
    Bus().call(quit);
    EXPECT_TRUE(Ends(first, 15000)) << first.errors().toStdString();
    EXPECT_TRUE(QFileInfo::exists(first.dataFolder() + "Narrabel.opt"));
}

} // namespace

#include "mpris_test.moc"
