#pragma once
// The debug view: the raw bookmark store, one line per record, deleted ones
// included. Opened (not modal) with F1 from the main window; changes nothing.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QWidget;
class TAppState;

class TfrmDebug : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDebug(const TAppState& app, QWidget* parent = nullptr);

    // Lists the store named by StorePath (the program's store when empty).
    void cmdDataClick();
    void cmdCloseClick();
    // The store listed by "&Data"; empty means the program's store.
    QString StorePath;

    QWidget* pnlTop = nullptr;
    QPushButton* cmdData = nullptr;
    QPushButton* cmdClose = nullptr;
    QPlainTextEdit* mem = nullptr;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    const TAppState& app;
    bool centred = false;
};
