// What makes the main window a desktop citizen, beside its designed controls:
// its icon, the hint inside an empty bookmark tree and the listening-speed keys.

#include "app/tfrmmain.h"
#include "playback/session.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
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

QString SpeedHint(double speed) {
    return QStringLiteral("Speed %1x (Ctrl+] faster, Ctrl+[ slower, Ctrl+\\ normal)")
        .arg(speed, 0, 'f', 1);
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
    cmdPlay->setToolTip(SpeedHint(session.Speed()));
    connect(&session, &TListeningSession::SpeedChanged, this,
            [this](double speed) { cmdPlay->setToolTip(SpeedHint(speed)); });
}
