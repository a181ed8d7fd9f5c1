#pragma once
// The hidden player device over GStreamer: opens one file at a time and plays
// it, with every position and length in milliseconds.

#include "playback/playerdevice.h"

#include <memory>

class TMediaPlayer : public TPlayerDevice {
    Q_OBJECT
public:
    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    void SetFileName(const QString& path) override;
    QString FileName() const override;
    // Opens (prerolls) the file; throws NarrabelError with the decoder's
    // message, or when no stream of the file holds sound.
    void Open() override;
    void Close() override;
    // Play, Pause, Resume, SetPosition and Length throw "No MCI device open"
    // when nothing is open.
    void Play() override;
    void Pause() override;
    void Resume() override;
    int32_t Position() const override;
    void SetPosition(int32_t ms) override;
    void Seek(int32_t ms) override;
    void SetStartPos(int32_t ms) override;
    // An MPEG file without a frame count is measured by counting its frames
    // off this thread: until LengthKnown, Length is the decoder's estimate.
    int32_t Length() const override;
    bool LengthPending() const override;
    int Mode() const override;
    bool IsOpen() const override;
    // Pitch kept; positions stay in the file's own time.
    void SetRate(double rate) override;
    double Rate() const override;
    void SetNextFile(const QString& path) override;
    void SetStreamVolume(double level) override;
    double StreamVolume() const override;
    // Heard at once while playing (the gain glides there).
    void SetBoost(double db) override;
    double Boost() const override;
    QString LastError() const override;
    // A segment that ends at the point: sample-accurate, the sound output runs on.
    void SetStopPoint(int32_t ms) override;
    int32_t StopPoint() const override;

    // Length of an MPEG audio file from its own frames: the Xing/Info or VBRI
    // frame count when the first frame carries one, else every frame counted.
    // -1 when the file is not MPEG audio. A window other than 0 reads the file
    // that many bytes at a time and counts afresh, remembering nothing (tests).
    static int64_t MpegAudioLengthMs(const QString& path, bool* fromHeader = nullptr,
                                     qint64 window = 0);

private:
    struct Impl;
    struct LengthWalk;
    std::unique_ptr<Impl> d;
    void requireOpen() const;
    void openFile();
    void startLengthWalk(const QString& path);
    void onLengthWalked(const LengthWalk* walk, int64_t ms, bool fromHeader);
    void onEndOfStream(quint64 generation);
    void onMovedOn(quint64 generation, const QString& path);
    void measureLength(const QString& abs);
    void onStreamError(quint64 generation, const QString& message);
    void watchStall();
    void restartAt(int32_t at);
};
