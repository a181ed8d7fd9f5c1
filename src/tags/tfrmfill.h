#pragma once

#include <QDialog>

class TfrmFill : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFill(QWidget* parent = nullptr);
};
