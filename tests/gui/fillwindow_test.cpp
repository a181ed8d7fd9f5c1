#include "support/guitestsupport.h"
#include "tags/tfrmfill.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

class FillWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        frm = std::make_unique<TfrmFill>();
    }
    QStringList Outputs() const {
        QStringList out;
        for (const char* n : {"pnlArtist", "pnlAlbum", "pnlTrack", "pnlTTitle"})
            out << frm->findChild<QLabel*>(n)->text();
        return out;
    }
    QComboBox* Combo(const char* name) const { return frm->findChild<QComboBox*>(name); }
    ScriptedDialogs dialogs; // any dialog would be a failure
    std::unique_ptr<TfrmFill> frm;
};

TEST_F(FillWindowTest, HasItsControlsAndDefaults) {
    EXPECT_EQ(frm->windowTitle(), "Fill tags from file info");
    for (const char* n : {"pnlFile", "pnlFolder", "pnlArtist", "pnlAlbum", "pnlTrack", "pnlTTitle"})
        EXPECT_NE(frm->findChild<QLabel*>(n), nullptr) << n;
    const char* slotBoxes[] = {"cmb1", "cmb2", "cmb3", "cmb4"};
    for (int i = 0; i < 4; ++i) {
        QComboBox* c = Combo(slotBoxes[i]);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->count(), 5);
        EXPECT_EQ(c->currentIndex(), i);
        EXPECT_FALSE(c->isEditable());
    }
    EXPECT_EQ(Combo("cmb1")->itemText(4), "-");
    EXPECT_TRUE(Combo("cmbDelim")->isEditable());
    EXPECT_EQ(Combo("cmbDelim")->currentText(), "-");
    EXPECT_EQ(Combo("cmbDelim")->count(), 3);
    EXPECT_EQ(Combo("cmbFolder")->count(), 7);
    EXPECT_EQ(Combo("cmbFolder")->currentIndex(), 0);
    EXPECT_EQ(frm->findChild<QPushButton*>("cmdOk")->text(), "&Ok");
    EXPECT_TRUE(frm->findChild<QPushButton*>("cmdOk")->isDefault());
    EXPECT_EQ(frm->findChild<QPushButton*>("cmdCancel")->text(), "&Cancel");
}

TEST_F(FillWindowTest, ProposalFollowsEveryChange) {
    frm->Prepare("Author Name - Book Title - 03 - Chapter Name", "/Books/Writer/Novel/Disc 2");
    EXPECT_EQ(Outputs(), QStringList({"", "", "", ""}));
    frm->show();
    EXPECT_EQ(Outputs(), QStringList({"Author Name", "Book Title", "03", "Chapter Name"}));

    Combo("cmbFolder")->setCurrentIndex(4);
    EXPECT_EQ(Outputs(), QStringList({"Novel", "Disc 2", "03", "Chapter Name"}));
    Combo("cmbFolder")->setCurrentIndex(5);
    EXPECT_EQ(Outputs(), QStringList({"Writer", "Novel (2)", "03", "Chapter Name"}));

    Combo("cmb1")->setCurrentIndex(4);
    Combo("cmb4")->setCurrentIndex(4);
    Combo("cmbFolder")->setCurrentIndex(0);
    EXPECT_EQ(Outputs(), QStringList({"", "Book Title", "03", ""}));

    // A typed delimiter splits at its first character only.
    QLineEdit* delim = Combo("cmbDelim")->lineEdit();
    delim->selectAll();
    QTest::keyClicks(delim, "_x");
    EXPECT_EQ(Combo("cmbDelim")->currentText(), "_x");
    EXPECT_EQ(Outputs(), QStringList({"", "", "03", ""})); // no "_": album slot gets nothing

    // Inputs shown as typed, not as markup.
    frm->Prepare("<b>A</b>_B_7_C", "/x");
    frm->Refresh();
    EXPECT_EQ(frm->findChild<QLabel*>("pnlFile")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Outputs(), QStringList({"", "B", "7", ""}));
    frm->hide();
}

TEST_F(FillWindowTest, OkAndCancel) {
    frm->Prepare("A -- B", "/Books [NF]/x");
    QTimer::singleShot(
        0, [&] { QTest::mouseClick(frm->findChild<QPushButton*>("cmdOk"), Qt::LeftButton); });
    EXPECT_EQ(frm->exec(), QDialog::Accepted);
    const TFillResult r = frm->Proposal();
    EXPECT_EQ(r.Artist, "A");
    EXPECT_EQ(r.Album, "- B [NF]");
    EXPECT_EQ(r.Track, "");

    frm->Prepare("x", "/y");
    QTimer::singleShot(
        0, [&] { QTest::mouseClick(frm->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton); });
    EXPECT_EQ(frm->exec(), QDialog::Rejected);
    // Choices persist between showings.
    Combo("cmbFolder")->setCurrentIndex(6);
    QTimer::singleShot(0, [&] { QTest::keyClick(frm.get(), Qt::Key_Escape); });
    frm->exec();
    EXPECT_EQ(Combo("cmbFolder")->currentIndex(), 6);
    EXPECT_EQ(frm->Proposal().Artist, "/y");
}

} // namespace
