#include "playback/tfrmoptions.h"

#include "app/application.h"

TfrmOptions::TfrmOptions(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmOptions");
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
}
