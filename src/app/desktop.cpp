// What makes the main window a desktop citizen, beside its designed controls:
// its icon, the hint inside an empty bookmark tree, the listening-speed keys
// and the media controls on the session bus.

#include "app/mpris.h"
#include "app/tfrmmain.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

void SetUpSpeedKeys(TfrmMain* w); // speed.cpp

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

    SetUpSpeedKeys(this);
    Mpris = new TMpris(this);
}
