#pragma once
// "Mass Rename - Build, Preview, Apply": walks the rename window's root folder for
// proposals, lets the user tick or untick them, applies the ticked ones and opens
// the log. Shown modally by TfrmRename::cmdOkClick in mass mode, which sets
// RenameWindow; the root, pattern, extension, preview option, tag reading and
// RenameAndRepoint all come from that window.

#include "rename/massrename.h"

#include <QDialog>
#include <functional>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmRename;

class TfrmPreview : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPreview(QWidget* parent = nullptr);

    void FormActivate();
    void FormClose();
    void BuildList();
    void ApplyList();
    void cmdSelClick();
    void cmdDesClick();
    void cmdSelAllClick();
    void cmdDesAllClick();
    void cmdProceedClick();
    void cmdCancelClick();
    void lvSelectItem(QTreeWidgetItem* item);

    bool Busy() const { return busy; }
    bool CancelRequested() const { return cancelRequested; }
    // The proposals as last built (and, after an apply, their results).
    const std::vector<TRenameAction>& Rows() const { return rows; }
    TMassRenameLog LastLog;

    // Where the settings come from.
    TfrmRename* RenameWindow = nullptr;
    // What the program hands in: the data folder and its Closing flag; seams
    // with working defaults: the clock, and opening the log with the desktop's viewer.
    std::function<QString()> DataFolder;
    std::function<bool()> Closing;
    std::function<QDateTime()> Now;
    std::function<void(const QString& path)> OpenLog;

    QWidget* pnlTop = nullptr;
    QPushButton* cmdSel = nullptr;
    QPushButton* cmdDes = nullptr;
    QPushButton* cmdSelAll = nullptr;
    QPushButton* cmdDesAll = nullptr;
    QPushButton* cmdProceed = nullptr;
    QPushButton* cmdCancel = nullptr;
    QTreeWidget* lv = nullptr;
    QWidget* pnlSB = nullptr;
    QProgressBar* prg = nullptr;
    QLabel* lblMsg = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TfrmRename* Source() const;
    void SetStatus(const QString& text);
    void ShowReviewButtons(bool on);
    bool busy = false;
    bool applying = false; // part of busy: Esc, the title-bar close and Cancel are refused
    bool cancelRequested = false;
    std::vector<TRenameAction> rows;
};
