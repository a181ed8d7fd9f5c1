#include "app/program.h"

#include "app/filedrop.h"
#include "app/instance.h"
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
#include <QTimer>
#include <cstdio>

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
    if (Refused()) return; // no media controls, nothing to take over
    TMprisWindow window;
    window.Raise = [this] { RaiseWindow(); };
    window.Quit = [this] { EndWithoutQuestions(); };
    window.Volume = [this] { return Main->Volume(); };
    window.SetVolume = [this](int value) { Main->SetVolume(value); };
    window.DialogShown = [] { return QApplication::activeModalWidget() != nullptr; };
    Mpris = new TMpris(Session, App, window);
    new TFileDrop(Main, Session); // files dropped on the window play
    QObject::connect(Main, &TfrmMain::VolumeChanged, Mpris, &TMpris::NoteChange);
    if (!App.DataFolder.isEmpty()) {
        Instance = new TInstanceServer();
        if (Instance->Listen(App.DataFolder))
            QObject::connect(Instance, &TInstanceServer::Requested, Main,
                             [this](const QStringList& args) { TakeHandedOver(args); });
    }
    // Once the close handler ran, nothing more is written: a new program may
    // take the folder.
    QObject::connect(Main, &TfrmMain::Closed, Main, [this] { releaseDataFolder(); });
}

bool TProgram::Refused() const {
    return Main->Refused;
}

void TProgram::RaiseWindow() {
    if (Main->isMinimized()) Main->setWindowState(Main->windowState() & ~Qt::WindowMinimized);
    Main->show();
    Main->raise();
    Main->activateWindow();
}

void TProgram::TakeHandedOver(const QStringList& args) {
    RaiseWindow();
    handedOver = args;
    playHandedOver();
}

void TProgram::playHandedOver() {
    if (!handedOver || App.Closing) return;
    // Not in the middle of a question, a dialog or a long operation, nor
    // before the window's own start-up work: it plays once they are over.
    if (!Main->Activated || QApplication::activeModalWidget() || Bookmarks.LongOperationRunning()) {
        QTimer::singleShot(200, Main, [this] { playHandedOver(); });
        return;
    }
    const QStringList args = *handedOver;
    handedOver.reset();
    Session.PlayHandedOver(args);
}

void TProgram::EndWithoutQuestions() {
    // Once: a signal that comes again meanwhile changes nothing. After the
    // close handler there is nothing left to save.
    if (ending || Refused() || Main->IsClosed()) return;
    ending = true;
    Session.tmr->stop();
    // A question or a long operation under way is left where it stands: the
    // event loops end once these saves are made, and the operation sees Closing.
    QStringList errors = Session.CloseDown(false);
    QString error;
    if (!Main->SaveOptionsQuietly(&error)) errors << error;
    // Nobody may be looking at a window now: what failed goes to the log.
    for (const QString& e : errors)
        std::fprintf(stderr, "narrabel: %s\n", e.toLocal8Bit().constData());
    Main->CloseWithoutHandler();
    Session.mp->Close();
    QCoreApplication::exit(0);
}

void TProgram::releaseDataFolder() {
    delete Instance;
    Instance = nullptr;
    App.UnlockDataFolder();
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
    releaseDataFolder();
}
