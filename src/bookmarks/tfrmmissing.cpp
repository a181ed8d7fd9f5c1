#include "bookmarks/tfrmmissing.h"

#include "app/application.h"

TfrmMissing::TfrmMissing(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmMissing");
    setObjectName(QStringLiteral("frmMissing"));
    setWindowTitle(QStringLiteral("Missing Audio Source"));
}
