#pragma once
// "Mass Rename - Build, Preview, Apply": walks the rename window's root folder for
// proposals, lets the user tick or untick them, applies the ticked ones and opens
// the log. Shown modally by TfrmRename::cmdOkClick in mass mode; the root,
// pattern, extension, preview option and the work itself are the renamer's.

#include "rename/renamer.h"

#include <QDialog>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TfrmPreview : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPreview(TRenamer& renamer, QWidget* parent = nullptr);

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

    bool Busy() const { return renamer.Busy; }
    bool CancelRequested() const { return renamer.CancelRequested; }
    // The proposals as last built (and, after an apply, their results).
    const std::vector<TRenameAction>& Rows() const { return renamer.Rows; }

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
    void SetStatus(const QString& text);
    void ShowReviewButtons(bool on);
    bool closing() const;
    TRenamer& renamer;
};
