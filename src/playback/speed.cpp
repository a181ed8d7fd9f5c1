// Listening speed: the player's rate, three window-wide keys, and the Play
// button's hint, the one place that shows it.

#include "app/tfrmmain.h"
#include "playback/mediaplayer.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <cmath>

namespace {

QString SpeedHint(double speed) {
    return QStringLiteral("Speed %1x (Ctrl+] faster, Ctrl+[ slower, Ctrl+\\ normal)")
        .arg(speed, 0, 'f', 1);
}

} // namespace

double TfrmMain::Speed() const {
    return mp->Rate();
}

void TfrmMain::SetSpeed(double speed) {
    if (!std::isfinite(speed)) return;
    speed =
        std::clamp(std::round(speed * 10.0) / 10.0, TMediaPlayer::MinRate, TMediaPlayer::MaxRate);
    cmdPlay->setToolTip(SpeedHint(speed));
    if (speed == mp->Rate()) return;
    mp->SetRate(speed);
    emit SpeedChanged(speed);
}

void TfrmMain::StepSpeed(int steps) {
    SetSpeed(steps == 0 ? 1.0 : Speed() + 0.1 * steps);
}

// Called once from SetUpDesktop. Shortcuts, unlike the key preview, never take
// a character from the text box that has the focus.
void SetUpSpeedKeys(TfrmMain* w) {
    const struct {
        int key;
        int steps;
    } keys[] = {{Qt::Key_BracketRight, 1}, {Qt::Key_BracketLeft, -1}, {Qt::Key_Backslash, 0}};
    for (const auto& k : keys) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | k.key), w);
        shortcut->setContext(Qt::WindowShortcut);
        const int steps = k.steps;
        QObject::connect(shortcut, &QShortcut::activated, w, [w, steps] { w->StepSpeed(steps); });
    }
    w->cmdPlay->setToolTip(SpeedHint(w->Speed()));
}
