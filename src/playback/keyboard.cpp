// Keyboard shortcuts, go-to-offset, the timed exit and the About box.

#include "app/tfrmmain.h"
#include "app/application.h"
#include "diag/tfrmabout.h"

void TfrmMain::FormKeyDown(int) {}

void TfrmMain::tvEnter() { TreeFocused = true; }

void TfrmMain::tvExit() { TreeFocused = false; }

void TfrmMain::mnuGoOffsetClick() {}

void TfrmMain::TimedExitTick() {}

void TfrmMain::cmdAboutClick() { frmAbout->exec(); }
