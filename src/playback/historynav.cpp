// Prev and Next through the visited files.

#include "app/tfrmmain.h"
#include "playback/bmhistory.h"

#include <QComboBox>
#include <QPushButton>

namespace {
// The hints are brought up to date however the step ends (a file that does not
// open makes the Play press that follows fail).
struct HintsOnExit {
    TfrmMain* w;
    ~HintsOnExit() { w->UpdateHints(); }
};
} // namespace

void TfrmMain::cmdPrevClick() {
    HintsOnExit hints{this};
    if (!History) return;
    if (const auto path = History->GoPrev()) {
        cmbFile->setEditText(*path);
        OpenCurrentFile();
        // A successful open leaves the button on Play: the file plays from its start.
        cmdPlayClick();
    }
}

void TfrmMain::cmdNextClick() {
    HintsOnExit hints{this};
    if (!History) return;
    if (const auto path = History->GoNext()) {
        cmbFile->setEditText(*path);
        OpenCurrentFile();
        cmdPlayClick();
    }
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
