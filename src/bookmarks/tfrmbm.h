#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// New Bookmark: names a bookmark at the playing position.
class TfrmBM : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBM(QWidget* parent = nullptr);
    void cmdOkClick();

    QLabel* pnlFile = nullptr;
    QLabel* pnlPos = nullptr;
    QLineEdit* edtDesc = nullptr;
    QCheckBox* chkResume = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
};
