// The volume bar and the master volume.

#include "app/dialogs.h"
#include "app/tfrmmain.h"
#include "playback/audiomixer.h"

#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

void TfrmMain::InitMixer() {
    try {
        TMixerVolume volume;
        Mixer->GetVolume(0, -1, volume);
        if (volume.Left > tbVolume->maximum()) {
            // Boosted past 100 %: the bar shows full, and the boost stays until
            // the user moves the bar.
            const QSignalBlocker quiet(tbVolume);
            tbVolume->setValue(tbVolume->maximum());
            return;
        }
        // No volume control (or no mixer) reads -1: the bar's minimum. A value
        // that differs from the bar's runs its change handler, which writes it
        // back to both channels and switches the mute off.
        tbVolume->setValue(std::max(volume.Left, tbVolume->minimum()));
    } catch (const std::exception& e) {
        ShowMessage(QStringLiteral("InitMixer() - ") + QString::fromUtf8(e.what()));
    }
}

void TfrmMain::tbVolumeChange() {
    if (Updating) return;
    Updating = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{Updating};
    const int volume = tbVolume->value();
    Mixer->SetVolume(0, -1, volume, volume, 0);
}
