#pragma once
// The main window: file box, player panel, bookmark tree and status bar. It
// shows the state of the listening session and of the bookmark tree and hands
// the user's commands to them; the dialogs it opens are given to it by the
// program that owns the windows.

#include "bookmarks/bookmarktree.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>

class QComboBox;
class QFont;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QSplitter;
class QStatusBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class TAppState;
class TAudioMixer;
class TBookmark;
class TBookmarkCommands;
class TCoverView;
class TListeningSession;
class TfrmAbout;
class TfrmBM;
class TfrmDebug;
class TfrmEdit;
class TfrmImport;
class TfrmOptions;
class TSideColumn;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // The dialogs the main window opens; created after it, handed over once.
    struct TDialogs {
        TfrmBM* BM = nullptr;
        TfrmEdit* Edit = nullptr;
        TfrmImport* Import = nullptr;
        TfrmAbout* About = nullptr;
        TfrmDebug* Debug = nullptr;
        TfrmOptions* Options = nullptr;
    };

    TfrmMain(TAppState& app, TBookmarkTree& tree, TBookmarkCommands& bookmarks,
             TListeningSession& session, TAudioMixer& mixer, const QStringList& args,
             QWidget* parent = nullptr);
    ~TfrmMain() override;
    void SetDialogs(const TDialogs& dialogs) { dlg = dialogs; }

    // ---- lifecycle
    void FormCreate();
    void FormActivate();
    // False when the close is refused.
    bool FormClose();
    // The program ends without the close handler (its saves were made without
    // questions): a close that comes later is let through as it is.
    void CloseWithoutHandler();
    // The close handler ran (or the program ended without it).
    bool IsClosed() const { return formClosed; }
    // Another program holds the data folder: this one ends without a window.
    bool Refused = false;

    // ---- handlers
    QString StatusText(int panel) const;
    void cmdPlayClick();
    void tmrTimer();
    void sbPosChange();
    void cmdBrowseClick();
    void cmbFileChange();
    void cmbFileSelect();
    void cmdResumeClick();
    void cmdPrevClick();
    void cmdNextClick();
    void InitMixer();
    void tbVolumeChange();
    // Sets the volume bar, and with it the master volume.
    void SetVolume(int value);
    int Volume() const;
    void FormKeyDown(int key);
    void tvEnter();
    void tvExit();
    void mnuGoOffsetClick();
    void cmdAboutClick();
    void LoadOptions();
    void SaveOptions();
    // Saves the options without a message; false (a message in *error) when it cannot.
    bool SaveOptionsQuietly(QString* error);
    // The bookmark tree's font (from the Options window).
    void SetTreeFont(const QFont& font);
    void cmdOptionsClick();
    void cmdBookmarkClick();
    void tvDblClick();
    void cmdRenameClick();
    void mnuDelBMClick();
    void cmdCompactClick();
    void mnuImportClick();
    void cmdTagEditorClick();
    void mnuEditTagClick();
    void mnuCollapseAllClick();
    void mnuExpandAllClick();
    void mnuSelectAllClick();

    // ---- the tree on screen
    // Every node in tree order.
    QList<QTreeWidgetItem*> AllNodes() const;
    // Bookmark nodes sit under their author (level 1); authors are roots.
    static bool IsBookmarkNode(const QTreeWidgetItem* item);
    // The record an item's node names.
    TBookmark BookmarkFromNode(const QTreeWidgetItem* item) const;
    TBookmarkTree::Node* NodeOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* ItemOf(const TBookmarkTree::Node* node) const;

    // ---- state of the window
    bool Activated = false;
    // The program itself is changing controls: their change handlers do nothing.
    bool Updating = false;
    bool TreeFocused = false;

    // ---- controls
    QWidget* pnlTop = nullptr;
    QComboBox* cmbFile = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdResume = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdAbout = nullptr;
    QFrame* pnlPlay = nullptr;
    QPushButton* cmdPlay = nullptr;
    QPushButton* cmdBookmark = nullptr;
    QSlider* tbVolume = nullptr;
    QPushButton* cmdPrev = nullptr;
    QPushButton* cmdNext = nullptr;
    QProgressBar* prg = nullptr;
    QScrollBar* sbPos = nullptr;
    QMenu* popPos = nullptr;
    QWidget* pnlBM = nullptr;
    QPushButton* cmdGo = nullptr;
    QPushButton* cmdTVCreate = nullptr;
    QPushButton* cmdRename = nullptr;
    QPushButton* cmdDelBM = nullptr;
    QPushButton* cmdCompact = nullptr;
    QPushButton* cmdCollapse = nullptr;
    QPushButton* cmdExpand = nullptr;
    QPushButton* cmdTagEditor = nullptr;
    QPushButton* cmdImport = nullptr;
    QPushButton* cmdOptions = nullptr;
    QTreeWidget* tv = nullptr;
    // Beside the tree: a column about the book playing, its cover on top; it
    // hides while it has nothing to show.
    QSplitter* splSide = nullptr;
    TSideColumn* pnlSide = nullptr;
    TCoverView* imgCover = nullptr;
    QTreeView* lvChapters = nullptr;
    QPushButton* cmdChapters = nullptr; // shows or hides the chapter list
    QMenu* pop = nullptr;
    QStatusBar* sb = nullptr;
    // State, time and file as designed; then the sleep timer, the clock and
    // the book's volume boost.
    QLabel* sbPanels[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    QMenu* popSleep = nullptr;     // the sleep timer's choices
    QMenu* popBoost = nullptr;     // the book's volume boosts
    QLabel* lblTreeHint = nullptr; // inside the tree while it has no node

signals:
    // The volume bar moved (by the user or the program).
    void VolumeChanged(int value);
    // The close handler ran to its end and the window closed: nothing more is saved.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void ConnectHandlers();
    void ConnectSession();
    void SetUpDesktop();
    void SetUpListening();
    // The cover follows the file playing (coverpanel.cpp).
    void SetUpCover();
    void showCover();
    void ShowBoostMenu();
    void ShowSleepMenu();
    // The chapter list, its keys and the position bar's chapter marks.
    void SetUpChapters();
    void ShowChapterList(bool shown);
    void QueueFirstActivation();
    void ShowBusy(bool busy);
    // The tree on screen follows the tree's data.
    void ConnectTree();
    QTreeWidgetItem* makeItem(TBookmarkTree::Node* node);
    void rebuildItems();
    void showSelection(bool reveal);
    void reportSelection();

    TAppState& app;
    TBookmarkTree& tree;
    TBookmarkCommands& bookmarks;
    TListeningSession& session;
    TAudioMixer& mixer;
    TDialogs dlg;
    QStringList args;
    bool activationQueued = false;
    bool formClosed = false;
    bool mirroring = false; // the tree on screen is being brought in step with the data
    QHash<const TBookmarkTree::Node*, QTreeWidgetItem*> items;
    QList<QPair<QWidget*, bool>> lockedWidgets; // enabled states to put back
    QList<QPair<QAction*, bool>> lockedActions;
    QString coverFile; // the file whose cover is shown
};
