// What makes the main window a desktop citizen, beside its designed controls:
// its icon, the hint inside an empty bookmark tree, the listening keys (speed,
// skips, the sleep timer, the volume boost) and the menus of the sleep timer
// and the boost.

#include "app/tfrmmain.h"
#include "playback/books.h"
#include "playback/session.h"
#include "util/options.h"

#include <QAbstractItemModel>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The theme's icon; else the one installed beside the program; else the copy
// built into it.
QIcon AppIcon() {
    const QString installed =
        QDir(QCoreApplication::applicationDirPath())
            .filePath(QStringLiteral("../share/icons/hicolor/scalable/apps/narrabel.svg"));
    const QString fallback =
        QFileInfo::exists(installed) ? installed : QStringLiteral(":/narrabel/narrabel.svg");
    return QIcon::fromTheme(QStringLiteral("narrabel"), QIcon(fallback));
}

// The Play button's hint: the book's speed and boost, and every listening key.
QString PlayHint(double speed, int boost) {
    const TOptions& o = AppOptions();
    return QStringLiteral("Speed %1x (Ctrl+] faster, Ctrl+[ slower, Ctrl+\\ normal)\n"
                          "Ctrl+Left back %2 s, Ctrl+Right forward %3 s\n"
                          "Ctrl+T sleep timer\n"
                          "Ctrl+PgUp previous chapter, Ctrl+PgDown next chapter\n"
                          "Volume boost %4 (Ctrl+Shift+Up more, Ctrl+Shift+Down less)")
        .arg(speed, 0, 'f', 1)
        .arg(o.SkipBackSeconds)
        .arg(o.SkipForwardSeconds)
        .arg(boost ? BoostText(boost) : QStringLiteral("off"));
}

} // namespace

void TfrmMain::SetUpDesktop() {
    const QIcon icon = AppIcon();
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);

    // One grey line inside the tree while it has no node. A layout of its own
    // keeps it as wide as the tree and as tall as the tree's font needs.
    lblTreeHint =
        new QLabel(QStringLiteral("Press Browse to open a book, or Import to add a whole folder."),
                   tv->viewport());
    lblTreeHint->setObjectName(QStringLiteral("lblTreeHint"));
    lblTreeHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblTreeHint->setForegroundRole(QPalette::PlaceholderText);
    lblTreeHint->setWordWrap(true);
    lblTreeHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTreeHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* hintLayout = new QVBoxLayout(tv->viewport());
    hintLayout->setSizeConstraint(QLayout::SetNoConstraint);
    hintLayout->setContentsMargins(8, 6, 8, 6);
    hintLayout->addWidget(lblTreeHint);
    hintLayout->addStretch(1);
    auto follow = [this] { lblTreeHint->setVisible(tv->topLevelItemCount() == 0); };
    QAbstractItemModel* model = tv->model();
    connect(model, &QAbstractItemModel::rowsInserted, lblTreeHint, follow);
    connect(model, &QAbstractItemModel::rowsRemoved, lblTreeHint, follow);
    connect(model, &QAbstractItemModel::modelReset, lblTreeHint, follow);
    follow();

    // Listening speed. Shortcuts, unlike the key preview, never take a
    // character from the text box that has the focus. The Play button's hint
    // is the one place that shows the speed.
    const struct {
        int key;
        int steps;
    } keys[] = {{Qt::Key_BracketRight, 1}, {Qt::Key_BracketLeft, -1}, {Qt::Key_Backslash, 0}};
    for (const auto& k : keys) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | k.key), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int steps = k.steps;
        connect(shortcut, &QShortcut::activated, this, [this, steps] { session.StepSpeed(steps); });
    }
    auto hint = [this] { cmdPlay->setToolTip(PlayHint(session.Speed(), session.Boost())); };
    hint();
    connect(&session, &TListeningSession::SpeedChanged, this, hint);
    connect(&session, &TListeningSession::BoostChanged, this, hint);
    SetUpListening();
    SetUpChapters();
}

void TfrmMain::SetUpListening() {
    // Skips and the sleep timer: window shortcuts as well, never typed into a
    // text box (the key filter keeps the text boxes' own word moves off them).
    auto* back = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Left), this);
    auto* forward = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right), this);
    back->setContext(Qt::WindowShortcut);
    forward->setContext(Qt::WindowShortcut);
    connect(back, &QShortcut::activated, &session, &TListeningSession::SkipBack);
    connect(forward, &QShortcut::activated, &session, &TListeningSession::SkipForward);
    auto* sleepKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    sleepKey->setContext(Qt::WindowShortcut);
    connect(sleepKey, &QShortcut::activated, this, [this] { ShowSleepMenu(); });

    popSleep = new QMenu(this);
    popSleep->setObjectName(QStringLiteral("popSleep"));
    auto* group = new QActionGroup(popSleep);
    for (const int choice : TSleepTimer::Choices()) {
        QAction* action = popSleep->addAction(TSleepTimer::ChoiceCaption(choice));
        action->setObjectName(choice == TSleepTimer::Off         ? QStringLiteral("mnuSleepOff")
                              : choice == TSleepTimer::EndOfFile ? QStringLiteral("mnuSleepEnd")
                              : choice == TSleepTimer::EndOfChapter
                                  ? QStringLiteral("mnuSleepChapter")
                                  : QStringLiteral("mnuSleep%1").arg(choice));
        action->setData(choice);
        action->setCheckable(true);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, choice] { session.SetSleep(choice); });
        if (choice == TSleepTimer::Off || choice == 90) popSleep->addSeparator();
    }

    // The book's volume boost: two keys and the boost panel's menu.
    const struct {
        int key;
        int steps;
    } boostKeys[] = {{Qt::Key_Up, 1}, {Qt::Key_Down, -1}};
    for (const auto& k : boostKeys) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | k.key), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int steps = k.steps;
        connect(shortcut, &QShortcut::activated, this, [this, steps] { session.StepBoost(steps); });
    }
    popBoost = new QMenu(this);
    popBoost->setObjectName(QStringLiteral("popBoost"));
    auto* boosts = new QActionGroup(popBoost);
    for (int db = 0; db <= MaxBoostDb; db += BoostStepDb) {
        QAction* action = popBoost->addAction(db ? BoostText(db) : QStringLiteral("No boost"));
        action->setObjectName(QStringLiteral("mnuBoost%1").arg(db));
        action->setData(db);
        action->setCheckable(true);
        boosts->addAction(action);
        connect(action, &QAction::triggered, this, [this, db] { session.SetBoost(db); });
        if (db == 0) popBoost->addSeparator();
    }
}

void TfrmMain::ShowSleepMenu() {
    // The running choice is ticked; the last one chosen is where Enter lands.
    QAction* last = nullptr;
    for (QAction* action : popSleep->actions()) {
        if (action->isSeparator()) continue;
        action->setChecked(action->data().toInt() == session.Sleep.Choice());
        if (action->data().toInt() == AppOptions().SleepChoice) last = action;
    }
    QLabel* panel = sbPanels[TListeningSession::SleepPanel];
    const QPoint at = panel->mapToGlobal(QPoint(0, -popSleep->sizeHint().height()));
    popSleep->popup(at, last);
    if (last) popSleep->setActiveAction(last);
}

void TfrmMain::ShowBoostMenu() {
    // The book's boost is ticked, and where Enter lands.
    QAction* current = nullptr;
    for (QAction* action : popBoost->actions()) {
        if (action->isSeparator()) continue;
        action->setChecked(action->data().toInt() == session.Boost());
        if (action->isChecked()) current = action;
    }
    QLabel* panel = sbPanels[TListeningSession::BoostPanel];
    popBoost->popup(panel->mapToGlobal(QPoint(0, -popBoost->sizeHint().height())), current);
    if (current) popBoost->setActiveAction(current);
}
