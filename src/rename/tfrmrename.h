#pragma once

#include <QDialog>

class TfrmRename : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRename(QWidget* parent = nullptr);
};
