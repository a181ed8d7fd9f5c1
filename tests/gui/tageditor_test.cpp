// The ID3 tag editor: opening it from the main window, saving, the command list.
#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "rename/tfrmrename.h"
#include "support/bookfixture.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "tags/filetags.h"
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"
#include "tags/tfrmedit.h"
#include "tags/tfrmfill.h"
#include "ui/widgets.h"
#include "util/options.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using testsupport::MakeMp3;
using testsupport::Mp3Tags;
using testsupport::ReadAll;

namespace {

// The text frames of a file's tag, read with the ID3v2 library itself.
QMap<QString, QString> TextFrames(const QString& path) {
    Tid3v2tag tag;
    QMap<QString, QString> out;
    if (tag.LoadFromFile(path, 0) >= 256) return out;
    for (int i = 1; i <= tag.Frames().Count(); ++i) { // frames count from 1
        const QString id = tag.Frames().GetID(i);
        if (!id.startsWith('T')) continue;
        QString text;
        tag.GetTextFrame(id, text);
        out.insert(id, text);
    }
    return out;
}

Mp3Tags All(const char* artist, const char* album, const char* track, const char* title,
            const char* year, const char* genre, const char* notes) {
    Mp3Tags t;
    t.Artist = artist, t.Album = album, t.Track = track, t.Title = title;
    t.Year = year, t.Genre = genre, t.Comment = notes;
    return t;
}

class TagEditorTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        DropBookmarkIndexes();
        QDir().mkpath(dataFolder());
        books = home + "/books";
        QDir().mkpath(books);
        AppOptions() = TOptions();
        // The editor acts on one file at a time: the short test files never play on.
        testsupport::WriteAll(dataFolder() + "Narrabel.ini", "[Listening]\nPlayOn=false\n");
    }
    QString book(const QString& name, const Mp3Tags& tags = {}) {
        return MakeMp3(books + "/" + name, tags);
    }
    QString store() const { return dataFolder() + "Narrabel.nbm"; }
    // Opens the editor on books/, as a user choosing that folder in its tree.
    void openOnBooks(const QString& select = {}) {
        frmEdit->TargetName = select;
        frmEdit->MoveToFolder(books);
        frmEdit->Open();
    }
    QStringList listed() const {
        QStringList out;
        for (int i = 0; i < frmEdit->lst->count(); ++i)
            out << frmEdit->lst->item(i)->text();
        return out;
    }
    QString selected() const {
        QListWidgetItem* it = frmEdit->lst->currentItem();
        return it && it->isSelected() ? it->text() : QString();
    }
    QStringList boxes() const {
        QStringList out;
        for (QLineEdit* e :
             {frmEdit->edtArtist, frmEdit->edtAlbum, frmEdit->edtTrack, frmEdit->edtTitle,
              frmEdit->edtYear, frmEdit->edtGenre, frmEdit->edtComment})
            out << e->text();
        return out;
    }
    void setBoxes(const QStringList& v) {
        QLineEdit* e[] = {frmEdit->edtArtist, frmEdit->edtAlbum, frmEdit->edtTrack,
                          frmEdit->edtTitle,  frmEdit->edtYear,  frmEdit->edtGenre,
                          frmEdit->edtComment};
        for (int i = 0; i < 7; ++i)
            e[i]->setText(v.value(i));
    }
    // Chooses a command as the user does: the list's activation.
    void run(TfrmEdit::Command c) {
        emit frmEdit->cmbCmd->activated(int(c));
        EXPECT_EQ(frmEdit->cmbCmd->currentIndex(), -1);
    }
    QStringList tagOf(const QString& path) {
        ReadTag(path);
        const TMP3Rec& t = CurrentTag();
        return {t.Artist, t.Album, t.Track, t.Title, t.Year, t.Genre, t.Comment};
    }
    QStringList treeLines() const {
        QStringList out;
        for (QTreeWidgetItem* n : frmMain->AllNodes())
            out << (n->parent() ? "\t" : "") + n->text(0);
        return out;
    }
    QString books;
};

TEST_F(TagEditorTest, CommandListTabOrderAndSortedFileList) {
    StartProgram();
    QStringList items;
    for (int i = 0; i < frmEdit->cmbCmd->count(); ++i)
        items << frmEdit->cmbCmd->itemText(i);
    EXPECT_EQ(items, QStringList({"Copy record", "Paste record", "Fill from file info...",
                                  "Copy downwards, auto-filling Track/Seq",
                                  "Reload record (cancel changes)", QString(63, '-'),
                                  "Edit an autolist entry", "Rename file", "Mass rename",
                                  "Delete file and all related bookmarks"}));
    EXPECT_EQ(frmEdit->windowTitle(), "ID3 Tag Editor");
    QStringList chain;
    for (QWidget* w = frmEdit->edtArtist; chain.size() < 8; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) chain << w->objectName();
    EXPECT_EQ(chain, QStringList({"edtArtist", "edtAlbum", "edtTrack", "edtYear", "edtGenre",
                                  "edtTitle", "edtComment", "cmdUpdate"}));

    book("a.mp3");
    book("B.mp3");
    book("c.MP3");
    book(".hidden.mp3");
    book("notes.txt");
    QDir(books).mkdir("folder.mp3");
    // Named like audio but none: a FIFO (reading it would block), a socket, a broken
    // link and a link to the FIFO. A link to a file is the file.
    ASSERT_EQ(mkfifo(QFile::encodeName(books + "/fifo.mp3").constData(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = QFile::encodeName(books + "/socket.mp3");
    ASSERT_LT(size_t(sockPath.size()), sizeof addr.sun_path);
    memcpy(addr.sun_path, sockPath.constData(), size_t(sockPath.size()));
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    QFile::link(books + "/missing.mp3", books + "/broken.mp3");
    QFile::link(books + "/fifo.mp3", books + "/tofifo.mp3");
    QFile::link(books + "/a.mp3", books + "/link.mp3");
    openOnBooks();
    close(sock);
    EXPECT_EQ(listed(), QStringList({"a.mp3", "B.mp3", "c.MP3", "link.mp3"})); // letter case aside
    EXPECT_EQ(selected(), "a.mp3"); // a folder change selects the first file
}

TEST_F(TagEditorTest, OpensOnTheFileInTheFileBox) {
    book("a.mp3", {"First", "Book", "01", "One"});
    const QString b = book("b.mp3", All("Second", "Book", "02", "Two", "1999", "Speech", "note"));
    StartProgram();
    frmMain->cmbFile->setEditText("  " + b + " ");
    frmMain->cmdTagEditorClick();
    ASSERT_TRUE(frmEdit->isVisible());
    EXPECT_EQ(frmEdit->Folder(), books);
    EXPECT_EQ(frmEdit->TargetName, "b.mp3");
    EXPECT_EQ(selected(), "b.mp3");
    EXPECT_EQ(boxes(), QStringList({"Second", "Book", "02", "Two", "1999", "Speech", "note"}));

    // Coming back to the window keeps what the user moved to and typed.
    frmEdit->lst->setCurrentRow(0);
    frmEdit->edtTitle->setText("typed");
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(frmEdit, &activate);
    EXPECT_EQ(selected(), "a.mp3");
    EXPECT_EQ(frmEdit->edtTitle->text(), "typed");
    // Opening it again from the main window goes back to the file.
    frmMain->cmdTagEditorClick();
    EXPECT_EQ(selected(), "b.mp3");
}

TEST_F(TagEditorTest, OpensOnTheFirstBookmarkOfASelectedAuthor) {
    const QString first = book("z.mp3", {"Author", "Alpha", "01", "x"});
    const QString second = book("a.mp3", {"Author", "Beta", "01", "y"});
    QDir().mkpath(home + "/elsewhere");
    MakeMp3(home + "/elsewhere/other.mp3", {});
    StartProgram();
    bookmarks->SaveNewBookmark(second, 5000, "");
    bookmarks->SaveNewBookmark(first, 5000, "");
    ASSERT_EQ(frmMain->tv->topLevelItemCount(), 1);
    QTreeWidgetItem* author = frmMain->tv->topLevelItem(0);
    ASSERT_EQ(author->childCount(), 2);
    EXPECT_EQ(frmMain->BookmarkFromNode(author->child(0)).Rec.FilePath, first);

    frmEdit->MoveToFolder(home + "/elsewhere"); // the editor was left elsewhere
    frmMain->cmbFile->setEditText("");
    frmMain->tv->setCurrentItem(author);
    author->setSelected(true);
    frmMain->cmdTagEditorClick();
    ASSERT_TRUE(frmEdit->isVisible());
    EXPECT_EQ(frmEdit->Folder(), books);
    EXPECT_EQ(selected(), "z.mp3");
    EXPECT_EQ(frmEdit->edtAlbum->text(), "Alpha");

    // The context menu's way in takes the selected bookmark itself.
    frmMain->tv->clearSelection();
    frmMain->tv->setCurrentItem(author->child(1));
    author->child(1)->setSelected(true);
    frmMain->mnuEditTagClick();
    EXPECT_EQ(selected(), "a.mp3");
}

TEST_F(TagEditorTest, SaveWritesTheBoxesAsTyped) {
    struct Case {
        QStringList boxes;             // artist, album, track, title, year, genre, notes
        QMap<QString, QString> frames; // every text frame afterwards
    } cases[] = {
        {{"Art", "", "7", "Title", "", "", ""},
         {{"TPE1", "Art"}, {"TRCK", "7"}, {"TIT2", "Title"}}},
        {{" Art ", "Album ", " 3", "T", "2001", "Speech", ""},
         {{"TPE1", " Art "},
          {"TALB", "Album "},
          {"TRCK", " 3"},
          {"TIT2", "T"},
          {"TYER", "2001"},
          {"TCON", "Speech"}}},
    };
    StartProgram();
    for (const Case& c : cases) {
        const QString p =
            book("s.mp3", All("Old", "Old album", "01", "Old title", "1990", "Pop", "c"));
        openOnBooks("s.mp3");
        ASSERT_EQ(selected(), "s.mp3");
        setBoxes(c.boxes);
        frmEdit->cmdUpdate->click();
        EXPECT_EQ(TextFrames(p), c.frames) << c.boxes.join('|').toStdString();
        EXPECT_EQ(frmEdit->windowTitle(), "ID3 Tag Editor");
        ReadTag(p);
        EXPECT_TRUE(CurrentTag().Comment.isEmpty()); // empty notes remove the comment
    }
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(TagEditorTest, CopyAndPasteRecords) {
    book("a.mp3", All("A", "Book A", "01", "One", "2000", "Speech", "n"));
    book("b.mp3", {"B", "Book B", "02", "Two"});
    StartProgram();
    openOnBooks("b.mp3");
    const QStringList before = boxes();
    run(TfrmEdit::cmdPaste);
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({"Nothing has been copied yet."}));
    EXPECT_EQ(boxes(), before);

    frmEdit->SelectName("a.mp3");
    frmEdit->edtTitle->setText("unsaved");
    run(TfrmEdit::cmdCopy);
    frmEdit->SelectName("b.mp3");
    run(TfrmEdit::cmdPaste);
    EXPECT_EQ(boxes(), QStringList({"A", "Book A", "01", "unsaved", "2000", "Speech", "n"}));
    EXPECT_EQ(tagOf(books + "/b.mp3")[0], "B"); // nothing saved until Save
    run(TfrmEdit::cmdReload);
    EXPECT_EQ(boxes()[0], "B");
    EXPECT_EQ(dialogs->asked.size(), 1u);
}

TEST_F(TagEditorTest, CopyDownwardsNumbersTheFilesBelow) {
    struct Case {
        int start;
        const char* track;
        QStringList tracksAfter; // of the five files, in list order
    } cases[] = {
        {0, "9", {"01", "10", "11", "12", "13"}},
        {2, "03", {"01", "02", "03", "04", "05"}},
        {1, "x", {"01", "02", "01", "02", "03"}}, // no number counts from 0
        {4, "9", {"01", "02", "03", "04", "05"}}, // the last file: nothing happens
    };
    StartProgram();
    for (const Case& c : cases) {
        editor->CopyBuffer = TChgRec();
        QDir(books).removeRecursively();
        QDir().mkpath(books);
        for (int i = 1; i <= 5; ++i)
            book(QString("part%1.mp3").arg(i),
                 {"Old", "Old", QString("0%1").arg(i), QString("T%1").arg(i)});
        openOnBooks();
        frmEdit->lst->setCurrentRow(c.start);
        setBoxes({"Author", "Book", c.track, "Title", "2001", "Speech", "note"});
        bool sawBusy = false;
        QTimer::singleShot(0, frmEdit, [&] {
            sawBusy = !frmEdit->stv->isEnabled() && !frmEdit->lst->isEnabled() &&
                      !frmEdit->pnlEdit->isEnabled() &&
                      frmEdit->windowTitle() == "ID3 Tag Editor - Updating tags...";
        });
        run(TfrmEdit::cmdCopyDown);
        QCoreApplication::processEvents();
        const bool last = c.start == 4;
        EXPECT_EQ(sawBusy, !last) << c.start;
        for (int i = 0; i < 5; ++i) {
            const QStringList tag = tagOf(books + QString("/part%1.mp3").arg(i + 1));
            EXPECT_EQ(tag[2], c.tracksAfter[i]) << c.start << " file " << i;
            if (i > c.start) {
                EXPECT_EQ(tag, QStringList({"Author", "Book", c.tracksAfter[i], "Title", "2001",
                                            "Speech", "note"}));
            } else {
                EXPECT_EQ(tag[0], "Old") << "the starting file is not saved";
            }
        }
        EXPECT_TRUE(frmEdit->stv->isEnabled() && frmEdit->lst->isEnabled() &&
                    frmEdit->pnlEdit->isEnabled());
        EXPECT_EQ(frmEdit->windowTitle(), "ID3 Tag Editor");
        EXPECT_EQ(frmEdit->lst->currentRow(), last ? 4 : c.start + 1);
        if (!last) {
            EXPECT_EQ(frmEdit->edtTrack->text(), c.tracksAfter[c.start + 1]);
        }
        EXPECT_EQ(editor->CopyBuffer.Track, last ? QString() : QString(c.track));
    }
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(TagEditorTest, CopyDownwardsKeepsItsFilesWhenOpenedMeanwhile) {
    for (int i = 1; i <= 3; ++i)
        book(QString("p%1.mp3").arg(i), {"Old", "Old", "01", "T"});
    QDir().mkpath(home + "/other");
    const QString other = MakeMp3(home + "/other/x.mp3", {"Other", "Other", "05", "X"});
    StartProgram();
    openOnBooks();
    setBoxes({"New", "Book", "1", "Title"});
    QTimer::singleShot(0, frmMain, [&] { // the user opens the editor from the main window
        frmMain->cmbFile->setEditText(other);
        frmMain->cmdTagEditorClick();
    });
    run(TfrmEdit::cmdCopyDown);
    EXPECT_EQ(tagOf(books + "/p2.mp3"), QStringList({"New", "Book", "02", "Title", "", "", ""}));
    EXPECT_EQ(tagOf(books + "/p3.mp3")[2], "03");
    EXPECT_EQ(tagOf(other), QStringList({"Other", "Other", "05", "X", "", "", ""}));
    EXPECT_EQ(frmEdit->Folder(), books);
}

TEST_F(TagEditorTest, AutolistOpensTheLastIncompleteFile) {
    const QString complete = book("complete.mp3", {"A", "B", "01", "T"});
    const QString noArtist = book("noartist.mp3", {"", "B", "01", "T"});
    const QString noTitle = book("notitle.mp3", {"A", "B", "01", ""});
    const QString gone = books + "/gone.mp3";
    struct Case {
        QStringList list;
        bool autoExtra;
        const char* opened; // nullptr: "The autolist is empty."
        QStringList left;
    } cases[] = {
        {{complete, noArtist, complete}, false, "noartist.mp3", {complete}},
        {{complete, noTitle, complete}, true, "notitle.mp3", {complete}},
        {{complete, noTitle, complete},
         false,
         "complete.mp3",
         {}}, // none incomplete: the last taken
        {{noArtist, gone}, false, "noartist.mp3", {}},
        {{complete, gone}, false, "complete.mp3", {}},
        {{gone, noArtist}, false, "noartist.mp3", {gone}},
        {{gone}, false, nullptr, {}},
        {{}, false, nullptr, {}},
    };
    StartProgram();
    QDir().mkpath(home + "/elsewhere");
    for (const Case& c : cases) {
        frmEdit->MoveToFolder(home + "/elsewhere");
        frmEdit->Open();
        dialogs->asked.clear();
        AppOptions().AutoExtra = c.autoExtra;
        app->EditList->clear();
        app->EditList->append(c.list);
        run(TfrmEdit::cmdAutolist);
        EXPECT_EQ(QStringList(*app->EditList), c.left) << c.list.join(',').toStdString();
        if (c.opened) {
            EXPECT_TRUE(dialogs->asked.empty());
            EXPECT_EQ(frmEdit->Folder(), books);
            EXPECT_EQ(selected(), c.opened);
        } else {
            EXPECT_EQ(dialogs->TextsOf("message"), QStringList({"The autolist is empty."}));
            EXPECT_NE(frmEdit->Folder(), books);
        }
    }
}

TEST_F(TagEditorTest, FillFromFileInfoFillsAndSaves) {
    const QString folder = books + "/Author Name/Book Title";
    QDir().mkpath(folder);
    const QString p = MakeMp3(folder + "/Author Name - Book Title - 03 - Chapter Name.mp3",
                              All("", "", "", "", "1999", "", ""));
    StartProgram();
    for (bool ok : {false, true}) {
        frmEdit->TargetName = ExtractFileName(p);
        frmEdit->MoveToFolder(folder);
        frmEdit->Open();
        frmEdit->edtGenre->setText("Speech"); // typed, kept by the fill
        WhenShown(frmFill, [this, ok] {
            EXPECT_EQ(frmFill->pnlFile->text(), "Author Name - Book Title - 03 - Chapter Name");
            frmFill->cmbFolder->setCurrentIndex(4);
            (ok ? frmFill->cmdOk : frmFill->cmdCancel)->click();
        });
        run(TfrmEdit::cmdFill);
        if (ok) {
            const QStringList expected{"Author Name", "Book Title", "03", "Chapter Name",
                                       "1999",        "Speech",     ""};
            EXPECT_EQ(boxes(), expected);
            EXPECT_EQ(tagOf(p), expected);
        } else {
            EXPECT_EQ(boxes(), QStringList({"", "", "00", "", "1999", "Speech", ""}));
            EXPECT_EQ(tagOf(p)[0], "");
        }
    }
}

// Books of other formats are listed, shown and saved as MP3 files are: a
// fill from the name of a playing M4B saves through TagLib while the player
// steps aside, and playback goes on.
TEST_F(TagEditorTest, OtherFormatsAreListedShownAndSaved) {
    if (!testsupport::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testsupport::BookSpec spec;
    spec.Artist = "Someone";
    spec.Seconds = 12;
    const QString m4b = testsupport::MakeBook(books + "/Le Guin - Earthsea - 02 - Hawk.m4b", spec);
    spec.Seconds = 1;
    testsupport::MakeBook(books + "/b.flac", spec);
    testsupport::MakeBook(books + "/c.opus", spec);
    book("d.mp3", {"Mp3 Author", "Mp3 Book"});
    ASSERT_FALSE(m4b.isEmpty());
    StartProgram({m4b, "0"});
    ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    openOnBooks(ExtractFileName(m4b));
    EXPECT_EQ(listed(), QStringList({"b.flac", "c.opus", "d.mp3", ExtractFileName(m4b)}));
    EXPECT_EQ(boxes(), QStringList({"Someone", "", "00", "", "", "", ""}));
    WhenShown(frmFill, [this] {
        EXPECT_EQ(frmFill->pnlFile->text(), "Le Guin - Earthsea - 02 - Hawk");
        frmFill->cmdOk->click();
    });
    run(TfrmEdit::cmdFill);
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty()) << dialogs->Texts().join('|').toStdString();
    const TFileTag saved = ReadFileTag(m4b);
    EXPECT_EQ(saved.Format, TTagFormat::Mp4);
    EXPECT_EQ(saved.Fields.Artist, "Le Guin");
    EXPECT_EQ(saved.Fields.Album, "Earthsea");
    EXPECT_EQ(saved.Fields.Track, "02");
    EXPECT_EQ(saved.Fields.Title, "Hawk");
    EXPECT_TRUE(testsupport::ReadAll(m4b).mid(4, 4) == "ftyp");
    EXPECT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    EXPECT_EQ(mp->FileName(), m4b);
    session->PlayedSinceMark = false; // no resume question on the way out
}

TEST_F(TagEditorTest, RenameFileRepointsBookmarksAndRenamesTheEntry) {
    // Long enough (10 s) to be playing still when looked at after the jump to its mark.
    const QString old = MakeMp3(books + "/track.mp3", {"Author", "Book", "01", "Chapter"}, 400);
    const QString other = book("a-other.mp3", {"Author", "Book", "02", "Other"});
    StartProgram();
    bookmarks->SaveNewBookmark(old, 1500, "mark");
    openOnBooks("track.mp3");
    bookmarks->SaveNewBookmark(other, 1500, ""); // reads another file's tag meanwhile
    WhenShown(frmRename, [this] {
        EXPECT_EQ(frmRename->pnlOldName->text(), "track.mp3");
        EXPECT_FALSE(frmRename->stv->isEnabled());
        frmRename->cmdOk->click();
    });
    run(TfrmEdit::cmdRenameFile);
    const QString renamed = books + "/Author-Book-01-Chapter.mp3";
    EXPECT_TRUE(QFile::exists(renamed));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(listed(), QStringList({"a-other.mp3", "Author-Book-01-Chapter.mp3"}));
    EXPECT_EQ(selected(), "Author-Book-01-Chapter.mp3");
    QStringList paths;
    ForEachRecord(store(), [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        return true;
    });
    EXPECT_EQ(paths, QStringList({renamed, other}));
    EXPECT_TRUE(dialogs->asked.empty());

    // Go on the renamed file's bookmark plays the file under its new name.
    for (QTreeWidgetItem* n : frmMain->AllNodes())
        if (n->parent() && n->text(0).startsWith("mark ")) {
            frmMain->tv->clearSelection();
            frmMain->tv->setCurrentItem(n);
            n->setSelected(true);
        }
    session->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->cmbFile->currentText(), renamed);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(dialogs->asked.empty()); // no missing-source question
    session->PlayedSinceMark = false;

    // A mass rename reloads the list from the folder.
    WhenShown(frmRename, [this] {
        EXPECT_EQ(frmRename->pnlOldName->text(), "<multiple files>");
        EXPECT_TRUE(frmRename->stv->isEnabled());
        frmRename->cmdCancel->click();
    });
    QFile::rename(other, books + "/b-other.mp3");
    run(TfrmEdit::cmdMassRename);
    EXPECT_EQ(listed(), QStringList({"Author-Book-01-Chapter.mp3", "b-other.mp3"}));
}

TEST_F(TagEditorTest, RenameActsOnlyOnTheSelectedFile) {
    QDir().mkpath(books + "/One");
    QDir().mkpath(books + "/Two");
    const QString one = MakeMp3(books + "/One/01.mp3", {"Au", "Bk", "01", "One"});
    const QString two = MakeMp3(books + "/Two/01.mp3", {"Au", "Bk", "01", "Two"});
    StartProgram();
    bookmarks->SaveNewBookmark(one, 1500, "one");
    const QByteArray storeBefore = ReadAll(store());
    auto filesIn = [](const QString& folder) { return QDir(folder).entryList(QDir::Files); };

    // A rename prepared in One leaves the rename window's folder tree there.
    frmEdit->MoveToFolder(books + "/One");
    frmEdit->Open();
    WhenShown(frmRename, [this] { frmRename->cmdCancel->click(); });
    run(TfrmEdit::cmdRenameFile);
    // Two's file is selected, then Two is renamed behind the program's back.
    frmEdit->MoveToFolder(books + "/Two");
    ASSERT_EQ(selected(), "01.mp3");
    ASSERT_TRUE(QDir(books).rename("Two", "Three"));
    run(TfrmEdit::cmdRenameFile);
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({TRenamer::GoneMessage(two)}));
    EXPECT_EQ(filesIn(books + "/One"), QStringList({"01.mp3"}));
    EXPECT_EQ(filesIn(books + "/Three"), QStringList({"01.mp3"}));
    EXPECT_EQ(ReadAll(store()), storeBefore);

    // Gone while the rename window is open: the window says so and renames nothing.
    dialogs->asked.clear();
    frmEdit->MoveToFolder(books + "/One");
    ASSERT_EQ(selected(), "01.mp3");
    WhenShown(frmRename, [&] {
        QFile::rename(one, books + "/moved.mp3");
        frmRename->cmdOk->click();
    });
    run(TfrmEdit::cmdRenameFile);
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({TRenamer::GoneMessage(one)}));
    EXPECT_EQ(frmRename->Outcome(), "");
    EXPECT_EQ(filesIn(books + "/One"), QStringList());
    EXPECT_EQ(filesIn(books), QStringList({"moved.mp3"}));
    EXPECT_EQ(ReadAll(store()), storeBefore);
    EXPECT_EQ(listed(), QStringList());
}

TEST_F(TagEditorTest, OpeningOnAFileThatIsNotThereSelectsNothing) {
    const QString a = book("a.mp3", {"Au", "Bk", "01", "A"});
    QDir().mkpath(books + "/Two");
    const QString two = MakeMp3(books + "/Two/01.mp3", {"Au", "Bk", "02", "Two"});
    StartProgram();
    bookmarks->SaveNewBookmark(two, 1500, "two");
    ASSERT_TRUE(QDir(books).rename("Two", "Three")); // in a file manager
    QTreeWidgetItem* node = nullptr;
    for (QTreeWidgetItem* n : frmMain->AllNodes())
        if (n->text(0).startsWith("two ")) node = n;
    ASSERT_NE(node, nullptr);
    struct Case {
        const char* what;
        QString fileBox; // empty: the tree's bookmark is the way in
    } cases[] = {
        {"file box, folder gone", two},
        {"file box, file gone", books + "/gone.mp3"},
        {"bookmark, folder gone", QString()},
    };
    for (const Case& c : cases) {
        openOnBooks("a.mp3");
        ASSERT_EQ(selected(), "a.mp3");
        frmMain->cmbFile->setEditText(c.fileBox);
        frmMain->tv->clearSelection();
        if (c.fileBox.isEmpty()) {
            frmMain->tv->setCurrentItem(node);
            node->setSelected(true);
        }
        frmMain->cmdTagEditorClick();
        EXPECT_TRUE(frmEdit->isVisible()) << c.what;
        EXPECT_EQ(selected(), "") << c.what;
        EXPECT_EQ(boxes(), QStringList(7, QString())) << c.what;
        // Nothing for the commands to act on.
        run(TfrmEdit::cmdRenameFile);
        run(TfrmEdit::cmdDeleteFile);
        EXPECT_TRUE(dialogs->asked.empty()) << c.what;
        EXPECT_TRUE(QFile::exists(a));
    }
}

TEST_F(TagEditorTest, RenamingThePlayingFileKeepsItPlayingAndEverythingFollows) {
    const QString other = book("other.mp3", {"Other", "Book", "01", "O"});
    const QString track = MakeMp3(books + "/track.mp3", {"Author", "Book", "02", "Chapter"}, 1200);
    const QString renamed = books + "/Author-Book-02-Chapter.mp3";
    StartProgram();
    BrowseAndMark({other, track});
    TSuperStringList resume;
    ASSERT_TRUE(resume.LoadFromFile(dataFolder() + "Narrabel.rsm"));
    ASSERT_EQ(resume.value(0), track);

    frmMain->cmdTagEditorClick();
    ASSERT_EQ(selected(), "track.mp3");
    const int32_t before = mp->Position();
    WhenShown(frmRename, [this] { frmRename->cmdOk->click(); });
    run(TfrmEdit::cmdRenameFile);
    ASSERT_TRUE(QFile::exists(renamed));
    EXPECT_EQ(selected(), "Author-Book-02-Chapter.mp3");
    // Still playing the same stream: never reopened from the start.
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_GE(mp->Position(), before);
    EXPECT_TRUE(WaitFor([&] { return mp->Position() > before + 1000; }));
    ExpectPathFollowed(track, renamed);
    TSuperStringList resumeAfter;
    resumeAfter.LoadFromFile(dataFolder() + "Narrabel.rsm");
    EXPECT_EQ(resumeAfter.value(1), resume.value(1)); // the position stays
    EXPECT_EQ(frmMain->cmdResume->toolTip(), "Author-Book-02-Chapter.mp3");
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty());
    // A jump reopens the file by its new name.
    frmMain->sbPos->setValue(5000);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_GE(mp->Position(), 4900);

    // Close and start again: Resume, Prev/Next and the bookmark all reach the file.
    dialogs->AnswerConfirm(true); // "Update Resume point before exiting?"
    CloseProgram();
    StartProgram();
    ASSERT_NE(frmMain->tv->currentItem(), nullptr);
    EXPECT_TRUE(frmMain->tv->currentItem()->text(0).startsWith("mark "));
    TSuperStringList saved;
    ASSERT_TRUE(saved.LoadFromFile(dataFolder() + "Narrabel.rsm"));
    EXPECT_EQ(saved.value(0), renamed);
    EXPECT_GT(saved.value(1).toInt(), 2000); // 2.5 s before where listening stopped
    frmMain->cmdResumeClick();
    EXPECT_EQ(frmMain->cmbFile->currentText(), renamed);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_GE(mp->Position(), saved.value(1).toInt() - 50);
    frmMain->cmdPrevClick();
    EXPECT_EQ(frmMain->cmbFile->currentText(), renamed);
    frmMain->cmdPrevClick();
    EXPECT_EQ(frmMain->cmbFile->currentText(), other);
    frmMain->cmdNextClick();
    EXPECT_EQ(frmMain->cmbFile->currentText(), renamed);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    session->PlayedSinceMark = false;
    session->GoToSelectedBookmark();
    EXPECT_EQ(frmMain->cmbFile->currentText(), renamed);
    EXPECT_EQ(mp->Mode(), TMediaPlayer::mpPlaying);
    EXPECT_TRUE(dialogs->TextsOf("message").isEmpty()); // no missing-source question
    session->PlayedSinceMark = false;
}

TEST_F(TagEditorTest, RenameFromATagReadInPartAsksFirst) {
    // A control character makes the title unreadable: the name leaves it out.
    const QString p =
        book("01 Глава первая.mp3", {"Толстой", "Война и мир", "01", "Глава\x01первая"});
    StartProgram();
    for (bool yes : {false, true}) {
        openOnBooks("01 Глава первая.mp3");
        ASSERT_EQ(selected(), "01 Глава первая.mp3");
        dialogs->AnswerConfirm(yes);
        WhenShown(frmRename, [this, yes] {
            EXPECT_EQ(frmRename->pnlNewName->text(), "Толстой-Война и мир-01.mp3");
            frmRename->cmdOk->click();
            if (!yes) { // back to the window, which may leave the field out
                EXPECT_TRUE(frmRename->isVisible());
                frmRename->cmdCancel->click();
            }
        });
        run(TfrmEdit::cmdRenameFile);
        EXPECT_EQ(dialogs->TextsOf("confirm").value(yes ? 1 : 0),
                  "The tag could not be read in full; rename anyway?");
        EXPECT_EQ(QFile::exists(p), !yes);
        EXPECT_EQ(QFile::exists(books + "/Толстой-Война и мир-01.mp3"), yes);
    }
}

TEST_F(TagEditorTest, DeleteAsksThenRemovesFileBookmarksAndEmptyAuthors) {
    const QString a = book("a.mp3", {"Author", "Book", "01", "One"});
    const QString b = book("b.mp3", {"Author", "Book", "02", "Two"});
    const QString c = book("c.mp3", {"Loner", "Solo", "01", "Only"});
    StartProgram();
    bookmarks->SaveNewBookmark(a, 1500, "a1");
    bookmarks->SaveNewBookmark(b, 1500, "b1");
    bookmarks->SaveNewBookmark(a, 2500, "a2");
    bookmarks->SaveNewBookmark(c, 1500, "c1");
    openOnBooks("a.mp3");
    // Answered No: nothing changes.
    const QByteArray storeBefore = ReadAll(store());
    const QByteArray treeBefore = ReadAll(dataFolder() + "Narrabel.tv");
    const QStringList linesBefore = treeLines();
    dialogs->AnswerConfirm(false);
    run(TfrmEdit::cmdDeleteFile);
    EXPECT_EQ(dialogs->TextsOf("confirm"),
              QStringList({"Delete this file and all related bookmarks?\r\r" + a}));
    EXPECT_TRUE(QFile::exists(a));
    EXPECT_EQ(ReadAll(store()), storeBefore);
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.tv"), treeBefore);
    EXPECT_EQ(treeLines(), linesBefore);
    EXPECT_EQ(listed(), QStringList({"a.mp3", "b.mp3", "c.mp3"}));

    dialogs->AnswerConfirm(true);
    run(TfrmEdit::cmdDeleteFile);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(listed(), QStringList({"b.mp3", "c.mp3"}));
    EXPECT_EQ(selected(), "b.mp3");
    EXPECT_EQ(frmEdit->edtTitle->text(), "Two");

    // The file that is open in the main window: the player lets go first.
    frmMain->cmbFile->setEditText(c);
    const bool opened = session->OpenCurrentFile();
    frmEdit->SelectName("c.mp3");
    dialogs->AnswerConfirm(true);
    run(TfrmEdit::cmdDeleteFile);
    EXPECT_FALSE(QFile::exists(c));
    EXPECT_EQ(frmMain->cmbFile->currentText(), "");
    if (opened) {
        EXPECT_FALSE(mp->IsOpen());
        EXPECT_EQ(frmMain->StatusText(0), "Stopped");
        EXPECT_EQ(frmMain->StatusText(1), "00:00");
    }
    EXPECT_EQ(listed(), QStringList({"b.mp3"}));

    // A file that cannot be removed (a folder took its name meanwhile) keeps its
    // bookmarks, its entry and its place in the file box.
    ASSERT_TRUE(QFile::remove(b) && QDir().mkpath(b + "/inside"));
    frmMain->cmbFile->setEditText(b);
    const QByteArray storeKept = ReadAll(store());
    const QStringList linesKept = treeLines();
    dialogs->asked.clear();
    dialogs->AnswerConfirm(true);
    run(TfrmEdit::cmdDeleteFile);
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({"Cannot delete " + b}));
    EXPECT_TRUE(QFileInfo(b).isDir());
    EXPECT_EQ(listed(), QStringList({"b.mp3"}));
    EXPECT_EQ(frmMain->cmbFile->currentText(), b);
    EXPECT_EQ(ReadAll(store()), storeKept);
    EXPECT_EQ(treeLines(), linesKept);

    QStringList paths;
    ForEachRecord(store(), [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        return true;
    });
    EXPECT_EQ(paths, QStringList({"*", b, "*", "*"}));
    const QStringList lines = treeLines();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "Author");
    EXPECT_TRUE(lines[1].endsWith("[00000002]"));
    const QString treeFile = QString::fromUtf8(ReadAll(dataFolder() + "Narrabel.tv"));
    EXPECT_TRUE(treeFile.contains("[00000002]"));
    EXPECT_FALSE(treeFile.contains("[00000001]") || treeFile.contains("[00000004]") ||
                 treeFile.contains("Loner"));
}

} // namespace
