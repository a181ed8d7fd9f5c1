// What makes the main window a desktop citizen, beside its designed controls:
// its icon, the hint inside an empty bookmark tree, the listening keys (speed,
// skips, the sleep timer) and the sleep timer's menu.

#include "app/tfrmmain.h"
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

// The Play button's hint: the speed, and every listening key.
QString PlayHint(double speed) {
    const TOptions& o = AppOptions();
    return QStringLiteral("Speed %1x (Ctrl+] faster, Ctrl+[ slower, Ctrl+\\ normal)\n"
                          "Ctrl+Left back %2 s, Ctrl+Right forward %3 s\n"
                          "Ctrl+T sleep timer\n"
                          "Ctrl+PgUp previous chapter, Ctrl+PgDown next chapter")
        .arg(speed, 0, 'f', 1)
        .arg(o.SkipBackSeconds)
        .arg(o.SkipForwardSeconds);
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
    cmdPlay->setToolTip(PlayHint(session.Speed()));
    connect(&session, &TListeningSession::SpeedChanged, this,
            [this](double speed) { cmdPlay->setToolTip(PlayHint(speed)); });
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
