#pragma once
// A book's cover beside the bookmark tree, and the column that holds it.

#include <QImage>
#include <QThreadPool>
#include <QWidget>

class QVBoxLayout;

// Shows an image given as the bytes of its file, scaled to the widget's width
// with its aspect kept. The bytes are decoded off the window's thread with
// bounds: an image whose header declares more than kMaxPixels, or that needs
// more than kMaxDecodeMB to decode, or that does not decode, shows nothing.
// The view hides itself while it has nothing to show.
class TCoverView : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kMaxPixels = qint64(16384) * 16384;
    static constexpr int kMaxDecodeMB = 256;
    // The decoded image is at most this many pixels wide and high.
    static constexpr int kDecodeSize = 600;
    // The view's own bounds, whatever the column's width.
    static constexpr int kMaxWidth = 320;
    static constexpr int kMaxHeight = 400;

    explicit TCoverView(QWidget* parent = nullptr);
    ~TCoverView() override;

    // Decodes bytes and shows them once decoded (an older request that is
    // still being decoded is forgotten). Empty bytes: nothing is shown.
    void ShowImage(const QByteArray& bytes);
    void Clear() { ShowImage({}); }
    // The image shown, null while there is none.
    QImage Image() const { return image; }
    // A request is being decoded.
    bool Decoding() const { return pending > 0; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

signals:
    // A request was decoded (shown) or refused (nothing shown).
    void Shown();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void take(int generation, const QImage& decoded);

    QThreadPool pool;
    QImage image;
    int generation = 0;
    int pending = 0;
};

// A column of widgets, one above the other, that shows itself exactly while
// one of them is shown: a widget added later (another panel about the book
// playing) takes part without more ado.
class TSideColumn : public QWidget {
    Q_OBJECT
public:
    explicit TSideColumn(QWidget* parent = nullptr);
    // Adds widget under the ones there; stretch as QBoxLayout's.
    void AddWidget(QWidget* widget, int stretch = 0);
    QVBoxLayout* Layout() const { return layout; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    void follow();
    QVBoxLayout* layout;
};
