#include "playback/sleeptimer.h"

#include "playback/clocktext.h"

#include <QDateTime>
#include <algorithm>

QVector<int> TSleepTimer::Choices() {
    return {Off, 5, 10, 15, 30, 45, 60, 90, EndOfChapter, EndOfFile};
}

QString TSleepTimer::ChoiceCaption(int choice) {
    if (choice == Off) return QStringLiteral("Off");
    if (choice == EndOfFile) return QStringLiteral("End of this file");
    if (choice == EndOfChapter) return QStringLiteral("End of this chapter");
    return QStringLiteral("%1 minutes").arg(choice);
}

TSleepTimer::TSleepTimer(QObject* parent)
    : QObject(parent), Now([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    timer.setObjectName(QStringLiteral("tmrSleep"));
    connect(&timer, &QTimer::timeout, this, &TSleepTimer::step);
}

void TSleepTimer::Start(int newChoice) {
    if (!Choices().contains(newChoice)) return;
    const bool wasFading = fading;
    choice = newChoice;
    fading = false;
    firedAt = -1;
    timer.stop();
    if (choice > 0) {
        deadline = Now() + qint64(choice) * MinuteMs;
        timer.start(std::min(1000, std::max(MinuteMs / 60, 10)));
    }
    if (wasFading) emit VolumeChanged(1.0);
    emit TextChanged(Text());
}

void TSleepTimer::Stop() {
    Start(Off);
}

qint64 TSleepTimer::Left() const {
    return choice > 0 ? std::max<qint64>(0, deadline - Now()) : 0;
}

QString TSleepTimer::Text() const {
    if (choice == EndOfFile) return QStringLiteral("Sleep: end of file");
    if (choice == EndOfChapter) return QStringLiteral("Sleep: end of chapter");
    if (choice == Off) return QStringLiteral("Sleep");
    // A second begun counts whole: the panel never shows 0:00 while it runs.
    const qint64 left = (Left() + 999) / 1000 * 1000;
    return QStringLiteral("Sleep ") + FormatClock(left, left >= 3600000);
}

void TSleepTimer::step() {
    const qint64 left = Left();
    if (left <= 0) {
        const int was = choice;
        choice = Off;
        timer.stop();
        fading = false;
        firedAt = Now();
        firedChoice = was;
        emit TextChanged(Text());
        emit Fired();
        emit VolumeChanged(1.0);
        return;
    }
    if (left <= FadeMs) {
        // Smooth steps through the fade; the panel still counts seconds.
        if (!fading) timer.setInterval(std::max(10, std::min(100, FadeMs / 50)));
        fading = true;
        emit VolumeChanged(double(left) / double(FadeMs));
    }
    emit TextChanged(Text());
}

void TSleepTimer::FileEnded() {
    if (choice != EndOfFile && choice != EndOfChapter) return;
    firedChoice = choice;
    choice = Off;
    firedAt = Now();
    emit TextChanged(Text());
}

void TSleepTimer::ChapterEnded() {
    if (choice == EndOfChapter) FileEnded();
}

void TSleepTimer::PlayStarted() {
    if (firedAt < 0 || choice != Off) return;
    const bool inGrace = Now() - firedAt <= GraceMs;
    const int again = firedChoice;
    firedAt = -1;
    if (inGrace) Start(again);
}
