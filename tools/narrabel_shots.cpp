// Makes the README's screenshots: starts the real windows on a display (run it
// under xvfb-run through scripts/screenshots.sh), fills the bookmark tree from
// a folder of sample books, and saves the main window (with a book of files,
// with an M4B and its cover, and with an M4B and its chapters), the tag editor
// and the mass rename
// preview as PNG files.
//   narrabel-shots BOOKS-FOLDER OUTPUT-FOLDER

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "rename/tfrmpreview.h"
#include "rename/tfrmrename.h"
#include "tags/tfrmedit.h"
#include "ui/coverview.h"
#include "ui/qtdialogs.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

bool Wait(const std::function<bool()>& cond, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Pause(int ms) {
    QDeadlineTimer deadline(ms);
    Wait([&] { return deadline.hasExpired(); }, ms + 1000);
}

bool Save(QWidget* w, const QString& path) {
    Pause(300); // let the last paint land
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    NarrabelApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: narrabel-shots BOOKS-FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    const QString books = QFileInfo(args[1]).absoluteFilePath();
    const QString out = args[2];
    QDir().mkpath(out);

    QStringList files;
    QDirIterator it(books, {QStringLiteral("*.mp3"), QStringLiteral("*.m4b")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    if (files.size() < 4) {
        std::fprintf(stderr, "narrabel-shots: no sample books in %s\n", qPrintable(books));
        return 1;
    }

    QtDialogs dialogs;
    InstallDialogs(&dialogs);
    auto program = std::make_unique<TProgram>(QStringList());
    TfrmMain* frmMain = program->Main;
    TfrmEdit* frmEdit = program->Edit;
    TfrmRename* frmRename = program->Rename;
    TfrmPreview* frmPreview = program->Preview;
    TBookmarkCommands& bookmarks = program->Bookmarks;
    TListeningSession& session = program->Session;
    frmMain->show();
    Wait([frmMain] { return frmMain->Activated; });
    bool ok = true;

    // A tree with every part's start bookmark and a few named ones.
    for (const QString& f : files)
        bookmarks.FindOrAddStartBookmark(f);
    bookmarks.SaveNewBookmark(files[1], 41500, QStringLiteral("Captain Wentworth comes back"));
    bookmarks.SaveNewBookmark(files[2], 12250, QStringLiteral("The letter"));
    bookmarks.SaveNewBookmark(files.last(), 30000, QStringLiteral("Where I stopped"));
    frmMain->mnuExpandAllClick();
    session.SetFileText(files[1]);
    session.OpenCurrentFile();
    try {
        session.PlayFrom(21000);
        Pause(2500);
        frmMain->cmdPlayClick(); // paused, the bars where the last tick left them
    } catch (const std::exception& e) {
        std::fprintf(stderr, "narrabel-shots: no sound (%s); the file stays unplayed\n", e.what());
    }
    if (QTreeWidgetItem* outer = frmMain->tv->topLevelItem(0); outer && outer->childCount() > 1)
        bookmarks.SelectNodeByText(outer->child(1)->text(0));
    ok &= Save(frmMain, out + QStringLiteral("/main-window.png"));

    // A book in one M4B file, playing in its second chapter, its cover beside the tree.
    const QStringList m4b = files.filter(QStringLiteral("Earthsea.m4b"));
    if (!m4b.isEmpty()) {
        session.SetFileText(m4b.first());
        session.OpenCurrentFile();
        try {
            session.PlayFrom(75000);
            Pause(2500);
            frmMain->cmdPlayClick();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "narrabel-shots: no sound (%s)\n", e.what());
        }
        bookmarks.SelectNodeByText(bookmarks.FindOrAddStartBookmark(m4b.first()));
        Wait([frmMain] { return frmMain->imgCover->isVisible(); });
        ok &= Save(frmMain, out + QStringLiteral("/main-window-m4b.png"));
    }

    // A book in one M4B file, playing in its seventh chapter, with its chapter list.
    const QStringList moby = files.filter(QStringLiteral("Moby-Dick.m4b"));
    if (!moby.isEmpty()) {
        const QString book = moby.first();
        bookmarks.FindOrAddStartBookmark(book);
        bookmarks.SaveNewBookmark(book, 431000, QStringLiteral("Queequeg"));
        frmMain->mnuExpandAllClick();
        session.SetFileText(book);
        session.OpenCurrentFile();
        try {
            session.PlayFrom(0);
            Wait([&] { return session.Chapters.Rows().size() > 6; });
            session.GoToChapter(6);
            session.Skip(21000);
            Pause(2500);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "narrabel-shots: no sound (%s)\n", e.what());
        }
        const QString node = bookmarks.FindOrAddStartBookmark(book);
        if (!node.isEmpty()) bookmarks.SelectNodeByText(node);
        ok &= Save(frmMain, out + QStringLiteral("/chapters.png"));
        frmMain->cmdPlayClick();
    }

    // The tag editor on one part of a book, opened as the main window opens it.
    frmEdit->resize(860, 500);
    frmEdit->OpenOn(files[2]);
    Wait([frmEdit] { return frmEdit->isVisible(); });
    ok &= Save(frmEdit, out + QStringLiteral("/tag-editor.png"));
    frmEdit->hide();

    // The mass rename preview of the whole books folder.
    frmRename->SetMass();
    frmRename->SelectFolder(books);
    QTimer::singleShot(0, [&] {
        Wait([frmRename] { return frmRename->isVisible(); });
        frmRename->cmdOkClick(); // opens the preview and waits for it
    });
    QTimer::singleShot(0, [&] {
        Wait(
            [frmPreview] {
                return frmPreview->isVisible() && frmPreview->lv->topLevelItemCount() > 0;
            },
            20000);
        ok &= Save(frmPreview, out + QStringLiteral("/mass-rename-preview.png"));
        frmPreview->cmdCancelClick();
    });
    frmRename->exec();

    session.PlayedSinceMark = false; // no resume question on the way out
    frmMain->close();
    program.reset();
    InstallDialogs(nullptr);
    return ok ? 0 : 1;
}
