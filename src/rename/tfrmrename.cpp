#include "rename/tfrmrename.h"

#include "app/application.h"

TfrmRename::TfrmRename(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmRename");
    setObjectName(QStringLiteral("frmRename"));
    setWindowTitle(QStringLiteral("Rename File(s)"));
}
