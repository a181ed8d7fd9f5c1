#pragma once

#include <QDialog>

class TfrmMissing : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMissing(QWidget* parent = nullptr);
};
