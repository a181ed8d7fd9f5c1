#pragma once

#include <QDialog>

class TfrmImport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmImport(QWidget* parent = nullptr);
};
