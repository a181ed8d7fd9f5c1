#include "rename/tfrmpreview.h"

#include "app/application.h"

TfrmPreview::TfrmPreview(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmPreview");
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Mass Rename"));
}
