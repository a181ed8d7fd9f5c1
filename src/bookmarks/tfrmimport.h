#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TBookmarkCommands;
class TFolderTree;
class QWidget;

// Import: turns a folder tree of audio files into start bookmarks.
class TfrmImport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmImport(TBookmarkCommands& bookmarks, QWidget* parent = nullptr);
    // While a long operation runs, no import can start.
    void SetBusy(bool busy);

    void cmdOkClick();
    void cmdCancelClick();
    void cmdCancelImportClick();
    void ImportFolder();
    // Selects a folder in the chooser (and scrolls it into view).
    void SelectFolder(const QString& path);
    QString SelectedFolder() const;

    bool StopRequested = false;
    QLabel* lblChoose = nullptr;
    TFolderTree* stv = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
    QWidget* pnlPrg = nullptr;
    QLabel* pnlFile = nullptr;
    QLabel* lblFiles = nullptr;
    QLabel* lblNew = nullptr;
    QLabel* lblSkipped = nullptr; // files whose path is too long to bookmark
    QPushButton* cmdCancelImport = nullptr;
    // The window's last line: what the last import did.
    QLabel* lblSummary = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void showChooser();
    TBookmarkCommands& bookmarks;
    bool scanning = false;
    bool busy = false;
    bool okEnabled = true;
};
