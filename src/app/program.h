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

    // Class names of the windows in the order they were created.
    QStringList CreationOrder;

private:
    template <typename W> W* created(W* window);
    void connectParts();
};
