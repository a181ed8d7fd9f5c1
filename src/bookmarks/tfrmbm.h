#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TBookmarkCommands;
class TListeningSession;

// New Bookmark: names a bookmark at the playing position.
class TfrmBM : public QDialog {
    Q_OBJECT
public:
    TfrmBM(TBookmarkCommands& bookmarks, TListeningSession& session, QWidget* parent = nullptr);
    // Shows the dialog for file at position (elapsed: the time panel's text).
    void Ask(const QString& file, int32_t position, const QString& elapsed);
    void cmdOkClick();

    QLabel* pnlFile = nullptr;
    QLabel* pnlPos = nullptr;
    QLineEdit* edtDesc = nullptr;
    QCheckBox* chkResume = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    TBookmarkCommands& bookmarks;
    TListeningSession& session;
};
