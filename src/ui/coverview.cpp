#include "ui/coverview.h"

#include <QBuffer>
#include <QChildEvent>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The image in bytes, within the bounds; null when it is refused or broken.
QImage Decode(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(TCoverView::kMaxDecodeMB);
    reader.setAutoTransform(true);
    // What the header declares is checked before anything is decoded.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() ||
        qint64(size.width()) * size.height() > TCoverView::kMaxPixels)
        return {};
    // A large picture is decoded straight at the size shown (JPEG's own
    // scaling does most of that work).
    const int edge = TCoverView::kDecodeSize;
    if (size.width() > edge || size.height() > edge)
        reader.setScaledSize(size.scaled(edge, edge, Qt::KeepAspectRatio));
    QImage image;
    if (!reader.read(&image)) return {};
    return image;
}

} // namespace

TCoverView::TCoverView(QWidget* parent) : QWidget(parent) {
    pool.setMaxThreadCount(1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setMaximumWidth(kMaxWidth);
    hide();
}

TCoverView::~TCoverView() {
    // A decode under way ends before the view goes (it takes a bounded time).
    pool.clear();
    pool.waitForDone();
}

void TCoverView::ShowImage(const QByteArray& bytes) {
    const int mine = ++generation;
    if (bytes.isEmpty()) {
        take(mine, QImage());
        return;
    }
    ++pending;
    QPointer<TCoverView> self(this);
    pool.start([self, bytes, mine] {
        const QImage decoded = Decode(bytes);
        // Shown from the window's thread; a view gone meanwhile gets nothing.
        QMetaObject::invokeMethod(
            self,
            [self, decoded, mine] {
                if (!self) return;
                --self->pending;
                self->take(mine, decoded);
            },
            Qt::QueuedConnection);
    });
}

void TCoverView::take(int request, const QImage& decoded) {
    if (request != generation) return; // a later request is on its way
    image = decoded;
    setVisible(!image.isNull());
    updateGeometry();
    update();
    emit Shown();
}

int TCoverView::heightForWidth(int width) const {
    if (image.isNull() || image.width() <= 0) return 0;
    // A tall picture is shown smaller rather than stretching the column.
    return int(std::min<qint64>(qint64(width) * image.height() / image.width(), kMaxHeight));
}

QSize TCoverView::sizeHint() const {
    const int width = 200;
    return {width, heightForWidth(width)};
}

void TCoverView::paintEvent(QPaintEvent*) {
    if (image.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize shown = image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, 0), shown);
    p.drawImage(target, image);
}

// ---------------------------------------------------------------- the column

TSideColumn::TSideColumn(QWidget* parent) : QWidget(parent), layout(new QVBoxLayout(this)) {
    layout->setContentsMargins(6, 0, 0, 0);
    layout->setSpacing(6);
    layout->addStretch(0);
    hide();
}

void TSideColumn::AddWidget(QWidget* widget, int stretch) {
    // Above the trailing stretch, which keeps short widgets at the top.
    layout->insertWidget(layout->count() - 1, widget, stretch);
    follow();
}

void TSideColumn::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    if (event->added() && event->child()->isWidgetType()) event->child()->installEventFilter(this);
    if (event->added() || event->removed()) follow();
}

bool TSideColumn::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) follow();
    return QWidget::eventFilter(watched, event);
}

void TSideColumn::follow() {
    bool any = false;
    for (QObject* child : children())
        if (child->isWidgetType() && !static_cast<QWidget*>(child)->isHidden()) any = true;
    if (isHidden() == any) setVisible(any);
}
