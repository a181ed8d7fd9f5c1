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
    // Seeking stops a playing device (it stays open, stopped at the new place).
    void SetPosition(int32_t ms);
    // The next Play starts here; an Open that fails forgets it.
    void SetStartPos(int32_t ms);
    // An MPEG file without a frame count is measured by counting its frames
    // off this thread: until LengthKnown, Length is the decoder's estimate.
    int32_t Length() const;
    bool LengthPending() const;
    // Never throws.
    int Mode() const;
    bool IsOpen() const;

    // Listening speed (1.0 = as recorded), pitch kept; clamped to 0.5-3.0. It
    // holds for every file opened later; positions stay in the file's own time.
    void SetRate(double rate);
    double Rate() const;
    static constexpr double MinRate = 0.5;
    static constexpr double MaxRate = 3.0;

    // The last error the decoder reported while playing (empty when none).
    QString LastError() const;

    // Length of an MPEG audio file from its own frames: the Xing/Info or VBRI
    // frame count when the first frame carries one, else every frame counted.
    // -1 when the file is not MPEG audio. A window other than 0 reads the file
    // that many bytes at a time and counts afresh, remembering nothing (tests).
    static int64_t MpegAudioLengthMs(const QString& path, bool* fromHeader = nullptr,
                                     qint64 window = 0);

signals:
    // The device reached the end of the file (it is stopped there now).
    void Finished();
    // The open file's length is known: at Open, or for a file whose frames
    // are counted, once they have been.
    void LengthKnown(int32_t ms);

private:
    struct Impl;
    struct LengthWalk;
    std::unique_ptr<Impl> d;
    void requireOpen() const;
    void openFile();
    void startLengthWalk(const QString& path);
    void onLengthWalked(const LengthWalk* walk, int64_t ms, bool fromHeader);
    void onEndOfStream(quint64 generation);
    void onStreamError(quint64 generation, const QString& message);
};
