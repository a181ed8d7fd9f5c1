#include "diag/tfrmdebug.h"

#include "app/application.h"

TfrmDebug::TfrmDebug(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmDebug");
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Debug"));
}
