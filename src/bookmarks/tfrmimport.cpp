#include "bookmarks/tfrmimport.h"

#include "app/application.h"

TfrmImport::TfrmImport(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmImport");
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("Import"));
}
