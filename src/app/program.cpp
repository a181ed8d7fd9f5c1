#include "app/program.h"

#include "app/mpris.h"
#include "app/tfrmmain.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/tfrmmissing.h"
#include "diag/tfrmabout.h"
#include "diag/tfrmdebug.h"
#include "playback/tfrmoptions.h"
#include "rename/tfrmpreview.h"
#include "rename/tfrmrename.h"
#include "tags/tfrmedit.h"
#include "tags/tfrmfill.h"

#include <QApplication>

template <typename W> W* TProgram::created(W* window) {
    CreationOrder << QString::fromLatin1(window->metaObject()->className());
    return window;
}

TProgram::TProgram(const QStringList& args) {
    Main = created(new TfrmMain(App, Tree, Bookmarks, Session, Mixer, args));
    // The dialogs are children of the main window and go with it.
    BM = created(new TfrmBM(Bookmarks, Session, Main));
    Edit = created(new TfrmEdit(Editor, Main));
    Import = created(new TfrmImport(Bookmarks, Main));
    Missing = created(new TfrmMissing(Main));
    About = created(new TfrmAbout(Main));
    Debug = created(new TfrmDebug(App, Main));
    Fill = created(new TfrmFill(Main));
    Options = created(new TfrmOptions(Main));
    Rename = created(new TfrmRename(Renamer, Main));
    Preview = created(new TfrmPreview(Renamer, Main));
    connectParts();
    TMprisWindow window;
    window.Raise = [this] {
        if (Main->isMinimized()) Main->setWindowState(Main->windowState() & ~Qt::WindowMinimized);
        Main->show();
        Main->raise();
        Main->activateWindow();
    };
    window.Close = [this] { Main->close(); };
    window.Volume = [this] { return Main->Volume(); };
    window.SetVolume = [this](int value) { Main->SetVolume(value); };
    window.DialogShown = [] { return QApplication::activeModalWidget() != nullptr; };
    Mpris = new TMpris(Session, App, window);
    QObject::connect(Main, &TfrmMain::VolumeChanged, Mpris, &TMpris::NoteChange);
}

void TProgram::connectParts() {
    Main->SetDialogs({BM, Edit, Import, About, Debug, Options});
    Edit->SetDialogs(Fill, Rename);
    Rename->Preview = Preview;
    Renamer.Repoint = [this](const QString& oldPath, const QString& newPath) {
        Session.FileRenamed(oldPath, newPath);
    };
    Renamer.HasBookmarks = [this](const QString& path) {
        return HasLiveBookmarks(App.StorePath, path);
    };
    Renamer.DataFolder = [this] { return App.DataFolder; };
    Renamer.Closing = [this] { return App.Closing; };
    Session.MakeBookmark = [this] { Main->cmdBookmarkClick(); };
    // A book's MP3 files without a frame count are measured as the player measures them.
    Session.Chapters.MeasureLength = [](const QString& path) {
        return TMediaPlayer::MpegAudioLengthMs(path);
    };
    Session.AskMissing = [this](const TBookmarkRec& rec) {
        Missing->Fill(rec.FilePath, rec.Stamp, rec.Position);
        switch (Missing->Ask()) {
        case TfrmMissing::Repoint:
            return TListeningSession::TMissingAnswer::Repoint;
        case TfrmMissing::Delete:
            return TListeningSession::TMissingAnswer::Delete;
        default:
            return TListeningSession::TMissingAnswer::Ignore;
        }
    };
    // While a long operation runs, the commands that rewrite records rest in
    // every window.
    QObject::connect(&Bookmarks, &TBookmarkCommands::BusyChanged, Import, &TfrmImport::SetBusy);
    QObject::connect(&Bookmarks, &TBookmarkCommands::BusyChanged, Missing, &TfrmMissing::SetBusy);
    QObject::connect(&Bookmarks, &TBookmarkCommands::BusyChanged, Edit, &TfrmEdit::SetBusy);
    QObject::connect(Options, &TfrmOptions::TreeFontChosen, Main, &TfrmMain::SetTreeFont);
}

TProgram::~TProgram() {
    delete Mpris;
    delete Main;
}
