// Resume point, recent files and the saved tree selection.

#include "app/tfrmmain.h"

void TfrmMain::LoadResumeHint() {}

void TfrmMain::SaveResumePoint() {}

void TfrmMain::cmdResumeClick() {}

void TfrmMain::AddRecentFile() {}

void TfrmMain::SaveTreeState() {}

void TfrmMain::LoadTreeState() {}
