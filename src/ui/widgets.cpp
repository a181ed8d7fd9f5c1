#include "ui/widgets.h"

#include "tags/fillrules.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>

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

void CenterOnScreen(QWidget* window) {
    QScreen* s = window->screen();
    if (!s) s = QGuiApplication::primaryScreen();
    if (s) window->move(s->availableGeometry().center() - window->rect().center());
}

QHBoxLayout* MakeOkCancelRow(QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* row = new QHBoxLayout;
    ok = new QPushButton(QStringLiteral("&Ok"), parent);
    ok->setObjectName(QStringLiteral("cmdOk"));
    ok->setDefault(true);
    cancel = new QPushButton(QStringLiteral("&Cancel"), parent);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

TFileBox::TFileBox(QWidget* parent) : QComboBox(parent) {
    // A wheel turned over the window on its way elsewhere takes no focus here.
    setFocusPolicy(Qt::StrongFocus);
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

void TFileBox::keyPressEvent(QKeyEvent* event) {
    // Qt steps from its own current row, which the text may no longer name,
    // and changes the text without a pick; Alt and Ctrl keep their meanings.
    const bool plain = !(event->modifiers() & (Qt::AltModifier | Qt::ControlModifier));
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_PageUp:
        if (!plain) break;
        step(-1);
        event->accept();
        return;
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        if (!plain) break;
        step(1);
        event->accept();
        return;
    default:
        break;
    }
    QComboBox::keyPressEvent(event);
}

void TFileBox::wheelEvent(QWheelEvent* event) {
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    event->accept();
    // One row per notch (120); a fine-grained wheel adds up to one.
    wheelAngle += event->angleDelta().y();
    const int rows = wheelAngle / 120;
    if (rows == 0) return;
    wheelAngle -= rows * 120;
    step(rows > 0 ? -1 : 1); // turned away from the user: the row above
}

void TFileBox::step(int rows) {
    const int current = findText(currentText());
    int row = current < 0 ? (rows > 0 ? 0 : -1) : current + rows;
    if (row < 0 || row >= count() || row == current) return;
    setCurrentIndex(row);
    setEditText(itemText(row));
    emit rowPicked();
}

TFolderTree::TFolderTree(QWidget* parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("stv"));
    model = new QFileSystemModel(this);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model->setReadOnly(true);
    model->setRootPath(QStringLiteral("/"));
    setModel(model);
    for (int c = 1; c < model->columnCount(); ++c)
        hideColumn(c);
    setHeaderHidden(true);
    // Every row is one folder name high: the view need not measure each one.
    setUniformRowHeights(true);
    // Deep folders scroll sideways, as a shell tree does, instead of being cut
    // short: the column is fitted to the names whenever folders come or go
    // (fitting it at every paint would cost more than a whole import).
    header()->setStretchLastSection(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit folderChanged(); });
    // Folders load and sort in the background, moving the rows below them.
    connect(model, &QFileSystemModel::directoryLoaded, this, [this] { followSelection(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] {
        followSelection();
        fitColumnSoon();
    });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
        followSelection();
        fitColumnSoon();
    });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { fitColumnSoon(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { fitColumnSoon(); });
    connect(this, &QTreeView::expanded, this, [this] { fitColumnSoon(); });
    connect(this, &QTreeView::collapsed, this, [this] { fitColumnSoon(); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { following = false; });
}

void TFolderTree::followSelection() {
    if (!following || scrollQueued) return;
    scrollQueued = true;
    QTimer::singleShot(0, this, [this] {
        scrollQueued = false;
        if (following && currentIndex().isValid())
            scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
    });
}

void TFolderTree::fitColumnSoon() {
    if (fitQueued) return;
    fitQueued = true;
    QTimer::singleShot(0, this, [this] {
        fitQueued = false;
        resizeColumnToContents(0);
    });
}

void TFolderTree::showEvent(QShowEvent* event) {
    QTreeView::showEvent(event);
    followSelection(); // a hidden view cannot place a row
    fitColumnSoon();
}

void TFolderTree::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    // Rows stay as wide as the view, so the selection marks the whole line.
    header()->setMinimumSectionSize(viewport()->width());
}

void TFolderTree::mousePressEvent(QMouseEvent* event) {
    following = false;
    QTreeView::mousePressEvent(event);
}

void TFolderTree::wheelEvent(QWheelEvent* event) {
    following = false;
    QTreeView::wheelEvent(event);
}

void TFolderTree::keyPressEvent(QKeyEvent* event) {
    following = false;
    QTreeView::keyPressEvent(event);
}

bool TFolderTree::SelectFolder(const QString& path) {
    QString clean = QDir::cleanPath(path);
    if (clean.isEmpty()) clean = QStringLiteral("/");
    const QModelIndex idx = model->index(clean);
    if (!idx.isValid()) return false;
    if (idx == currentIndex())
        emit folderChanged(); // chosen again: listeners refresh anyway
    else
        setCurrentIndex(idx);
    following = true;
    scrollTo(idx, QAbstractItemView::PositionAtCenter);
    followSelection();
    return true;
}

QString TFolderTree::SelectedFolder() const {
    const QModelIndex idx = currentIndex();
    if (!idx.isValid()) return {};
    const QString f = QDir::cleanPath(model->filePath(idx));
    return f.isEmpty() ? QStringLiteral("/") : f;
}

TPositionBar::TPositionBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {}

void TPositionBar::initStyleOption(QStyleOptionSlider* option) const {
    QScrollBar::initStyleOption(option);
    option->pageStep = 0; // the style draws its smallest thumb
}

void TPositionBar::SetMarks(const QVector<int>& values) {
    if (values == marks) return;
    marks = values;
    update();
}

void TPositionBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    if (marks.isEmpty() || maximum() <= minimum()) return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove =
        style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarGroove, this);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
    if (groove.width() <= thumb.width()) return;
    // Where the thumb's middle stands at each value; one tick per pixel
    // however many chapters share it.
    const int span = groove.width() - thumb.width();
    const int left = groove.left() + thumb.width() / 2;
    QPainter p(this);
    QColor ink = palette().color(QPalette::WindowText);
    ink.setAlpha(150);
    p.setPen(ink);
    const int h = std::max(3, groove.height() / 3);
    int last = -1;
    for (int v : marks) {
        if (v < minimum() || v > maximum()) continue;
        const int x = left + QStyle::sliderPositionFromValue(minimum(), maximum(), v, span);
        if (x == last) continue;
        last = x;
        p.drawLine(x, groove.top(), x, groove.top() + h - 1);
        p.drawLine(x, groove.bottom() - h + 1, x, groove.bottom());
    }
}
