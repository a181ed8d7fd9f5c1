#include "tags/tfrmfill.h"

#include "app/application.h"

TfrmFill::TfrmFill(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmFill");
    setObjectName(QStringLiteral("frmFill"));
    setWindowTitle(QStringLiteral("Fill tags from file info"));
}
