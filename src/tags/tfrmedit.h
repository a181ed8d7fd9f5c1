#pragma once

#include <QDialog>

class TfrmEdit : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEdit(QWidget* parent = nullptr);
};
