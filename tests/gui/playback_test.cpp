// The playback strip driven through the real main window, offscreen, playing
// real files on a null sink of their own.

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/bookmarkcommands.h"
#include "bookmarks/tfrmbm.h"
#include "playback/audiomixer.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "support/bookfixture.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "tags/mp3.h"
#include "tags/writetag.h"
#include "ui/coverview.h"
#include "ui/qtdialogs.h"
#include "ui/widgets.h"
#include "util/options.h"

#include "playerfixtures.h"
#include "sinkrecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QSpontaneKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QWheelEvent>
#include <zlib.h>

using namespace playerfixtures;

// The sound these tests measure is their own, whatever other tests play.
[[maybe_unused]] const auto* const kSinkEnvironment = ::testing::AddGlobalTestEnvironment(
    new OwnSinkEnvironment(QStringLiteral("narrabel_playback")));

namespace {

class PlaybackTest : public WindowsTest {
protected:
    static void SetUpTestSuite() {
        EnsureApplication();
        files = new QTemporaryDir();
        ASSERT_TRUE(WriteWav(files->filePath("long.wav"), 40.0));
        ASSERT_TRUE(WriteWav(files->filePath("short.wav"), 2.5));
        ASSERT_TRUE(EncodeMp3(files->filePath("long.wav"), Long(), Mp3Kind::Cbr64));
        ASSERT_TRUE(EncodeMp3(files->filePath("short.wav"), Short(), Mp3Kind::Cbr64));
        testsupport::WriteAll(Broken(), QByteArray("not sound\n").repeated(100));
        // A book of its own: nothing else in its folder.
        QDir().mkpath(files->filePath("chapters"));
        QString error;
        ASSERT_TRUE(MakeChapterBook(ChapterBook(), {"Quiet start", "The tone", ""}, 8000, &error))
            << error.toStdString();
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
    void TearDown() override {
        AppOptions() = TOptions();
        // Closing after playing asks about the resume point; not the subject here.
        if (frmMain) session->PlayedSinceMark = false;
        WindowsTest::TearDown();
    }
    static QString Long() { return files->filePath("long.mp3"); }
    static QString Short() { return files->filePath("short.mp3"); }
    static QString Broken() { return files->filePath("broken.mp3"); }
    // 24 s in three chapters of 8 s: silence, a loud tone, silence.
    static QString ChapterBook() { return files->filePath("chapters/book.m4b"); }
    // Waits until the chapters of the file playing are read.
    bool ChaptersRead(int rows) const {
        return WaitFor([&] { return w()->lvChapters->model()->rowCount() == rows; });
    }

    TfrmMain* w() const { return frmMain; }
    QString Caption() const { return w()->cmdPlay->text(); }
    // What typing a whole path into the file box does (the program's own
    // setEditText calls are not the user's changes).
    void Type(const QString& text) const {
        w()->cmbFile->setEditText(text);
        emit w()->cmbFile->lineEdit()->textEdited(text);
    }
    int Mode() const { return mp->Mode(); }
    // Every text the status panel shows, while watch lives.
    void RecordStatus(QObject& watch, QStringList& said) const {
        QObject::connect(session, &TListeningSession::StatusChanged, &watch,
                         [&said](int panel, const QString& text) {
                             if (panel == 0) said << text;
                         });
    }
    // Starts the program with a file on its command line and waits until it
    // plays and its length is known.
    void StartPlaying(const QString& file, int32_t from) {
        StartProgram({file, QString::number(from)});
        ASSERT_TRUE(WaitFor([this] { return Mode() == TMediaPlayer::mpPlaying; }));
        ASSERT_TRUE(WaitFor([this] { return !mp->LengthPending(); }));
    }
    // Create Bookmark as its button does; the file the new bookmark was stored for.
    QString CreateBookmark() const {
        QString shown;
        WhenShown(frmBM, [this, &shown] {
            shown = frmBM->pnlFile->text();
            frmBM->chkResume->setChecked(false);
            frmBM->cmdOk->click();
        });
        w()->cmdBookmarkClick();
        const QString stored = w()->BookmarkFromNode(w()->tv->currentItem()).Rec.FilePath;
        EXPECT_EQ(shown, ExtractFileName(stored)) << "the dialog named the file it stores";
        return stored;
    }
    // A turn of the mouse wheel over a widget, as the window system delivers it.
    static void Wheel(QWidget* widget, int angle) {
        const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
        QWheelEvent e(at, widget->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&e);
        QApplication::sendEvent(widget, &e);
    }
    // A long file that is mostly one empty stretch after Long()'s 40 seconds:
    // counting its frames takes a good while (it is sparse: no disk used).
    static QString LongStretch(const QString& name) {
        const QString path = files->filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(testsupport::ReadAll(Long()));
        f.resize(qint64(64) << 20);
        return path;
    }
    static QTemporaryDir* files;
};

QTemporaryDir* PlaybackTest::files = nullptr;

TEST_F(PlaybackTest, PlayWithAnEmptyFileBoxDoesNothing) {
    StartProgram();
    w()->cmdPlayClick();
    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton); // hidden panel: the handler alone
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(0), "Stopped");
    EXPECT_FALSE(session->tmr->isActive());
    EXPECT_EQ(Mode(), TMediaPlayer::mpNotReady);
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(PlaybackTest, ControlsAreSetUpAsDesigned) {
    StartProgram();
    EXPECT_EQ(w()->sbPos->minimum(), 0);
    EXPECT_EQ(w()->sbPos->maximum(), 0);
    EXPECT_EQ(w()->sbPos->singleStep(), 2000);
    EXPECT_EQ(w()->sbPos->pageStep(), 10000);
    EXPECT_EQ(w()->sbPos->toolTip(), "File position (right-click to go to an exact position)");
    EXPECT_EQ(w()->cmbFile->maxVisibleItems(), 32);
    EXPECT_EQ(session->tmr->interval(), 1000);
    EXPECT_FALSE(w()->pnlPlay->isVisible());
}

TEST_F(PlaybackTest, CommandLineFilePlaysFromItsSeekPointAndTheTimerMovesTheBars) {
    StartPlaying(Long(), 900);
    EXPECT_TRUE(w()->pnlPlay->isVisible());
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_EQ(w()->StatusText(0), "Playing");
    EXPECT_EQ(w()->StatusText(2), "long.mp3");
    EXPECT_TRUE(session->tmr->isActive());
    EXPECT_TRUE(session->PlayedSinceMark);
    EXPECT_GE(mp->Position(), 850);
    EXPECT_LT(mp->Position(), 2500);
    const int32_t length = mp->Length();
    EXPECT_NEAR(length, 40000, 100);
    EXPECT_EQ(w()->sbPos->maximum(), length);
    EXPECT_EQ(w()->prg->maximum(), length);

    // Ticks later the bars and the time panel follow the device (a loaded
    // machine may deliver a tick late, so the panel may skip a second).
    ASSERT_TRUE(WaitFor([this] { return w()->StatusText(1) >= "00:02"; }, 6000))
        << w()->StatusText(1).toStdString();
    EXPECT_NEAR(w()->sbPos->value(), mp->Position(), 1100);
    EXPECT_EQ(w()->prg->value(), w()->sbPos->value());
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying) << "the timer's own bar move must not jump";
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(PlaybackTest, TheTimePanelShowsMinutesAndSecondsWithoutHours) {
    // Over an hour long: the same 40-second stretch of CBR frames, joined up.
    // A book of one file: the panel shows the file's time alone.
    QDir().mkpath(files->filePath("hour"));
    const QString hour = files->filePath("hour/hour.mp3");
    const QByteArray stretch = testsupport::ReadAll(Long());
    QByteArray book;
    for (int i = 0; i < 95; ++i)
        book += stretch;
    testsupport::WriteAll(hour, book);
    StartPlaying(hour, 3723000); // 1 h 2 min 3 s
    ASSERT_TRUE(WaitFor([this] { return w()->StatusText(1) != "00:00"; }, 4000));
    EXPECT_TRUE(w()->StatusText(1) == "02:03" || w()->StatusText(1) == "02:04")
        << w()->StatusText(1).toStdString();
    EXPECT_GE(w()->sbPos->value(), 3723000);
    // The clock beside it shows the hours, the whole length, and a speed other than 1.0.
    const QRegularExpression clock("^1:02:0[3-5] / 1:03:[0-5][0-9]$");
    EXPECT_TRUE(clock.match(w()->StatusText(4)).hasMatch()) << w()->StatusText(4).toStdString();
    session->SetSpeed(1.3);
    EXPECT_TRUE(w()->StatusText(4).endsWith(" (1.3x)")) << w()->StatusText(4).toStdString();
}

TEST_F(PlaybackTest, PlayAndPauseSwapCaptionsPanelsAndTheTimer) {
    StartPlaying(Long(), 0);
    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton);
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(0), "Paused");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPaused);
    EXPECT_FALSE(session->tmr->isActive());
    const int32_t paused = mp->Position();

    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton);
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_EQ(w()->StatusText(0), "Playing");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(session->tmr->isActive());
    EXPECT_NEAR(mp->Position(), paused, 100) << "resumed where it paused";
}

TEST_F(PlaybackTest, AFilePlayedToItsEndShowsStoppedAndPlayStartsAgainFromZero) {
    StartPlaying(Short(), 1500);
    AppOptions().PlayOn = false; // the designed stop
    ASSERT_TRUE(WaitFor([this] { return w()->StatusText(0) == "Stopped"; }, 5000));
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_FALSE(session->tmr->isActive());
    EXPECT_EQ(w()->StatusText(1), "00:02");
    EXPECT_EQ(mp->Position(), mp->Length());

    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton);
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_EQ(w()->StatusText(0), "Playing");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 500) << "starts again from 0";
    EXPECT_TRUE(session->tmr->isActive());
}

TEST_F(PlaybackTest, DroppingThePositionBarWhilePlayingJumps) {
    StartPlaying(Long(), 0);
    QScrollBar* bar = w()->sbPos;
    bar->setSliderDown(true);
    bar->setSliderPosition(25000);
    EXPECT_LT(mp->Position(), 5000) << "dragging alone does not jump";
    bar->setSliderDown(false); // the drop
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), 25000, 300);
    EXPECT_EQ(w()->StatusText(0), "Playing");

    // A click in the trough moves the bar by a page and jumps too.
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_NEAR(mp->Position(), bar->value(), 300);
}

TEST_F(PlaybackTest, MovingThePositionBarWhilePausedOrStoppedLeavesPlaybackAlone) {
    StartPlaying(Long(), 5000);
    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton); // pause
    const int32_t paused = mp->Position();
    w()->sbPos->setValue(30000);
    EXPECT_EQ(Mode(), TMediaPlayer::mpPaused);
    EXPECT_NEAR(mp->Position(), paused, 50);
    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton); // play: from the device's own place
    EXPECT_NEAR(mp->Position(), paused, 150);

    // Opened, not yet played (stopped): the bar moves, the device does not.
    Type(Short());
    ASSERT_EQ(Mode(), TMediaPlayer::mpStopped);
    w()->sbPos->setValue(1500);
    EXPECT_EQ(Mode(), TMediaPlayer::mpStopped);
    EXPECT_EQ(mp->Position(), 0);
}

TEST_F(PlaybackTest, ABadFileSaysErrorWithItsReasonAndNothingRemembersIt) {
    StartPlaying(Long(), 0);
    const int32_t length = mp->Length();
    auto expectError = [this](const QString& file, const char* how) {
        EXPECT_FALSE(mp->IsOpen()) << how;
        EXPECT_EQ(Caption(), "&Play") << how;
        EXPECT_FALSE(session->tmr->isActive()) << how;
        EXPECT_EQ(w()->StatusText(0), "Error") << how;
        EXPECT_EQ(w()->StatusText(2), ExtractFileName(file)) << how;
        EXPECT_FALSE(w()->sbPanels[2]->toolTip().isEmpty()) << how << ": the reason";
        EXPECT_TRUE(dialogs->TextsOf("message").isEmpty()) << how;
    };

    // Typed: the device is closed, the bar at 0 with its maxima as they were,
    // and the status bar says which file failed and why.
    Type(Broken()); // the change handler tries to open it
    EXPECT_FALSE(session->OpenCurrentFile());
    expectError(Broken(), "typed");
    EXPECT_TRUE(w()->pnlPlay->isVisible());
    EXPECT_EQ(w()->sbPos->value(), 0);
    EXPECT_EQ(w()->sbPos->maximum(), length);
    EXPECT_EQ(w()->prg->maximum(), length);
    EXPECT_FALSE(w()->Updating);
    // Play tries the file once more, and stays silent.
    QTest::mouseClick(w()->cmdPlay, Qt::LeftButton);
    expectError(Broken(), "Play");

    // Browsed to, a file that does not open or holds no sound (an image, a
    // text, nothing at all) gets no start bookmark, author, recent row or visit.
    const QString image = files->filePath("cover.mp3");
    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(image, "PNG"));
    const QString empty = files->filePath("empty.mp3");
    testsupport::WriteAll(empty, QByteArray());
    for (const QString& file : {image, Broken(), empty}) {
        dialogs->AnswerFile(file);
        QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
        expectError(file, qPrintable(ExtractFileName(file)));
        EXPECT_EQ(w()->tv->topLevelItemCount(), 0);
        EXPECT_EQ(w()->cmbFile->count(), 0);
        EXPECT_TRUE(session->History->Entries.isEmpty());
    }
    QFile::remove(image);
    QFile::remove(empty);

    // A good file clears the word; the hint names the file again (and then
    // the chapter: here, the file's place in its folder's book).
    Type(Short());
    EXPECT_EQ(w()->StatusText(0), "Stopped");
    EXPECT_EQ(w()->StatusText(2), "short.mp3");
    EXPECT_EQ(w()->sbPanels[2]->toolTip().section('\n', 0, 0), Short());

    // Emptying the file box returns to "no file".
    w()->cmbFile->setEditText(QString());
    EXPECT_TRUE(session->OpenCurrentFile());
    EXPECT_FALSE(w()->pnlPlay->isVisible());
    EXPECT_EQ(w()->sbPos->maximum(), 0);
    EXPECT_EQ(w()->sbPos->value(), 0);
    EXPECT_EQ(w()->prg->value(), 0);
    EXPECT_EQ(w()->StatusText(0), "Stopped");
    EXPECT_EQ(w()->StatusText(1), "00:00");
    EXPECT_EQ(w()->StatusText(2), "");
}

TEST_F(PlaybackTest, TypingAnExistingFileOpensItWithoutPlaying) {
    StartProgram();
    Type(files->filePath("long")); // not a file yet
    EXPECT_FALSE(w()->pnlPlay->isVisible());
    Type(Short());
    EXPECT_TRUE(w()->pnlPlay->isVisible());
    EXPECT_EQ(Mode(), TMediaPlayer::mpStopped);
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(2), "short.mp3");
    EXPECT_EQ(w()->StatusText(0), "Stopped") << "panel 0 waits for the next tick";
    EXPECT_FALSE(session->tmr->isActive());
}

TEST_F(PlaybackTest, BrowseOpensThePickedFileAndPlaysItFromZero) {
    StartProgram();
    struct Case {
        bool moreFormats;
        int filterIndex;
    };
    // The audio books' filter comes first and is the one shown; with the
    // option, all supported formats.
    for (const Case& c : {Case{false, 1}, Case{true, 3}}) {
        AppOptions().MoreFormats = c.moreFormats;
        dialogs->AnswerFile(std::nullopt); // cancelled: nothing happens
        QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
        EXPECT_EQ(dialogs->lastFilterIndex, c.filterIndex);
        EXPECT_EQ(dialogs->lastFilter, TListeningSession::DlgOpenFilter());
        EXPECT_TRUE(dialogs->lastFilter.section('|', 2 * c.filterIndex - 2, 2 * c.filterIndex - 2)
                        .startsWith(c.moreFormats ? "All supported formats" : "Audio books"));
        // An empty file box: the music folder, or home without one.
        EXPECT_EQ(dialogs->lastFolder, home + "/");
    }
    EXPECT_EQ(Mode(), TMediaPlayer::mpNotReady);
    // The audio books first, then the designed types as they were.
    EXPECT_EQ(TListeningSession::DlgOpenFilter(),
              "Audio books (*.m4b *.m4a *.aac *.opus *.ogg *.oga *.flac *.mp3)|"
              "*.m4b;*.m4a;*.aac;*.opus;*.ogg;*.oga;*.flac;*.mp3;"
              "*.M4B;*.M4A;*.AAC;*.OPUS;*.OGG;*.OGA;*.FLAC|"
              "MP3 files (*.mp3)|*.mp3|All supported formats (mp3,wav,avi,mpg/mpeg,mid/midi)|"
              "*.mp3;*.wav;*.avi;*.mpg;*.mpeg;*.mid;*.midi|All files (not advised)|*.*");

    dialogs->AnswerFile(Long());
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(w()->cmbFile->currentText(), Long());
    EXPECT_EQ(w()->cmbFile->findText(Long()), 0) << "goes into the recent list";
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 500);
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_EQ(w()->StatusText(0), "Playing");
    EXPECT_EQ(w()->StatusText(2), "long.mp3");

    // The next Browse starts in the current file's folder.
    dialogs->AnswerFile(std::nullopt);
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(dialogs->lastFolder, files->path() + "/");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
}

TEST_F(PlaybackTest, BrowseGivesANewFileOneStartBookmarkAndGoesToItNextTime) {
    StartProgram();
    auto bookmarkNodes = [this] {
        QStringList out;
        for (int i = 0; i < w()->tv->topLevelItemCount(); ++i) {
            QTreeWidgetItem* author = w()->tv->topLevelItem(i);
            for (int j = 0; j < author->childCount(); ++j)
                if (author->child(j)->text(0).contains("[0")) out << author->child(j)->text(0);
        }
        return out;
    };
    dialogs->AnswerFile(Long());
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(bookmarkNodes().size(), 1) << "a start bookmark";
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 500);

    dialogs->AnswerFile(Short());
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    ASSERT_EQ(bookmarkNodes().size(), 2);

    // Known now: Browse goes to its bookmark (the start bookmark, at 1 ms).
    dialogs->AnswerFile(Long());
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(bookmarkNodes().size(), 2) << "no second start bookmark";
    EXPECT_EQ(w()->StatusText(2), "long.mp3");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 500);
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
}

TEST_F(PlaybackTest, PickingARecentFilePlaysItFromZero) {
    StartProgram();
    w()->cmbFile->addItem(Short());
    w()->cmbFile->addItem(Long());
    w()->cmbFile->setCurrentIndex(1);
    emit static_cast<TFileBox*>(w()->cmbFile)->rowPicked();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_EQ(w()->StatusText(2), "long.mp3");
    EXPECT_LT(mp->Position(), 500);
    EXPECT_EQ(Caption(), "&Pause");
}

TEST_F(PlaybackTest, LeavingTheFileBoxIsNotAPickFromTheRecentList) {
    StartProgram();
    w()->cmbFile->addItem(Short());
    w()->cmbFile->addItem(Long());
    w()->cmbFile->setCurrentIndex(0);
    w()->cmbFile->lineEdit()->setFocus();
    Type(Long()); // names a row; opens it, plays nothing
    ASSERT_EQ(Mode(), TMediaPlayer::mpStopped);
    QTest::keyClick(w()->cmbFile->lineEdit(), Qt::Key_Return);
    w()->tv->setFocus();
    QTest::qWait(50);
    EXPECT_EQ(Mode(), TMediaPlayer::mpStopped) << "Enter or focus leaving does not play";
    EXPECT_EQ(Caption(), "&Play");

    // Closing with the focus in the file box is no pick either (and must not crash).
    w()->cmbFile->lineEdit()->setFocus();
    w()->cmbFile->setEditText(Short());
    CloseProgram();
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
}

TEST_F(PlaybackTest, BookmarkProgressIsAskedOnlyWhenItsConditionsHold) {
    StartPlaying(Long(), 0);
    struct Case {
        const char* what;
        bool playedSinceMark;
        int secondsAgo; // since the last mark, in tenths
        bool pause;     // pause the device first
        bool stop;      // stop it (opened, not playing)
        bool asked;
    };
    const Case cases[] = {
        {"nothing played since the mark", false, 600, false, false, false},
        {"playing, 20 s since the mark", true, 200, false, false, true},
        {"15.4 s rounds to 15: not more than 15", true, 154, false, false, false},
        {"15.6 s rounds to 16", true, 156, false, false, true},
        {"paused counts too", true, 600, true, false, true},
        {"a stopped device is not asked about", true, 600, false, true, false},
    };
    for (const Case& c : cases) {
        if (c.stop) {
            Type(Short());
            ASSERT_EQ(Mode(), TMediaPlayer::mpStopped);
        } else if (Mode() != TMediaPlayer::mpPlaying) {
            session->PlayFrom(0);
        }
        if (c.pause) QTest::mouseClick(w()->cmdPlay, Qt::LeftButton);
        session->PlayedSinceMark = c.playedSinceMark;
        const QDateTime mark = QDateTime::currentDateTime().addMSecs(-c.secondsAgo * 100);
        session->LastMarkTime = mark;
        dialogs->asked.clear();
        if (c.asked) dialogs->AnswerConfirm(false);
        session->AskBookmarkProgress();
        EXPECT_EQ(dialogs->TextsOf("confirm"),
                  c.asked ? QStringList({"Bookmark progress?"}) : QStringList())
            << c.what;
        if (c.playedSinceMark) {
            EXPECT_GE(session->LastMarkTime.msecsTo(QDateTime::currentDateTime()), 0) << c.what;
            EXPECT_LT(session->LastMarkTime.msecsTo(QDateTime::currentDateTime()), 2000) << c.what;
        } else {
            EXPECT_EQ(session->LastMarkTime, mark) << c.what << ": unchanged";
        }
        EXPECT_FALSE(dialogs->Pending()) << c.what;
    }
}

TEST_F(PlaybackTest, BrowseAsksAboutProgressBeforeSwitching) {
    StartPlaying(Long(), 0);
    session->LastMarkTime = QDateTime::currentDateTime().addSecs(-60);
    dialogs->AnswerFile(Short());
    dialogs->AnswerConfirm(false);
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(dialogs->TextsOf("confirm"), QStringList({"Bookmark progress?"}));
    EXPECT_EQ(w()->StatusText(2), "short.mp3");
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
}

TEST_F(PlaybackTest, TheFileBoxNamesTheFileThatPlaysWhateverTheWheelOrArrowsDo) {
    const QString third = files->filePath("third.mp3");
    QFile::copy(Short(), third);
    QDir().mkpath(dataFolder());
    testsupport::WriteAll(dataFolder() + "Narrabel.hst",
                          (Short() + "\r\n" + Long() + "\r\n" + third).toUtf8());
    StartPlaying(Long(), 0);
    QComboBox* box = w()->cmbFile;
    ASSERT_EQ(box->count(), 3);

    // The wheel over the box without its focus changes nothing and takes no focus.
    QApplication::setActiveWindow(w());
    w()->tv->setFocus();
    ASSERT_TRUE(w()->tv->hasFocus());
    Wheel(box, -120);
    Wheel(box, -120);
    EXPECT_FALSE(box->hasFocus());
    EXPECT_EQ(box->currentText(), Long());
    EXPECT_EQ(mp->FileName(), Long());
    EXPECT_EQ(CreateBookmark(), Long());

    // With the focus, the wheel or an arrow key picks the row it reaches, from
    // the row the text names: that file plays.
    struct Step {
        const char* how;
        int key;   // or 0 for the wheel
        int angle; // away from the user is up
        QString plays;
    };
    const Step steps[] = {
        {"wheel up", 0, 120, Short()},
        {"wheel down", 0, -120, Long()},
        {"half a notch of a fine wheel", 0, -60, Long()},
        {"the other half", 0, -60, third},
        {"Up", Qt::Key_Up, 0, Long()},
        {"Page Up", Qt::Key_PageUp, 0, Short()},
        {"Up on the first row", Qt::Key_Up, 0, Short()},
        {"Down", Qt::Key_Down, 0, Long()},
    };
    for (const Step& s : steps) {
        QApplication::setActiveWindow(w());
        box->setFocus();
        ASSERT_TRUE(box->hasFocus()) << s.how;
        if (s.key)
            QTest::keyClick(box, Qt::Key(s.key));
        else
            Wheel(box, s.angle);
        EXPECT_EQ(box->currentText(), s.plays) << s.how;
        EXPECT_EQ(mp->FileName(), s.plays) << s.how;
        EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying) << s.how;
        EXPECT_EQ(w()->StatusText(2), ExtractFileName(s.plays)) << s.how;
        EXPECT_EQ(CreateBookmark(), s.plays) << s.how;
    }
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
}

TEST_F(PlaybackTest, AThumbHeldThroughATickStaysWhereItIsAndTheDropJumps) {
    StartPlaying(Long(), 0);
    QScrollBar* bar = w()->sbPos;
    QObject tickWatch;
    int ticks = 0;
    QObject::connect(session->tmr, &QTimer::timeout, &tickWatch, [&ticks] { ++ticks; });
    bar->setSliderDown(true);
    bar->setSliderPosition(25000);
    ASSERT_TRUE(WaitFor([&ticks] { return ticks >= 1; }, 3000));
    EXPECT_EQ(bar->sliderPosition(), 25000) << "the tick left the held thumb alone";
    EXPECT_GT(w()->prg->value(), 0) << "the progress bar still follows";
    EXPECT_LT(mp->Position(), 5000);
    bar->setSliderDown(false); // the drop
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), 25000, 300);
}

TEST_F(PlaybackTest, ListeningStartedByPlayPrevOrNextAsksToKeepItsPlace) {
    struct Case {
        const char* how;
        std::function<void()> start;
    };
    const Case cases[] = {
        {"a typed path and Play",
         [this] {
             Type(Long());
             w()->cmdPlayClick();
         }},
        {"Prev",
         [this] {
             session->History->Add(Long(), 1);
             session->History->Add(Short(), 1);
             w()->cmdPrevClick();
         }},
        {"Next",
         [this] {
             session->History->Add(Short(), 1);
             session->History->Add(Long(), 1);
             session->History->GoPrev();
             w()->cmdNextClick();
         }},
    };
    for (const Case& c : cases) {
        StartProgram();
        c.start();
        ASSERT_EQ(Mode(), TMediaPlayer::mpPlaying) << c.how;
        EXPECT_EQ(mp->FileName(), Long()) << c.how;
        ASSERT_TRUE(WaitFor([this] { return mp->Position() > 300; })) << c.how;
        EXPECT_TRUE(session->PlayedSinceMark) << c.how;

        // Switching files after a while offers to bookmark the progress ...
        session->LastMarkTime = QDateTime::currentDateTime().addSecs(-60);
        dialogs->AnswerConfirm(false);
        session->AskBookmarkProgress();
        // ... and closing offers to keep the place.
        dialogs->AnswerConfirm(false);
        CloseProgram();
        EXPECT_EQ(dialogs->TextsOf("confirm"),
                  QStringList({"Bookmark progress?", "Update Resume point before exiting?"}))
            << c.how;
        EXPECT_FALSE(dialogs->Pending()) << c.how;
        dialogs->asked.clear();
    }
}

TEST_F(PlaybackTest, ABookPlaysOnThroughItsFilesAndDiscFoldersAndStopsAfterTheLast) {
    // "10" comes after "2", and the second disc after the first.
    const QString book = home + "/Book";
    const QStringList order = {book + "/CD1/2.mp3", book + "/CD1/10.mp3", book + "/CD 2/1.mp3"};
    for (const QString& f : order) {
        QDir().mkpath(ExtractFilePath(f));
        ASSERT_TRUE(QFile::copy(Short(), f));
    }
    testsupport::WriteAll(book + "/CD 2/notes.txt", "not a part of the book");
    StartProgram();
    dialogs->AnswerFile(order[0]);
    w()->cmdBrowseClick();
    ASSERT_EQ(Mode(), TMediaPlayer::mpPlaying);

    // On its own into the next file, from its start, with nothing asked.
    ASSERT_TRUE(WaitFor([&] { return mp->FileName() == order[1]; }, 8000));
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 1000);
    EXPECT_EQ(w()->cmbFile->currentText(), order[1]);
    EXPECT_EQ(w()->StatusText(2), "10.mp3");
    EXPECT_EQ(Caption(), "&Pause");
    EXPECT_TRUE(session->PlayedSinceMark) << "its start bookmark is no mark of the place";

    // "End of this file" pauses there, without a fade and without playing on;
    // Play goes on into the book's next file (the next disc) and, within the
    // grace, sets the same timer again. A tick always due, as in a pause at a
    // chapter's end, is never taken for the book's end.
    session->tmr->setInterval(1);
    QStringList said;
    QObject watch;
    RecordStatus(watch, said);
    session->SetSleep(TSleepTimer::EndOfFile);
    EXPECT_EQ(w()->StatusText(3), "Sleep: end of file");
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Paused"; }, 8000))
        << w()->StatusText(0).toStdString() << " in " << mp->FileName().toStdString() << " at "
        << mp->Position() << " of " << mp->Length() << " ms, mode " << Mode() << ", "
        << mp->LastError().toStdString();
    EXPECT_FALSE(said.contains("Stopped")) << said.join(", ").toStdString();
    session->tmr->setInterval(1000);
    EXPECT_EQ(mp->FileName(), order[1]);
    EXPECT_EQ(mp->Position(), mp->Length());
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(3), "Sleep");
    EXPECT_DOUBLE_EQ(mp->StreamVolume(), 1.0);
    w()->cmdPlayClick();
    EXPECT_EQ(mp->FileName(), order[2]);
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_EQ(session->Sleep.Choice(), TSleepTimer::EndOfFile);
    session->SetSleep(TSleepTimer::Off);

    // After the last file playback stops as designed.
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Stopped"; }, 8000));
    EXPECT_EQ(mp->FileName(), order[2]);
    EXPECT_EQ(Caption(), "&Play");

    // Each file was remembered as a pick from the recent list is; the book
    // kept one row of the recent list.
    EXPECT_EQ(w()->cmbFile->count(), 1);
    EXPECT_EQ(w()->cmbFile->itemText(0), order[2]);
    QStringList visited;
    for (const QString& line : session->History->Entries)
        visited << TBMHistory::EntryPath(line);
    EXPECT_EQ(visited, order);
    for (const QString& f : order)
        EXPECT_TRUE(HasLiveBookmarks(app->StorePath, f)) << f.toStdString();
    EXPECT_EQ(dialogs->asked.size(), 1u) << "only the open dialog";
}

TEST_F(PlaybackTest, TheSleepTimerFadesTheStreamPausesAndAPlaySoonAfterStartsItAgain) {
    StartPlaying(Long(), 5000);
    TMixerVolume master;
    program->Mixer.GetVolume(0, -1, master);
    // Shortened: a "minute" of 300 ms, a fade of 1.5 s.
    session->Sleep.MinuteMs = 300;
    session->Sleep.FadeMs = 1500;
    QList<double> levels; // the stream's level while the timer runs
    QObject watch;
    QObject::connect(&session->Sleep, &TSleepTimer::VolumeChanged, &watch,
                     [&] { levels << mp->StreamVolume(); });
    session->SetSleep(5);
    EXPECT_EQ(w()->StatusText(3), "Sleep 0:02");
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Paused"; }, 6000));
    EXPECT_EQ(Mode(), TMediaPlayer::mpPaused);
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(3), "Sleep");
    // It faded down step by step, and the level is whole again for the next Play.
    const auto between =
        std::count_if(levels.begin(), levels.end(), [](double v) { return v > 0.05 && v < 0.95; });
    EXPECT_GE(between, 5) << levels.size();
    for (int i = 1; i + 1 < levels.size(); ++i)
        EXPECT_LE(levels[i], levels[i - 1]);
    EXPECT_DOUBLE_EQ(mp->StreamVolume(), 1.0);
    TMixerVolume after;
    program->Mixer.GetVolume(0, -1, after);
    EXPECT_EQ(after.Left, master.Left) << "never the master volume";

    // Play within the grace: the same timer again, from a little before the
    // fade began.
    const int32_t paused = mp->Position();
    w()->cmdPlayClick();
    EXPECT_EQ(session->Sleep.Choice(), 5);
    EXPECT_NEAR(mp->Position(), paused - 1500, 300);
    // Past the grace, Play plays and the timer stays off.
    session->Sleep.GraceMs = 0;
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Paused"; }, 6000));
    QTest::qWait(20);
    w()->cmdPlayClick();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_EQ(session->Sleep.Choice(), TSleepTimer::Off);
}

TEST_F(PlaybackTest, ChaptersShowBesideTheTreeAndTheKeysMoveThroughThemWithoutAReopen) {
    StartPlaying(ChapterBook(), 9000);
    ASSERT_TRUE(ChaptersRead(3));
    QAbstractItemModel* list = w()->lvChapters->model();
    auto cell = [&](int row, int col) { return list->index(row, col).data().toString(); };
    EXPECT_EQ(cell(0, 0), "Quiet start");
    EXPECT_EQ(cell(2, 0), "Chapter 3");
    EXPECT_EQ(cell(1, 1), "0:08");
    EXPECT_EQ(cell(1, 2), "0:08");
    auto highlighted = [&] {
        int bold = -1;
        for (int r = 0; r < list->rowCount(); ++r)
            if (list->index(r, 0).data(Qt::FontRole).value<QFont>().bold()) bold = r;
        return bold;
    };
    EXPECT_EQ(highlighted(), 1);
    EXPECT_TRUE(w()->lvChapters->isVisible());
    EXPECT_EQ(w()->lvChapters->parentWidget(), w()->pnlSide);
    EXPECT_EQ(static_cast<TPositionBar*>(w()->sbPos)->Marks(), QVector<int>({8000, 16000}));
    const QRegularExpression clock("^Ch 2/3 0:0[1-3] / 0:08 \u00b7 0:(09|10|11) / 0:24$");
    EXPECT_TRUE(clock.match(w()->StatusText(4)).hasMatch()) << w()->StatusText(4).toStdString();
    EXPECT_EQ(w()->sbPanels[2]->toolTip(), ChapterBook() + "\nChapter 2 of 3: The tone");
    EXPECT_TRUE(w()->cmdPlay->toolTip().contains(
        "Ctrl+T sleep timer\nCtrl+PgUp previous chapter, Ctrl+PgDown next chapter"));

    // From the file box: the keys are the window's, and every step is a seek
    // in the open file (a reopen would measure it again).
    w()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w()));
    QLineEdit* box = w()->cmbFile->lineEdit();
    box->setFocus();
    QSignalSpy reopened(mp, &TPlayerDevice::LengthKnown);
    const struct {
        Qt::Key key;
        int32_t from; // -1: where the step before landed
        int32_t to;
        bool playing;
    } steps[] = {
        {Qt::Key_PageDown, -1, 16000, true},
        {Qt::Key_PageUp, 20000, 16000, true}, // well into a chapter: back to its start
        {Qt::Key_PageUp, -1, 8000, true},     // at its start: the chapter before
        {Qt::Key_PageUp, -1, 0, true},
        {Qt::Key_PageUp, -1, 0, true},       // the book has no file before
        {Qt::Key_PageDown, -1, 8000, false}, // paused: moves and stays paused
        {Qt::Key_PageDown, -1, 16000, false},
        {Qt::Key_PageDown, -1, 16000, false}, // the last chapter of the book's last file
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.to);
        if (!st.playing && Mode() == TMediaPlayer::mpPlaying) w()->cmdPlayClick();
        if (st.from >= 0) session->SeekInFile(st.from);
        QTest::keyClick(box, st.key, Qt::ControlModifier);
        EXPECT_NEAR(mp->Position(), st.to, 300);
        EXPECT_EQ(Mode() == TMediaPlayer::mpPlaying, st.playing);
        EXPECT_TRUE(WaitFor([&] { return highlighted() == st.to / 8000; }));
    }
    EXPECT_EQ(reopened.count(), 0);
    EXPECT_EQ(box->text(), ChapterBook());

    // Enter on a row plays it from its start.
    w()->lvChapters->setFocus();
    w()->lvChapters->setCurrentIndex(list->index(1, 0));
    QTest::keyClick(w()->lvChapters, Qt::Key_Return);
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), 8000, 300);
    EXPECT_EQ(reopened.count(), 0);

    // Hidden from the window, and still hidden at the next start.
    QTest::mouseClick(w()->cmdChapters, Qt::LeftButton);
    EXPECT_FALSE(w()->lvChapters->isVisible());
    EXPECT_FALSE(w()->pnlSide->isVisible());
    session->PlayedSinceMark = false;
    CloseProgram();
    EXPECT_TRUE(testsupport::ReadAll(dataFolder() + "Narrabel.ini").contains("ChapterList=false"));
    StartProgram();
    EXPECT_FALSE(w()->cmdChapters->isChecked());
    EXPECT_FALSE(w()->pnlSide->isVisible());
}

TEST_F(PlaybackTest, EndOfThisChapterPausesWhereTheChapterEndsWithoutASoundOfTheNext) {
    StartPlaying(ChapterBook(), 4500);
    ASSERT_TRUE(ChaptersRead(3));
    // Offered beside "End of this file".
    QStringList captions;
    for (QAction* a : w()->popSleep->actions())
        if (!a->isSeparator()) captions << a->text();
    EXPECT_EQ(captions.mid(captions.size() - 2),
              QStringList({"End of this chapter", "End of this file"}));
    SinkRecorder sink;
    ASSERT_TRUE(sink.Start(OwnSinkEnvironment::Monitor()));
    // A tick always due: the pause at the chapter's end must hold it off while
    // its status lets events run, or it takes the stop for the file's end.
    session->tmr->setInterval(1);
    QStringList said;
    QObject watch;
    RecordStatus(watch, said);
    w()->popSleep->findChild<QAction*>("mnuSleepChapter")->trigger();
    EXPECT_EQ(w()->StatusText(3), "Sleep: end of chapter");
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Paused"; }, 12000))
        << "at " << mp->Position() << " ms, mode " << Mode() << ", stop " << mp->StopPoint() << ", "
        << w()->StatusText(0).toStdString() << ", " << mp->LastError().toStdString();
    EXPECT_EQ(mp->Position(), 8000) << "to the millisecond";
    EXPECT_FALSE(said.contains("Stopped")) << said.join(", ").toStdString();
    EXPECT_EQ(Caption(), "&Play");
    EXPECT_EQ(w()->StatusText(3), "Sleep");
    EXPECT_DOUBLE_EQ(mp->StreamVolume(), 1.0) << "no fade";
    QTest::qWait(600); // what the output still had reaches the monitor
    const std::vector<float>& heard = sink.Stop();
    // The next chapter's tone (about -9 dBFS) never sounded.
    EXPECT_LT(SinkRecorder::Peak(heard), 0.05f);

    // Play goes on into the next chapter from its start and, within the
    // grace, stops at its end.
    w()->cmdPlayClick();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), 8000, 300) << "from its start, no rewind";
    EXPECT_EQ(session->Sleep.Choice(), TSleepTimer::EndOfChapter);
    ASSERT_TRUE(WaitFor([&] { return mp->Position() > 8300; }));
    session->SeekInFile(14500); // still the same chapter
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(0) == "Paused"; }, 12000))
        << "at " << mp->Position() << " ms, mode " << Mode() << ", stop " << mp->StopPoint()
        << ", sleep " << session->Sleep.Choice() << ", " << w()->StatusText(0).toStdString() << ", "
        << mp->LastError().toStdString();
    EXPECT_EQ(mp->Position(), 16000);
    // Called off, the chapter plays through.
    session->Sleep.GraceMs = 0;
    w()->cmdPlayClick();
    session->SeekInFile(6500);
    session->SetSleep(TSleepTimer::EndOfChapter);
    EXPECT_EQ(mp->StopPoint(), 8000);
    session->SetSleep(TSleepTimer::Off);
    EXPECT_EQ(mp->StopPoint(), -1);
    EXPECT_TRUE(WaitFor([&] { return mp->Position() > 8500; }, 10000))
        << "at " << mp->Position() << " ms, mode " << Mode() << ", "
        << w()->StatusText(0).toStdString() << ", " << mp->LastError().toStdString();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
}

TEST_F(PlaybackTest, ABookOfFilesHasItsFilesAsChaptersInListeningOrder) {
    const QString book = home + "/Files Book";
    QDir().mkpath(book);
    // The title tag names a file; a file without one is known by its name.
    const QString one = testsupport::MakeMp3(book + "/2.mp3", {"A", "B", "1", "The First"}, 200);
    const QString two = testsupport::MakeMp3(book + "/10.mp3", {"A", "B", "2", ""}, 200);
    // A file of another format is titled by its own tag.
    testsupport::BookSpec opus{"A", "B", "Third", "3", 5};
    const QString three = testsupport::MakeBook(book + "/11.opus", opus);
    ASSERT_FALSE(three.isEmpty());
    StartPlaying(one, 0);
    ASSERT_TRUE(ChaptersRead(3));
    QAbstractItemModel* list = w()->lvChapters->model();
    QStringList titles, starts;
    for (int r = 0; r < 3; ++r) {
        titles << list->index(r, 0).data().toString();
        starts << list->index(r, 1).data().toString();
    }
    EXPECT_EQ(titles, QStringList({"The First", "10", "Third"}));
    EXPECT_EQ(starts, QStringList({"0:00", "0:05", "0:10"})) << "from the book's start";
    EXPECT_TRUE(static_cast<TPositionBar*>(w()->sbPos)->Marks().isEmpty());

    // The next chapter is the next file, from its start; the time panel shows
    // the book's time beside the file's.
    session->NextChapter();
    EXPECT_EQ(mp->FileName(), two);
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_EQ(session->Chapters.Current(), 1);
    ASSERT_TRUE(WaitFor([&] { return w()->StatusText(4).contains("book 0:0"); }));
    EXPECT_TRUE(w()->StatusText(4).startsWith("Ch 2/3 \u00b7 0:0"))
        << w()->StatusText(4).toStdString();
    // Just begun: Previous is the file before.
    session->PreviousChapter();
    EXPECT_EQ(mp->FileName(), one);
    ASSERT_TRUE(WaitFor([&] { return session->Chapters.Loaded(); }));
    // A double click on the last row plays it (press, release, double click,
    // release, as the window system sends them).
    QWidget* rows = w()->lvChapters->viewport();
    const QPoint at = w()->lvChapters->visualRect(list->index(2, 0)).center();
    QTest::mouseClick(rows, Qt::LeftButton, {}, at);
    QTest::mouseDClick(rows, Qt::LeftButton, {}, at);
    QTest::mouseRelease(rows, Qt::LeftButton, {}, at);
    EXPECT_EQ(mp->FileName(), three);
    EXPECT_EQ(w()->cmbFile->currentText(), three);
    EXPECT_EQ(session->Chapters.Current(), 2);
}

TEST_F(PlaybackTest, AFailedSaveOfTheOpenFileLeavesPlaybackAsItWas) {
    const QString file = home + "/chapter.mp3";
    ASSERT_TRUE(QFile::copy(Long(), file));
    StartPlaying(file, 8000);
    for (const bool paused : {false, true}) {
        const char* how = paused ? "paused" : "playing";
        if (paused) w()->cmdPlayClick();
        const int32_t before = mp->Position();
        QFile::setPermissions(file, QFile::ReadOwner);
        ReadTag(file);
        CurrentTag().Title = "New";
        dialogs->asked.clear();
        WriteTag(*session, file);
        EXPECT_EQ(dialogs->TextsOf("message"),
                  QStringList({"Error saving tag info.\nThe file is read-only."}))
            << how;
        // The same file at the same place, playing or not as before, and the
        // controls say so.
        EXPECT_EQ(mp->FileName(), file) << how;
        ASSERT_TRUE(mp->IsOpen()) << how;
        EXPECT_NEAR(mp->Position(), before, 300) << how;
        EXPECT_EQ(Mode() == TMediaPlayer::mpPlaying, !paused) << how;
        EXPECT_EQ(Caption(), paused ? "&Play" : "&Pause") << how;
        EXPECT_EQ(w()->StatusText(0), paused ? "Paused" : "Playing") << how;
        EXPECT_EQ(session->tmr->isActive(), !paused) << how;
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
    // Play goes on from there.
    const int32_t at = mp->Position();
    w()->cmdPlayClick();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_NEAR(mp->Position(), at, 300);
}

TEST_F(PlaybackTest, AJumpThatFailsToOpenLeavesNoStartPointForTheNextFile) {
    StartProgram();
    Type(Broken());
    EXPECT_THROW(session->PlayFrom(20000), std::exception);
    Type(Long()); // opens it, plays nothing
    ASSERT_EQ(Mode(), TMediaPlayer::mpStopped);
    w()->cmdPlayClick();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 1000) << "from its own start, not the failed jump's point";
}

TEST_F(PlaybackTest, ALongFileIsMeasuredWithoutHoldingUpTheWindow) {
    const int32_t exact = int32_t(TMediaPlayer::MpegAudioLengthMs(Long()));
    StartProgram();
    Type(LongStretch("stretch1.mp3"));
    // The window got its file back at once; the frames are counted elsewhere.
    ASSERT_TRUE(mp->LengthPending());
    EXPECT_TRUE(w()->pnlPlay->isVisible());
    w()->cmdPlayClick();
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    ASSERT_TRUE(WaitFor([this] { return !mp->LengthPending(); }, 60000));
    EXPECT_EQ(mp->Length(), exact);
    EXPECT_EQ(w()->sbPos->maximum(), exact);
    EXPECT_EQ(w()->prg->maximum(), exact);
    EXPECT_EQ(Mode(), TMediaPlayer::mpPlaying);
    EXPECT_LT(mp->Position(), 5000);

    // A file replaced, or closed, before its count ends never gets that count.
    struct Case {
        const char* what;
        QString next; // the file box's text then
        int32_t max;
    };
    const Case cases[] = {
        {"replaced", Short(), int32_t(TMediaPlayer::MpegAudioLengthMs(Short()))},
        {"closed", QString(), 0},
    };
    int n = 2;
    for (const Case& c : cases) {
        Type(LongStretch(QStringLiteral("stretch%1.mp3").arg(n++)));
        ASSERT_TRUE(mp->LengthPending()) << c.what;
        w()->cmbFile->setEditText(c.next);
        session->OpenCurrentFile();
        // Every count has ended (or been called off) and said what it had to.
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(60000)) << c.what;
        QCoreApplication::processEvents();
        EXPECT_EQ(w()->sbPos->maximum(), c.max) << c.what;
        EXPECT_EQ(w()->prg->maximum(), std::max(c.max, 1)) << c.what;
        if (!c.next.isEmpty()) {
            EXPECT_EQ(mp->Length(), c.max) << c.what;
        }
    }

    // Closing the program with a count under way: the count is called off and
    // never reports to the window that is gone.
    Type(LongStretch(QStringLiteral("stretch%1.mp3").arg(n)));
    ASSERT_TRUE(mp->LengthPending());
    CloseProgram();
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(60000));
    QCoreApplication::processEvents();
}

TEST_F(PlaybackTest, TheOpenDialogShowsEachFileTypeOnce) {
    StartProgram();
    QtDialogs real;
    InstallDialogs(&real); // the real dialog this time
    QStringList shown;
    QString selected;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(
            WaitFor([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        for (int i = 0; types && i < types->count(); ++i)
            shown << types->itemText(i);
        selected = types ? types->currentText() : QString();
        dialog->reject();
    });
    AppOptions().MoreFormats = true;
    w()->cmdBrowseClick();
    InstallDialogs(dialogs);
    EXPECT_EQ(shown, QStringList({"Audio books (*.m4b *.m4a *.aac *.opus *.ogg *.oga *.flac *.mp3)",
                                  "MP3 files (*.mp3)",
                                  "All supported formats (mp3,wav,avi,mpg/mpeg,mid/midi)",
                                  "All files (not advised)"}));
    EXPECT_EQ(selected, "All supported formats (mp3,wav,avi,mpg/mpeg,mid/midi)");
    EXPECT_EQ(ToQtNameFilters(TListeningSession::DlgOpenFilter()).last(),
              "All files (not advised) (*)")
        << "every file, names without a dot too";
    EXPECT_EQ(Mode(), TMediaPlayer::mpNotReady);
}

} // namespace

namespace {

TEST_F(PlaybackTest, SpeedKeysStepTheRateInTheWholeWindowAndItHoldsAcrossFiles) {
    StartProgram();
    w()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w()));
    QLineEdit* box = w()->cmbFile->lineEdit();
    box->setFocus();
    auto press = [&](Qt::Key key, int times = 1) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(box, key, Qt::ControlModifier);
    };
    struct Step {
        Qt::Key key;
        int times;
        const char* hint;
    };
    const Step steps[] = {
        {Qt::Key_BracketRight, 1, "Speed 1.1x"}, {Qt::Key_BracketRight, 4, "Speed 1.5x"},
        {Qt::Key_Backslash, 1, "Speed 1.0x"},    {Qt::Key_BracketRight, 30, "Speed 3.0x"},
        {Qt::Key_BracketLeft, 30, "Speed 0.5x"}, {Qt::Key_BracketLeft, 1, "Speed 0.5x"},
    };
    for (const Step& s : steps) {
        press(s.key, s.times);
        EXPECT_TRUE(w()->cmdPlay->toolTip().startsWith(s.hint)) << s.hint;
    }
    EXPECT_EQ(box->text(), "") << "the keys never type into the file box";
    EXPECT_EQ(w()->StatusText(0), "Stopped") << "the panels stay as designed";

    // Chosen before any file and kept through every reopening: the file's own
    // time runs twice as fast as the clock.
    session->SetSpeed(2.0);
    Type(Long());
    w()->cmdPlayClick();
    session->PlayFrom(4000);
    // The sound output may take a moment to start running.
    ASSERT_TRUE(WaitFor([this] { return mp->Position() >= 4500; }, 10000));
    QElapsedTimer clock;
    clock.start();
    const int32_t from = mp->Position();
    QTest::qWait(2500);
    EXPECT_NEAR(double(mp->Position() - from) / double(clock.elapsed()), 2.0, 0.3);
    EXPECT_DOUBLE_EQ(session->Speed(), 2.0);
}

TEST_F(PlaybackTest, AFirstStartHasTheIconAndAnEmptyTreeSaysWhatToDoUntilItHasANode) {
    StartProgram();
    EXPECT_FALSE(w()->windowIcon().pixmap(16, 16).isNull()) << "the built-in icon, drawn";
    QLabel* hint = w()->findChild<QLabel*>("lblTreeHint");
    ASSERT_TRUE(hint);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), "Press Browse to open a book, or Import to add a whole folder.");
    dialogs->AnswerFile(Short());
    QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
    ASSERT_GT(w()->tv->topLevelItemCount(), 0);
    EXPECT_FALSE(hint->isVisible());
    w()->tv->clear();
    EXPECT_TRUE(hint->isVisible());
}

// A PNG whose header declares a picture far beyond any cover (100,000 pixels
// square, 30 GB decoded), with a little of its data.
QByteArray HugePngHeader() {
    const auto be32 = [](uint32_t v) {
        QByteArray b;
        for (int k = 3; k >= 0; --k)
            b += char((v >> (8 * k)) & 0xFF);
        return b;
    };
    const auto chunk = [&](const QByteArray& type, const QByteArray& data) {
        const QByteArray body = type + data;
        return be32(uint32_t(data.size())) + body +
               be32(uint32_t(
                   crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    };
    const QByteArray header = be32(100000) + be32(100000) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
           chunk("IDAT", qCompress(QByteArray(300001, '\0')).mid(4));
}

// The cover of the book playing shows beside the tree: embedded, or an image
// file in the file's folder or its book folder. Too large, broken or none:
// nothing shows, and the column goes. A book dropped on the window plays.
TEST_F(PlaybackTest, TheBookPlayingShowsItsCoverBesideTheTree) {
    if (!testsupport::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const QString books = home + "/books";
    for (const char* folder : {"Earthsea", "Persuasion/CD 1", "Huge", "Broken", "Giant", "Plain"})
        QDir().mkpath(books + "/" + folder);
    testsupport::BookSpec spec;
    spec.Artist = "Ursula K. Le Guin";
    spec.Cover = true; // 160 x 200
    spec.Seconds = 20;
    const QString m4b = testsupport::MakeBook(books + "/Earthsea/Earthsea.m4b", spec);
    ASSERT_FALSE(m4b.isEmpty());
    QImage folderImage(120, 90, QImage::Format_RGB32);
    folderImage.fill(Qt::darkGreen);
    ASSERT_TRUE(folderImage.save(books + "/Persuasion/Folder.JPG", "JPEG"));
    testsupport::WriteAll(books + "/Huge/cover.jpg", QByteArray(20 << 20, '\xff'));
    testsupport::WriteAll(books + "/Broken/cover.png", QByteArray("\x89PNG broken").repeated(50));
    testsupport::WriteAll(books + "/Giant/cover.png", HugePngHeader());
    const struct {
        QString file;
        QSize cover; // empty: none shows
    } cases[] = {
        {m4b, {160, 200}},
        {testsupport::MakeMp3(books + "/Persuasion/CD 1/01.mp3", {}, 400), {120, 90}},
        {testsupport::MakeMp3(books + "/Huge/01.mp3", {}, 400), {}},
        {testsupport::MakeMp3(books + "/Broken/01.mp3", {}, 400), {}},
        {testsupport::MakeMp3(books + "/Giant/01.mp3", {}, 400), {}},
        {testsupport::MakeMp3(books + "/Plain/01.mp3", {}, 400), {}},
    };
    StartProgram();
    EXPECT_FALSE(w()->pnlSide->isVisible());

    // The first book comes by a drop on the window; a text file is not taken.
    testsupport::WriteAll(home + "/notes.txt", "not a book");
    QMimeData text, book;
    text.setUrls({QUrl::fromLocalFile(home + "/notes.txt")});
    book.setUrls({QUrl::fromLocalFile(m4b)});
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &book, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &book, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w(), &drop);
    ASSERT_TRUE(
        WaitFor([&] { return Mode() == TMediaPlayer::mpPlaying && mp->FileName() == m4b; }));
    EXPECT_EQ(w()->cmbFile->currentText(), m4b);

    // Where the designed controls stand with each cover, and with none (the last).
    QList<QRect> bars, options;
    QList<int> treeLefts;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        if (c.file != m4b) {
            dialogs->AnswerFile(c.file);
            QTest::mouseClick(w()->cmdBrowse, Qt::LeftButton);
        }
        ASSERT_TRUE(WaitFor([&] { return mp->FileName() == c.file; }));
        TCoverView* cover = w()->imgCover;
        if (c.cover.isEmpty()) {
            EXPECT_TRUE(WaitFor([&] { return !cover->isVisible() && !cover->Decoding(); }));
            EXPECT_FALSE(w()->pnlSide->isVisible());
        } else {
            // About 200 pixels wide, the aspect kept, the tree narrower beside it.
            const double aspect = double(c.cover.height()) / c.cover.width();
            EXPECT_TRUE(WaitFor([&] {
                return cover->isVisible() && cover->Image().size() == c.cover &&
                       std::abs(double(cover->height()) / cover->width() - aspect) < 0.02;
            }));
            EXPECT_TRUE(w()->pnlSide->isVisible());
            EXPECT_NEAR(cover->width(), 200, 30);
            EXPECT_LE(w()->tv->width() + w()->pnlSide->width(), w()->splSide->width());
        }
        bars << w()->pnlBM->geometry();
        options << w()->cmdOptions->geometry();
        treeLefts << w()->tv->mapTo(w(), QPoint(0, 0)).x();
    }
    // A cover never moves the designed controls.
    EXPECT_EQ(bars, QList<QRect>(bars.size(), bars.last()));
    EXPECT_EQ(options, QList<QRect>(options.size(), options.last()));
    EXPECT_EQ(treeLefts, QList<int>(treeLefts.size(), treeLefts.last()));
}

} // namespace
