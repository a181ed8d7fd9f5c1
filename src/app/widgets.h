#pragma once
// Small building blocks the windows share.

#include <QComboBox>
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
// from text typed or set by the program.
class TFileBox : public QComboBox {
    Q_OBJECT
public:
    explicit TFileBox(QWidget* parent = nullptr);
    void showPopup() override;
    void hidePopup() override;

signals:
    // The user picked a row of the list (mouse or keyboard).
    void rowPicked();

private:
    bool popupOpen = false;
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
    QFileSystemModel* model = nullptr;
    bool following = false;
    bool scrollQueued = false;
};
