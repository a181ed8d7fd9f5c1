#pragma once

#include <QDialog>

class TfrmDebug : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDebug(QWidget* parent = nullptr);
};
