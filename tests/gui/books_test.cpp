// A book's own speed and volume boost, driven through the real main window on
// real files. Levels are measured from the monitor of a null sink that this
// test program alone plays into, in float samples, so that a sample past
// full scale shows as one.

#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/audiomixer.h"
#include "playback/bookorder.h"
#include "playback/books.h"
#include "playback/mediaplayer.h"
#include "playback/session.h"
#include "rename/renamer.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "util/options.h"

#include "playerfixtures.h"
#include "sinkrecorder.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

// The program's own sink, in float so that levels past full scale would show.
[[maybe_unused]] const auto* const kSinkEnvironment = ::testing::AddGlobalTestEnvironment(
    new OwnSinkEnvironment(QStringLiteral("narrabel_boost"),
                           {QStringLiteral("format=float32le"), QStringLiteral("rate=44100"),
                            QStringLiteral("channels=2")}));

// A sink's volume as pactl reports it.
QString SinkVolume(const QString& sink) {
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("get-sink-volume"), sink});
    p.waitForFinished(5000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

// The level of frames [from, to) in dBFS: the median of its 50 ms blocks that
// hold sound, so that a moment lost to a busy machine does not count.
double LevelDb(const std::vector<float>& s, size_t from, size_t to) {
    const size_t block = SinkRecorder::Rate / 20;
    std::vector<double> levels;
    for (size_t f = from; f + block <= to; f += block) {
        const double db = SinkRecorder::RmsDb(s, f, f + block);
        if (db > -70) levels.push_back(db);
    }
    if (levels.empty()) return -200;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

class BooksTest : public WindowsTest {
protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        sines = new QTemporaryDir();
        // Ten seconds of a 440 Hz sine at -30 dBFS and at full scale.
        for (const auto& [name, volume] : {std::pair{"quiet", 0.0316228}, std::pair{"full", 1.0}})
            ASSERT_TRUE(playerfixtures::RunPipeline(
                QStringLiteral("audiotestsrc wave=sine freq=440 volume=%1 num-buffers=431 ! "
                               "audio/x-raw,rate=44100,channels=2 ! lamemp3enc target=bitrate "
                               "bitrate=128 cbr=true ! filesink location=\"%2\"")
                    .arg(volume)
                    .arg(sines->filePath(QString::fromLatin1(name) + ".mp3"))));
    }
    static void TearDownTestSuite() {
        delete sines;
        sines = nullptr;
    }
    void TearDown() override {
        // Closing after playing asks about the resume point; not the subject here.
        if (frmMain) session->PlayedSinceMark = false;
        WindowsTest::TearDown();
    }
    // A copy of a sine, alone in a folder of its own: a book by itself.
    QString Sine(const char* name) const {
        const QString path = home + "/" + name + "/" + name + ".mp3";
        QDir().mkpath(ExtractFilePath(path));
        EXPECT_TRUE(QFile::copy(sines->filePath(QString::fromLatin1(name) + ".mp3"), path));
        return path;
    }
    // A silent MP3 about 52 s long.
    QString Silent(const QString& path) const {
        QDir().mkpath(ExtractFilePath(path));
        return testsupport::MakeMp3(path, {"Author", "Book"}, 2000);
    }
    void Browse(const QString& file) {
        session->LastMarkTime = QDateTime::currentDateTime(); // no "Bookmark progress?"
        dialogs->AnswerFile(file);
        frmMain->cmdBrowseClick();
        ASSERT_EQ(mp->FileName(), file);
    }
    void Keys(Qt::Key key, Qt::KeyboardModifiers modifiers, int times = 1) {
        QLineEdit* box = frmMain->cmbFile->lineEdit();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(box, key, modifiers);
    }
    // The boost panel's menu, as a click on the panel shows it.
    void ChooseBoost(int db) {
        QTest::mouseClick(frmMain->findChild<QLabel*>("sbBoost"), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([this] { return frmMain->popBoost->isVisible(); }));
        QMenu* menu = frmMain->popBoost;
        QAction* action = menu->findChild<QAction*>(QStringLiteral("mnuBoost%1").arg(db));
        ASSERT_TRUE(action);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        ASSERT_TRUE(WaitFor([menu] { return !menu->isVisible(); }));
        // The offscreen platform leaves no window active once a popup closes;
        // a desktop's window manager gives the window its activation back.
        frmMain->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    }
    // What a listener hears, one way and the other.
    void ExpectTuning(double speed, int boost, const char* where) {
        EXPECT_DOUBLE_EQ(mp->Rate(), speed) << where;
        EXPECT_DOUBLE_EQ(mp->Boost(), boost) << where;
        EXPECT_TRUE(frmMain->cmdPlay->toolTip().startsWith(
            QStringLiteral("Speed %1x").arg(speed, 0, 'f', 1)))
            << where;
        const QString clock = frmMain->StatusText(TListeningSession::ClockPanel);
        if (speed == 1.0)
            EXPECT_FALSE(clock.endsWith("x)")) << where << ": " << clock.toStdString();
        else
            EXPECT_TRUE(clock.endsWith(QStringLiteral(" (%1x)").arg(speed, 0, 'f', 1)))
                << where << ": " << clock.toStdString();
        EXPECT_TRUE(frmMain->cmdPlay->toolTip().endsWith(
            QStringLiteral("\nVolume boost %1 (Ctrl+Shift+Up more, Ctrl+Shift+Down less)")
                .arg(boost ? QStringLiteral("+%1 dB").arg(boost) : QStringLiteral("off"))))
            << where;
        EXPECT_EQ(frmMain->StatusText(TListeningSession::BoostPanel),
                  boost ? QStringLiteral("+%1 dB").arg(boost) : QStringLiteral("Boost"))
            << where;
    }
    static QTemporaryDir* sines;
};

QTemporaryDir* BooksTest::sines = nullptr;

TEST_F(BooksTest, AQuietBookComesOutLouderAndALoudOneNeverPassesFullScale) {
    const QString quiet = Sine("quiet"), full = Sine("full");
    StartProgram();
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    frmMain->cmbFile->lineEdit()->setFocus();
    TMixerVolume masterBefore;
    program->Mixer.GetVolume(0, -1, masterBefore);
    const QString defaultBefore = SinkVolume("@DEFAULT_SINK@"),
                  ownBefore = SinkVolume(OwnSinkEnvironment::Name());
    ASSERT_FALSE(defaultBefore.isEmpty());

    struct Case {
        const char* how;
        QString file;
        int boost;
        std::function<void()> choose;
    };
    const Case cases[] = {
        {"+6 dB from the panel's menu", quiet, 6, [this] { ChooseBoost(6); }},
        {"+12 dB from the keys (one too many)", full, 12,
         [this] { Keys(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier, 5); }},
    };
    for (const Case& c : cases) {
        Browse(c.file);
        ASSERT_TRUE(WaitFor([this] { return mp->Position() > 300; })) << c.how;
        SinkRecorder rec;
        ASSERT_TRUE(rec.Start(OwnSinkEnvironment::Monitor())) << "parec";
        QTest::qWait(1200);
        const size_t plainEnd = rec.Frames();
        c.choose();
        EXPECT_EQ(session->Boost(), c.boost) << c.how;
        // What the sound server holds already plays out first.
        QTest::qWait(700);
        const size_t boostedFrom = rec.Frames();
        QTest::qWait(1200);
        const std::vector<float>& s = rec.Stop();
        const double plain = LevelDb(s, SinkRecorder::Rate / 5, plainEnd);
        const double boosted = LevelDb(s, boostedFrom, s.size() / SinkRecorder::Channels);
        const float peak = SinkRecorder::Peak(s);
        std::printf("%s: %.2f dBFS, then %.2f dBFS, peak %.4f\n", c.how, plain, boosted, peak);
        if (c.boost == 6) {
            EXPECT_NEAR(plain, -33, 1.5) << "the quiet sine as recorded";
            EXPECT_NEAR(boosted - plain, 6.0, 0.5) << c.how;
        } else {
            EXPECT_GT(plain, -4.0) << "the full-scale sine as recorded";
            EXPECT_LE(peak, 1.0f) << "no sample past full scale, before, during or after";
            EXPECT_GE(boosted, plain - 0.05) << "not quieter than without the boost";
            // A sine still: a clipped one would stand near its peak throughout.
            EXPECT_GT(20 * std::log10(double(peak)) - boosted, 2.5) << "crest factor";
        }
        // Never the master volume, nor the volume of the sink played into.
        TMixerVolume master;
        program->Mixer.GetVolume(0, -1, master);
        EXPECT_EQ(master.Left, masterBefore.Left) << c.how;
        EXPECT_EQ(SinkVolume("@DEFAULT_SINK@"), defaultBefore) << c.how;
        EXPECT_EQ(SinkVolume(OwnSinkEnvironment::Name()), ownBefore) << c.how;
    }
}

TEST_F(BooksTest, TwoBooksAtTwoSpeedsSwitchWithTheirFilesAndSurviveARestartAndARename) {
    // A book of two discs, a book of two files, and a file alone in its folder.
    const QString a1 = Silent(home + "/A/CD1/1.mp3"), a2 = Silent(home + "/A/CD2/1.mp3");
    const QString b1 = Silent(home + "/B/1.mp3"), b2 = Silent(home + "/B/2.mp3");
    const QString lone = Silent(home + "/C/lone.mp3");
    StartProgram();
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    frmMain->cmbFile->lineEdit()->setFocus();

    Browse(a1);
    ExpectTuning(1.0, 0, "a book never set");
    Keys(Qt::Key_BracketRight, Qt::ControlModifier, 5);
    Browse(b1);
    ExpectTuning(1.0, 0, "another book never set");
    Keys(Qt::Key_BracketLeft, Qt::ControlModifier, 2);
    ChooseBoost(3);
    Browse(lone);
    session->SetSpeed(1.3);
    Keys(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier, 2);
    Keys(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    ExpectTuning(1.3, 3, "keys: two steps up, one down");
    ChooseBoost(6);

    struct Step {
        QString file;
        double speed;
        int boost;
        const char* where;
    };
    const Step steps[] = {
        {a2, 1.5, 0, "the other disc of A"},
        {b2, 0.8, 3, "the other file of B"},
        {a1, 1.5, 0, "back to A"},
    };
    for (const Step& st : steps) {
        Browse(st.file);
        ExpectTuning(st.speed, st.boost, st.where);
    }
    // Restored means heard: the file's own time runs at the book's speed.
    ASSERT_TRUE(WaitFor([this] { return mp->Position() > 500; }, 10000));
    QElapsedTimer clock;
    clock.start();
    const int32_t from = mp->Position();
    QTest::qWait(2000);
    EXPECT_NEAR(double(mp->Position() - from) / double(clock.elapsed()), 1.5, 0.25);

    // One line a book, newest first, written a moment after the last change.
    const QString file = dataFolder() + "Narrabel.books";
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(file); }, 4000));
    session->PlayedSinceMark = false;
    CloseProgram();
    const QList<QByteArray> lines = ReadAll(file).split('\n');
    ASSERT_EQ(lines.size(), 4) << ReadAll(file).toStdString(); // three lines and the end
    const QRegularExpression line(
        "^(\\d\\.\\d)\\t(\\d+)\\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\t"
        "(.+)\\r$");
    const QStringList expected = {"1.3\t6\t" + lone, "0.8\t3\t" + home + "/B",
                                  "1.5\t0\t" + home + "/A"};
    for (int i = 0; i < 3; ++i) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1) + "\t" + m.captured(2) + "\t" + m.captured(3), expected[i]);
    }

    // Through a restart, and renames the program makes: the file alone is its
    // book, and takes it along; a file renamed within a book leaves the book
    // as it was.
    StartProgram();
    const QString lone2 = home + "/C/lone, renamed.mp3", b2renamed = home + "/B/2, renamed.mp3";
    ASSERT_TRUE(renamer->RenameAndRepoint(lone, lone2));
    ASSERT_TRUE(renamer->RenameAndRepoint(b2, b2renamed));
    EXPECT_FALSE(ReadAll(file).contains("lone.mp3"));
    EXPECT_TRUE(ReadAll(file).contains("\t" + lone2.toUtf8() + "\r\n"));
    const Step after[] = {
        {a2, 1.5, 0, "A after a restart"},
        {lone2, 1.3, 6, "the renamed file alone"},
        {b2renamed, 0.8, 3, "a file renamed within B"},
    };
    for (const Step& st : after) {
        Browse(st.file);
        ExpectTuning(st.speed, st.boost, st.where);
    }
    EXPECT_FALSE(dialogs->Pending());
}

TEST(BookKeys, ABookIsWhatPlayOnWalksAndAnM4bOrALoneFileIsABookByItself) {
    QTemporaryDir dir;
    const QString home = dir.path();
    auto make = [&](const QString& name) {
        const QString path = home + "/" + name;
        QDir().mkpath(ExtractFilePath(path));
        WriteAll(path, "x");
        return path;
    };
    for (const char* name :
         {"Discs/CD1/1.mp3", "Discs/CD 2/1.mp3", "Flat/1.mp3", "Flat/2.mp3", "Lone/only.mp3",
          "Lone/notes.txt", "Shelf/one.m4b", "Shelf/Two.M4B", "Mixed/a.mp3", "Mixed/whole.m4b"})
        make(QString::fromLatin1(name));
    const struct {
        const char* file;
        const char* key;
    } cases[] = {
        {"Discs/CD1/1.mp3", "Discs"},
        {"Discs/CD 2/1.mp3", "Discs"},
        {"Flat/2.mp3", "Flat"},
        {"Lone/only.mp3", "Lone/only.mp3"},
        {"Shelf/one.m4b", "Shelf/one.m4b"},
        {"Shelf/Two.M4B", "Shelf/Two.M4B"},
        {"Mixed/a.mp3", "Mixed/a.mp3"},
        {"Mixed/whole.m4b", "Mixed/whole.m4b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BookKey(home + "/" + c.file), home + "/" + c.key) << c.file;
    // Play on never goes into an M4B, nor out of one.
    EXPECT_EQ(NextFileOfBook(home + "/Mixed/a.mp3"), "");
    EXPECT_EQ(NextFileOfBook(home + "/Shelf/one.m4b"), "");
    EXPECT_EQ(NextFileOfBook(home + "/Discs/CD1/1.mp3"), home + "/Discs/CD 2/1.mp3");
}

TEST(BooksFile, IsReadWithinBoundsAndKeepsWhatItDoesNotOffer) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Narrabel.books");
    QByteArray file = "1.5\t6\t2024-01-02T03:04:05\t/books/A\r\n";
    file += QByteArray(100000, 'x') + "\r\n"; // far too long a line
    for (const char* bad :
         {"abc\t0\t\t/bad/1", "1.5\t-3\t\t/bad/2", "1.5\t6\t/bad/3", "+1.5\t0\t\t/bad/4",
          "1e1\t0\t\t/bad/5", "1.5\t6.5\t\t/bad/6", "1.5\t6\t\t"})
        file += QByteArray(bad) + "\r\n";
    file += "2.0\t0\t2023-01-01T00:00:00\t/books/A\r\n"; // older: the first line of A counts
    file += "9.9\t99\t\t/books/far off\r\n";             // more than is offered
    file += "1.2\t3\t\t/books/a\ttab\n";                 // a tab in the key, LF alone
    for (int i = 0; i < 6000; ++i)
        file += "1.1\t0\t\t/books/many/" + QByteArray::number(i) + "\r\n";
    WriteAll(path, file);

    TBooks books(path);
    books.Load();
    ASSERT_EQ(books.Entries().size(), size_t(TBooks::MaxEntries));
    const struct {
        const char* key;
        double speed;
        int boost;
    } found[] = {{"/books/A", 1.5, 6}, {"/books/far off", 3.0, 12}, {"/books/a\ttab", 1.2, 3}};
    for (const auto& f : found) {
        const auto book = books.Find(QString::fromLatin1(f.key));
        ASSERT_TRUE(book) << f.key;
        EXPECT_DOUBLE_EQ(book->Speed, f.speed) << f.key;
        EXPECT_EQ(book->BoostDb, f.boost) << f.key;
    }
    EXPECT_EQ(books.Entries()[0].When, QDateTime::fromString("2024-01-02T03:04:05", Qt::ISODate));
    for (int i = 1; i <= 6; ++i)
        EXPECT_FALSE(books.Find(QStringLiteral("/bad/%1").arg(i))) << i;

    // Saved: what was read goes back as it was, the limit holds; a book set
    // anew is written as this program writes it, first.
    ASSERT_TRUE(books.Save());
    const QByteArray saved = ReadAll(path);
    EXPECT_TRUE(saved.startsWith("1.5\t6\t2024-01-02T03:04:05\t/books/A\r\n9.9\t99\t\t/books/far "
                                 "off\r\n1.2\t3\t\t/books/a\ttab\r\n"));
    EXPECT_EQ(saved.count('\n'), TBooks::MaxEntries);
    const QDateTime when(QDate(2025, 5, 6), QTime(7, 8, 9));
    books.Remember("/books/far off", 1.7, 9, when);
    ASSERT_TRUE(books.Save());
    EXPECT_TRUE(ReadAll(path).startsWith("1.7\t9\t2025-05-06T07:08:09\t/books/far off\r\n"
                                         "1.5\t6\t2024-01-02T03:04:05\t/books/A\r\n"));

    // A renamed folder takes its books along; one the new name had is stale.
    books.Remember("/books/B", 1.4, 0, when);
    EXPECT_TRUE(books.FollowRename("/books", "/library"));
    EXPECT_TRUE(books.Find("/library/A"));
    EXPECT_FALSE(books.Find("/books/A"));
    books.Remember("/elsewhere/file.mp3", 2.0, 0, when);
    EXPECT_TRUE(books.FollowRename("/library/A", "/elsewhere/file.mp3"));
    EXPECT_DOUBLE_EQ(books.Find("/elsewhere/file.mp3")->Speed, 1.5);
    EXPECT_FALSE(books.FollowRename("/nowhere", "/else"));
}

} // namespace
