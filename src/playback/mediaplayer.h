#pragma once
// The hidden player device: opens one file at a time and plays it, with every
// position and length in milliseconds.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class TMediaPlayer : public QObject {
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

    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    void SetFileName(const QString& path);
    QString FileName() const;
    // Opens (prerolls) the file; throws NarrabelError with the decoder's message.
    void Open();
    // Does nothing when nothing is open.
    void Close();
    // Play, Pause, Resume, SetPosition and Length throw "No MCI device open"
    // when nothing is open.
    void Play();
    void Pause();
    void Resume();
    int32_t Position() const;
    void SetPosition(int32_t ms);
    void SetStartPos(int32_t ms);
    int32_t Length() const;
    // Never throws.
    int Mode() const;
    bool IsOpen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
