#pragma once
// The sleep timer: after the chosen number of minutes of wall time (not of
// playback) it fades the sound out over its last FadeMs and then says that
// playback should pause; or, chosen "end of this file" or "end of this
// chapter", it waits for that end. Once it has fired, a Play within GraceMs starts the same timer
// again.

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>

class TSleepTimer : public QObject {
    Q_OBJECT
public:
    // A choice is a number of minutes, or one of these.
    static constexpr int Off = 0;
    static constexpr int EndOfFile = -1;
    static constexpr int EndOfChapter = -2;
    // What the menu offers, in its order.
    static QVector<int> Choices();
    static QString ChoiceCaption(int choice);

    explicit TSleepTimer(QObject* parent = nullptr);

    // Durations, shortened by tests.
    int MinuteMs = 60000;
    int FadeMs = 10000;
    int GraceMs = 120000;
    // Wall time in milliseconds (tests put a clock of their own here).
    std::function<qint64()> Now;

    // Starts the timer for choice (Off stops it).
    void Start(int choice);
    void Stop();
    int Choice() const { return choice; }
    bool Running() const { return choice != Off; }
    // Milliseconds left (0 when off or waiting for the end of the file).
    qint64 Left() const;
    // The panel's text: "Sleep", "Sleep 14:32", "Sleep: end of file" or
    // "Sleep: end of chapter".
    QString Text() const;
    // The file ended while "end of this file" or "end of this chapter" was
    // chosen: the timer has fired.
    void FileEnded();
    // The chapter ended while "end of this chapter" was chosen: the timer has fired.
    void ChapterEnded();
    // Playback starts: within the grace after it fired, the same timer starts again.
    void PlayStarted();

signals:
    void TextChanged(const QString& text);
    // The sound's level while the fade runs: from 1 down to 0, then 1 again
    // once Fired has been handled.
    void VolumeChanged(double level);
    // Time is up (after the fade): playback pauses now.
    void Fired();

private:
    void step();
    QTimer timer;
    int choice = Off;
    qint64 deadline = 0;
    qint64 firedAt = -1; // when it last fired, for the grace
    int firedChoice = Off;
    bool fading = false;
};
