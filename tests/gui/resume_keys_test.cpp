#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/tfrmbm.h"
#include "diag/tfrmdebug.h"
#include "playback/bmhistory.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class ResumeKeysTest : public WindowsTest {};

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
