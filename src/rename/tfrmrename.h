#pragma once

#include <QDialog>

class TfrmRename : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRename(QWidget* parent = nullptr);
    void SetSingle(const QString&, const QString&) {}
    void SetMass() {}
    void SelectFolder(const QString&) {}
    QString Outcome() const { return {}; }
    QString NewName() const { return {}; }
};
