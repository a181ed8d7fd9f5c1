#include "tags/tfrmedit.h"

#include "app/application.h"

TfrmEdit::TfrmEdit(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmEdit");
    setObjectName(QStringLiteral("frmEdit"));
    setWindowTitle(QStringLiteral("ID3 Tag Editor"));
}
