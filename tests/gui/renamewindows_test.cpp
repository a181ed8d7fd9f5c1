#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "playback/mediaplayer.h"
#include "rename/tfrmpreview.h"
#include "rename/tfrmrename.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "ui/widgets.h"
#include "util/errors.h"
#include "util/qorext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

using testsupport::MakeMp3;
using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

// Day and month names in the log come from the user's locale; pin it.
const bool localePinned = [] {
    setenv("LC_ALL", "C", 1);
    return true;
}();

const QDateTime kStart(QDate(2026, 12, 8), QTime(14, 30, 15, 5));
const QDateTime kEnd(QDate(2026, 12, 8), QTime(14, 30, 16, 120));

class RenameWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        tmp = testsupport::MakeTempDir();
        root = tmp->path() + "/books";
        data = tmp->path() + "/data/";
        QDir().mkpath(root);
        QDir().mkpath(data);
        renamer = std::make_unique<TRenamer>();
        rename = std::make_unique<TfrmRename>(*renamer);
        preview = std::make_unique<TfrmPreview>(*renamer);
        rename->Preview = preview.get();
        renamer->TagSource = [this](const QString& path, bool read) {
            if (read) {
                reads << path;
                current = tags.value(path);
            }
            return current;
        };
        renamer->Repoint = [this](const QString& from, const QString& to) {
            repointed << from + " -> " + to;
        };
        renamer->DataFolder = [this] { return data; };
        renamer->Closing = [] { return false; };
        renamer->OpenLog = [this](const QString& path) { opened << path; };
        auto clock = std::make_shared<QList<QDateTime>>(QList<QDateTime>{kStart, kEnd});
        renamer->Now = [clock] { return clock->isEmpty() ? kEnd : clock->takeFirst(); };
    }
    void TearDown() override {
        preview.reset();
        rename.reset();
        renamer.reset();
        EXPECT_FALSE(dialogs.Pending());
    }

    QString Make(const QString& rel, const QByteArray& content = "audio") {
        const QString p = root + "/" + rel;
        QDir().mkpath(QFileInfo(p).path());
        WriteAll(p, content);
        return p;
    }
    // Make, and the tag the tag source gives for that file.
    void MakeTagged(const QString& rel, const QByteArray& content, const char* artist,
                    const char* album, const char* track, const char* title) {
        Make(rel, content);
        TMP3Rec r;
        r.Artist = QString::fromUtf8(artist);
        r.Album = QString::fromUtf8(album);
        r.Track = QString::fromUtf8(track);
        r.Title = QString::fromUtf8(title);
        tags[root + "/" + rel] = r;
    }
    // The rename window in mass mode on the books folder, for MP3 files.
    void SetMassOnRoot() {
        renamer->Extension = "mp3";
        rename->SetMass();
        rename->SelectFolder(root);
    }
    QTreeWidget* lv() const { return preview->findChild<QTreeWidget*>("lv"); }
    QPushButton* PreviewButton(const char* name) const {
        return preview->findChild<QPushButton*>(name);
    }
    int RowOf(const QString& rel) const {
        for (int i = 0; i < lv()->topLevelItemCount(); ++i)
            if (lv()->topLevelItem(i)->text(0) == root + "/" + rel) return i;
        return -1;
    }
    // Shows the preview as the rename window would and waits for the search.
    void OpenPreviewAndSearch() {
        preview->show();
        ASSERT_TRUE(WaitFor(
            [this] { return !preview->Busy() && PreviewButton("cmdProceed")->isVisible(); }));
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<QTemporaryDir> tmp;
    QString root, data;
    QMap<QString, TMP3Rec> tags;
    TMP3Rec current;
    QStringList reads, repointed, opened;
    std::unique_ptr<TRenamer> renamer;
    std::unique_ptr<TfrmRename> rename;
    std::unique_ptr<TfrmPreview> preview;
};

TEST_F(RenameWindowsTest, ControlsAndDefaults) {
    EXPECT_EQ(rename->windowTitle(), "Rename File(s)");
    for (const char* n : {"cmb1", "cmb2", "cmb3", "cmb4"}) {
        auto* c = rename->findChild<QComboBox*>(n);
        ASSERT_NE(c, nullptr) << n;
        EXPECT_EQ(c->count(), 5);
    }
    EXPECT_EQ(rename->findChild<QComboBox*>("cmb3")->currentText(), "Track/Seq");
    EXPECT_EQ(rename->findChild<QComboBox*>("cmbDelim")->currentText(), "-");
    auto* chk = rename->findChild<QCheckBox*>("chkPreview");
    ASSERT_NE(chk, nullptr);
    EXPECT_TRUE(chk->isChecked());
    EXPECT_EQ(chk->text(), "&Preview mass updates");
    EXPECT_EQ(chk->toolTip(), "It is highly advised to keep this option checked");
    EXPECT_NE(rename->findChild<QTreeView*>("stv"), nullptr);
    EXPECT_NE(rename->findChild<QLabel*>("pnlOldName"), nullptr);
    EXPECT_NE(rename->findChild<QLabel*>("pnlNewName"), nullptr);
    EXPECT_TRUE(rename->findChild<QPushButton*>("cmdOk")->isDefault());

    EXPECT_EQ(preview->windowTitle(), "Mass Rename - Build, Preview, Apply");
    const std::pair<const char*, const char*> buttons[] = {
        {"cmdSel", "&Select"},          {"cmdDes", "&Deselect"},    {"cmdSelAll", "Select &All"},
        {"cmdDesAll", "D&eselect All"}, {"cmdProceed", "&Proceed"}, {"cmdCancel", "&Cancel"}};
    for (auto [name, text] : buttons) {
        ASSERT_NE(PreviewButton(name), nullptr) << name;
        EXPECT_EQ(PreviewButton(name)->text(), text);
    }
    EXPECT_EQ(PreviewButton("cmdProceed")->toolTip(), "apply the proposed changes");
    EXPECT_EQ(PreviewButton("cmdCancel")->toolTip(), "discard all proposed changes");
    ASSERT_NE(lv(), nullptr);
    EXPECT_EQ(lv()->headerItem()->text(0), "Old Name");
    EXPECT_EQ(lv()->headerItem()->text(1), "New Name");
    EXPECT_EQ(lv()->columnWidth(0), 300);
    EXPECT_EQ(lv()->columnWidth(1), 450);
    EXPECT_EQ(lv()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_NE(preview->findChild<QLabel*>("lblMsg"), nullptr);
    EXPECT_NE(preview->findChild<QProgressBar*>("prg"), nullptr);
}

TEST_F(RenameWindowsTest, PreviewFollowsThePatternInBothModes) {
    current.Artist = "Author";
    current.Album = "Book";
    current.Track = "03";
    current.Title = "Chapter";
    Make("old.mp3");
    rename->SetSingle(root + "/old.mp3", FieldFromRight("old.mp3", 1, '.'));
    rename->SelectFolder(root);
    EXPECT_EQ(renamer->Extension, "mp3");
    EXPECT_FALSE(rename->stv->isEnabled());
    EXPECT_EQ(rename->SelectedFolder(), root);
    rename->show();
    EXPECT_EQ(rename->pnlOldName->text(), "old.mp3");
    EXPECT_EQ(rename->pnlNewName->text(), "Author-Book-03-Chapter.mp3");
    QLineEdit* delim = rename->cmbDelim->lineEdit();
    delim->selectAll();
    QTest::keyClicks(delim, " - ");
    EXPECT_EQ(rename->pnlNewName->text(), "Author - Book - 03 - Chapter.mp3");
    rename->cmb3->setCurrentIndex(4);
    EXPECT_EQ(rename->pnlNewName->text(), "Author - Book - Chapter.mp3");
    EXPECT_TRUE(reads.isEmpty()); // the single mode uses the record as it stands
    rename->hide();

    rename->SetMass();
    rename->SelectFolder(root);
    EXPECT_EQ(rename->pnlOldName->text(), "<multiple files>");
    EXPECT_TRUE(rename->stv->isEnabled());
    rename->show();
    EXPECT_EQ(rename->pnlNewName->text(), "Artist/Author - Album/Book Title - Track Title.mp3");
    rename->hide();

    // A name without an extension leaves the extension empty until shown.
    rename->SetSingle(root + "/noext", FieldFromRight("noext", 1, '.'));
    rename->SelectFolder(root);
    EXPECT_EQ(renamer->Extension, "");
    rename->show();
    EXPECT_EQ(renamer->Extension, "mp3");
    rename->hide();
}

TEST_F(RenameWindowsTest, SingleRenameRenamesAndRepoints) {
    const QString old = Make("old.mp3", "AUDIO");
    // A "/" in a tag and a track of a total: the name shown is the name given.
    current.Artist = "AC/DC";
    current.Track = "1/12";
    current.Title = "Chapter";
    rename->SetSingle(root + "/old.mp3", FieldFromRight("old.mp3", 1, '.'));
    rename->SelectFolder(root);
    rename->show();
    QTest::mouseClick(rename->cmdOk, Qt::LeftButton);
    EXPECT_FALSE(rename->isVisible());
    EXPECT_EQ(rename->Outcome(), "ok");
    EXPECT_EQ(rename->pnlNewName->text(), "AC-DC-01-Chapter.mp3");
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(ReadAll(root + "/AC-DC-01-Chapter.mp3"), "AUDIO");
    EXPECT_EQ(repointed, QStringList({old + " -> " + root + "/AC-DC-01-Chapter.mp3"}));
    EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(RenameWindowsTest, SingleRenameRefusals) {
    const QString old = Make("old.mp3", "AUDIO");
    Make("Taken-Name.mp3", "OTHER");
    QDir().mkpath(root + "/AC");
    struct Case {
        const char* what;
        const char* artist;
        const char* forcedName; // typed over the preview when set
    } cases[] = {
        {"existing target", "Taken", nullptr},
        {"slash in the name", "x", "AC/DC-Name.mp3"},
        {"dot dot", "x", ".."},
        {"dot", "x", "."},
        {"NUL", "x", "a\0b"},
    };
    for (const auto& c : cases) {
        dialogs.asked.clear();
        repointed.clear();
        current = TMP3Rec();
        current.Artist = c.artist;
        current.Title = "Name";
        rename->SetSingle(root + "/old.mp3", FieldFromRight("old.mp3", 1, '.'));
        rename->SelectFolder(root);
        rename->show();
        if (c.forcedName)
            rename->pnlNewName->setText(
                QString::fromUtf8(c.forcedName, c.forcedName[0] == 'a' ? 3 : -1));
        rename->cmdOkClick();
        EXPECT_FALSE(rename->isVisible()) << c.what;
        EXPECT_EQ(rename->Outcome(), "") << c.what;
        EXPECT_EQ(dialogs.TextsOf("message"),
                  QStringList({"Operation failed (files in use, illegal chars...)"}))
            << c.what;
        EXPECT_TRUE(repointed.isEmpty()) << c.what;
        EXPECT_EQ(ReadAll(old), "AUDIO") << c.what;
        EXPECT_EQ(ReadAll(root + "/Taken-Name.mp3"), "OTHER") << c.what;
        EXPECT_EQ(QDir(root + "/AC").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                  QStringList())
            << c.what;
    }
    EXPECT_FALSE(QFile::exists(root + "/a"));
    EXPECT_FALSE(QFile::exists(tmp->path() + "/old.mp3"));
}

TEST_F(RenameWindowsTest, MassRenameWithoutPreviewAppliesAtOnceAndOpensTheLog) {
    rename->chkPreview->setChecked(false);
    MakeTagged("A/one.mp3", "1", "Au", "Bk", "01", "One");
    MakeTagged("two.mp3", "2", "Au", "Bk", "02", "Two");
    SetMassOnRoot();
    rename->show();
    QTest::mouseClick(rename->cmdOk, Qt::LeftButton); // runs the preview modally
    EXPECT_FALSE(rename->isVisible());
    EXPECT_FALSE(preview->isVisible());
    EXPECT_EQ(ReadAll(root + "/A/Au-Bk-01-One.mp3"), "1");
    EXPECT_EQ(ReadAll(root + "/Au-Bk-02-Two.mp3"), "2");
    EXPECT_EQ(repointed, QStringList({root + "/A/one.mp3 -> " + root + "/A/Au-Bk-01-One.mp3",
                                      root + "/two.mp3 -> " + root + "/Au-Bk-02-Two.mp3"}));
    const QString log = data + "MassRenameLog_20261208-1430.txt";
    EXPECT_EQ(opened, QStringList({log}));
    EXPECT_TRUE(ReadAll(log).startsWith("Narrabel - Mass Rename Log - Tuesday, December 8, 2026\r\n"
                                        "Started : 14:30:15.005\r\n\r\n\r\n - " +
                                        (root + "/A/").toUtf8()));
    EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(RenameWindowsTest, ReviewTickAndApplyOverTwoFolders) {
    MakeTagged("One/a.mp3", "A", "Au", "Bk", "01", "A");
    MakeTagged("One/b.mp3", "B", "Au", "Bk", "02", "B");
    MakeTagged("One/Au-Bk-03-C.mp3", "C", "Au", "Bk", "03", "C"); // already named after its tag
    MakeTagged("Two/d.mp3", "D", "Au", "Bk", "04", "D");
    MakeTagged("Two/e.mp3", "E", "Au", "Bk", "05", "E");
    MakeTagged("Two/Au-Bk-05-E.mp3", "EXISTING", "Au", "Bk", "05", "E");
    SetMassOnRoot();

    OpenPreviewAndSearch();
    EXPECT_EQ(preview->findChild<QLabel*>("lblMsg")->text(),
              "Finished - verify checked items and click Proceed.");
    ASSERT_EQ(lv()->topLevelItemCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lv()->topLevelItem(i)->checkState(0), Qt::Checked);
        EXPECT_EQ(
            lv()->topLevelItem(i)->text(1),
            QFileInfo(lv()->topLevelItem(i)->text(0)).path() + "/" +
                (QStringList{"Au-Bk-01-A.mp3", "Au-Bk-02-B.mp3", "Au-Bk-04-D.mp3", "Au-Bk-05-E.mp3"}
                     .filter(tags[lv()->topLevelItem(i)->text(0)].Title + ".mp3")
                     .value(0)));
    }
    EXPECT_TRUE(PreviewButton("cmdSelAll")->isVisible());
    EXPECT_TRUE(PreviewButton("cmdDesAll")->isVisible());

    // Select All highlights without ticking; Deselect All unticks; Select ticks the highlighted.
    QTest::mouseClick(PreviewButton("cmdDesAll"), Qt::LeftButton);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lv()->topLevelItem(i)->checkState(0), Qt::Unchecked);
    QTest::mouseClick(PreviewButton("cmdSelAll"), Qt::LeftButton);
    EXPECT_EQ(lv()->selectedItems().size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lv()->topLevelItem(i)->checkState(0), Qt::Unchecked);
    QTest::mouseClick(PreviewButton("cmdSel"), Qt::LeftButton);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lv()->topLevelItem(i)->checkState(0), Qt::Checked);
    // Untick b and d.
    lv()->clearSelection();
    lv()->topLevelItem(RowOf("One/b.mp3"))->setSelected(true);
    lv()->topLevelItem(RowOf("Two/d.mp3"))->setSelected(true);
    QTest::mouseClick(PreviewButton("cmdDes"), Qt::LeftButton);
    EXPECT_EQ(lv()->topLevelItem(RowOf("One/b.mp3"))->checkState(0), Qt::Unchecked);
    EXPECT_EQ(lv()->topLevelItem(RowOf("One/a.mp3"))->checkState(0), Qt::Checked);

    lv()->setCurrentItem(lv()->topLevelItem(RowOf("Two/e.mp3")));
    EXPECT_EQ(lv()->toolTip(), "New Name: Au-Bk-05-E.mp3 (NewName exists)");
    lv()->setCurrentItem(lv()->topLevelItem(RowOf("One/a.mp3")));
    EXPECT_EQ(lv()->toolTip(), "New Name: Au-Bk-01-A.mp3");

    QTest::mouseClick(PreviewButton("cmdProceed"), Qt::LeftButton);
    EXPECT_FALSE(preview->isVisible());

    const QString logPath = data + "MassRenameLog_20261208-1430.txt";
    ASSERT_EQ(opened, QStringList({logPath}));
    QStringList expected = {"Narrabel - Mass Rename Log - Tuesday, December 8, 2026",
                            "Started : 14:30:15.005", ""};
    // Folder order is the walk's; within One only a is ticked, within Two only e.
    const bool oneFirst = RowOf("One/a.mp3") < RowOf("Two/e.mp3");
    const QStringList one = {
        "", " - " + root + "/One/", "From   : a.mp3", "To     : Au-Bk-01-A.mp3", "Result : OK", ""};
    const QStringList two = {"",
                             " - " + root + "/Two/",
                             "From   : e.mp3",
                             "To     : Au-Bk-05-E.mp3",
                             "Result : SKIPPED - NewName exists",
                             ""};
    expected << (oneFirst ? one + two : two + one);
    expected << ""
             << "Finished: 14:30:16.120"
             << "";
    EXPECT_EQ(QString::fromUtf8(ReadAll(logPath)).split("\r\n"), expected);

    EXPECT_EQ(ReadAll(root + "/One/Au-Bk-01-A.mp3"), "A");
    EXPECT_EQ(ReadAll(root + "/One/b.mp3"), "B");
    EXPECT_EQ(ReadAll(root + "/Two/d.mp3"), "D");
    EXPECT_EQ(ReadAll(root + "/Two/e.mp3"), "E");
    EXPECT_EQ(ReadAll(root + "/Two/Au-Bk-05-E.mp3"), "EXISTING");
    EXPECT_EQ(repointed, QStringList({root + "/One/a.mp3 -> " + root + "/One/Au-Bk-01-A.mp3"}));

    // A second run in the same minute keeps the first log.
    WriteAll(root + "/One/z.mp3", "Z");
    auto clock = std::make_shared<QList<QDateTime>>(QList<QDateTime>{kStart, kEnd});
    renamer->Now = [clock] { return clock->isEmpty() ? kEnd : clock->takeFirst(); };
    OpenPreviewAndSearch();
    QTest::mouseClick(PreviewButton("cmdProceed"), Qt::LeftButton);
    EXPECT_EQ(opened.value(1), data + "MassRenameLog_20261208-1430_2.txt");
    EXPECT_EQ(QString::fromUtf8(ReadAll(logPath)).split("\r\n"), expected);
}

TEST_F(RenameWindowsTest, CancelDuringTheSearchAppliesWhatWasFoundWithoutPreview) {
    rename->chkPreview->setChecked(false);
    Make("A/a.mp3", "A");
    Make("B/b.mp3", "B");
    Make("top.mp3", "T");
    SetMassOnRoot();
    // The user presses Cancel while the first file's tag is being read.
    auto inner = renamer->TagSource;
    bool pressed = false;
    renamer->TagSource = [&](const QString& path, bool read) {
        if (!pressed) {
            pressed = true;
            EXPECT_TRUE(preview->Busy());
            QTest::mouseClick(PreviewButton("cmdCancel"), Qt::LeftButton);
            EXPECT_TRUE(preview->CancelRequested());
        }
        return inner(path, read);
    };
    dialogs.AnswerConfirm(true);
    preview->show();
    ASSERT_TRUE(WaitFor([this] { return !preview->isVisible(); }));
    EXPECT_EQ(dialogs.TextsOf("confirm"), QStringList({"Cancel?"}));
    // The subfolder entered first lists its file and the root lists its own; the other
    // subfolder is skipped.
    const int renamedCount =
        int(QFile::exists(root + "/A/audio_.mp3")) + int(QFile::exists(root + "/B/audio_.mp3"));
    EXPECT_EQ(renamedCount, 1);
    EXPECT_TRUE(QFile::exists(root + "/audio_.mp3"));
    EXPECT_EQ(opened.size(), 1);
    EXPECT_FALSE(preview->CancelRequested());
}

TEST_F(RenameWindowsTest, CancelWhenIdleDiscardsAndCancelAnsweredNoGoesOn) {
    Make("x.mp3", "X");
    SetMassOnRoot();
    OpenPreviewAndSearch();
    EXPECT_EQ(lv()->topLevelItemCount(), 1);
    preview->resize(900, 400);
    EXPECT_EQ(PreviewButton("cmdCancel")->x(), preview->width() - 95);
    QTest::mouseClick(PreviewButton("cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(preview->isVisible());
    EXPECT_TRUE(QFile::exists(root + "/x.mp3"));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(dialogs.asked.empty());

    // Busy and answered No: the search runs to its end.
    auto inner = renamer->TagSource;
    renamer->TagSource = [&](const QString& path, bool read) {
        preview->cmdCancelClick();
        return inner(path, read);
    };
    dialogs.AnswerConfirm(false);
    OpenPreviewAndSearch();
    EXPECT_EQ(lv()->topLevelItemCount(), 1);
    EXPECT_FALSE(preview->CancelRequested());
    preview->cmdCancelClick();
}

TEST_F(RenameWindowsTest, EscAndCloseDuringAnApplyAreRefusedWithoutAsking) {
    MakeTagged("a.mp3", "A", "Au", "", "", "");
    MakeTagged("b.mp3", "B", "Bu", "", "", "");
    SetMassOnRoot();
    OpenPreviewAndSearch();
    renamer->Repoint = [this](const QString& from, const QString& to) {
        repointed << from + " -> " + to;
        QTest::keyClick(preview.get(), Qt::Key_Escape);
        preview->close();
        EXPECT_TRUE(preview->isVisible());
        EXPECT_TRUE(preview->Busy());
    };
    QTest::mouseClick(PreviewButton("cmdProceed"), Qt::LeftButton);
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_EQ(repointed.size(), 2); // the apply ran to its end
    EXPECT_TRUE(QFile::exists(root + "/Au.mp3") && QFile::exists(root + "/Bu.mp3"));
    EXPECT_EQ(opened.size(), 1);
    EXPECT_FALSE(preview->isVisible());
}

TEST_F(RenameWindowsTest, ProgramClosingDuringTheSearchRenamesNothing) {
    rename->chkPreview->setChecked(false);
    Make("A/a.mp3", "A");
    Make("top.mp3", "T");
    SetMassOnRoot();
    bool closing = false;
    renamer->Closing = [&] { return closing; };
    auto inner = renamer->TagSource;
    renamer->TagSource = [&](const QString& path, bool read) {
        closing = true;
        return inner(path, read);
    };
    preview->show();
    ASSERT_TRUE(WaitFor([this] { return !preview->isVisible(); }));
    EXPECT_TRUE(QFile::exists(root + "/A/a.mp3"));
    EXPECT_TRUE(QFile::exists(root + "/top.mp3"));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(QDir(data).isEmpty());
}

TEST_F(RenameWindowsTest, FailedRepointingKeepsTheApplyAndItsLog) {
    rename->chkPreview->setChecked(false);
    MakeTagged("a.mp3", "A", "Au", "", "", "");
    MakeTagged("b.mp3", "B", "Bu", "", "", "");
    renamer->Repoint = [](const QString&, const QString&) {
        throw NarrabelError("store unwritable");
    };
    SetMassOnRoot();
    EXPECT_THROW(
        {
            preview->show();
            preview->BuildList();
        },
        NarrabelError);
    EXPECT_FALSE(preview->isVisible());
    EXPECT_FALSE(preview->Busy());
    EXPECT_TRUE(QFile::exists(root + "/Au.mp3"));
    EXPECT_TRUE(QFile::exists(root + "/Bu.mp3"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(ReadAll(opened[0]).count("Result : OK"), 2);

    // The single rename still reports its outcome before the error surfaces.
    Make("c.mp3", "C");
    current = TMP3Rec();
    current.Artist = "Cu";
    rename->SetSingle(root + "/c.mp3", "mp3");
    rename->SelectFolder(root);
    rename->show();
    EXPECT_THROW(rename->cmdOkClick(), NarrabelError);
    EXPECT_EQ(rename->Outcome(), "ok");
    EXPECT_FALSE(rename->isVisible());
    EXPECT_TRUE(QFile::exists(root + "/Cu.mp3"));
}

// The windows as the program creates them: the rename window hands over to the
// program's preview window, and the log goes into the data folder.
class RenameInProgramTest : public WindowsTest {
protected:
    // Runs action from the event loop once the program's preview waits for the
    // user's review (its search may be running when it is first shown).
    void WhenReviewing(std::function<void()> action) {
        auto* timer = new QTimer();
        auto deadline = std::make_shared<QDeadlineTimer>(10000);
        QObject::connect(timer, &QTimer::timeout, [this, timer, action, deadline] {
            const bool ready = frmPreview->isVisible() && !frmPreview->Busy() &&
                               frmPreview->cmdProceed->isVisible();
            if (!ready && !deadline->hasExpired()) return;
            timer->stop();
            timer->deleteLater();
            if (ready) {
                action();
            } else {
                ADD_FAILURE() << "the preview never got to its review";
                frmPreview->done(QDialog::Rejected);
            }
        });
        timer->start(10);
    }
};

TEST_F(RenameInProgramTest, MassRenameUsesTheProgramsWindowsAndDataFolder) {
    StartProgram();
    auto tmp = testsupport::MakeTempDir();
    WriteAll(tmp->path() + "/x.mp3", "X");
    renamer->TagSource = [](const QString&, bool) {
        TMP3Rec r;
        r.Artist = "Au";
        return r;
    };
    QStringList opened;
    renamer->OpenLog = [&](const QString& path) { opened << path; };
    frmRename->chkPreview->setChecked(false);
    frmRename->SetMass();
    frmRename->SelectFolder(tmp->path());
    QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
    frmRename->exec();
    EXPECT_TRUE(QFile::exists(tmp->path() + "/Au.mp3"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith(dataFolder() + "MassRenameLog_")) << opened[0].toStdString();
    EXPECT_TRUE(QFile::exists(opened[0]));
}

TEST_F(RenameInProgramTest, SingleRenameRepointsLiveRecordsOfExactlyThatPath) {
    StartProgram();
    auto tmp = testsupport::MakeTempDir();
    const QString old = tmp->path() + "/old.mp3";
    WriteAll(old, "X");
    const QString other = tmp->path() + "/Old.mp3"; // another letter case: another file
    const QString store = app->StorePath;
    ASSERT_FALSE(store.isEmpty());
    TWriteContext ctx;
    for (const QString& path : {old, other, old}) {
        TBookmark bm;
        bm.Rec.FilePath = path;
        bm.Rec.Position = 5000;
        bm.Rec.Description = "kept";
        QString err;
        ASSERT_TRUE(WriteBookmark(bm, store, ctx, &err)) << err.toStdString();
    }
    TBookmark gone(store, 3);
    ASSERT_TRUE(gone.Valid);
    ASSERT_TRUE(MarkDeleted(gone, store, QDateTime::currentDateTime()));

    renamer->TagSource = [](const QString&, bool) {
        TMP3Rec r;
        r.Artist = "Au";
        r.Title = "Ti";
        return r;
    };
    frmRename->SetSingle(old, "mp3");
    frmRename->SelectFolder(tmp->path());
    QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
    frmRename->exec();
    EXPECT_EQ(frmRename->Outcome(), "ok");
    EXPECT_EQ(frmRename->NewName(), "Au-Ti.mp3");
    const QString renamed = tmp->path() + "/Au-Ti.mp3";
    EXPECT_TRUE(QFile::exists(renamed));
    QStringList paths;
    ForEachRecord(store, [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        return true;
    });
    EXPECT_EQ(paths, QStringList({renamed, other, "*"}));
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
}

TEST_F(RenameInProgramTest, MassRenameOfThePlayingFileKeepsItPlayingAndEverythingFollows) {
    StartProgram();
    auto tmp = testsupport::MakeTempDir();
    const QString other = MakeMp3(tmp->path() + "/Au-Bk-01-Other.mp3", {"Au", "Bk", "01", "Other"});
    const QString track = MakeMp3(tmp->path() + "/track.mp3", {"Au", "Bk", "02", "Chapter"}, 1200);
    const QString renamed = tmp->path() + "/Au-Bk-02-Chapter.mp3";
    BrowseAndMark({other, track});
    QStringList opened;
    renamer->OpenLog = [&](const QString& path) { opened << path; };
    frmRename->chkPreview->setChecked(false);
    renamer->Extension = "mp3";
    frmRename->SetMass();
    frmRename->SelectFolder(tmp->path());
    const int32_t before = mp->Position();
    // Events run while the store is repointed: by then the player and the file
    // box know the file by its new name (the old one is gone).
    QStringList namesWhileRepointing;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (namesWhileRepointing.isEmpty() && frmMain->windowTitle().contains("Repointing"))
            namesWhileRepointing << mp->FileName() << frmMain->cmbFile->currentText();
    });
    probe.start(0);
    QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
    frmRename->exec();
    probe.stop();
    EXPECT_EQ(namesWhileRepointing, QStringList({renamed, renamed}));
    ASSERT_TRUE(QFile::exists(renamed));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(ReadAll(opened[0]).count("Result : OK"), 1);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_GE(mp->Position(), before);
    EXPECT_TRUE(WaitFor([&] { return mp->Position() > before + 1000; }));
    ExpectPathFollowed(track, renamed);
    // The real store: the start bookmark and "mark" both moved.
    QStringList paths;
    ForEachRecord(app->StorePath, [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        return true;
    });
    EXPECT_EQ(paths.count(renamed), 2);
    EXPECT_FALSE(paths.contains(track));
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
    session->PlayedSinceMark = false;
}

TEST_F(RenameInProgramTest, NewPathsTheStoreCannotHoldAreRefusedForFilesWithBookmarks) {
    StartProgram();
    auto tmp = testsupport::MakeTempDir();
    const QString folder = tmp->path() + "/" + QString(120, 'd');
    QDir().mkpath(folder);
    const QString marked = MakeMp3(folder + "/x.mp3", {});
    const QString plain = MakeMp3(folder + "/y.mp3", {});
    ASSERT_LE(marked.toUtf8().size(), 254); // the store holds the file's path today
    // Composed names that make the new paths 300 bytes long.
    const int room = 300 - int(folder.toUtf8().size()) - 1 - 4;
    const QString longMarked = folder + "/" + QString(room, 'a') + ".mp3";
    const QString longPlain = folder + "/" + QString(room, 'b') + ".mp3";
    QMap<QString, QString> artists{
        {marked, QString(room, 'a')}, {plain, QString(room, 'b')}, {longPlain, QString(room, 'b')}};
    renamer->TagSource = [artists](const QString& path, bool) {
        TMP3Rec r;
        r.Artist = artists.value(path);
        return r;
    };
    ASSERT_EQ(longMarked.toUtf8().size(), 300);
    bookmarks->SaveNewBookmark(marked, 1500, "kept");
    const QByteArray storeBefore = ReadAll(app->StorePath);
    auto single = [this](const QString& path) {
        frmRename->SetSingle(path, "mp3");
        QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
        frmRename->exec();
        return frmRename->Outcome();
    };

    EXPECT_EQ(single(marked), "");
    EXPECT_EQ(dialogs->TextsOf("message"),
              QStringList({"Operation failed (files in use, illegal chars...)"}));
    EXPECT_TRUE(QFile::exists(marked));
    EXPECT_FALSE(QFile::exists(longMarked));
    EXPECT_EQ(ReadAll(app->StorePath), storeBefore);
    // Without bookmarks nothing is lost: the long path is fine.
    EXPECT_EQ(single(plain), "ok");
    EXPECT_TRUE(QFile::exists(longPlain));

    // Mass rename: the row is marked in the preview and refused with its reason.
    QStringList opened;
    renamer->OpenLog = [&](const QString& path) { opened << path; };
    frmRename->chkPreview->setChecked(true);
    frmRename->SetMass();
    frmRename->SelectFolder(folder);
    WhenReviewing([&] {
        ASSERT_EQ(frmPreview->lv->topLevelItemCount(), 1);
        frmPreview->lv->setCurrentItem(frmPreview->lv->topLevelItem(0));
        EXPECT_EQ(frmPreview->lv->toolTip(), "New Name: " + ExtractFileName(longMarked) +
                                                 " (new path too long for its bookmarks)");
        frmPreview->cmdProceed->click();
    });
    QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
    frmRename->exec();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(
        ReadAll(opened[0]).contains("Result : ERROR - new path too long for its bookmarks\r\n"));
    EXPECT_TRUE(QFile::exists(marked));
    EXPECT_EQ(ReadAll(app->StorePath), storeBefore);
}

TEST_F(RenameInProgramTest, NamesFromTagTextReadInPartAreProposedUnticked) {
    StartProgram();
    auto tmp = testsupport::MakeTempDir();
    const QString folder = tmp->path() + "/Война и мир";
    QDir().mkpath(folder);
    // A lone surrogate or a control character makes a title unreadable (nothing
    // is left of it); the other tags read in full, in any script.
    const QString cyrillic =
        MakeMp3(folder + "/01 Глава первая.mp3",
                {"Толстой", "Война и мир", "01", "Глава" + QString(QChar(0xD800)) + "первая"});
    const QString control = MakeMp3(folder + "/02 Глава вторая.mp3",
                                    {"Tolstoy", "Vojna i mir", "02", "Glava\x01vtoraya"});
    const QString fine = MakeMp3(folder + "/03.mp3", {"Tolstoy", "Vojna i mir", "03", "Tri"});
    const QString fourth =
        MakeMp3(folder + "/04.mp3", {"Толстой", "Война и мир", "4/12", "Глава четвёртая"});
    QStringList opened;
    renamer->OpenLog = [&](const QString& path) { opened << path; };
    renamer->Extension = "mp3";
    frmRename->SetMass();
    frmRename->SelectFolder(folder);
    WhenReviewing([&] {
        QTreeWidget* lv = frmPreview->lv;
        QMap<QString, QPair<QString, bool>> rows; // old name -> new name, ticked
        QMap<QString, QString> hints;
        for (int i = 0; i < lv->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = lv->topLevelItem(i);
            const QString old = ExtractFileName(item->text(0));
            rows[old] = {ExtractFileName(item->text(1)), item->checkState(0) == Qt::Checked};
            lv->setCurrentItem(item);
            hints[old] = lv->toolTip();
        }
        using Row = QPair<QString, bool>;
        EXPECT_EQ(rows.value("01 Глава первая.mp3"), Row("Толстой-Война и мир-01.mp3", false));
        EXPECT_EQ(rows.value("02 Глава вторая.mp3"), Row("Tolstoy-Vojna i mir-02.mp3", false));
        EXPECT_EQ(rows.value("03.mp3"), Row("Tolstoy-Vojna i mir-03-Tri.mp3", true));
        EXPECT_EQ(rows.value("04.mp3"), Row("Толстой-Война и мир-04-Глава четвёртая.mp3", true));
        EXPECT_EQ(hints.value("01 Глава первая.mp3"),
                  "New Name: Толстой-Война и мир-01.mp3 (tag text not fully readable)");
        EXPECT_EQ(hints.value("03.mp3"), "New Name: Tolstoy-Vojna i mir-03-Tri.mp3");
        frmPreview->cmdProceed->click();
    });
    QTimer::singleShot(0, [this] { frmRename->cmdOkClick(); });
    frmRename->exec();
    EXPECT_EQ(opened.size(), 1);
    EXPECT_TRUE(QFile::exists(cyrillic)); // the names that still carry the titles
    EXPECT_TRUE(QFile::exists(control));
    EXPECT_FALSE(QFile::exists(fine));
    EXPECT_TRUE(QFile::exists(folder + "/Tolstoy-Vojna i mir-03-Tri.mp3"));
    EXPECT_FALSE(QFile::exists(fourth));
    EXPECT_TRUE(QFile::exists(folder + "/Толстой-Война и мир-04-Глава четвёртая.mp3"));
}

} // namespace
