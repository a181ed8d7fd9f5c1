#pragma once
// The one owner of the program's parts: the shared state, the bookmark tree
// and its commands, the player and the mixer, the listening session, and the
// windows, created once in their designed order and alive until the program
// ends. Each window is handed what it needs; none reaches for another.

#include "bookmarks/bookmarkcommands.h"
#include "bookmarks/bookmarktree.h"
#include "playback/audiomixer.h"
#include "playback/mediaplayer.h"
#include "playback/session.h"
#include "rename/renamer.h"
#include "tags/tageditor.h"
#include "util/appstate.h"

#include <QStringList>
#include <optional>

class TInstanceServer;
class TMpris;
class TfrmAbout;
class TfrmBM;
class TfrmDebug;
class TfrmEdit;
class TfrmFill;
class TfrmImport;
class TfrmMain;
class TfrmMissing;
class TfrmOptions;
class TfrmPreview;
class TfrmRename;

class TProgram {
public:
    // args: the command-line parameters after the program's name.
    explicit TProgram(const QStringList& args);
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    TAppState App;
    TBookmarkTree Tree;
    TBookmarkCommands Bookmarks{App, Tree};
    TMediaPlayer Player;
    TAudioMixer Mixer;
    TListeningSession Session{App, Tree, Bookmarks, Player};
    TTagEditor Editor{App, Bookmarks, Session};
    TRenamer Renamer;

    TfrmMain* Main = nullptr;
    TfrmBM* BM = nullptr;
    TfrmEdit* Edit = nullptr;
    TfrmImport* Import = nullptr;
    TfrmMissing* Missing = nullptr;
    TfrmAbout* About = nullptr;
    TfrmDebug* Debug = nullptr;
    TfrmFill* Fill = nullptr;
    TfrmOptions* Options = nullptr;
    TfrmRename* Rename = nullptr;
    TfrmPreview* Preview = nullptr;
    // Media controls on the session bus (offered only when there is one).
    TMpris* Mpris = nullptr;

    // Takes what a second start on the same data folder hands over (only one
    // program at a time keeps a data folder).
    TInstanceServer* Instance = nullptr;

    // Class names of the windows in the order they were created.
    QStringList CreationOrder;

    // Another program holds the data folder (it was said): this one shows no
    // window and ends.
    bool Refused() const;
    // The desktop's session ends, a signal or the media controls' Quit: every
    // save of the close is made without a question or a message (the place,
    // the history, the resume point, the rest), then the event loop ends.
    void EndWithoutQuestions();
    // Raises the main window (from the media controls, or a second start).
    void RaiseWindow();
    // A second start's command line: the window comes up and its file plays,
    // once no question or long operation is in the way.
    void TakeHandedOver(const QStringList& args);

private:
    template <typename W> W* created(W* window);
    void connectParts();
    void playHandedOver();
    // The data folder's lock and the hand-over socket go: nothing more is saved.
    void releaseDataFolder();
    bool ending = false;
    std::optional<QStringList> handedOver;
};
