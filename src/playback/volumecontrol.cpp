// The volume bar and the master volume.

#include "app/tfrmmain.h"

void TfrmMain::InitMixer() {}

void TfrmMain::tbVolumeChange() {}
