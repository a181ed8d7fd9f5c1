#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/bmhistory.h"
#include "support/guitestsupport.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

using namespace testsupport;

namespace {

class HistoryNav : public WindowsTest {
protected:
    QPushButton* prev() const { return frmMain->findChild<QPushButton*>("cmdPrev"); }
    QPushButton* next() const { return frmMain->findChild<QPushButton*>("cmdNext"); }
};

TEST_F(HistoryNav, EmptyHistoryHints) {
    StartProgram();
    EXPECT_EQ(prev()->toolTip(), "no history yet");
    EXPECT_EQ(next()->toolTip(), "no history yet");
    QTest::mouseClick(prev(), Qt::LeftButton);
    QTest::mouseClick(next(), Qt::LeftButton);
    EXPECT_EQ(session->History->Cursor, -1);
}

TEST_F(HistoryNav, StoredHistoryAndButtons) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.nbh", "000000000001/books/one.mp3\r\n000000000834/books/"
                                            "two.mp3\r\n000000000001/books/three.mp3\r\n");
    StartProgram();
    ASSERT_EQ(session->History->Entries.size(), 3);
    EXPECT_EQ(session->History->Cursor, 2); // on the last stored entry
    EXPECT_EQ(prev()->toolTip(), "two.mp3");
    EXPECT_EQ(next()->toolTip(), "end of bookmark history");

    QTest::mouseClick(prev(), Qt::LeftButton);
    EXPECT_EQ(session->History->Cursor, 1);
    EXPECT_EQ(prev()->toolTip(), "one.mp3");
    EXPECT_EQ(next()->toolTip(), "three.mp3");
    QTest::mouseClick(prev(), Qt::LeftButton);
    QTest::mouseClick(prev(), Qt::LeftButton); // nowhere further back
    EXPECT_EQ(session->History->Cursor, 0);
    // These files do not exist: the status bar names the file a step opened
    // and says why in its hint; nothing plays and no message box comes up.
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
    EXPECT_EQ(frmMain->StatusText(0), "Error");
    EXPECT_EQ(frmMain->StatusText(2), "one.mp3");
    EXPECT_EQ(frmMain->cmdPlay->text(), "&Play");
    EXPECT_EQ(prev()->toolTip(), "beginning of bookmark history");

    // An append (a Browse, a Go) refreshes the hints at once.
    session->History->Add("/books/four.mp3", 1);
    EXPECT_EQ(prev()->toolTip(), "three.mp3");
    EXPECT_EQ(next()->toolTip(), "end of bookmark history");
    CloseProgram();
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.nbh").endsWith("000000000001/books/four.mp3\r\n"));
}

} // namespace
