// Prev and Next through the visited files.

#include "app/tfrmmain.h"
#include "playback/bmhistory.h"

#include <QComboBox>
#include <QPushButton>

void TfrmMain::cmdPrevClick() {
    if (History) {
        if (const auto path = History->GoPrev()) {
            cmbFile->setEditText(*path);
            OpenCurrentFile();
            // A successful open leaves the button on Play: the file plays from its start.
            cmdPlayClick();
        }
    }
    UpdateHints();
}

void TfrmMain::cmdNextClick() {
    if (History) {
        if (const auto path = History->GoNext()) {
            cmbFile->setEditText(*path);
            OpenCurrentFile();
            cmdPlayClick();
        }
    }
    UpdateHints();
}

void TfrmMain::UpdateHints() {
    if (!History) {
        cmdPrev->setToolTip(QStringLiteral("no history yet"));
        cmdNext->setToolTip(QStringLiteral("no history yet"));
        return;
    }
    cmdPrev->setToolTip(History->PrevHint());
    cmdNext->setToolTip(History->NextHint());
}
