// Coming back to a book with real playback: resume point, history steps,
// go-to-offset and the sound bite's timed exit.

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "playerfixtures.h"
#include "support/guitestsupport.h"
#include "util/options.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace playerfixtures;
using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class ComebackTest : public WindowsTest {
protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        files = new QTemporaryDir();
        ASSERT_TRUE(WriteWav(files->filePath("tone.wav"), 12.0));
        for (const char* name : {"one", "two", "three"})
            ASSERT_TRUE(EncodeMp3(files->filePath("tone.wav"), Mp3(name), Mp3Kind::Cbr64));
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
    static QString Mp3(const char* name) { return files->filePath(QString(name) + ".mp3"); }
    void finish() {
        if (frmMain) session->PlayedSinceMark = false; // no resume question at teardown
    }
    static QTemporaryDir* files;
};

QTemporaryDir* ComebackTest::files = nullptr;

TEST(ResumePosition, StartsTwoAndAHalfSecondsEarlierButNotBeforeTenMs) {
    const std::pair<int32_t, int32_t> cases[] = {{2000, 10},     {2510, 10}, {2511, 11},
                                                 {60000, 57500}, {0, 10},    {-5, 10}};
    for (auto [pos, expected] : cases)
        EXPECT_EQ(TListeningSession::ResumePositionFor(pos), expected) << pos;
}

TEST_F(ComebackTest, CloseSavesTheResumePointAndTheNextStartOffersIt) {
    StartProgram({Mp3("one"), "6000"});
    ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    mp->Pause();
    const int32_t at = mp->Position();
    dialogs->AnswerConfirm(true);
    CloseProgram();
    EXPECT_EQ(dialogs->TextsOf("confirm"), QStringList({"Update Resume point before exiting?"}));
    const QStringList lines =
        QString::fromUtf8(ReadAll(dataFolder() + "Narrabel.rsm")).split("\r\n");
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], Mp3("one"));
    EXPECT_NEAR(lines[1].toInt(), at - 2500, 5);

    StartProgram();
    EXPECT_TRUE(frmMain->cmdResume->isEnabled());
    EXPECT_EQ(frmMain->cmdResume->toolTip(), "one.mp3");
    QTest::mouseClick(frmMain->cmdResume, Qt::LeftButton);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), at - 2500, 300);
    EXPECT_EQ(session->History->Entries.last().mid(12), Mp3("one"));
    finish();
}

TEST_F(ComebackTest, AResumeLineThatIsNoNumberResumesAtTheStart) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.rsm", (Mp3("two") + "\r\n\r\n").toUtf8());
    StartProgram();
    frmMain->cmdResumeClick();
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 400);
    EXPECT_EQ(session->History->Entries.last(), "000000000000" + Mp3("two"));
    finish();
}

TEST_F(ComebackTest, AResumeFileThatNoLongerOpensPlaysNothingAndSaysNothing) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.rsm", "/no/such/book.mp3\r\n5000\r\n");
    StartProgram();
    frmMain->cmdResumeClick();
    EXPECT_NE(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_FALSE(session->tmr->isActive());
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(ComebackTest, SteppingBackTwiceThenBrowsingAppendsAtTheEnd) {
    StartProgram();
    for (const char* name : {"one", "two", "three"}) {
        dialogs->AnswerFile(Mp3(name));
        frmMain->cmdBrowseClick();
    }
    ASSERT_EQ(session->History->Entries.size(), 3);
    EXPECT_EQ(frmMain->cmdPrev->toolTip(), "two.mp3");
    frmMain->cmdPrevClick();
    frmMain->cmdPrevClick();
    EXPECT_EQ(session->History->Cursor, 0);
    EXPECT_EQ(frmMain->cmbFile->currentText(), Mp3("one"));
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_EQ(frmMain->cmdNext->toolTip(), "two.mp3");
    EXPECT_EQ(frmMain->cmdPrev->toolTip(), "beginning of bookmark history");
    session->PlayedSinceMark = false; // no "Bookmark progress?" before the switch

    dialogs->AnswerFile(Mp3("two"));
    frmMain->cmdBrowseClick();
    // Entries after the cursor stay; the new one goes to the end and the cursor with it.
    ASSERT_GE(session->History->Entries.size(), 4);
    EXPECT_EQ(session->History->Cursor, session->History->Entries.size() - 1);
    EXPECT_EQ(session->History->Entries.last().mid(12), Mp3("two"));
    EXPECT_EQ(frmMain->cmdNext->toolTip(), "end of bookmark history");
    finish();
}

TEST_F(ComebackTest, GoToOffsetAnswers) {
    StartProgram({Mp3("one"), "0"});
    AppOptions().PlayOn = false; // the length itself: the end of this file, not the next one
    ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    const int32_t length = mp->Length();
    struct Case {
        QString answer;
        int32_t playsFrom; // -1: refused
    };
    const Case cases[] = {
        {"abc", 0},
        {"-5", -1},
        {"0:09", 9000}, // minutes and seconds
        {"1:30", -1},   // a minute and a half: beyond the file
        {"0:00:07", 7000},
        {"0:75", -1},
        {"5000", 5000},
        {QString::number(length), length},
        {QString::number(length + 1), -1},
    };
    for (const Case& c : cases) {
        session->PlayFrom(3000);
        dialogs->asked.clear();
        dialogs->AnswerInput(c.answer);
        frmMain->mnuGoOffsetClick();
        ASSERT_FALSE(dialogs->asked.empty());
        EXPECT_EQ(dialogs->asked[0].title, "Seek Offset");
        EXPECT_EQ(dialogs->asked[0].text, "0 - " + QString::number(length));
        if (c.playsFrom < 0) {
            EXPECT_EQ(dialogs->TextsOf("message"),
                      QStringList({c.answer + " is not a valid value."}));
            EXPECT_NEAR(mp->Position(), 3000, 400) << c.answer.toStdString();
        } else {
            EXPECT_TRUE(dialogs->TextsOf("message").isEmpty()) << c.answer.toStdString();
            EXPECT_NEAR(mp->Position(), c.playsFrom, 300) << c.answer.toStdString();
        }
    }
    // Cancelled: nothing moves.
    session->PlayFrom(3000);
    dialogs->AnswerInput(std::nullopt);
    frmMain->mnuGoOffsetClick();
    EXPECT_NEAR(mp->Position(), 3000, 400);
    finish();
}

TEST_F(ComebackTest, ASoundBitePlaysAndClosesByItself) {
    StartProgram({Mp3("one"), "900", "2"});
    ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    EXPECT_GE(mp->Position(), 850);
    // The file box holds the file; it goes neither to the recent list nor to the history.
    EXPECT_EQ(frmMain->cmbFile->currentText(), Mp3("one"));
    EXPECT_EQ(frmMain->cmbFile->count(), 0);
    EXPECT_TRUE(session->History->Entries.isEmpty());
    EXPECT_TRUE(WaitFor(
        [this] { return frmMain->windowTitle() == "Narrabel - exiting in 1 seconds..."; }, 3000));
    EXPECT_TRUE(WaitFor([this] { return !frmMain->isVisible(); }, 3000));
    EXPECT_TRUE(app->Closing);
    EXPECT_TRUE(dialogs->asked.empty()); // never the resume question
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.opt"));
}

} // namespace
