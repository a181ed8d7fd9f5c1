#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPushButton;

// Missing Audio Source: what to do with a bookmark whose file has gone.
class TfrmMissing : public QDialog {
    Q_OBJECT
public:
    enum Answer { Ignore = 0, Repoint = 1, Delete = 2 };

    explicit TfrmMissing(QWidget* parent = nullptr);
    void Fill(const QString& path, const QString& stamp, int32_t position);
    // Shows the dialog modally; closing it any other way counts as Ignore.
    Answer Ask();
    // While a long operation runs, a bookmark can be neither repointed nor deleted.
    void SetBusy(bool busy);

    QLabel* pnlSrc = nullptr;
    QLabel* pnlTime = nullptr;
    QLabel* pnlPos = nullptr;
    QPushButton* cmdIgnore = nullptr;
    QPushButton* cmdRepoint = nullptr;
    QPushButton* cmdDelete = nullptr;
};
