#pragma once

#include <QDialog>

class TfrmBM : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBM(QWidget* parent = nullptr);
};
