// Prev and Next through the visited files.

#include "app/tfrmmain.h"

void TfrmMain::cmdPrevClick() {}

void TfrmMain::cmdNextClick() {}

void TfrmMain::UpdateHints() {}
