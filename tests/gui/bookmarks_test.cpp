#include "app/application.h"
#include "app/tfrmmain.h"
#include "app/widgets.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/tfrmmissing.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "tags/tfrmedit.h"
#include "util/options.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using testsupport::MakeMp3;
using testsupport::Mp3Tags;
using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class BookmarksTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        DropBookmarkIndexes();
        QDir().mkpath(dataFolder());
        QDir().mkpath(home + "/books");
        AppOptions() = TOptions();
    }
    QString store() const { return dataFolder() + "Narrabel.nbm"; }
    QString book(const QString& name, const Mp3Tags& tags = {}) {
        return MakeMp3(home + "/books/" + name, tags);
    }
    // Appends a record to the store directly, as an earlier run would have.
    int32_t addRecord(const QString& path, int32_t position, const QString& desc) {
        TBookmark bm;
        bm.Rec.FilePath = path;
        bm.Rec.Position = position;
        bm.Rec.Description = desc;
        TWriteContext ctx;
        EXPECT_TRUE(WriteBookmark(bm, store(), ctx));
        return bm.Rec.RecNo;
    }
    void deleteRecord(int32_t recNo) {
        TBookmark bm(store(), recNo);
        ASSERT_TRUE(bm.Valid);
        EXPECT_TRUE(MarkDeleted(bm, store(), QDateTime::currentDateTime()));
    }
    QStringList treeLines() const {
        QStringList out;
        for (QTreeWidgetItem* n : frmMain->AllNodes())
            out << (n->parent() ? "\t" : "") + n->text(0);
        return out;
    }
    QTreeWidgetItem* nodeEndingIn(int recNo) const {
        const QString key = QStringLiteral("[%1]").arg(recNo, 8, 10, QChar('0'));
        for (QTreeWidgetItem* n : frmMain->AllNodes())
            if (n->parent() && n->text(0).endsWith(key)) return n;
        return nullptr;
    }
    void select(QTreeWidgetItem* node) {
        frmMain->tv->clearSelection();
        frmMain->tv->setCurrentItem(node);
        node->setSelected(true);
    }
    // Clicks a button of the next modal dialog once it is shown.
    static void clickWhenShown(QWidget* dialog, QPushButton* button) {
        WhenShown(dialog, [button] { button->click(); });
    }
};

TEST_F(BookmarksTest, RebuildsTheTreeFromTheStoreSkippingDeletedRecords) {
    const QString a = book("a.mp3"), b = book("b.mp3");
    addRecord(a, 1000, "first");
    addRecord(b, 2000, "second");
    deleteRecord(addRecord(a, 3000, "gone"));
    StartProgram();
    ASSERT_EQ(frmMain->tv->topLevelItemCount(), 2);
    EXPECT_NE(nodeEndingIn(1), nullptr);
    EXPECT_NE(nodeEndingIn(2), nullptr);
    EXPECT_EQ(nodeEndingIn(3), nullptr);
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_TRUE(frmMain->cmdDelBM->isEnabled());
    // Files without an artist sit under their full path.
    EXPECT_EQ(nodeEndingIn(1)->parent()->text(0), a);
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.tv"));
}

TEST_F(BookmarksTest, BookmarksSitUnderTheirMappedAuthor) {
    struct Case {
        const char* artist;
        const char* map;
        const char* expectedOuter; // nullptr: the file's full path
    } cases[] = {
        {"Jane Austen", "", "Jane Austen"}, {"", "", nullptr}, {"A", "A___B\r\nB___C\r\n", "C"},
        {"A", "B___C\r\nA___B\r\n", "B"}, // a later line never sends back
        {"A", "a___B\r\nA_B\r\n", "A"},   // exact names only; no "___" never matches
    };
    for (const auto& c : cases) {
        QFile::remove(store());
        QFile::remove(dataFolder() + "Narrabel.tv");
        const QString map = QString::fromLatin1(c.map);
        WriteAll(dataFolder() + "Narrabel.map", map.toUtf8());
        DropBookmarkIndexes();
        const QString path = book("tagged.mp3", Mp3Tags{c.artist, "Book", "3", "Part"});
        StartProgram();
        frmMain->SaveNewBookmark(path, 576487, "");
        ASSERT_EQ(frmMain->tv->topLevelItemCount(), 1) << c.artist;
        EXPECT_EQ(frmMain->tv->topLevelItem(0)->text(0),
                  c.expectedOuter ? QString(c.expectedOuter) : path)
            << c.artist << " / " << c.map;
        // The description comes from the tag: album - track - title (date) {mm:ss} [n].
        const QString desc = frmMain->tv->topLevelItem(0)->child(0)->text(0);
        EXPECT_TRUE(desc.startsWith("Book - 03 - Part (")) << desc.toStdString();
        EXPECT_TRUE(desc.endsWith(") {09:36} [00000001]")) << desc.toStdString();
        CloseProgram();
    }
}

TEST_F(BookmarksTest, GoOnAnAuthorGoesToItsLatestBookmark) {
    const QString a = book("a.mp3", Mp3Tags{"Author", "Book", "1", "One"});
    const QString b = book("b.mp3", Mp3Tags{"Author", "Book", "2", "Two"});
    addRecord(a, 5000, "older");
    addRecord(b, 7000, "newer");
    // Record 1 is rewritten last, so it is the latest although it is older by number.
    {
        TBookmark bm(store(), 1);
        TWriteContext ctx;
        ctx.Now = QDateTime::currentDateTime().addSecs(120);
        ASSERT_TRUE(WriteBookmark(bm, store(), ctx));
    }
    StartProgram();
    ASSERT_EQ(frmMain->tv->topLevelItemCount(), 1);
    select(frmMain->tv->topLevelItem(0));
    frmMain->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->tv->currentItem(), nodeEndingIn(1));
    EXPECT_EQ(frmMain->cmbFile->currentText(), a);
    EXPECT_EQ(frmMain->StatusText(0), "Playing");
    frmMain->PlayedSinceMark = false; // no resume question at the end of the test
}

TEST_F(BookmarksTest, TheTreeMenusTagEditorOpensTheSelectedBookmarksFile) {
    const QString a = book("a.mp3"), b = book("b.mp3");
    addRecord(a, 10, "one");
    addRecord(b, 20, "two");
    StartProgram();
    frmMain->cmbFile->setEditText(a); // another file is in the file box
    select(nodeEndingIn(2));
    QAction* item = frmMain->pop->findChild<QAction*>("mnuEditTag");
    if (!item)
        for (QAction* act : frmMain->pop->actions())
            if (act->objectName() == "mnuEditTag") item = act;
    ASSERT_NE(item, nullptr);
    item->trigger();
    EXPECT_EQ(frmEdit->TargetName, "b.mp3");
    frmEdit->hide();
}

TEST_F(BookmarksTest, ATreeFileWithABadLevelIsRebuilt) {
    const QString a = book("a.mp3");
    addRecord(a, 1000, "first");
    WriteAll(dataFolder() + "Narrabel.tv", "Author\r\n\t\tdeep [00000009]\r\n");
    StartProgram();
    EXPECT_EQ(treeLines().size(), 2);
    EXPECT_NE(nodeEndingIn(1), nullptr);
}

TEST_F(BookmarksTest, ATreeFileIsLoadedAsItStands) {
    addRecord(book("a.mp3"), 1000, "first");
    WriteAll(dataFolder() + "Narrabel.tv", "Someone\r\n\tkept as is [00000001]\r\n");
    StartProgram();
    EXPECT_EQ(treeLines(), QStringList({"Someone", "\tkept as is [00000001]"}));
}

TEST_F(BookmarksTest, StartBookmarkOnlyForAFileWithoutBookmarks) {
    StartProgram();
    const QString a = book("a.mp3");
    EXPECT_EQ(frmMain->FindOrAddStartBookmark(a), "");
    ASSERT_EQ(StoreRecordCount(store()), 1);
    TBookmark first(store(), 1);
    EXPECT_EQ(first.Rec.Position, 1);
    EXPECT_TRUE(first.Rec.Description.contains(" [START]"));
    EXPECT_TRUE(first.Rec.Description.endsWith(" {00:00} [00000001]"));
    // A second look finds it and stores nothing.
    EXPECT_EQ(frmMain->FindOrAddStartBookmark(a), first.Rec.Description);
    EXPECT_EQ(StoreRecordCount(store()), 1);
    // The node is selected and the tree file saved.
    ASSERT_NE(frmMain->tv->currentItem(), nullptr);
    EXPECT_EQ(frmMain->tv->currentItem()->text(0), first.Rec.Description);
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.tv").contains("[00000001]"));
}

TEST_F(BookmarksTest, CreateWithoutAFileShowsTheMessageAndNoDialog) {
    StartProgram();
    frmMain->cmdBookmarkClick();
    EXPECT_EQ(dialogs->Texts(), QStringList({"Please open a valid media file."}));
    EXPECT_FALSE(QFile::exists(store()));
}

TEST_F(BookmarksTest, CreateStoresANamedBookmarkAndTheResumePoint) {
    StartProgram();
    const QString a = book("a.mp3");
    frmMain->cmbFile->setEditText(a);
    WhenShown(frmBM, [] {
        EXPECT_EQ(frmBM->pnlFile->text(), "a.mp3");
        EXPECT_TRUE(frmBM->edtDesc->text().isEmpty());
        frmBM->edtDesc->setText("Chapter 3");
        frmBM->cmdOk->click();
    });
    frmMain->cmdBookmarkClick();
    ASSERT_EQ(StoreRecordCount(store()), 1);
    TBookmark bm(store(), 1);
    // A typed alias is kept as it is (tag text only with "always insert").
    EXPECT_TRUE(bm.Rec.Description.startsWith("Chapter 3 {00:00} [00000001]"));
    EXPECT_EQ(frmMain->tv->currentItem()->text(0), bm.Rec.Description);
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.rsm"));
    EXPECT_FALSE(frmMain->PlayedSinceMark);
}

TEST_F(BookmarksTest, DeletingAnAuthorMarksAllItsBookmarksAndSelectsThePreviousAuthor) {
    const QString a = book("a.mp3"), b = book("b.mp3");
    addRecord(a, 10, "one");
    addRecord(b, 20, "two");
    addRecord(b, 30, "three");
    addRecord(b, 40, "four");
    StartProgram();
    QTreeWidgetItem* authorB = nodeEndingIn(2)->parent();
    select(authorB);
    dialogs->AnswerConfirm(true);
    frmMain->mnuDelBMClick();
    EXPECT_EQ(dialogs->TextsOf("confirm"), QStringList({"Delete selected item(s)?"}));
    for (int n : {2, 3, 4})
        EXPECT_TRUE(TBookmark(store(), n).Rec.Deleted()) << n;
    EXPECT_FALSE(TBookmark(store(), 1).Rec.Deleted());
    EXPECT_EQ(frmMain->tv->topLevelItemCount(), 1);
    EXPECT_EQ(frmMain->tv->currentItem()->text(0), a); // the previous author
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_FALSE(frmMain->Deleting);
}

TEST_F(BookmarksTest, DeleteAnsweredNoChangesNothing) {
    addRecord(book("a.mp3"), 10, "one");
    StartProgram();
    select(nodeEndingIn(1));
    dialogs->AnswerConfirm(false);
    frmMain->mnuDelBMClick();
    EXPECT_FALSE(TBookmark(store(), 1).Rec.Deleted());
    EXPECT_NE(nodeEndingIn(1), nullptr);
}

TEST_F(BookmarksTest, CompactionRenumbersLiveRecordsAndRebuildsTheTree) {
    const QString a = book("a.mp3");
    for (int i = 1; i <= 5; ++i)
        addRecord(a, i * 1000, QStringLiteral("bm%1").arg(i));
    deleteRecord(2);
    deleteRecord(4);
    StartProgram();
    dialogs->AnswerConfirm(true);
    frmMain->cmdCompactClick();
    EXPECT_EQ(StoreRecordCount(store()), 3);
    EXPECT_FALSE(QFile::exists(dataFolder() + "!.tmp"));
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({"Finished compacting bookmarks."}));
    for (int n : {1, 2, 3})
        EXPECT_NE(nodeEndingIn(n), nullptr) << n;
    EXPECT_EQ(nodeEndingIn(4), nullptr);
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.tv").contains("[00000003]"));
    EXPECT_EQ(TBookmark(store(), 3).Rec.Position, 5000);
}

TEST_F(BookmarksTest, RenameABookmarkAndAnAuthor) {
    const QString a = book("a.mp3");
    addRecord(a, 10, "one");
    StartProgram();
    select(nodeEndingIn(1));
    dialogs->AnswerInput(QString("renamed"));
    frmMain->cmdRenameClick();
    TBookmark bm(store(), 1);
    EXPECT_TRUE(bm.Rec.Description.startsWith("renamed {00:00} [00000001]"));
    EXPECT_EQ(nodeEndingIn(1)->text(0), bm.Rec.Description);

    select(nodeEndingIn(1)->parent());
    dialogs->AnswerInput(QString("   "));
    frmMain->cmdRenameClick(); // blank: nothing happens
    EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.map"));
    dialogs->AnswerInput(QString("New Author"));
    frmMain->cmdRenameClick();
    EXPECT_EQ(nodeEndingIn(1)->parent()->text(0), "New Author");
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.map"), (a + "___New Author\r\n").toUtf8());
    // Later bookmarks of the old author go to the renamed node.
    frmMain->SaveNewBookmark(a, 500, "later");
    EXPECT_EQ(frmMain->tv->topLevelItemCount(), 1);
    EXPECT_EQ(frmMain->tv->topLevelItem(0)->childCount(), 2);
}

TEST_F(BookmarksTest, RenameOfAnUnreadableRecordReportsTheLookup) {
    addRecord(book("a.mp3"), 10, "one");
    WriteAll(dataFolder() + "Narrabel.tv", "Someone\r\n\tghost [00000042]\r\n");
    StartProgram();
    select(frmMain->tv->topLevelItem(0)->child(0));
    frmMain->cmdRenameClick();
    EXPECT_EQ(dialogs->Texts(), QStringList({"lookup failed: ghost [00000042]"}));
}

TEST_F(BookmarksTest, MissingSourceAnswers) {
    const QString gone = home + "/books/gone.mp3";
    const QString other = book("other.mp3");
    addRecord(gone, 576487, "kept");
    addRecord(gone, 1000, "second");
    StartProgram();

    // Ignore leaves everything as it was.
    select(nodeEndingIn(1));
    WhenShown(frmMissing, [] {
        EXPECT_EQ(frmMissing->pnlPos->text(), "576487 (09:36)");
        frmMissing->cmdIgnore->click();
    });
    frmMain->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->StatusText(0), "Error");
    EXPECT_EQ(TBookmark(store(), 1).Rec.FilePath, gone);

    // Repoint to another file: this bookmark only.
    select(nodeEndingIn(1));
    clickWhenShown(frmMissing, frmMissing->cmdRepoint);
    dialogs->AnswerFile(other);
    frmMain->GoToSelectedBookmark();
    EXPECT_EQ(TBookmark(store(), 1).Rec.FilePath, other);
    EXPECT_EQ(TBookmark(store(), 2).Rec.FilePath, gone);
    EXPECT_EQ(frmMain->cmbFile->currentText(), other);
    frmMain->PlayedSinceMark = false; // no resume question at the end of the test

    // Delete the other bookmark of the missing file: node gone, record marked.
    select(nodeEndingIn(2));
    clickWhenShown(frmMissing, frmMissing->cmdDelete);
    frmMain->GoToSelectedBookmark();
    EXPECT_TRUE(TBookmark(store(), 2).Rec.Deleted());
    EXPECT_EQ(nodeEndingIn(2), nullptr);
    EXPECT_NE(nodeEndingIn(1), nullptr);
}

TEST_F(BookmarksTest, ImportCountsPlayableFilesAndAddsEachOnce) {
    const QString dir = home + "/library";
    QDir().mkpath(dir + "/sub");
    MakeMp3(dir + "/a.mp3", {});
    MakeMp3(dir + "/b.MP3", {});
    MakeMp3(dir + "/sub/c.wav", {});
    StartProgram();
    auto run = [&] {
        frmMain->mnuImportClick();
        frmImport->SelectFolder(dir);
        frmImport->cmdOkClick();
    };
    run();
    EXPECT_EQ(frmImport->lblFiles->text(), "Files: 1");
    EXPECT_EQ(frmImport->lblNew->text(), "New: 1");
    EXPECT_FALSE(frmImport->isVisible());
    EXPECT_FALSE(frmMain->BatchAdding);
    run(); // again: counted, nothing added
    EXPECT_EQ(frmImport->lblFiles->text(), "Files: 1");
    EXPECT_EQ(frmImport->lblNew->text(), "New: 0");
    AppOptions().MoreFormats = true;
    run();
    EXPECT_EQ(frmImport->lblFiles->text(), "Files: 2");
    EXPECT_EQ(frmImport->lblNew->text(), "New: 1");
    EXPECT_EQ(StoreRecordCount(store()), 2);
    AppOptions().MoreFormats = false;
}

TEST_F(BookmarksTest, ImportWithoutAFolderAsksForOne) {
    StartProgram();
    frmMain->mnuImportClick();
    frmImport->stv->setCurrentIndex(QModelIndex());
    frmImport->cmdOkClick();
    EXPECT_EQ(dialogs->Texts(), QStringList({"Please select a starting folder."}));
    frmImport->cmdCancelClick();
    EXPECT_FALSE(frmImport->isVisible());
}

} // namespace
