#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/optionsfile.h"
#include "playback/tfrmoptions.h"
#include "support/guitestsupport.h"
#include "util/options.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace testsupport;

namespace {

class Options : public WindowsTest {
protected:
    QString optPath() const { return dataFolder() + "Narrabel.opt"; }
    template <class T> T* find(const char* name) {
        T* w = frmOptions->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void openDialog() {
        QTest::mouseClick(frmMain->findChild<QPushButton*>("cmdOptions"), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([this] { return frmOptions->isVisible(); }));
    }
    QFont treeFont() const { return frmMain->tv->font(); }
};

TEST_F(Options, ControlsAsDesigned) {
    StartProgram();
    EXPECT_EQ(frmOptions->windowTitle(), "Options");
    EXPECT_EQ(find<QLabel>("lblTVFont")->text(), "Tree view font");
    EXPECT_EQ(find<QPushButton>("cmdFont")->text(), "Set &Font");
    EXPECT_EQ(find<QPushButton>("cmdClose")->text(), "&Close");
    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } checks[] = {
        {"chkAlwaysInsert", "Always insert tag info in descriptions",
         "if unchecked, use only if supplied alias/description is blank"},
        {"chkAutoExtra", "Blank Track Seq/Track Title also auto-adds to edit list",
         "normally only artist/author and album/book title are considered"},
        {"chkMoreFormats", "Don't ignore wav, avi, mpg/mpeg,mid/midi files",
         "normally only mp3 files are considered"},
    };
    for (const auto& c : checks) {
        auto* chk = find<QCheckBox>(c.name);
        EXPECT_EQ(chk->text(), c.caption);
        EXPECT_EQ(chk->toolTip(), c.hint);
        EXPECT_FALSE(chk->isChecked());
    }
    // The listening switches sit beneath the designed ones, on as they come.
    frmOptions->layout()->activate();
    int below = find<QCheckBox>("chkMoreFormats")->y();
    for (const char* name : {"chkPlayOn", "chkRememberPlaces", "chkSmartRewind"}) {
        auto* chk = find<QCheckBox>(name);
        EXPECT_GT(chk->y(), below) << name;
        below = chk->y();
        EXPECT_TRUE(chk->isChecked()) << name;
    }
    EXPECT_GE(frmOptions->width(), 399);
    EXPECT_GE(frmOptions->height(), 180);
}

TEST_F(Options, NoFileKeepsTheDesignedTreeFont) {
    StartProgram();
    EXPECT_EQ(treeFont().family(), "Arial");
    EXPECT_EQ(treeFont().pixelSize(), 13);
    EXPECT_FALSE(AppOptions().AlwaysInsert || AppOptions().AutoExtra || AppOptions().MoreFormats);
    openDialog();
    EXPECT_EQ(find<QLabel>("pnlFont")->text(), "Arial - 10");
    frmOptions->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmOptions));
    QTest::keyClick(frmOptions, Qt::Key_Escape);
    EXPECT_FALSE(app->Closing);
    EXPECT_FALSE(frmOptions->isVisible());
    EXPECT_EQ(treeFont().pixelSize(), 13); // closing without a choice changes nothing
    CloseProgram();
    const QByteArray saved = ReadAll(optPath());
    EXPECT_TRUE(saved.startsWith("TPF0"));
    EXPECT_FALSE(saved.contains("Checked"));
    EXPECT_FALSE(saved.contains("State"));
    EXPECT_FALSE(saved.contains("Font."));
}

TEST_F(Options, FontAndSwitchesSurviveARestart) {
    StartProgram();
    openDialog();
    QFont arial("Arial");
    arial.setPointSize(12);
    arial.setBold(true);
    dialogs->AnswerFont(arial);
    QTest::mouseClick(find<QPushButton>("cmdFont"), Qt::LeftButton);
    ASSERT_EQ(dialogs->TextsOf("font"), QStringList{"36"}); // largest size offered
    EXPECT_EQ(find<QLabel>("pnlFont")->text(), "Arial - 12");
    find<QCheckBox>("chkAlwaysInsert")->setChecked(true);
    find<QCheckBox>("chkMoreFormats")->setChecked(true);
    find<QCheckBox>("chkPlayOn")->setChecked(false);
    EXPECT_FALSE(AppOptions().PlayOn);
    EXPECT_TRUE(AppOptions().AlwaysInsert);
    EXPECT_TRUE(AppOptions().MoreFormats);
    EXPECT_TRUE(IsPlayableFile("/a/b.wav"));
    QTest::mouseClick(find<QPushButton>("cmdClose"), Qt::LeftButton);
    EXPECT_FALSE(frmOptions->isVisible());
    EXPECT_EQ(treeFont().family(), "Arial");
    EXPECT_EQ(treeFont().pixelSize(), 16);
    EXPECT_TRUE(treeFont().bold());
    CloseProgram();

    TOptionsFile expected = TOptionsFile::Designed();
    expected.Panel.FontSet = true;
    expected.Panel.Font.Height = -16;
    expected.Panel.Font.Bold = true;
    expected.Panel.Caption = "Arial - 12";
    expected.AlwaysInsert.Checked = true;
    expected.MoreFormats.Checked = true;
    EXPECT_EQ(ReadAll(optPath()), expected.ToBytes()) << "the designed file keeps its bytes";
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.ini").contains("PlayOn=false"));

    StartProgram();
    EXPECT_EQ(treeFont().family(), "Arial");
    EXPECT_EQ(treeFont().pixelSize(), 16);
    EXPECT_TRUE(treeFont().bold());
    EXPECT_TRUE(find<QCheckBox>("chkAlwaysInsert")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("chkAutoExtra")->isChecked());
    EXPECT_TRUE(AppOptions().MoreFormats);
    EXPECT_FALSE(AppOptions().AutoExtra);
    EXPECT_FALSE(AppOptions().PlayOn);
    EXPECT_TRUE(AppOptions().RememberPlaces);
    openDialog();
    EXPECT_FALSE(find<QCheckBox>("chkPlayOn")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("chkSmartRewind")->isChecked());
    EXPECT_EQ(find<QLabel>("pnlFont")->text(), "Arial - 12");
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
}

TEST_F(Options, OversizedOrCancelledFontChangesNothing) {
    StartProgram();
    openDialog();
    QFont big("Arial");
    big.setPointSize(48);
    dialogs->AnswerFont(big);
    QTest::mouseClick(find<QPushButton>("cmdFont"), Qt::LeftButton);
    dialogs->AnswerFont(std::nullopt);
    QTest::mouseClick(find<QPushButton>("cmdFont"), Qt::LeftButton);
    EXPECT_EQ(find<QLabel>("pnlFont")->text(), "Arial - 10");
    frmOptions->close();
    EXPECT_EQ(treeFont().pixelSize(), 13);
}

TEST_F(Options, DamagedFileShowsTheErrorAndStartUpGoesOn) {
    QDir().mkpath(dataFolder());
    WriteAll(optPath(), "TPF0\x06TPanel\x07pnlFont\x04Left");
    StartProgram();
    ASSERT_TRUE(frmMain->Activated);
    const QStringList messages = dialogs->TextsOf("message");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("Narrabel.opt")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("damaged"));
    EXPECT_EQ(treeFont().pixelSize(), 13);
    EXPECT_FALSE(AppOptions().AlwaysInsert);
    // Closing writes a sound file again.
    CloseProgram();
    TOptionsFile back = TOptionsFile::Designed();
    EXPECT_TRUE(LoadOptionsFile(optPath(), back));
}

} // namespace
