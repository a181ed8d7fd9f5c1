#include "app/application.h"
#include "app/tfrmmain.h"
#include "diag/tfrmdebug.h"
#include "support/guitestsupport.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class ResumeKeysTest : public WindowsTest {};

TEST_F(ResumeKeysTest, RecentFilesKeepThirtyNewestFirstAndIgnoreLetterCase) {
    StartProgram();
    auto add = [](const QString& path) {
        frmMain->cmbFile->setEditText(path);
        frmMain->AddRecentFile();
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
    frmMain->PlayedSinceMark = true; // would ask about the resume point on a normal close
    frmMain->tmrTimer();
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - exiting in 2 seconds...");
    frmMain->tmrTimer();
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - exiting in 1 seconds...");
    EXPECT_FALSE(frmMain->Closing);
    frmMain->tmrTimer();
    EXPECT_TRUE(frmMain->Closing);
    EXPECT_TRUE(WaitFor([] { return !frmMain->isVisible(); }));
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
    EXPECT_FALSE(frmMain->Closing);
    dialog->hide();
    QTest::keyClick(frmMain->tv, Qt::Key_Escape);
    EXPECT_TRUE(frmMain->Closing);
    EXPECT_FALSE(frmMain->isVisible());
}

} // namespace
