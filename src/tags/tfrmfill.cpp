#include "tags/tfrmfill.h"

#include "app/application.h"

#include <QLabel>

TfrmFill::TfrmFill(QWidget* parent) : QDialog(parent) {
    WindowCreationLog() << QStringLiteral("TfrmFill");
    setObjectName(QStringLiteral("frmFill"));
    setWindowTitle(QStringLiteral("Fill tags from file info"));
    for (QLabel** p : {&pnlFile, &pnlFolder, &pnlArtist, &pnlAlbum, &pnlTrack, &pnlTTitle})
        *p = new QLabel(this);
}
