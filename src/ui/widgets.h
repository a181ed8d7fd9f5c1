#pragma once
// Small building blocks the windows share.

#include <QComboBox>
#include <QScrollBar>
#include <QTreeView>

class QFileSystemModel;
class QHBoxLayout;
class QPushButton;
class QLabel;

// A sunken text panel; names are shown as typed, never as markup.
QLabel* MakePanel(QWidget* parent, const char* name, int minWidth = 0);
// One slot of a naming pattern (artist, album, track, title or "-").
QComboBox* MakeFieldSlot(QWidget* parent, const char* name, int item);
// The delimiter box of a naming pattern: editable, suggesting "-", "_" and "&".
QComboBox* MakeDelimiterBox(QWidget* parent);

// An editable combo box that tells a row picked from its drop-down list apart
// from text typed or set by the program. Stepping through the rows with the
// arrow keys, or the wheel while the box has the focus, picks the row stepped
// to; the wheel over a box without the focus does nothing.
class TFileBox : public QComboBox {
    Q_OBJECT
public:
    explicit TFileBox(QWidget* parent = nullptr);
    void showPopup() override;
    void hidePopup() override;

signals:
    // The user picked a row of the list (mouse, keyboard or wheel).
    void rowPicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Moves by rows from the row the text names and picks it.
    void step(int rows);
    bool popupOpen = false;
    int wheelAngle = 0; // of a wheel turned less than one notch so far
};

// A scroll bar whose thumb stays small however large its page step: the page
// step is only how far a click beside the thumb moves, not a visible page.
// Marks (chapter starts) are drawn as ticks along it.
class TPositionBar : public QScrollBar {
    Q_OBJECT
public:
    explicit TPositionBar(Qt::Orientation orientation, QWidget* parent = nullptr);
    // Values to mark; none when empty.
    void SetMarks(const QVector<int>& values);
    const QVector<int>& Marks() const { return marks; }

protected:
    void initStyleOption(QStyleOptionSlider* option) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<int> marks;
};

// Moves a window to the middle of its screen.
void CenterOnScreen(QWidget* window);

// A right-aligned "&Ok" (default) and "&Cancel" pair named cmdOk and cmdCancel.
QHBoxLayout* MakeOkCancelRow(QWidget* parent, QPushButton*& ok, QPushButton*& cancel);

// The file system's folders from "/", one selected.
class TFolderTree : public QTreeView {
    Q_OBJECT
public:
    explicit TFolderTree(QWidget* parent = nullptr);
    // Selects a folder and scrolls it into view; false when it is not there.
    bool SelectFolder(const QString& path);
    // The selected folder without a trailing "/" ("/" for the root); empty when none.
    QString SelectedFolder() const;

signals:
    void folderChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Keeps the chosen folder in sight while the folders around it load, until
    // the user moves the view himself.
    void followSelection();
    void fitColumnSoon();
    QFileSystemModel* model = nullptr;
    bool fitQueued = false;
    bool following = false;
    bool scrollQueued = false;
};
