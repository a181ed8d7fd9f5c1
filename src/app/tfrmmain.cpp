#include "app/tfrmmain.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "app/widgets.h"
#include "bookmarks/bookmark.h"
#include "playback/audiomixer.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "recovery/recovery.h"
#include "util/errors.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint = QString()) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    if (!hint.isEmpty()) b->setToolTip(hint);
    return b;
}

} // namespace

TfrmMain::TfrmMain(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), args(arguments) {
    WindowCreationLog() << QStringLiteral("TfrmMain");
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Narrabel"));
    BuildControls();
    ConnectHandlers();
    qApp->installEventFilter(this);
    FormCreate();
    SetUpDesktop();
}

TfrmMain::~TfrmMain() {
    if (qApp) qApp->removeEventFilter(this);
}

void TfrmMain::BuildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("pnlMain"));
    setCentralWidget(central);
    auto* root = new QVBoxLayout(central);
    root->setContentsMargins(10, 8, 10, 4);
    root->setSpacing(6);

    // Top bar: the file box and the window's own buttons.
    pnlTop = new QWidget(central);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    auto* top = new QHBoxLayout(pnlTop);
    top->setContentsMargins(0, 0, 0, 0);
    auto* lblFile = new QLabel(QStringLiteral("&File:"), pnlTop);
    lblFile->setObjectName(QStringLiteral("lblFile"));
    cmbFile = new TFileBox(pnlTop);
    cmbFile->setObjectName(QStringLiteral("cmbFile"));
    cmbFile->setEditable(true);
    cmbFile->setInsertPolicy(QComboBox::NoInsert);
    cmbFile->setMaxVisibleItems(32);
    cmbFile->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    cmbFile->setMinimumContentsLength(30);
    lblFile->setBuddy(cmbFile);
    cmdBrowse = makeButton(pnlTop, "cmdBrowse", QStringLiteral("&Browse..."),
                           QStringLiteral("Open an audio file"));
    cmdResume = makeButton(pnlTop, "cmdResume", QStringLiteral("&Resume"));
    cmdClose = makeButton(pnlTop, "cmdClose", QStringLiteral("Close"));
    cmdAbout = makeButton(pnlTop, "cmdAbout", QStringLiteral("&About"));
    top->addWidget(lblFile);
    top->addWidget(cmbFile, 1);
    top->addWidget(cmdBrowse);
    top->addWidget(cmdResume);
    top->addSpacing(16);
    top->addWidget(cmdAbout);
    top->addWidget(cmdClose);
    root->addWidget(pnlTop);

    // Player panel, shown once a file is open.
    pnlPlay = new QFrame(central);
    pnlPlay->setObjectName(QStringLiteral("pnlPlay"));
    pnlPlay->setFrameShape(QFrame::StyledPanel);
    auto* play = new QVBoxLayout(pnlPlay);
    play->setContentsMargins(8, 6, 8, 6);
    auto* buttons = new QHBoxLayout();
    cmdPlay = makeButton(pnlPlay, "cmdPlay", QStringLiteral("&Play"));
    cmdPlay->setMinimumWidth(90);
    cmdBookmark = makeButton(pnlPlay, "cmdBookmark", QStringLiteral("&Create Bookmark"));
    auto* lblVolume = new QLabel(QStringLiteral("Volume"), pnlPlay);
    lblVolume->setObjectName(QStringLiteral("lblVolume"));
    tbVolume = new QSlider(Qt::Horizontal, pnlPlay);
    tbVolume->setObjectName(QStringLiteral("tbVolume"));
    tbVolume->setRange(0, 65535);
    tbVolume->setSingleStep(655);
    tbVolume->setPageStep(6553);
    tbVolume->setTickPosition(QSlider::NoTicks);
    tbVolume->setToolTip(QStringLiteral("Volume"));
    tbVolume->setMinimumWidth(140);
    tbVolume->setMaximumWidth(220);
    cmdPrev = makeButton(pnlPlay, "cmdPrev", QStringLiteral("<< Pre&v"));
    cmdNext = makeButton(pnlPlay, "cmdNext", QStringLiteral("&Next >>"));
    buttons->addWidget(cmdPlay);
    buttons->addWidget(cmdBookmark);
    buttons->addSpacing(16);
    buttons->addWidget(lblVolume);
    buttons->addWidget(tbVolume);
    buttons->addStretch(1);
    buttons->addWidget(cmdPrev);
    buttons->addWidget(cmdNext);
    play->addLayout(buttons);
    prg = new QProgressBar(pnlPlay);
    prg->setObjectName(QStringLiteral("prg"));
    prg->setTextVisible(false);
    prg->setMaximumHeight(12);
    // A zero-width range makes Qt animate a busy bar; keep it still until a file opens.
    prg->setRange(0, 1);
    prg->setValue(0);
    play->addWidget(prg);
    sbPos = new TPositionBar(Qt::Horizontal, pnlPlay);
    sbPos->setObjectName(QStringLiteral("sbPos"));
    sbPos->setRange(0, 0);
    sbPos->setSingleStep(2000);
    sbPos->setPageStep(10000);
    sbPos->setToolTip(QStringLiteral("File position (right-click to go to an exact position)"));
    sbPos->setContextMenuPolicy(Qt::CustomContextMenu);
    play->addWidget(sbPos);
    popPos = new QMenu(this);
    popPos->setObjectName(QStringLiteral("popPos"));
    auto* mnuGoOffset = popPos->addAction(QStringLiteral("&Go to a supplied offset"));
    mnuGoOffset->setObjectName(QStringLiteral("mnuGoOffset"));
    connect(mnuGoOffset, &QAction::triggered, this, [this] { mnuGoOffsetClick(); });
    pnlPlay->hide();
    root->addWidget(pnlPlay);

    // Bookmark bar.
    pnlBM = new QWidget(central);
    pnlBM->setObjectName(QStringLiteral("pnlBM"));
    auto* bm = new QHBoxLayout(pnlBM);
    bm->setContentsMargins(0, 0, 0, 0);
    auto* lblBookmarks = new QLabel(QStringLiteral("Bookmarks:"), pnlBM);
    lblBookmarks->setObjectName(QStringLiteral("lblBookmarks"));
    QFont bold = lblBookmarks->font();
    bold.setBold(true);
    lblBookmarks->setFont(bold);
    cmdGo = makeButton(pnlBM, "cmdGo", QStringLiteral("&Go"));
    cmdTVCreate = makeButton(pnlBM, "cmdTVCreate", QStringLiteral("Create"));
    cmdRename = makeButton(pnlBM, "cmdRename", QStringLiteral("R&ename"));
    cmdDelBM = makeButton(pnlBM, "cmdDelBM", QStringLiteral("&Delete"));
    cmdCompact = makeButton(pnlBM, "cmdCompact", QStringLiteral("Co&mpact"),
                            QStringLiteral("shrink/rebuild bookmarks"));
    cmdCollapse = makeButton(pnlBM, "cmdCollapse", QStringLiteral("Co&llapse"));
    cmdExpand = makeButton(pnlBM, "cmdExpand", QStringLiteral("E&xpand"));
    cmdTagEditor = makeButton(pnlBM, "cmdTagEditor", QStringLiteral("&Tag Editor"));
    cmdImport = makeButton(pnlBM, "cmdImport", QStringLiteral("&Import"));
    cmdOptions = makeButton(pnlBM, "cmdOptions", QStringLiteral("&Options"));
    bm->addWidget(lblBookmarks);
    for (QPushButton* b : {cmdGo, cmdTVCreate, cmdRename, cmdDelBM, cmdCompact})
        bm->addWidget(b);
    bm->addSpacing(12);
    bm->addWidget(cmdCollapse);
    bm->addWidget(cmdExpand);
    bm->addStretch(1);
    for (QPushButton* b : {cmdTagEditor, cmdImport, cmdOptions})
        bm->addWidget(b);
    root->addWidget(pnlBM);

    tv = new QTreeWidget(central);
    tv->setObjectName(QStringLiteral("tv"));
    tv->setHeaderHidden(true);
    tv->setColumnCount(1);
    tv->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv->setIndentation(21);
    tv->setContextMenuPolicy(Qt::CustomContextMenu);
    tv->setUniformRowHeights(true);
    QFont treeFont(QStringLiteral("Arial"));
    treeFont.setPixelSize(13);
    tv->setFont(treeFont);
    root->addWidget(tv, 1);

    pop = new QMenu(this);
    pop->setObjectName(QStringLiteral("pop"));
    struct Item {
        const char* name;
        const char* caption;
        void (TfrmMain::*handler)();
    };
    const Item items[] = {
        {"mnuGo", "&Go", &TfrmMain::tvDblClick},
        {"mnuMkBM", "&Create", &TfrmMain::cmdBookmarkClick},
        {"mnuRename", "&Rename", &TfrmMain::cmdRenameClick},
        {"mnuDelBM", "&Delete", &TfrmMain::mnuDelBMClick},
        {"mnuCompact", "Co&mpact", &TfrmMain::cmdCompactClick},
        {nullptr, nullptr, nullptr},
        {"mnuCollapseAll", "Co&llapse All", &TfrmMain::mnuCollapseAllClick},
        {"mnuExpandAll", "E&xpand All", &TfrmMain::mnuExpandAllClick},
        {"mnuSelectAll", "&Select All", &TfrmMain::mnuSelectAllClick},
        {nullptr, nullptr, nullptr},
        {"mnuEditTag", "&Tag Editor", &TfrmMain::mnuEditTagClick},
        {"mnuImport", "&Import", &TfrmMain::mnuImportClick},
        {"mnuOptions", "&Options", &TfrmMain::cmdOptionsClick},
    };
    for (const Item& it : items) {
        if (!it.name) {
            pop->addSeparator();
            continue;
        }
        QAction* a = pop->addAction(QString::fromLatin1(it.caption));
        a->setObjectName(QLatin1String(it.name));
        auto handler = it.handler;
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    }

    sb = new QStatusBar(this);
    sb->setObjectName(QStringLiteral("sb"));
    sb->setSizeGripEnabled(true);
    const int widths[3] = {60, 50, 50};
    const char* names[3] = {"sbState", "sbTime", "sbFile"};
    for (int i = 0; i < 3; ++i) {
        sbPanels[i] = new QLabel(sb);
        sbPanels[i]->setObjectName(QLatin1String(names[i]));
        sbPanels[i]->setMinimumWidth(widths[i] + 20);
        sbPanels[i]->setFrameShape(QFrame::Panel);
        sbPanels[i]->setFrameShadow(QFrame::Sunken);
        if (i < 2) sbPanels[i]->setAlignment(Qt::AlignCenter);
        sb->addWidget(sbPanels[i], i == 2 ? 1 : 0);
    }
    sbPanels[0]->setText(QStringLiteral("Stopped"));
    sbPanels[1]->setText(QStringLiteral("00:00"));
    setStatusBar(sb);

    tmr = new QTimer(this);
    tmr->setObjectName(QStringLiteral("tmr"));
    tmr->setInterval(1000);

    mp = new TMediaPlayer(this);
    mp->setObjectName(QStringLiteral("mp"));
    Mixer = new TAudioMixer(this);
    Mixer->setObjectName(QStringLiteral("Mixer"));
}

void TfrmMain::ConnectHandlers() {
    auto click = [this](QPushButton* b, void (TfrmMain::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(cmdBrowse, &TfrmMain::cmdBrowseClick);
    click(cmdResume, &TfrmMain::cmdResumeClick);
    click(cmdClose, &TfrmMain::close_);
    click(cmdAbout, &TfrmMain::cmdAboutClick);
    click(cmdPlay, &TfrmMain::cmdPlayClick);
    click(cmdBookmark, &TfrmMain::cmdBookmarkClick);
    click(cmdPrev, &TfrmMain::cmdPrevClick);
    click(cmdNext, &TfrmMain::cmdNextClick);
    click(cmdGo, &TfrmMain::tvDblClick);
    click(cmdTVCreate, &TfrmMain::cmdBookmarkClick);
    click(cmdRename, &TfrmMain::cmdRenameClick);
    click(cmdDelBM, &TfrmMain::mnuDelBMClick);
    click(cmdCompact, &TfrmMain::cmdCompactClick);
    click(cmdCollapse, &TfrmMain::mnuCollapseAllClick);
    click(cmdExpand, &TfrmMain::mnuExpandAllClick);
    click(cmdTagEditor, &TfrmMain::cmdTagEditorClick);
    click(cmdImport, &TfrmMain::mnuImportClick);
    click(cmdOptions, &TfrmMain::cmdOptionsClick);
    connect(tmr, &QTimer::timeout, this, [this] { tmrTimer(); });
    connect(mp, &TMediaPlayer::LengthKnown, this, [this](int32_t ms) { mpLengthKnown(ms); });
    connect(sbPos, &QScrollBar::valueChanged, this, [this] {
        // Dropping the bar jumps; dragging it only moves the thumb.
        if (!sbPos->isSliderDown()) sbPosChange();
    });
    connect(sbPos, &QScrollBar::sliderReleased, this, [this] { sbPosChange(); });
    connect(sbPos, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { popPos->popup(sbPos->mapToGlobal(p)); });
    connect(tbVolume, &QSlider::valueChanged, this, [this] { tbVolumeChange(); });
    // Only the user's own typing counts as a change; the program sets the text itself.
    connect(cmbFile->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbFileChange(); });
    connect(static_cast<TFileBox*>(cmbFile), &TFileBox::rowPicked, this,
            [this] { cmbFileSelect(); });
    connect(tv, &QTreeWidget::itemDoubleClicked, this, [this] { tvDblClick(); });
    connect(tv, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        // A right click selects the node under the mouse first.
        if (QTreeWidgetItem* it = tv->itemAt(p); it && !it->isSelected()) {
            tv->clearSelection();
            tv->setCurrentItem(it);
            it->setSelected(true);
        }
        pop->popup(tv->viewport()->mapToGlobal(p));
    });
    tv->installEventFilter(this);
}

void TfrmMain::close_() {
    close();
}

bool TfrmMain::ResolveDataFolder() {
    QString folder = SpecialFolderPath(4) + QStringLiteral("Narrabel");
    if (!folder.startsWith('/')) folder = QStringLiteral("/") + folder;
    QFileInfo fi(folder);
    if (!fi.isDir()) {
        // A fresh account may have no documents folder yet: make it too.
        if (!QDir().mkpath(folder)) {
            DataFolder.clear();
            return false;
        }
    }
    DataFolder = folder + '/';
    return true;
}

void TfrmMain::FormCreate() {
    tv->clearSelection();
    Activated = PlayedSinceMark = Updating = BatchAdding = Deleting = Closing = false;
    LastMarkTime = QDateTime::currentDateTime();
    EditList = std::make_unique<TSuperStringList>();

    if (!ResolveDataFolder()) {
        // No state can be kept: say so once and run without saving anything.
        ShowMessage(QStringLiteral("Cannot create the data folder \"%1\"; nothing will be saved "
                                   "in this session.")
                        .arg(SpecialFolderPath(4) + QStringLiteral("Narrabel")));
        StorePath.clear();
    } else {
        StorePath = DataFolder + QStringLiteral("Narrabel.nbm");
        // What a run that ended part way left half done is put right first.
        if (const QString recovered = RecoverWrites(DataFolder); !recovered.isEmpty())
            sbPanels[2]->setText(recovered);
        cmdResume->setEnabled(QFileInfo::exists(DataFolder + QStringLiteral("Narrabel.rsm")));
        History = std::make_unique<TBMHistory>(DataFolder + QStringLiteral("Narrabel.nbh"));
        TSuperStringList recent;
        if (recent.LoadFromFile(DataFolder + QStringLiteral("Narrabel.hst"))) {
            Updating = true;
            cmbFile->addItems(recent);
            cmbFile->setEditText(QString());
            Updating = false;
        }
        EditList->LoadFromFile(DataFolder + QStringLiteral("Narrabel.edt"));
    }
    if (!History) History = std::make_unique<TBMHistory>(QString());
    History->OnChanged = [this] { UpdateHints(); }; // hints follow every append
    if (DataFolder.isEmpty()) cmdResume->setEnabled(false);
    UpdateHints();

    if (QScreen* screen = QApplication::primaryScreen())
        setGeometry(QRect(QPoint(0, 0), screen->availableGeometry().size()));
    setWindowState(windowState() | Qt::WindowMaximized);

    ParamRec.MediaFile = args.value(0);
    ParamRec.SeekPoint = int32_t(uint32_t(uint64_t(ParseLooseInt(args.value(1)))));
    ParamRec.PlaySeconds = int32_t(uint32_t(uint64_t(ParseLooseInt(args.value(2)))));
    ExitCountdown = ParamRec.PlaySeconds;
}

void TfrmMain::QueueFirstActivation() {
    if (Activated || activationQueued) return;
    activationQueued = true;
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TfrmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    QueueFirstActivation();
}

bool TfrmMain::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) QueueFirstActivation();
    return QMainWindow::event(e);
}

void TfrmMain::FormActivate() {
    if (Activated) return;
    Activated = true;
    ArrangeControls();
    tbVolume->setMaximum(65535);
    InitMixer();
    LoadResumeHint();
    LoadOptions();
    LoadTree();
    LoadTreeState();
    if (!ParamRec.MediaFile.isEmpty() && QFileInfo(ParamRec.MediaFile).isFile()) {
        cmbFile->setEditText(ParamRec.MediaFile);
        OpenCurrentFile();
        PlayFrom(ParamRec.SeekPoint);
    }
}

bool TfrmMain::FormClose() {
    if (mp->Mode() == TMediaPlayer::mpPlaying) mp->Pause();
    if (windowTitle().contains(QStringLiteral("tree")) &&
        !AskYesNo(QStringLiteral("The tree view will be incomplete if you exit now; quit anyway "
                                 "and repair next time?")))
        return false;
    // Every step runs, whatever became of the ones before; their errors are
    // shown together at the end.
    QStringList errors;
    auto step = [&errors](const std::function<void()>& work) {
        try {
            work();
        } catch (const std::exception& e) {
            errors << QString::fromUtf8(e.what());
        }
    };
    step([this] {
        if (!History) return;
        const std::unique_ptr<TBMHistory> history = std::move(History);
        QString error;
        const bool saved = history->Save(&error);
        history->Path.clear(); // saved here, not once more on release
        if (!saved && !DataFolder.isEmpty()) throw NarrabelError(error);
    });
    if (EditList) {
        if (!DataFolder.isEmpty())
            EditList->SaveToFile(DataFolder + QStringLiteral("Narrabel.edt")); // failure ignored
        EditList.reset();
    }
    step([this] { SaveTreeState(); });
    step([this] {
        const QString file = cmbFile->currentText();
        if (PlayedSinceMark && !Closing && !file.isEmpty() && QFileInfo(file).isFile() &&
            mp->Position() > 0 && AskYesNo(QStringLiteral("Update Resume point before exiting?")))
            SaveResumePoint();
    });
    Closing = true;
    step([this] { SaveOptions(); });
    if (!errors.isEmpty()) ShowDefaultError(errors.join(QLatin1Char('\n')));
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    if (formClosed) { // the close handler already ran (the event loop may ask again)
        e->accept();
        return;
    }
    bool ok = false;
    try {
        ok = FormClose();
    } catch (const std::exception& ex) {
        // A failed save must not keep the window from closing.
        ShowDefaultError(QString::fromUtf8(ex.what()));
        ok = true;
        Closing = true;
    }
    if (!ok) {
        e->ignore();
        return;
    }
    formClosed = true;
    e->accept();
    tmr->stop();
    mp->Close();
    // Dialogs may still be shown (import, options): closing the main window ends the run.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TfrmMain::keyPressEvent(QKeyEvent* e) {
    // Close is the window's cancel button: Esc that no control took closes it.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == tv) {
        if (e->type() == QEvent::FocusIn)
            tvEnter();
        else if (e->type() == QEvent::FocusOut)
            tvExit();
    }
    // Key preview: the window sees every key before the focused control, which
    // still gets it.
    if (e->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        // The filter sees a press again for each parent it propagates to.
        if (FirstSightOfKeyPress()) FormKeyDown(static_cast<QKeyEvent*>(e)->key());
    }
    return QMainWindow::eventFilter(watched, e);
}

void TfrmMain::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (Activated) ArrangeControls();
}

QString TfrmMain::DlgOpenFilter() {
    return QStringLiteral("MP3 files (*.mp3)|*.mp3|All supported formats "
                          "(mp3,wav,avi,mpg/mpeg,mid/midi)|*.mp3;*.wav;*.avi;*.mpg;*.mpeg;*.mid;"
                          "*.midi|All files (not advised)|*.*");
}

QString TfrmMain::StatusText(int panel) const {
    return panel >= 0 && panel < 3 ? sbPanels[panel]->text() : QString();
}
