#pragma once
// The main window: file box, player panel, bookmark tree and status bar. Its
// handlers live in the files of the subsystem that owns them.

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

#include "util/qorext.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TAudioMixer;
class TBMHistory;
class TBookmark;
class TMediaPlayer;
class TMpris;
struct TBookmarkRec;

struct TParamRec {
    QString MediaFile;
    int32_t SeekPoint = 0;
    int32_t PlaySeconds = 0;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(const QStringList& args, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // ---- lifecycle
    void FormCreate();
    void FormActivate();
    // False when the close is refused.
    bool FormClose();
    bool ResolveDataFolder();

    // ---- playback control
    // The open-file dialog's file types.
    static QString DlgOpenFilter();
    void SetStatus(int panel, const QString& text);
    QString StatusText(int panel) const;
    bool OpenCurrentFile();
    void PlayFrom(int32_t position);
    void cmdPlayClick();
    void tmrTimer();
    void sbPosChange();
    void cmdBrowseClick();
    void cmbFileChange();
    void cmbFileSelect();
    void mpLengthKnown(int32_t length);
    void AskBookmarkProgress();
    void ArrangeControls();

    // ---- resume point and recent files
    // Where a resume point saved at position starts: 2.5 s earlier, never before 10 ms.
    static int32_t ResumePositionFor(int32_t position);
    void LoadResumeHint();
    void SaveResumePoint();
    void cmdResumeClick();
    void AddRecentFile();
    void SaveTreeState();
    void LoadTreeState();
    // After the program renamed a file: every remembered path equal to oldPath
    // (see FollowRename) takes newPath, then its bookmarks are repointed.
    void FileRenamed(const QString& oldPath, const QString& newPath);
    // The player's file and panel, the file box and recent list ("Narrabel.hst"),
    // the autolist, the history ("Narrabel.nbh") and the resume point
    // ("Narrabel.rsm") follow a rename. Playback goes on undisturbed; the tree's
    // selection names a bookmark, not a file, and stays as it is.
    void FollowRename(const QString& oldPath, const QString& newPath);

    // ---- history navigation
    void cmdPrevClick();
    void cmdNextClick();
    void UpdateHints();

    // ---- volume
    void InitMixer();
    void tbVolumeChange();

    // ---- keyboard, go-to-offset, timed exit, About
    void FormKeyDown(int key);
    void tvEnter();
    void tvExit();
    void mnuGoOffsetClick();
    void TimedExitTick();
    void cmdAboutClick();

    // ---- options
    void LoadOptions();
    void SaveOptions();
    void cmdOptionsClick();

    // ---- bookmark tree
    void LoadTree();
    void AddBookmarkNode(const TBookmarkRec& rec);
    QString ApplyNameMap(const QString& name);
    QTreeWidgetItem* FindOuterNode(const QString& name);
    static int64_t NodeRecordNumber(const QString& text);
    std::unique_ptr<TBookmark> BookmarkFromNode(QTreeWidgetItem* node);
    void SelectNodeByText(const QString& text);
    QTreeWidgetItem* LatestChildNode(QTreeWidgetItem* outer);
    void SaveTreeFile();
    void SelectAllOuterNodes();
    void mnuCollapseAllClick();
    void mnuExpandAllClick();
    void mnuSelectAllClick();
    // Bookmark nodes sit under their author (level 1); authors are roots.
    static bool IsBookmarkNode(const QTreeWidgetItem* node);
    // Every node in tree order.
    QList<QTreeWidgetItem*> AllNodes() const;

    // ---- bookmark editing
    void cmdBookmarkClick();
    void tvDblClick();
    void GoToSelectedBookmark();
    void cmdRenameClick();
    void mnuDelBMClick();
    void cmdCompactClick();
    void SaveNewBookmark(const QString& path, int32_t position, const QString& description);
    enum class TStartBookmark { Found, Added, NotStored };
    // NotStored: the file cannot have bookmarks (no data folder, a path longer
    // than the store holds); it plays all the same. *refusal then says why.
    QString FindOrAddStartBookmark(const QString& path, TStartBookmark* outcome = nullptr,
                                   QString* refusal = nullptr);
    // Why no bookmark of path can be stored, or empty when one can.
    QString BookmarkRefusal(const QString& path) const;
    void RepointBookmarks(const QString& oldPath, const QString& newPath);
    void AppendNameMap(const QString& oldName, const QString& newName);
    void CompactStore();
    void tvDeletion(QTreeWidgetItem* node);
    void mnuImportClick();
    void cmdTagEditorClick();
    void mnuEditTagClick();
    // Marks every bookmark of path deleted and removes its nodes (and authors left empty).
    void DeleteBookmarksOfFile(const QString& path);

    // ---- long operations
    // Delete, tree rebuild, import, compaction and repointing let events run
    // while they work. While one of them runs, the commands that remove,
    // renumber or rewrite records and nodes (rename, delete, compact, import,
    // the tag editor, the missing-source dialog's repoint and delete) are
    // unavailable: their controls are disabled and their handlers and keys do
    // nothing. New bookmarks may still be made; each operation takes them in.
    // The outermost operation puts the controls back and the caption to
    // "Narrabel" however it ends.
    class TLongOperation {
    public:
        TLongOperation(TfrmMain* window, const QString& caption);
        ~TLongOperation();
        TLongOperation(const TLongOperation&) = delete;
        TLongOperation& operator=(const TLongOperation&) = delete;

    private:
        TfrmMain* w;
        QString previousCaption;
    };
    bool LongOperationRunning() const { return longOperations > 0; }

    // ---- desktop: listening speed, media controls, icon, first-start hint
    void SetUpDesktop();
    double Speed() const;
    // Clamped to 0.5-3.0 and rounded to a tenth; holds across files until the
    // program ends. Shown in the Play button's hint.
    void SetSpeed(double speed);
    // One tenth faster (steps > 0) or slower (< 0); 0 goes back to 1.0.
    void StepSpeed(int steps);

    // ---- state shared by the subsystems
    QString DataFolder; // ends in "/"; empty when no data folder could be made
    QString StorePath;
    TParamRec ParamRec;
    bool Activated = false;
    bool PlayedSinceMark = false;
    bool Closing = false;
    bool Updating = false;
    bool Deleting = false;
    bool BatchAdding = false;
    bool TreeFocused = false;
    QDateTime LastMarkTime;
    int32_t ExitCountdown = 0;
    std::unique_ptr<TBMHistory> History;
    std::unique_ptr<TSuperStringList> EditList;

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
    QMenu* pop = nullptr;
    QStatusBar* sb = nullptr;
    QLabel* sbPanels[3] = {nullptr, nullptr, nullptr};
    QTimer* tmr = nullptr;
    TMediaPlayer* mp = nullptr;
    TAudioMixer* Mixer = nullptr;
    QLabel* lblTreeHint = nullptr; // inside the tree while it has no node
    TMpris* Mpris = nullptr;       // media controls on the session bus (none without one)

signals:
    // After every jump through PlayFrom, with the position jumped to.
    void Jumped(int32_t position);
    void SpeedChanged(double speed);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void close_();
    void BuildControls();
    void ConnectHandlers();
    void QueueFirstActivation();
    bool activationQueued = false;
    bool formClosed = false;
    // Tree caches kept in step with the nodes (see treeview.cpp).
    void noteTreeChanged();
    void rebuildTreeCaches() const;
    void warmLookups();
    QTreeWidgetItem* insertSorted(QTreeWidgetItem* parent, QTreeWidgetItem* node);
    QTreeWidgetItem* makeNode(const QString& text);
    QString outerNameOf(const QString& path);
    void removeNode(QTreeWidgetItem* node);
    mutable bool treeCachesValid = false;
    mutable QHash<QString, QTreeWidgetItem*> outerByName;
    mutable QHash<int64_t, QTreeWidgetItem*> nodeByRecNo;
    mutable QHash<QString, QTreeWidgetItem*> nodeByText; // first in tree order
    bool treeSorted = true;
    // The tree on screen lacks records: a rebuild from the store failed or was
    // stopped. It is never saved as the tree file until a whole load succeeds.
    bool treeIncomplete = false;
    int longOperations = 0;
    QList<QPair<QPointer<QWidget>, bool>> lockedWidgets; // enabled states to put back
    QList<QPair<QPointer<QAction>, bool>> lockedActions;
    void lockCommands(bool lock);
    // A step for bulk work that lets events run now and then.
    static std::function<bool()> throttledEvents();
    QHash<QString, QString> rebuildNames; // path -> outer name during a rebuild
    QStringList args;
};
