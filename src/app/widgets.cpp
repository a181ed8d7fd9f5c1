#include "app/widgets.h"

#include "tags/fillrules.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QTimer>

QLabel* MakePanel(QWidget* parent, const char* name, int minWidth) {
    auto* p = new QLabel(parent);
    p->setObjectName(QLatin1String(name));
    p->setTextFormat(Qt::PlainText);
    p->setFrameShape(QFrame::StyledPanel);
    p->setFrameShadow(QFrame::Sunken);
    p->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (minWidth > 0) p->setMinimumWidth(minWidth);
    p->setMinimumHeight(p->fontMetrics().height() + 8);
    return p;
}

QComboBox* MakeFieldSlot(QWidget* parent, const char* name, int item) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->addItems(FillSlotItems());
    c->setCurrentIndex(item);
    return c;
}

QComboBox* MakeDelimiterBox(QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QStringLiteral("cmbDelim"));
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems({QStringLiteral("-"), QStringLiteral("_"), QStringLiteral("&")});
    c->setCurrentIndex(0);
    c->setToolTip(QStringLiteral("delimiter"));
    c->setMinimumContentsLength(3);
    return c;
}

TFileBox::TFileBox(QWidget* parent) : QComboBox(parent) {
    connect(this, QOverload<int>::of(&QComboBox::activated), this, [this] {
        if (popupOpen) {
            popupOpen = false;
            emit rowPicked();
        }
    });
}

void TFileBox::showPopup() {
    popupOpen = true;
    QComboBox::showPopup();
}

void TFileBox::hidePopup() {
    QComboBox::hidePopup();
    // A pick is reported right after the list closes, in the same call.
    QTimer::singleShot(0, this, [this] { popupOpen = false; });
}

TFolderTree::TFolderTree(QWidget* parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("stv"));
    model = new QFileSystemModel(this);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model->setReadOnly(true);
    model->setRootPath(QStringLiteral("/"));
    setModel(model);
    for (int c = 1; c < model->columnCount(); ++c) hideColumn(c);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit folderChanged(); });
    // Folders load in the background; keep the selected one in sight as they come.
    connect(model, &QFileSystemModel::directoryLoaded, this, [this] {
        if (currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
    });
}

bool TFolderTree::SelectFolder(const QString& path) {
    QString clean = QDir::cleanPath(path);
    if (clean.isEmpty()) clean = QStringLiteral("/");
    const QModelIndex idx = model->index(clean);
    if (!idx.isValid()) return false;
    if (idx == currentIndex()) emit folderChanged(); // chosen again: listeners refresh anyway
    else setCurrentIndex(idx);
    scrollTo(idx, QAbstractItemView::PositionAtCenter);
    return true;
}

QString TFolderTree::SelectedFolder() const {
    const QModelIndex idx = currentIndex();
    if (!idx.isValid()) return {};
    const QString f = QDir::cleanPath(model->filePath(idx));
    return f.isEmpty() ? QStringLiteral("/") : f;
}
