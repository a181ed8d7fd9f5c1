// Playback strip of the main window: file box, player panel, status bar, timer.

#include "app/tfrmmain.h"
#include "playback/mediaplayer.h"
#include <QApplication>
#include <QLabel>
#include <QStatusBar>

void TfrmMain::SetStatus(int panel, const QString& text) {
    if (panel < 0 || panel > 2) return;
    sbPanels[panel]->setText(text);
    sb->repaint();
    QApplication::processEvents();
}

bool TfrmMain::OpenCurrentFile() { return false; }

void TfrmMain::PlayFrom(int32_t) {}

void TfrmMain::cmdPlayClick() {}

void TfrmMain::tmrTimer() { TimedExitTick(); }

void TfrmMain::sbPosChange() {}

void TfrmMain::cmdBrowseClick() {}

void TfrmMain::cmbFileChange() {}

void TfrmMain::cmbFileSelect() {}

void TfrmMain::AskBookmarkProgress() {}

void TfrmMain::ArrangeControls() {
    // The layouts already span the bars across the window and keep Close and
    // About at the right edge; nothing to place by hand.
}
