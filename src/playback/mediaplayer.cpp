#include "playback/mediaplayer.h"

#include "util/errors.h"

struct TMediaPlayer::Impl {
    QString fileName;
    bool open = false;
};

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {}
TMediaPlayer::~TMediaPlayer() = default;
void TMediaPlayer::SetFileName(const QString& path) { d->fileName = path; }
QString TMediaPlayer::FileName() const { return d->fileName; }
void TMediaPlayer::Open() { throw NarrabelError(QStringLiteral("No player available")); }
void TMediaPlayer::Close() { d->open = false; }
void TMediaPlayer::Play() { throw NarrabelError(QStringLiteral("No MCI device open")); }
void TMediaPlayer::Pause() { throw NarrabelError(QStringLiteral("No MCI device open")); }
void TMediaPlayer::Resume() { throw NarrabelError(QStringLiteral("No MCI device open")); }
int32_t TMediaPlayer::Position() const { return 0; }
void TMediaPlayer::SetPosition(int32_t) { throw NarrabelError(QStringLiteral("No MCI device open")); }
void TMediaPlayer::SetStartPos(int32_t) {}
int32_t TMediaPlayer::Length() const { throw NarrabelError(QStringLiteral("No MCI device open")); }
int TMediaPlayer::Mode() const { return mpNotReady; }
bool TMediaPlayer::IsOpen() const { return d->open; }
