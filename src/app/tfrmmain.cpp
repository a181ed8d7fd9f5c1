#include "app/tfrmmain.h"

#include "app/application.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/bookmarkcommands.h"
#include "bookmarks/tfrmbm.h"
#include "bookmarks/tfrmimport.h"
#include "diag/tfrmabout.h"
#include "diag/tfrmdebug.h"
#include "playback/audiomixer.h"
#include "playback/optionsfile.h"
#include "playback/session.h"
#include "playback/tfrmoptions.h"
#include "recovery/recovery.h"
#include "tags/tfrmedit.h"
#include "ui/coverview.h"
#include "ui/widgets.h"
#include "util/appstate.h"
#include "util/dialogs.h"
#include "util/errors.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint = QString()) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    if (!hint.isEmpty()) b->setToolTip(hint);
    return b;
}

// A progress bar whose range is 0..0 turns into an animated "busy" bar in Qt;
// an empty 0..1 bar looks the same as an empty 0..0 one and stays still.
void SetProgressMax(QProgressBar* prg, int32_t length) {
    prg->setRange(0, std::max(length, 1));
}

} // namespace

TfrmMain::TfrmMain(TAppState& appState, TBookmarkTree& bookmarkTree, TBookmarkCommands& commands,
                   TListeningSession& listening, TAudioMixer& audioMixer,
                   const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), app(appState), tree(bookmarkTree), bookmarks(commands),
      session(listening), mixer(audioMixer), args(arguments) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(app.Title());
    BuildControls();
    ConnectHandlers();
    ConnectSession();
    ConnectTree();
    qApp->installEventFilter(this);
    FormCreate();
    SetUpDesktop();
    SetUpCover();
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
    cmdChapters = makeButton(pnlBM, "cmdChapters", QStringLiteral("C&hapters"),
                             QStringLiteral("Show or hide the chapter list"));
    cmdChapters->setCheckable(true);
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
    for (QPushButton* b : {cmdChapters, cmdTagEditor, cmdImport, cmdOptions})
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
    splSide = new QSplitter(Qt::Horizontal, central);
    splSide->setObjectName(QStringLiteral("splSide"));
    splSide->setChildrenCollapsible(false);
    splSide->addWidget(tv);
    pnlSide = new TSideColumn(splSide);
    pnlSide->setObjectName(QStringLiteral("pnlSide"));
    splSide->addWidget(pnlSide);
    splSide->setStretchFactor(0, 1);
    splSide->setStretchFactor(1, 0);
    imgCover = new TCoverView(pnlSide);
    imgCover->setObjectName(QStringLiteral("imgCover"));
    pnlSide->AddWidget(imgCover);
    root->addWidget(splSide, 1);

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
    constexpr int panels = TListeningSession::Panels;
    const int widths[panels] = {60, 50, 50, 90, 110, 50};
    const char* names[panels] = {"sbState", "sbTime", "sbFile", "sbSleep", "sbClock", "sbBoost"};
    // The boost stands beside the sleep timer, the other panel a click sets.
    const int order[panels] = {0, 1, 2, 5, 3, 4};
    for (int i : order) {
        sbPanels[i] = new QLabel(sb);
        sbPanels[i]->setObjectName(QLatin1String(names[i]));
        sbPanels[i]->setMinimumWidth(widths[i] + 20);
        sbPanels[i]->setFrameShape(QFrame::Panel);
        sbPanels[i]->setFrameShadow(QFrame::Sunken);
        if (i != 2) sbPanels[i]->setAlignment(Qt::AlignCenter);
        sb->addWidget(sbPanels[i], i == 2 ? 1 : 0);
    }
    for (int i = 0; i < panels; ++i)
        sbPanels[i]->setText(session.StatusText(i));
    sbPanels[3]->setToolTip(QStringLiteral("Sleep timer (Ctrl+T)"));
    sbPanels[3]->setCursor(Qt::PointingHandCursor);
    sbPanels[5]->setToolTip(
        QStringLiteral("Volume boost of this book (Ctrl+Shift+Up more, Ctrl+Shift+Down less)"));
    sbPanels[5]->setCursor(Qt::PointingHandCursor);
    setStatusBar(sb);
}

void TfrmMain::ConnectHandlers() {
    auto click = [this](QPushButton* b, void (TfrmMain::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(cmdBrowse, &TfrmMain::cmdBrowseClick);
    click(cmdResume, &TfrmMain::cmdResumeClick);
    connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
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
    connect(sbPos, &QScrollBar::valueChanged, this, [this] {
        // Dropping the bar jumps; dragging it only moves the thumb.
        if (!sbPos->isSliderDown()) sbPosChange();
    });
    connect(sbPos, &QScrollBar::sliderReleased, this, [this] { sbPosChange(); });
    connect(sbPos, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { popPos->popup(sbPos->mapToGlobal(p)); });
    connect(tbVolume, &QSlider::valueChanged, this, [this](int value) {
        tbVolumeChange();
        emit VolumeChanged(value);
    });
    // The box's text is the session's file; only the user's own typing opens it.
    connect(cmbFile, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!Updating) session.FileBoxEdited(text);
    });
    connect(cmbFile->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbFileChange(); });
    connect(static_cast<TFileBox*>(cmbFile), &TFileBox::rowPicked, this,
            [this] { cmbFileSelect(); });
    connect(&bookmarks, &TBookmarkCommands::BusyChanged, this, &TfrmMain::ShowBusy);
    connect(&app, &TAppState::TitleChanged, this, &QWidget::setWindowTitle);
}

void TfrmMain::ConnectSession() {
    connect(&session, &TListeningSession::FileTextChanged, this, [this](const QString& text) {
        const QScopedValueRollback<bool> updating(Updating, true);
        cmbFile->setEditText(text);
    });
    connect(&session, &TListeningSession::RecentChanged, this, [this] {
        const QScopedValueRollback<bool> updating(Updating, true);
        const QString shown = cmbFile->currentText();
        cmbFile->clear();
        cmbFile->addItems(session.Recent());
        cmbFile->setEditText(shown); // the rows changed, not the text
    });
    connect(&session, &TListeningSession::StatusChanged, this,
            [this](int panel, const QString& text) {
                sbPanels[panel]->setText(text);
                sb->repaint();
            });
    connect(&session, &TListeningSession::StatusHintChanged, this,
            [this](int panel, const QString& hint) {
                if (panel != TListeningSession::SleepPanel &&
                    panel != TListeningSession::BoostPanel)
                    sbPanels[panel]->setToolTip(hint);
            });
    connect(&session, &TListeningSession::PlayCaptionChanged, cmdPlay, &QPushButton::setText);
    connect(&session, &TListeningSession::PlayerShownChanged, pnlPlay, &QWidget::setVisible);
    connect(&session, &TListeningSession::LengthChanged, this, [this](int32_t length) {
        const QScopedValueRollback<bool> updating(Updating, true);
        sbPos->setMaximum(length);
        SetProgressMax(prg, length);
    });
    connect(&session, &TListeningSession::PositionChanged, this, [this](int32_t position) {
        const QScopedValueRollback<bool> updating(Updating, true);
        prg->setValue(position);
        // A thumb the user holds stays where the user holds it, for the drop.
        if (!sbPos->isSliderDown()) sbPos->setValue(position);
    });
    connect(&session, &TListeningSession::ResumeChanged, this, [this] {
        cmdResume->setToolTip(session.ResumeHint());
        cmdResume->setEnabled(session.ResumeEnabled());
    });
    connect(&session, &TListeningSession::HintsChanged, this, [this] {
        cmdPrev->setToolTip(session.PrevHint());
        cmdNext->setToolTip(session.NextHint());
    });
    connect(&session, &TListeningSession::CloseRequested, this, [this] {
        // After the tick that asked has returned, through the normal close path.
        QTimer::singleShot(0, this, [this] { close(); });
    });
}

void TfrmMain::ShowBusy(bool busy) {
    // The commands that remove, renumber or rewrite records and nodes rest
    // while a long operation runs.
    if (!busy) {
        for (const auto& [widget, enabled] : lockedWidgets)
            widget->setEnabled(enabled);
        for (const auto& [action, enabled] : lockedActions)
            action->setEnabled(enabled);
        lockedWidgets.clear();
        lockedActions.clear();
        return;
    }
    for (QWidget* widget : {static_cast<QWidget*>(cmdRename), static_cast<QWidget*>(cmdDelBM),
                            static_cast<QWidget*>(cmdCompact), static_cast<QWidget*>(cmdImport),
                            static_cast<QWidget*>(cmdTagEditor)}) {
        lockedWidgets.append({widget, !widget->testAttribute(Qt::WA_ForceDisabled)});
        widget->setEnabled(false);
    }
    static const QStringList names{"mnuRename", "mnuDelBM", "mnuCompact", "mnuImport",
                                   "mnuEditTag"};
    for (QAction* action : pop->actions()) {
        if (!names.contains(action->objectName())) continue;
        lockedActions.append({action, action->isEnabled()});
        action->setEnabled(false);
    }
}

// ---------------------------------------------------------------- lifecycle

void TfrmMain::FormCreate() {
    Activated = Updating = false;
    QString recovered;
    if (!app.ResolveDataFolder()) {
        // No state can be kept: say so once and run without saving anything.
        ShowMessage(QStringLiteral("Cannot create the data folder \"%1\"; nothing will be saved "
                                   "in this session.")
                        .arg(SpecialFolderPath(4) + QStringLiteral("Narrabel")));
    } else if (app.LockDataFolder() == TAppState::TLock::Busy) {
        // Another program keeps its state there: this one writes nothing and ends.
        Refused = true;
        ShowMessage(
            QStringLiteral("Narrabel is already running (%1) with the data folder "
                           "\"%2\". Only one Narrabel at a time can keep bookmarks and "
                           "places there.")
                .arg(app.LockHolder.isEmpty() ? QStringLiteral("another process") : app.LockHolder,
                     QDir::cleanPath(app.DataFolder)));
        return;
    } else {
        app.CheckWritable();
        // What a run that ended part way left half done is put right before
        // anything reads the store, the tree, a state file or a tag.
        recovered = RecoverWrites(app.DataFolder);
    }
    session.Start(args);
    // Said once; the title keeps saying it.
    if (!app.WriteProblem.isEmpty())
        session.SetStatus(2, app.WriteProblem);
    else if (!recovered.isEmpty())
        session.SetStatus(2, recovered);

    if (QScreen* screen = QApplication::primaryScreen())
        setGeometry(QRect(QPoint(0, 0), screen->availableGeometry().size()));
    setWindowState(windowState() | Qt::WindowMaximized);
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
    tbVolume->setMaximum(65535);
    InitMixer();
    session.LoadResumeHint();
    LoadOptions();
    bookmarks.LoadTree();
    session.LoadTreeState();
    session.PlayCommandLine();
}

bool TfrmMain::FormClose() {
    if (session.mp->Mode() == TPlayerDevice::mpPlaying) session.mp->Pause();
    // The caption of a tree operation says "tree"; a data folder's name in the
    // title does not count.
    QString title = windowTitle();
    if (!app.WriteProblem.isEmpty()) title.remove(app.WriteProblem);
    if (title.contains(QStringLiteral("tree")) &&
        !AskYesNo(QStringLiteral("The tree view will be incomplete if you exit now; quit anyway "
                                 "and repair next time?")))
        return false;
    QStringList errors = session.CloseDown();
    try {
        SaveOptions();
    } catch (const std::exception& e) {
        errors << QString::fromUtf8(e.what());
    }
    // Every step ran; their errors are shown together at the end. A data
    // folder known to be unwritable was said at start, and is not said again.
    if (!errors.isEmpty() && app.WriteProblem.isEmpty())
        ShowDefaultError(errors.join(QLatin1Char('\n')));
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
        app.Closing = true;
    }
    if (!ok) {
        e->ignore();
        return;
    }
    formClosed = true;
    e->accept();
    session.tmr->stop();
    session.mp->Close();
    emit Closed();
    // Dialogs may still be shown (import, options): closing the main window ends the run.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TfrmMain::CloseWithoutHandler() {
    formClosed = true;
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
    if (watched == sbPanels[TListeningSession::SleepPanel] &&
        e->type() == QEvent::MouseButtonRelease) {
        ShowSleepMenu();
        return true;
    }
    if (watched == sbPanels[TListeningSession::BoostPanel] &&
        e->type() == QEvent::MouseButtonRelease) {
        ShowBoostMenu();
        return true;
    }
    // The skip keys belong to the window: a text box must not take them as its
    // own word moves, so that they never act on the text.
    if (e->type() == QEvent::ShortcutOverride && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right ||
             key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown))
            return true;
        // The boost keys, likewise: never a selection grown in the tree.
        if (key->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down))
            return true;
    }
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

// ---------------------------------------------------------------- playback strip

QString TfrmMain::StatusText(int panel) const {
    return panel >= 0 && panel < TListeningSession::Panels ? sbPanels[panel]->text() : QString();
}

void TfrmMain::cmdPlayClick() {
    session.PlayPause();
}

void TfrmMain::tmrTimer() {
    session.Tick();
}

void TfrmMain::sbPosChange() {
    if (!Updating) session.PositionBarMoved(sbPos->value());
}

void TfrmMain::cmdBrowseClick() {
    session.Browse();
}

void TfrmMain::cmbFileChange() {
    session.FileTyped();
}

void TfrmMain::cmbFileSelect() {
    session.FileBoxEdited(cmbFile->currentText());
    session.RecentPicked();
}

void TfrmMain::cmdResumeClick() {
    session.Resume();
}

void TfrmMain::cmdPrevClick() {
    session.Prev();
}

void TfrmMain::cmdNextClick() {
    session.Next();
}

void TfrmMain::mnuGoOffsetClick() {
    session.GoToOffset();
}

// ---------------------------------------------------------------- volume

void TfrmMain::InitMixer() {
    try {
        TMixerVolume volume;
        mixer.GetVolume(0, -1, volume);
        if (volume.Left > tbVolume->maximum()) {
            // Boosted past 100 %: the bar shows full, and the boost stays until
            // the user moves the bar.
            const QSignalBlocker quiet(tbVolume);
            tbVolume->setValue(tbVolume->maximum());
            return;
        }
        // No volume control (or no mixer) reads -1: the bar's minimum. A value
        // that differs from the bar's runs its change handler, which writes it
        // back to both channels and switches the mute off.
        tbVolume->setValue(std::max(volume.Left, tbVolume->minimum()));
    } catch (const std::exception& e) {
        ShowMessage(QStringLiteral("InitMixer() - ") + QString::fromUtf8(e.what()));
    }
}

void TfrmMain::tbVolumeChange() {
    if (Updating) return;
    const QScopedValueRollback<bool> updating(Updating, true);
    const int volume = tbVolume->value();
    mixer.SetVolume(0, -1, volume, volume, 0);
}

void TfrmMain::SetVolume(int value) {
    tbVolume->setValue(value);
}

int TfrmMain::Volume() const {
    return tbVolume->value();
}

// ---------------------------------------------------------------- keyboard, About, options

void TfrmMain::FormKeyDown(int key) {
    switch (key) {
    case Qt::Key_Delete:
        if (TreeFocused) mnuDelBMClick();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (TreeFocused) tvDblClick();
        break;
    case Qt::Key_Insert:
        cmdBookmarkClick();
        break;
    case Qt::Key_F1:
        if (dlg.Debug) {
            dlg.Debug->show();
            dlg.Debug->raise();
        }
        break;
    default:
        break;
    }
}

void TfrmMain::tvEnter() {
    TreeFocused = true;
}

void TfrmMain::tvExit() {
    TreeFocused = false;
}

void TfrmMain::cmdAboutClick() {
    if (dlg.About) dlg.About->exec();
}

void TfrmMain::LoadOptions() {
    if (!dlg.Options) return;
    if (!app.DataFolder.isEmpty()) {
        TOptionsFile options = dlg.Options->Options();
        QString error;
        if (LoadOptionsFile(app.DataFile(OptionsFileName()), options, &error))
            dlg.Options->SetOptions(options);
        else
            // A damaged file costs the saved options, not the rest of start-up.
            ShowDefaultError(error);
    }
    tv->setFont(dlg.Options->PanelFont());
    dlg.Options->SetTreeFont(tv->font());
}

void TfrmMain::SetTreeFont(const QFont& font) {
    tv->setFont(font);
}

void TfrmMain::SaveOptions() {
    QString error;
    // Said at start already when the folder cannot be written.
    if (!SaveOptionsQuietly(&error) && app.WriteProblem.isEmpty()) ShowDefaultError(error);
}

bool TfrmMain::SaveOptionsQuietly(QString* error) {
    if (!dlg.Options || app.DataFolder.isEmpty()) return true;
    return SaveOptionsFile(app.DataFile(OptionsFileName()), dlg.Options->Options(), error);
}

void TfrmMain::cmdOptionsClick() {
    if (!dlg.Options) return;
    dlg.Options->show();
    dlg.Options->raise();
    dlg.Options->activateWindow();
}

// ---------------------------------------------------------------- bookmark commands

void TfrmMain::cmdBookmarkClick() {
    const QString file = session.FileText();
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        ShowMessage(QStringLiteral("Please open a valid media file."));
        return;
    }
    if (const QString refusal = bookmarks.BookmarkRefusal(file); !refusal.isEmpty()) {
        ShowMessage(refusal);
        return;
    }
    if (dlg.BM) dlg.BM->Ask(file, session.mp->Position(), StatusText(1));
}

void TfrmMain::tvDblClick() {
    session.GoToSelectedBookmark();
}

void TfrmMain::cmdRenameClick() {
    bookmarks.RenameSelected();
}

void TfrmMain::mnuDelBMClick() {
    bookmarks.DeleteSelected();
}

void TfrmMain::cmdCompactClick() {
    bookmarks.Compact();
}

void TfrmMain::mnuImportClick() {
    if (bookmarks.LongOperationRunning() || !dlg.Import) return;
    if (app.StorePath.isEmpty()) {
        ShowMessage(TBookmarkCommands::NoDataFolderMessage());
        return;
    }
    dlg.Import->show();
    dlg.Import->raise();
    dlg.Import->activateWindow();
}

void TfrmMain::cmdTagEditorClick() {
    if (bookmarks.LongOperationRunning() || !dlg.Edit) return;
    const QString file = TrimCtl(session.FileText());
    if (!file.isEmpty()) {
        dlg.Edit->OpenOn(file);
        return;
    }
    if (!tree.Selected().isEmpty()) {
        mnuEditTagClick();
        return;
    }
    dlg.Edit->TargetName.clear();
    dlg.Edit->Open();
}

void TfrmMain::mnuEditTagClick() {
    if (bookmarks.LongOperationRunning() || !dlg.Edit) return;
    TBookmarkTree::Node* node = tree.Focused();
    if (!node) return;
    dlg.Edit->TargetName.clear();
    const TBookmarkTree::Node* source =
        node->IsBookmark() ? node : (node->Children.empty() ? nullptr : node->Children.front());
    QString file;
    if (source) {
        try {
            const TBookmark bm = bookmarks.BookmarkFromNode(source);
            if (bm.Valid) file = bm.Rec.FilePath;
        } catch (const std::exception&) {
            // An unreadable store only means the editor opens where it was.
        }
    }
    if (file.isEmpty())
        dlg.Edit->Open();
    else
        dlg.Edit->OpenOn(file);
}
