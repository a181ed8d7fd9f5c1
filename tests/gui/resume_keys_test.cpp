#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/tfrmbm.h"
#include "diag/tfrmdebug.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "playback/session.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "util/options.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class ResumeKeysTest : public WindowsTest {
protected:
    // A silent, tagged MP3 about 52 s long.
    QString Book(const QString& name) const {
        return testsupport::MakeMp3(home + "/book/" + name, {"Author", "Book"}, 2000);
    }
    bool Playing() const { return mp->Mode() == TMediaPlayer::mpPlaying; }
    void Browse(const QString& file) {
        dialogs->AnswerFile(file);
        frmMain->cmdBrowseClick();
    }
    // Plays file from position until it has played a little.
    void ListenAt(int32_t position) {
        session->PlayFrom(position);
        ASSERT_TRUE(WaitFor([&] { return mp->Position() >= position + 300; }));
    }
};

TEST_F(ResumeKeysTest, RecentFilesKeepThirtyNewestFirstAndIgnoreLetterCase) {
    StartProgram();
    auto add = [this](const QString& path) {
        frmMain->cmbFile->setEditText(path);
        session->AddRecentFile();
    };
    for (int i = 1; i <= 30; ++i)
        add(QStringLiteral("/books/f%1.mp3").arg(i));
    EXPECT_EQ(frmMain->cmbFile->count(), 30);
    EXPECT_EQ(frmMain->cmbFile->itemText(0), "/books/f30.mp3");
    EXPECT_EQ(frmMain->cmbFile->itemText(29), "/books/f1.mp3");

    add("/books/f31.mp3"); // the 31st drops the oldest (the last row)
    EXPECT_EQ(frmMain->cmbFile->count(), 30);
    EXPECT_EQ(frmMain->cmbFile->itemText(0), "/books/f31.mp3");
    EXPECT_EQ(frmMain->cmbFile->itemText(29), "/books/f2.mp3");
    const QString hst = dataFolder() + "Narrabel.hst";
    const QByteArray saved = ReadAll(hst);
    EXPECT_TRUE(saved.startsWith("/books/f31.mp3\r\n/books/f30.mp3\r\n"));
    EXPECT_EQ(saved.count("\r\n"), 30);

    // Already listed in another letter case: nothing moves, the file is not written.
    QFile::remove(hst);
    add("/BOOKS/F10.MP3");
    EXPECT_EQ(frmMain->cmbFile->itemText(0), "/books/f31.mp3");
    EXPECT_FALSE(QFile::exists(hst));
}

TEST_F(ResumeKeysTest, EveryFileKeepsItsPlaceThroughPrevNextARestartAndARename) {
    QDir().mkpath(home + "/book");
    const QString a = Book("a.mp3"), b = Book("b.mp3");
    StartProgram();
    Browse(a);
    ListenAt(20000);
    Browse(b); // a's place is kept as b opens
    EXPECT_LT(mp->Position(), 1000) << "a new file plays from its start";
    ListenAt(30000);

    // Prev, Next and Browse to a file known only by its start bookmark play
    // each file from where it was left.
    struct Step {
        const char* how;
        std::function<void()> go;
        QString file;
        int32_t from;
    };
    // Go on a file's start bookmark too: it marks the file, not a place.
    auto goToStart = [&](const QString& file) {
        bookmarks->SelectNodeByText(bookmarks->FindOrAddStartBookmark(file));
        frmMain->tvDblClick();
    };
    const Step steps[] = {
        {"Prev", [this] { frmMain->cmdPrevClick(); }, a, 20300},
        {"Next", [this] { frmMain->cmdNextClick(); }, b, 30300},
        {"Go on the start bookmark", [&] { goToStart(a); }, a, 20300},
        {"Browse", [&] { Browse(a); }, a, 20300},
    };
    for (const Step& st : steps) {
        st.go();
        EXPECT_EQ(mp->FileName(), st.file) << st.how;
        EXPECT_TRUE(Playing()) << st.how;
        EXPECT_NEAR(mp->Position(), st.from, 400) << st.how;
    }

    // Through a restart: one line per file, newest first.
    dialogs->AnswerConfirm(false); // the resume point
    CloseProgram();
    const QList<QByteArray> lines = ReadAll(dataFolder() + "Narrabel.places").split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the end
    EXPECT_TRUE(lines[0].endsWith("\t" + a.toUtf8() + "\r")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("\t" + b.toUtf8() + "\r")) << lines[1].toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d+\\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\t")
                    .match(QString::fromUtf8(lines[0]))
                    .hasMatch());
    StartProgram();
    auto pick = [this](const QString& file) {
        frmMain->cmbFile->setCurrentIndex(frmMain->cmbFile->findText(file));
        frmMain->cmbFileSelect();
    };
    pick(b);
    EXPECT_NEAR(mp->Position(), 30300, 400) << "a pick from the recent list";

    // Through a rename the program makes; a place near the end is a file heard
    // to its end, which starts over.
    const QString moved = home + "/book/a (renamed).mp3";
    ASSERT_TRUE(QFile::rename(a, moved));
    session->FileRenamed(a, moved);
    EXPECT_FALSE(ReadAll(dataFolder() + "Narrabel.places").contains("/a.mp3"));
    pick(moved);
    EXPECT_EQ(mp->FileName(), moved);
    EXPECT_NEAR(mp->Position(), 20300, 400);
    session->Places.Remember(b, mp->Length() - 3000, QDateTime::currentDateTime());
    pick(b);
    EXPECT_LT(mp->Position(), 1000);
    session->PlayedSinceMark = false; // the resume question is not the subject
}

TEST_F(ResumeKeysTest, ThePlacesFileAndItsLogAreReadWithinBoundsAndSavedWithinThem) {
    QDir().mkpath(dataFolder());
    QByteArray file = "1000\t2024-01-02T03:04:05\t/books/first.mp3\r\n";
    file += QByteArray(100000, 'x') + "\r\n";              // far too long a line
    file += "-5\t2024-01-02T03:04:05\t/books/bad.mp3\r\n"; // no position
    file += "no tabs at all\r\n";
    for (int i = 0; i < 6000; ++i)
        file += QByteArray::number(i) + "\t\t/books/f" + QByteArray::number(i) + ".mp3\r\n";
    WriteAll(dataFolder() + "Narrabel.places", file);
    // The log of a run that ended without its close: two whole records, one
    // with a byte flipped inside its path (the log ends there), one after it,
    // and one cut short.
    auto record = [](int32_t position, const QString& path) {
        return TPlaces::LogRecord(
            {path, position, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), {}});
    };
    QByteArray flipped = record(9000, "/books/gone.mp3");
    flipped[flipped.indexOf("gone")] = 'G';
    const QByteArray cut = record(10000, "/books/cut.mp3");
    WriteAll(dataFolder() + "Narrabel.places-log",
             record(7000, "/books/f3.mp3") + record(8000, "/books/last.mp3") + flipped +
                 record(9500, "/books/after.mp3") + cut.left(cut.size() - 3));
    StartProgram();
    const auto& places = session->Places.Entries();
    ASSERT_EQ(places.size(), size_t(TPlaces::MaxEntries));
    EXPECT_EQ(places[0].Path, "/books/last.mp3");
    EXPECT_EQ(places[0].Position, 8000);
    EXPECT_EQ(places[1].Path, "/books/f3.mp3");
    EXPECT_EQ(places[1].Position, 7000);
    EXPECT_EQ(places[2].Path, "/books/first.mp3");
    EXPECT_EQ(places[2].Position, 1000);
    EXPECT_EQ(places[2].When, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    EXPECT_EQ(places[3].Path, "/books/f0.mp3");
    for (const char* never :
         {"/books/gone.mp3", "/books/Gone.mp3", "/books/after.mp3", "/books/cut.mp3"})
        EXPECT_FALSE(session->Places.Find(never)) << never;
    // The start folded the log into the file, and its last whole record is
    // where Resume goes.
    EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.places-log"));
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.rsm"), "/books/last.mp3\r\n5500\r\n");
    // However many places there were, a saved file holds MaxEntries at most.
    auto savedLines = [this] { return ReadAll(dataFolder() + "Narrabel.places").count('\n'); };
    EXPECT_EQ(savedLines(), TPlaces::MaxEntries);
    // The log stays small: past its bound it goes into the file, and starts
    // again from the newest place.
    const QString log = dataFolder() + "Narrabel.places-log";
    const QString longName = "/books/" + QString(3000, 'n');
    for (int i = 0; i < 100; ++i) {
        session->Places.Remember(longName + QString::number(i), i, QDateTime::currentDateTime());
        ASSERT_TRUE(session->Places.WriteLog());
        ASSERT_LE(QFileInfo(log).size(), TPlaces::FoldLogBytes + 3100);
    }
    EXPECT_LT(QFileInfo(log).size(), 50 * 3100);
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.places").contains((longName + "80").toUtf8()));
    EXPECT_EQ(savedLines(), TPlaces::MaxEntries);
    session->Places.Remember("/books/newest.mp3", 1, QDateTime::currentDateTime());
    CloseProgram();
    EXPECT_EQ(savedLines(), TPlaces::MaxEntries);
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.places").startsWith("1\t"));
}

TEST_F(ResumeKeysTest, PlayAfterALongPauseRewindsByHowLongThePauseWas) {
    QDir().mkpath(home + "/book");
    const QString f = Book("long.mp3");
    StartProgram({f, "0"});
    ASSERT_TRUE(WaitFor([this] { return Playing(); }));
    // The clock outlives the test: the close handler still reads it.
    auto now = std::make_shared<QDateTime>(QDateTime::currentDateTime());
    session->Clock = [now] { return *now; };
    struct Case {
        const char* what;
        int32_t at;
        qint64 pauseSeconds;
        bool option;
        int32_t back;
    };
    const Case cases[] = {
        {"half a minute", 30000, 30, true, 0},
        {"two minutes", 30000, 120, true, 3000},
        {"two hours", 30000, 7200, true, 10000},
        {"two days", 30000, 172800, true, 20000},
        {"two days, the option off", 30000, 172800, false, 0},
        {"never before 0", 1000, 172800, true, 1000},
    };
    for (const Case& c : cases) {
        AppOptions().SmartRewind = c.option;
        session->PlayFrom(c.at);
        frmMain->cmdPlayClick(); // pause
        const int32_t paused = mp->Position();
        *now = now->addSecs(c.pauseSeconds);
        frmMain->cmdPlayClick();
        EXPECT_TRUE(Playing()) << c.what;
        EXPECT_NEAR(mp->Position(), paused - c.back, 250) << c.what;
    }
    session->PlayedSinceMark = false;
}

TEST_F(ResumeKeysTest, SkipsAreSeeksInTheOpenFileAndQuickPressesAddUp) {
    QDir().mkpath(home + "/book");
    const QString f = Book("long.mp3");
    StartProgram({f, "5000"});
    ASSERT_TRUE(WaitFor([this] { return Playing() && mp->Position() > 5300; }));
    // A reopen measures the file again; a seek never does.
    QSignalSpy reopened(mp, &TPlayerDevice::LengthKnown);
    QSignalSpy jumped(session, &TListeningSession::Jumped);
    int32_t from = mp->Position();
    QTest::keyClick(frmMain, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_NEAR(mp->Position(), from + 30000, 300);
    ASSERT_TRUE(WaitFor([&] { return mp->Position() > from + 30300; }));
    // Two quick presses: one jump of 30 s, from where the last one landed.
    from = mp->Position();
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(frmMain, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_NEAR(mp->Position(), from - 30000, 300);
    EXPECT_TRUE(Playing());
    ASSERT_TRUE(WaitFor([&] { return mp->Position() > from - 29700; }));
    EXPECT_EQ(reopened.count(), 0);
    EXPECT_EQ(jumped.count(), 3);

    // Paused near the start: a skip back stops at 0, everywhere it shows.
    session->PlayFrom(1000);
    ASSERT_TRUE(WaitFor([this] { return mp->Position() > 1200; }));
    frmMain->cmdPlayClick();
    jumped.clear();
    QTest::keyClick(frmMain, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(mp->Position(), 0);
    EXPECT_EQ(frmMain->sbPos->value(), 0);
    EXPECT_EQ(frmMain->StatusText(1), "00:00");
    ASSERT_EQ(jumped.count(), 1);
    EXPECT_EQ(jumped.first().first().toInt(), 0);
    EXPECT_FALSE(Playing());
    session->PlayedSinceMark = false;
}

TEST_F(ResumeKeysTest, SkipAndSleepKeysActFromTheFileBoxWithoutTouchingItsText) {
    QDir().mkpath(home + "/book");
    const QString f = Book("long.mp3");
    StartProgram({f, "20000"});
    ASSERT_TRUE(WaitFor([this] { return Playing(); }));
    EXPECT_TRUE(frmMain->cmdPlay->toolTip().contains(
        "Ctrl+Left back 15 s, Ctrl+Right forward 30 s\nCtrl+T sleep timer"));
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    QLineEdit* box = frmMain->cmbFile->lineEdit();
    box->setFocus();
    box->setCursorPosition(3);
    const QString text = box->text();
    struct Step {
        Qt::Key key;
        bool pausedFirst;
        int32_t to;
    };
    const Step steps[] = {
        {Qt::Key_Left, false, 5000},
        {Qt::Key_Left, false, 0}, // not before the start
        {Qt::Key_Right, false, 30000},
        {Qt::Key_Right, true, 60000}, // paused: moves, stays paused; not past the end
    };
    for (const Step& st : steps) {
        if (st.pausedFirst) frmMain->cmdPlayClick();
        const int32_t from = mp->Position();
        QTest::keyClick(box, st.key, Qt::ControlModifier);
        EXPECT_NEAR(mp->Position(), std::min(st.to, mp->Length()), 400) << from;
        EXPECT_EQ(Playing(), !st.pausedFirst);
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->cursorPosition(), 3) << "the keys are the window's, not the box's";
    }
    EXPECT_EQ(frmMain->StatusText(0), "Paused");

    // Ctrl+T opens the sleep timer's choices; the choice is kept for next time.
    QTest::keyClick(box, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([this] { return frmMain->popSleep->isVisible(); }));
    frmMain->popSleep->findChild<QAction*>("mnuSleep15")->trigger();
    frmMain->popSleep->hide();
    EXPECT_TRUE(frmMain->StatusText(3).startsWith("Sleep 1"))
        << frmMain->StatusText(3).toStdString();
    EXPECT_EQ(box->text(), text);
    session->PlayedSinceMark = false;
    CloseProgram();
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.ini").contains("SleepTimer=15"));
}

TEST_F(ResumeKeysTest, TreeStateSavesTheSelectedNodeOrAnEmptyLine) {
    StartProgram();
    CloseProgram();
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.tvs"), QByteArray("\r\n"));
}

TEST_F(ResumeKeysTest, ResumeHintNamesTheSavedFile) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.rsm", "/books/chapter one.mp3\r\n12345\r\n");
    StartProgram();
    EXPECT_TRUE(frmMain->cmdResume->isEnabled());
    EXPECT_EQ(frmMain->cmdResume->toolTip(), "chapter one.mp3");
}

TEST_F(ResumeKeysTest, GoToOffsetWithoutAFileAsksNothing) {
    StartProgram();
    frmMain->mnuGoOffsetClick();
    EXPECT_EQ(dialogs->Texts(), QStringList({"Please open a valid media file."}));
    frmMain->cmbFile->setEditText("/no/such/file.mp3");
    frmMain->mnuGoOffsetClick();
    EXPECT_EQ(dialogs->TextsOf("input").size(), 0);
}

TEST_F(ResumeKeysTest, TimedExitCountsDownAndClosesWithoutTheResumeQuestion) {
    StartProgram({"/no/such.mp3", "0", "3"});
    session->PlayedSinceMark = true; // would ask about the resume point on a normal close
    frmMain->tmrTimer();
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - exiting in 2 seconds...");
    frmMain->tmrTimer();
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - exiting in 1 seconds...");
    EXPECT_FALSE(app->Closing);
    frmMain->tmrTimer();
    EXPECT_TRUE(app->Closing);
    EXPECT_TRUE(WaitFor([this] { return !frmMain->isVisible(); }));
    EXPECT_TRUE(dialogs->asked.empty());
    // The close handler still saved the run's state.
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.edt"));
}

TEST_F(ResumeKeysTest, NoCountdownWithoutPlaySeconds) {
    StartProgram({"/no/such.mp3", "0"});
    frmMain->tmrTimer();
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
}

TEST_F(ResumeKeysTest, F1ShowsTheDebugWindowFromAnyControl) {
    StartProgram();
    frmMain->cmbFile->setFocus();
    QTest::keyClick(frmMain->cmbFile, Qt::Key_F1);
    EXPECT_TRUE(frmDebug->isVisible());
    frmDebug->hide();
}

TEST_F(ResumeKeysTest, KeysActOnTheTreeOnlyFromTheTreeAndInsertFromAnywhere) {
    const QString book = testsupport::MakeMp3(home + "/book.mp3", {"Author", "Book"});
    StartProgram();
    frmMain->cmbFile->setEditText(book);
    bookmarks->SaveNewBookmark(book, 10, "mark");
    QTreeWidgetItem* node = frmMain->tv->currentItem();
    ASSERT_TRUE(node && TfrmMain::IsBookmarkNode(node));
    // Every New Bookmark dialog is counted and cancelled.
    int bookmarkDialogs = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [this, &bookmarkDialogs] {
        if (frmBM->isVisible()) {
            ++bookmarkDialogs;
            frmBM->reject();
        }
    });
    closer.start(5);

    struct Case {
        const char* what;
        int key;
        QWidget* focus;
        int presses;
        bool deletes, goes;
        int dialogs; // New Bookmark dialogs
    };
    QWidget* tree = frmMain->tv;
    QWidget* box = frmMain->cmbFile;
    QWidget* button = frmMain->cmdBrowse; // ignores these keys: they go on to its parents
    const Case cases[] = {
        {"Delete in the tree", Qt::Key_Delete, tree, 1, true, false, 0},
        {"Delete in the file box", Qt::Key_Delete, box, 1, false, false, 0},
        {"Delete on a button", Qt::Key_Delete, button, 1, false, false, 0},
        {"Enter in the tree", Qt::Key_Return, tree, 1, false, true, 0},
        {"keypad Enter in the tree", Qt::Key_Enter, tree, 1, false, true, 0},
        {"Enter in the file box", Qt::Key_Return, box, 1, false, false, 0},
        {"Enter on a button", Qt::Key_Return, button, 1, false, false, 0},
        {"Insert in the tree", Qt::Key_Insert, tree, 1, false, false, 1},
        {"Insert in the file box", Qt::Key_Insert, box, 1, false, false, 1},
        // Seen by the window once for each parent it passes: one press, one dialog.
        {"Insert on a button", Qt::Key_Insert, button, 1, false, false, 1},
        {"Insert twice", Qt::Key_Insert, button, 2, false, false, 2},
    };
    for (const Case& c : cases) {
        frmMain->cmbFile->setEditText(book);
        frmMain->tv->setCurrentItem(node);
        QApplication::setActiveWindow(frmMain);
        c.focus->setFocus();
        QCoreApplication::processEvents();
        ASSERT_TRUE(c.focus->hasFocus()) << c.what;
        dialogs->asked.clear();
        bookmarkDialogs = 0;
        const qsizetype visits = session->History->Entries.size();
        if (c.deletes) dialogs->AnswerConfirm(false);
        for (int i = 0; i < c.presses; ++i)
            QTest::keyClick(c.focus, Qt::Key(c.key));
        EXPECT_EQ(dialogs->TextsOf("confirm"),
                  c.deletes ? QStringList({"Delete selected item(s)?"}) : QStringList())
            << c.what;
        EXPECT_EQ(session->History->Entries.size(), visits + (c.goes ? 1 : 0)) << c.what;
        EXPECT_EQ(bookmarkDialogs, c.dialogs) << c.what;
        EXPECT_FALSE(dialogs->Pending()) << c.what;
    }
    session->PlayedSinceMark = false; // the resume question is not the subject
}

TEST_F(ResumeKeysTest, TreeKeysOnlyWhileTheTreeHasTheFocus) {
    StartProgram();
    frmMain->activateWindow();
    frmMain->tv->setFocus();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frmMain->TreeFocused);
    frmMain->cmbFile->setFocus();
    QCoreApplication::processEvents();
    EXPECT_FALSE(frmMain->TreeFocused);
}

} // namespace

namespace {

class EscapeTest : public WindowsTest {};

TEST_F(EscapeTest, EscClosesTheMainWindowButNotFromADialog) {
    StartProgram();
    QWidget* dialog = frmMain->findChild<QDialog*>("frmOptions");
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(frmMain->isVisible());
    EXPECT_FALSE(app->Closing);
    dialog->hide();
    QTest::keyClick(frmMain->tv, Qt::Key_Escape);
    EXPECT_TRUE(app->Closing);
    EXPECT_FALSE(frmMain->isVisible());
}

} // namespace
