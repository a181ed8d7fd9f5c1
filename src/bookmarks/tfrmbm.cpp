#include "bookmarks/tfrmbm.h"

#include "app/application.h"

TfrmBM::TfrmBM(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmBM");
    setObjectName(QStringLiteral("frmBM"));
    setWindowTitle(QStringLiteral("New Bookmark"));
}
