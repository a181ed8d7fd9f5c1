#pragma once
// What the listening session needs of a player device: one file at a time,
// opened, played, paused and moved through, with every position and length in
// milliseconds. The sound library's player is the one the program uses.

#include <QObject>
#include <QString>
#include <cstdint>

class TPlayerDevice : public QObject {
    Q_OBJECT
public:
    enum TMPModes : int {
        mpNotReady = 0,
        mpStopped = 1,
        mpPlaying = 2,
        mpRecording = 3,
        mpSeeking = 4,
        mpPaused = 5,
        mpOpen = 6,
    };
    static constexpr double MinRate = 0.5;
    static constexpr double MaxRate = 3.0;

    using QObject::QObject;

    virtual void SetFileName(const QString& path) = 0;
    virtual QString FileName() const = 0;
    // Opens the file; throws NarrabelError with the decoder's message, or
    // when the file's streams hold no sound (an image, a text).
    virtual void Open() = 0;
    // Does nothing when nothing is open.
    virtual void Close() = 0;
    // Play, Pause, Resume, SetPosition and Length throw when nothing is open.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual int32_t Position() const = 0;
    // Seeking stops a playing device (it stays open, stopped at the new place).
    virtual void SetPosition(int32_t ms) = 0;
    // Moves the place within the open file: a playing device plays on from
    // there at once (no reopen, the output keeps running); a paused or stopped
    // one moves as SetPosition does. Position reports the new place at once.
    virtual void Seek(int32_t ms) = 0;
    // The next Play starts here; an Open that fails forgets it.
    virtual void SetStartPos(int32_t ms) = 0;
    virtual int32_t Length() const = 0;
    // The length is still being measured (LengthKnown follows).
    virtual bool LengthPending() const = 0;
    // Never throws.
    virtual int Mode() const = 0;
    virtual bool IsOpen() const = 0;
    // Listening speed (1.0 = as recorded), clamped to MinRate-MaxRate; it holds
    // for every file opened later.
    virtual void SetRate(double rate) = 0;
    virtual double Rate() const = 0;
    // The level of the program's own stream, 0-1 as a listener hears it (the
    // system's master volume is never touched); it holds for every file
    // opened later.
    virtual void SetStreamVolume(double level) = 0;
    virtual double StreamVolume() const = 0;
    // A boost of the program's own stream in dB (0 = none), after the speed
    // change and apart from the stream's level, with a limiter behind it so
    // that no sample passes full scale; it holds for every file opened later.
    virtual void SetBoost(double db) = 0;
    virtual double Boost() const = 0;
    // The file that follows the open one: when the open file plays to its end
    // the device goes straight on into it, without a gap, and reports MovedOn
    // instead of Finished. Empty: none. Cleared when the file is closed; once
    // the device has begun to go on, it goes on whatever is set after.
    virtual void SetNextFile(const QString& path) = 0;
    // The last error the decoder reported while playing (empty when none).
    virtual QString LastError() const = 0;
    // Where playback of the open file stops, to the sample, as if the file
    // ended there (-1: at its end). Reaching it reports StopPointReached
    // instead of Finished, leaves the device stopped at that place and forgets
    // the point; the next Play goes on from there. A playing device plays on
    // where it is; Close and every Open forget the point.
    virtual void SetStopPoint(int32_t ms) = 0;
    virtual int32_t StopPoint() const = 0;

signals:
    // The device reached the end of the file (it is stopped there now).
    void Finished();
    // The open file's length is known: at Open, or later once it was measured.
    void LengthKnown(int32_t ms);
    // The device went on from previous into the next file (SetNextFile) and
    // plays it now from its start; FileName and Length are the new file's.
    void MovedOn(const QString& previous, const QString& path);
    // Playback reached the stop point (SetStopPoint) and stopped there.
    void StopPointReached(int32_t ms);
};
