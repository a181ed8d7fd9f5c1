#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/tfrmmissing.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "support/bookfixture.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "tags/tfrmedit.h"
#include "ui/widgets.h"
#include "util/options.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

// Deleting this one path fails, as it does for a file the system holds on to
// (the stand-in for a tree file that cannot be removed).
static QByteArray undeletablePath;
extern "C" int unlink(const char* path) noexcept {
    using Unlink = int (*)(const char*);
    static const Unlink real = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlink"));
    if (!undeletablePath.isEmpty() && undeletablePath == path) {
        errno = EBUSY;
        return -1;
    }
    return real(path);
}

// Reads of this one file from this offset on fail, as on a disk going bad.
static char unreadablePath[4096];
static std::atomic<bool> unreadableArmed{false};
static constexpr off_t unreadableFrom = 512 * TBookmarkRec::Size;
extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    if (unreadableArmed && lseek(fd, 0, SEEK_CUR) >= unreadableFrom) {
        char link[sizeof unreadablePath], fdPath[64];
        snprintf(fdPath, sizeof fdPath, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(fdPath, link, sizeof link);
        if (n > 0 && size_t(n) == strlen(unreadablePath) && memcmp(link, unreadablePath, n) == 0) {
            errno = EIO;
            return -1;
        }
    }
    return real(fd, buffer, size);
}

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
        // A bookmark plays its one file: the short test files never play on.
        WriteAll(dataFolder() + "Narrabel.ini", "[Listening]\nPlayOn=false\n");
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
    // Writes a record again: one more suffix pair and a stamp that many seconds from now.
    void rewriteRecord(int32_t recNo, int seconds) {
        TBookmark bm(store(), recNo);
        TWriteContext ctx;
        ctx.Now = QDateTime::currentDateTime().addSecs(seconds);
        EXPECT_TRUE(WriteBookmark(bm, store(), ctx));
    }
    // bm1 to bm5 of one file, 2 and 4 deleted.
    void addCompactionExample() {
        const QString a = book("a.mp3");
        for (int i = 1; i <= 5; ++i)
            addRecord(a, i * 1000, QStringLiteral("bm%1").arg(i));
        deleteRecord(2);
        deleteRecord(4);
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
    void clickWhenShown(QWidget* dialog, QPushButton* button) {
        WhenShown(dialog, [button] { button->click(); });
    }
    QAction* menuItem(const char* name) {
        for (QAction* a : frmMain->pop->actions())
            if (a->objectName() == QLatin1String(name)) return a;
        return nullptr;
    }
    // The controls that a long operation makes unavailable, with their state.
    QStringList lockedCommands() {
        QStringList out;
        const QList<QWidget*> widgets{
            frmMain->cmdRename,     frmMain->cmdDelBM,     frmMain->cmdCompact,
            frmMain->cmdImport,     frmMain->cmdTagEditor, frmImport->cmdOk,
            frmMissing->cmdRepoint, frmMissing->cmdDelete, frmEdit};
        for (QWidget* w : widgets)
            if (!w->isEnabled()) out << w->objectName();
        for (const char* name : {"mnuRename", "mnuDelBM", "mnuCompact", "mnuImport", "mnuEditTag"})
            if (!menuItem(name)->isEnabled()) out << name;
        return out;
    }
    int nodesOf(int recNo) const {
        int n = 0;
        for (QTreeWidgetItem* node : frmMain->AllNodes())
            n += node->parent() && NodeRecordNumber(node->text(0)) == recNo;
        return n;
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
        bookmarks->SaveNewBookmark(path, 576487, "");
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
    rewriteRecord(1, 120);
    StartProgram();
    ASSERT_EQ(frmMain->tv->topLevelItemCount(), 1);
    select(frmMain->tv->topLevelItem(0));
    session->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->tv->currentItem(), nodeEndingIn(1));
    EXPECT_EQ(frmMain->cmbFile->currentText(), a);
    EXPECT_EQ(frmMain->StatusText(0), "Playing");
    session->PlayedSinceMark = false; // no resume question at the end of the test
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
    EXPECT_EQ(bookmarks->FindOrAddStartBookmark(a), "");
    ASSERT_EQ(StoreRecordCount(store()), 1);
    TBookmark first(store(), 1);
    EXPECT_EQ(first.Rec.Position, 1);
    EXPECT_TRUE(first.Rec.Description.contains(" [START]"));
    EXPECT_TRUE(first.Rec.Description.endsWith(" {00:00} [00000001]"));
    // A second look finds it and stores nothing.
    EXPECT_EQ(bookmarks->FindOrAddStartBookmark(a), first.Rec.Description);
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
    WhenShown(frmBM, [this] {
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
    EXPECT_FALSE(session->PlayedSinceMark);
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
    EXPECT_FALSE(bookmarks->Deleting);
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
    addCompactionExample();
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
    bookmarks->SaveNewBookmark(a, 500, "later");
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
    WhenShown(frmMissing, [this] {
        EXPECT_EQ(frmMissing->pnlPos->text(), "576487 (09:36)");
        frmMissing->cmdIgnore->click();
    });
    session->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->StatusText(0), "Error");
    EXPECT_EQ(TBookmark(store(), 1).Rec.FilePath, gone);

    // Repoint to another file: this bookmark only.
    select(nodeEndingIn(1));
    clickWhenShown(frmMissing, frmMissing->cmdRepoint);
    dialogs->AnswerFile(other);
    session->GoToSelectedBookmark();
    EXPECT_EQ(TBookmark(store(), 1).Rec.FilePath, other);
    EXPECT_EQ(TBookmark(store(), 2).Rec.FilePath, gone);
    EXPECT_EQ(frmMain->cmbFile->currentText(), other);
    session->PlayedSinceMark = false; // no resume question at the end of the test

    // Delete the other bookmark of the missing file: node gone, record marked.
    select(nodeEndingIn(2));
    clickWhenShown(frmMissing, frmMissing->cmdDelete);
    session->GoToSelectedBookmark();
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
    EXPECT_FALSE(bookmarks->BatchAdding);
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

TEST_F(BookmarksTest, ImportTakesBooksOfEveryFormatAndSaysWhatItDid) {
    if (!testsupport::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // Every extension, an author's books in several formats and folders, a
    // book whose content is no MP4 at all, and one file known before.
    const QString dir = home + "/library";
    QDir().mkpath(dir + "/Le Guin/CD 2");
    QDir().mkpath(dir + "/Tolstoy");
    const struct {
        const char* name;
        const char* artist;
    } books[] = {
        {"Le Guin/01.m4b", "Ursula K. Le Guin"},
        {"Le Guin/02.m4a", "Ursula K. Le Guin"},
        {"Le Guin/CD 2/03.aac", "Ursula K. Le Guin"},
        {"Le Guin/CD 2/04.FLAC", "Ursula K. Le Guin"},
        {"Tolstoy/01.opus", "\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439"},
        {"Tolstoy/02.ogg", "\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439"},
        {"Tolstoy/03.oga", "\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439"},
        {"Tolstoy/04.mp3", "\u041b\u0435\u0432 \u0422\u043e\u043b\u0441\u0442\u043e\u0439"},
    };
    QMap<QString, int> parts;
    for (const auto& b : books) {
        testsupport::BookSpec spec;
        spec.Artist = QString::fromUtf8(b.artist);
        spec.Title = QString::fromLatin1(b.name);
        ASSERT_FALSE(testsupport::MakeBook(dir + "/" + b.name, spec).isEmpty());
        ++parts[spec.Artist];
    }
    WriteAll(dir + "/Tolstoy/broken.m4b", QByteArray(4000, 'x'));
    const QString known = MakeMp3(dir + "/known.mp3", Mp3Tags("Known Author", "Known"));
    StartProgram();
    bookmarks->FindOrAddStartBookmark(known);
    frmMain->mnuImportClick();
    frmImport->SelectFolder(dir);
    frmImport->cmdOkClick();
    EXPECT_EQ(frmImport->lblFiles->text(), "Files: 10");
    EXPECT_EQ(frmImport->lblNew->text(), "New: 9");
    EXPECT_EQ(frmImport->lblSummary->text(),
              "8 new files by 2 authors; 1 already known; 1 could not be read");
    // The window closed itself: the summary was said after it.
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({frmImport->lblSummary->text()}));
    // One author node per author, each of its files once; the broken book
    // stands under its path, as an MP3 without a tag does.
    QMap<QString, int> shown;
    for (int i = 0; i < frmMain->tv->topLevelItemCount(); ++i)
        shown[frmMain->tv->topLevelItem(i)->text(0)] = frmMain->tv->topLevelItem(i)->childCount();
    parts["Known Author"] = 1;
    parts[dir + "/Tolstoy/broken.m4b"] = 1;
    EXPECT_EQ(shown, parts);
    EXPECT_EQ(StoreRecordCount(store()), 10);
    // The next time, Import opens on the folder imported last, and says so
    // until the next import.
    CloseProgram();
    StartProgram();
    frmMain->mnuImportClick();
    EXPECT_EQ(frmImport->SelectedFolder(), dir);
    frmImport->cmdOkClick();
    EXPECT_EQ(frmImport->lblSummary->text(),
              "0 new files by 0 authors; 10 already known; 0 could not be read");
}

TEST_F(BookmarksTest, BooksTaggedInEveryScriptGiveOneAuthorNodeEach) {
    // Polish, Russian, Greek, Japanese and Arabic books, tagged by mutagen in
    // UTF-16, UTF-16BE and UTF-8 tags of both versions.
    const QString dir = home + "/library";
    QProcess python;
    python.start("/usr/bin/python3",
                 {NARRABEL_SOURCE_DIR "/tests/data/id3v2/mutagen_peer.py", "books", dir});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        GTEST_SKIP() << "python3-mutagen is not installed";
    QMap<QString, int> parts; // author -> parts
    for (const QJsonValue& book : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        ++parts[book.toObject()["TPE1"].toString()];
    ASSERT_GE(parts.size(), 4);
    StartProgram();
    frmMain->mnuImportClick();
    frmImport->SelectFolder(dir);
    frmImport->cmdOkClick();
    QMap<QString, int> shown;
    for (int i = 0; i < frmMain->tv->topLevelItemCount(); ++i)
        shown[frmMain->tv->topLevelItem(i)->text(0)] = frmMain->tv->topLevelItem(i)->childCount();
    EXPECT_EQ(shown, parts);
}

TEST_F(BookmarksTest, BookmarksAddedOneByOneStandInTheLocalesOrder) {
    StartProgram();
    // Letters before their case and accents, numbers as numbers.
    QMap<QString, QString> files;
    for (const char* author : {"Zola", "abel", "\u00c9mile"})
        files[author] = book(QString::fromUtf8(author) + ".mp3", {author, "Book"});
    for (const char* author : {"Zola", "abel", "\u00c9mile"})
        bookmarks->SaveNewBookmark(files[author], 10, "mark");
    for (const char* part : {"Book 10", "Book 2", "Book 1"})
        bookmarks->SaveNewBookmark(files["abel"], 20, part);
    QStringList authors, marks;
    for (int i = 0; i < frmMain->tv->topLevelItemCount(); ++i)
        authors << frmMain->tv->topLevelItem(i)->text(0);
    EXPECT_EQ(authors, QStringList({"abel", QString::fromUtf8("\u00c9mile"), "Zola"}));
    const QTreeWidgetItem* abel = frmMain->tv->topLevelItem(0);
    for (int i = 0; i < abel->childCount(); ++i)
        marks << abel->child(i)->text(0).section(QStringLiteral(" {"), 0, 0);
    EXPECT_EQ(marks, QStringList({"Book 1", "Book 2", "Book 10", "mark"}));
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

// ---------------------------------------------------------------- faults mended

TEST_F(BookmarksTest, NothingChangesTheTreeUnderARunningDelete) {
    const QString a = book("a.mp3"), b = book("b.mp3"), c = book("c.mp3");
    for (const QString& f : {a, b, c}) {
        addRecord(f, 1000, "one");
        addRecord(f, 2000, "two");
    }
    StartProgram();
    frmMain->tv->clearSelection();
    for (int i = 0; i < frmMain->tv->topLevelItemCount(); ++i)
        frmMain->tv->topLevelItem(i)->setSelected(true);
    frmMain->TreeFocused = true;
    // Yes to every question: only the first may be asked.
    for (int i = 0; i < 4; ++i)
        dialogs->AnswerConfirm(true);
    QStringList locked;
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        // The delete is letting events run: Delete again by button, key and
        // menu, Compact from the menu, and a new bookmark under a doomed author.
        locked = lockedCommands();
        pressed = true;
        frmMain->cmdDelBM->click();
        QTest::keyClick(frmMain->tv, Qt::Key_Delete);
        menuItem("mnuDelBM")->trigger();
        menuItem("mnuCompact")->trigger();
        frmMain->cmdCompactClick();
        bookmarks->SaveNewBookmark(a, 3000, "made meanwhile");
    });
    frmMain->mnuDelBMClick();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(locked.size(), 14) << locked.join(' ').toStdString();
    EXPECT_TRUE(frmMain->cmdTVCreate->isEnabled());
    EXPECT_EQ(dialogs->TextsOf("confirm"), QStringList({"Delete selected item(s)?"}));
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(TBookmark(store(), n).Rec.Deleted()) << n;
    // The bookmark made meanwhile was no part of the delete: it keeps its author.
    EXPECT_FALSE(TBookmark(store(), 7).Rec.Deleted());
    EXPECT_TRUE(TBookmark(store(), 7).Rec.Description.startsWith("made meanwhile {00:03}"));
    EXPECT_EQ(treeLines(), QStringList({a, "\t" + TBookmark(store(), 7).Rec.Description}));
    EXPECT_EQ(StoreRecordCount(store()), 7);
    EXPECT_TRUE(lockedCommands().isEmpty());
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_FALSE(bookmarks->Deleting);
}

TEST_F(BookmarksTest, ATreeFileThatCannotBeDeletedStopsTheCompaction) {
    addCompactionExample();
    StartProgram();
    const QByteArray before = ReadAll(store());
    undeletablePath = QFile::encodeName(dataFolder() + "Narrabel.tv");
    dialogs->AnswerConfirm(true);
    QTest::mouseClick(frmMain->cmdCompact, Qt::LeftButton);
    undeletablePath.clear();
    ASSERT_EQ(dialogs->TextsOf("message").size(), 1);
    EXPECT_TRUE(dialogs->TextsOf("message")[0].contains("the bookmarks were not compacted"));
    // No renumbering behind the tree file's back: bm3 is still record 3.
    EXPECT_EQ(ReadAll(store()), before);
    EXPECT_FALSE(QFile::exists(dataFolder() + "!.tmp"));
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    CloseProgram();
    StartProgram();
    select(nodeEndingIn(3));
    dialogs->AnswerConfirm(true);
    frmMain->mnuDelBMClick();
    EXPECT_TRUE(TBookmark(store(), 3).Rec.Deleted());
    EXPECT_FALSE(TBookmark(store(), 5).Rec.Deleted());
}

TEST_F(BookmarksTest, GoOnAnAuthorAfterCompactionPlaysItsOwnBookmark) {
    const QString a = book("a.mp3", Mp3Tags{"Author A", "Book", "1", "One"});
    const QString b = book("b.mp3", Mp3Tags{"Author B", "Book", "2", "Two"});
    addRecord(a, 1000, "gone");
    addRecord(a, 2000, "kept");
    rewriteRecord(2, -120); // written twice: the text holds "[00000002]" twice
    addRecord(b, 3000, "other");
    deleteRecord(1);
    StartProgram();
    dialogs->AnswerConfirm(true);
    frmMain->cmdCompactClick();
    // A's bookmark is record 1 now, its text still holding its old number 2;
    // B's is record 2.
    ASSERT_EQ(frmMain->tv->topLevelItemCount(), 2);
    ASSERT_TRUE(frmMain->tv->topLevelItem(0)->child(0)->text(0).contains("[00000002]"));
    select(frmMain->tv->topLevelItem(1));
    session->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->cmbFile->currentText(), b);
    EXPECT_EQ(frmMain->tv->currentItem(), frmMain->tv->topLevelItem(1)->child(0));
    session->PlayedSinceMark = false; // no resume question at the end of the test
}

TEST_F(BookmarksTest, ABookmarkMadeDuringARebuildHasOneNode) {
    const QString a = book("a.mp3"), b = book("b.mp3");
    for (int i = 0; i < 300; ++i)
        addRecord(i % 2 ? a : b, i + 10, QStringLiteral("bm%1").arg(i));
    StartProgram({}, false);
    frmMain->cmbFile->setEditText(a);
    // Create, pressed while the tree is being built from the store.
    bool created = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (created || !frmMain->windowTitle().contains("Building tree view")) return;
        created = true;
        EXPECT_TRUE(frmMain->cmdTVCreate->isEnabled());
        EXPECT_FALSE(frmMain->cmdDelBM->isEnabled());
        clickWhenShown(frmBM, frmBM->cmdOk);
        frmMain->cmdTVCreate->click();
    });
    probe.start(0);
    frmMain->show();
    ASSERT_TRUE(WaitFor([this] { return frmMain->Activated; }));
    probe.stop();
    ASSERT_TRUE(created);
    ASSERT_EQ(StoreRecordCount(store()), 301);
    EXPECT_EQ(nodesOf(301), 1);
    EXPECT_EQ(frmMain->AllNodes().size(), 2 + 301);
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.tv").count("[00000301]"), 1);
    EXPECT_FALSE(bookmarks->BatchAdding);
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
}

TEST_F(BookmarksTest, ATreeRebuildThatEndsEarlyIsNeverSavedAsTheTree) {
    const QString a = book("a.mp3"), b = book("b.mp3");
    for (int i = 0; i < 600; ++i)
        addRecord(i % 2 ? a : b, i + 10, QStringLiteral("bm%1").arg(i));
    const QString treeFile = dataFolder() + "Narrabel.tv";
    const QByteArray storeName = QFile::encodeName(store());
    ASSERT_LT(size_t(storeName.size()), sizeof unreadablePath);
    // How the rebuild after a compaction ends early, at its first look at events.
    const std::function<void()> interruptions[] = {
        [] { unreadableArmed = true; }, // the store goes unreadable
        [this] {
            dialogs->AnswerConfirm(true); // "quit anyway"
            frmMain->close();
        },
    };
    for (const auto& interrupt : interruptions) {
        StartProgram();
        ASSERT_EQ(ReadAll(treeFile).count('\t'), StoreRecordCount(store()));
        strcpy(unreadablePath, storeName.constData());
        bool interrupted = false;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (interrupted || !frmMain->windowTitle().contains("Building tree view")) return;
            interrupted = true;
            interrupt();
        });
        probe.start(0);
        dialogs->AnswerConfirm(true);
        frmMain->cmdCompactClick();
        unreadableArmed = false;
        ASSERT_TRUE(interrupted);
        ASSERT_LT(frmMain->AllNodes().size(), 2 + StoreRecordCount(store()));
        // Later changes go to the store; the partial tree never becomes the tree file.
        if (!app->Closing) bookmarks->SaveNewBookmark(book("c.mp3"), 500, "later");
        bookmarks->SaveTreeFile();
        EXPECT_FALSE(QFile::exists(treeFile));
        CloseProgram();
    }
    StartProgram(); // the whole tree again, from the store
    EXPECT_EQ(StoreRecordCount(store()), 601);
    EXPECT_EQ(frmMain->AllNodes().size(), 3 + 601);
    EXPECT_EQ(ReadAll(treeFile).count('\t'), 601);
}

TEST_F(BookmarksTest, AnImportEndedByAWriteErrorStillPutsTheTreeInOrder) {
    const QString dir = home + "/library";
    QDir().mkpath(dir + "/one");
    QDir().mkpath(dir + "/two");
    MakeMp3(dir + "/one/a.mp3", {});
    MakeMp3(dir + "/two/b.mp3", {});
    StartProgram();
    // Once the first file is stored, the store stops taking writes.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (frmImport->lblNew->text() != "New: 1") return;
        probe.stop();
        ASSERT_TRUE(QFile::rename(store(), store() + ".away"));
        ASSERT_TRUE(QDir().mkdir(store()));
    });
    probe.start(0);
    frmMain->mnuImportClick();
    frmImport->SelectFolder(dir);
    QTest::mouseClick(frmImport->cmdOk, Qt::LeftButton);
    ASSERT_EQ(dialogs->TextsOf("message").size(), 1);
    EXPECT_TRUE(dialogs->TextsOf("message")[0].startsWith("Cannot open the bookmark store"));
    ASSERT_TRUE(QDir().rmdir(store()));
    ASSERT_TRUE(QFile::rename(store() + ".away", store()));
    // The import is over: window closed, batch adding off, commands back.
    EXPECT_FALSE(frmImport->isVisible());
    EXPECT_TRUE(frmImport->cmdOk->isVisibleTo(frmImport));
    EXPECT_FALSE(bookmarks->BatchAdding);
    EXPECT_TRUE(lockedCommands().isEmpty());
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_TRUE(ReadAll(dataFolder() + "Narrabel.tv").contains("[00000001]"));
    // Bookmarks made later are sorted in and saved as always.
    bookmarks->SaveNewBookmark(book("c.mp3"), 500, "later");
    CloseProgram();
    StartProgram();
    EXPECT_EQ(frmMain->tv->topLevelItemCount(), 2);
    EXPECT_EQ(nodesOf(2), 1);
}

TEST_F(BookmarksTest, AFileWhosePathDoesNotFitPlaysButIsNeverBookmarked) {
    const QString folder = home + "/books/" + QString(150, 'd');
    QDir().mkpath(folder);
    const QString longPath = MakeMp3(folder + "/" + QString(140, 'f') + ".mp3", {});
    ASSERT_GT(longPath.toUtf8().size(), 300);
    MakeMp3(folder + "/short.mp3", {});
    StartProgram();
    for (int i = 0; i < 2; ++i) { // Browse, twice: plays, stores nothing, says nothing
        dialogs->AnswerFile(longPath);
        QTest::mouseClick(frmMain->cmdBrowse, Qt::LeftButton);
        EXPECT_EQ(frmMain->StatusText(0), "Playing");
        EXPECT_FALSE(QFile::exists(store()));
    }
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
    const QString tooLong = "The path of this file is too long to bookmark (254 bytes at most).";
    frmMain->cmdBookmarkClick(); // Create: says so, no dialog
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({tooLong}));
    session->PlayedSinceMark = false;
    frmMain->mnuImportClick();
    frmImport->SelectFolder(folder);
    frmImport->cmdOkClick();
    EXPECT_EQ(frmImport->lblFiles->text(), "Files: 2");
    EXPECT_EQ(frmImport->lblNew->text(), "New: 1");
    EXPECT_EQ(frmImport->lblSkipped->text(), "Skipped: 1");
    EXPECT_EQ(dialogs->TextsOf("message"),
              QStringList({tooLong, tooLong, frmImport->lblSummary->text()}));
    EXPECT_EQ(StoreRecordCount(store()), 1);
    EXPECT_EQ(TBookmark(store(), 1).Rec.FilePath, folder + "/short.mp3");
}

TEST_F(BookmarksTest, WithoutADataFolderFilesPlayAndBookmarkCommandsSaySo) {
    QDir(home + "/Documents").removeRecursively();
    WriteAll(home + "/Documents", "not a folder");
    const QString a = book("a.mp3");
    StartProgram();
    ASSERT_TRUE(app->DataFolder.isEmpty());
    dialogs->asked.clear();
    dialogs->AnswerFile(a);
    QTest::mouseClick(frmMain->cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(frmMain->StatusText(0), "Playing");
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
    session->PlayedSinceMark = false;
    frmMain->cmdBookmarkClick();
    frmMain->mnuImportClick();
    frmMain->cmdCompactClick();
    const QString cannot = "Bookmarks cannot be saved until the data folder can be created.";
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({cannot, cannot, cannot}));
    EXPECT_FALSE(frmImport->isVisible());
}

TEST_F(BookmarksTest, AStoreThatCannotBeReadLeavesNoTreeFile) {
    QDir().mkpath(store()); // exists, but is no file of records
    StartProgram();
    ASSERT_EQ(dialogs->TextsOf("message").size(), 1);
    EXPECT_TRUE(dialogs->TextsOf("message")[0].startsWith("Cannot read the bookmark store"));
    EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.tv"));
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_TRUE(frmMain->cmdDelBM->isEnabled());
}

TEST_F(BookmarksTest, EveryCloseStepRunsWhenAnEarlierOneFails) {
    const QString a = book("a.mp3");
    StartProgram();
    QDir().mkpath(dataFolder() + "Narrabel.tvs"); // the selection cannot be saved
    dialogs->AnswerFile(a);
    QTest::mouseClick(frmMain->cmdBrowse, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([this] { return mp->Position() > 0; }));
    dialogs->AnswerConfirm(true); // update the resume point
    EXPECT_TRUE(frmMain->close());
    EXPECT_EQ(dialogs->TextsOf("confirm"), QStringList({"Update Resume point before exiting?"}));
    ASSERT_EQ(dialogs->TextsOf("message").size(), 1);
    EXPECT_TRUE(dialogs->TextsOf("message")[0].contains("Narrabel.tvs"));
    for (const char* file : {"Narrabel.nbh", "Narrabel.rsm", "Narrabel.opt"})
        EXPECT_TRUE(QFileInfo(dataFolder() + file).isFile()) << file;
}

TEST_F(BookmarksTest, AStateFileThatCannotBeWrittenKeepsItsOldContents) {
    const QStringList files{"Narrabel.nbh", "Narrabel.rsm", "Narrabel.tvs",
                            "Narrabel.hst", "Narrabel.edt", "Narrabel.map"};
    StartProgram();
    CloseProgram(); // leaves an options file
    QHash<QString, QByteArray> old;
    for (const QString& f : files) {
        old[f] = QStringLiteral("000000000001/old/%1.mp3\r\n").arg(f).toUtf8();
        WriteAll(dataFolder() + f, old[f]);
    }
    old["Narrabel.opt"] = ReadAll(dataFolder() + "Narrabel.opt");
    ASSERT_GT(old["Narrabel.opt"].size(), 100);
    old["Narrabel.ini"] = ReadAll(dataFolder() + "Narrabel.ini");
    ASSERT_FALSE(old["Narrabel.ini"].isEmpty());
    StartProgram();
    frmMain->cmbFile->setEditText(book("a.mp3"));
    // A disk that takes no more than one byte per file.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 1;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    session->AddRecentFile();                                         // .hst: ignored
    EXPECT_THROW(bookmarks->AppendNameMap("A", "B"), std::exception); // .map
    EXPECT_THROW(session->SaveResumePoint(), std::exception);         // .rsm
    session->History->Add("/new.mp3", 1);
    EXPECT_TRUE(frmMain->close()); // .nbh, .edt, .tvs (and the options and settings)
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    for (auto it = old.cbegin(); it != old.cend(); ++it)
        EXPECT_EQ(ReadAll(dataFolder() + it.key()), it.value()) << it.key().toStdString();
    // The failed history save reached the error box with the other close errors.
    const QStringList messages = dialogs->TextsOf("message");
    EXPECT_TRUE(messages.join('|').contains("Narrabel.nbh")) << messages.join('|').toStdString();
    EXPECT_TRUE(messages.join('|').contains("Narrabel.tvs"));
    EXPECT_EQ(QDir(dataFolder()).entryList(QDir::Files).size(), old.size()); // no leftovers
}

} // namespace
