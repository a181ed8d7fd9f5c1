// Loading and saving the options with the main window.

#include "app/tfrmmain.h"

void TfrmMain::LoadOptions() {}

void TfrmMain::SaveOptions() {}

void TfrmMain::cmdOptionsClick() {}
