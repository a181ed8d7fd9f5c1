#include "app/mpris.h"

#include "playback/bookcover.h"
#include "playback/session.h"
#include "tags/filetags.h"
#include "util/appstate.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {

const QString kPlay = QStringLiteral("&Play");

QDBusConnection Bus() {
    return QDBusConnection::sessionBus();
}

// The leading number of a track field such as "03/12"; 0 when there is none.
int TrackNumber(const QString& track) {
    int n = 0, digits = 0;
    for (QChar c : track) {
        if (!c.isDigit() || digits == 6) break;
        n = n * 10 + c.digitValue();
        ++digits;
    }
    return n;
}

} // namespace

QStringList TMprisRoot::SupportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"),         QStringLiteral("audio/x-wav"),
            QStringLiteral("audio/midi"),         QStringLiteral("video/x-msvideo"),
            QStringLiteral("video/mpeg"),         QStringLiteral("audio/mp4"),
            QStringLiteral("audio/x-m4b"),        QStringLiteral("audio/x-m4a"),
            QStringLiteral("audio/aac"),          QStringLiteral("audio/ogg"),
            QStringLiteral("audio/x-vorbis+ogg"), QStringLiteral("audio/opus"),
            QStringLiteral("audio/flac"),         QStringLiteral("audio/x-flac")};
}

TMprisPlayer::TMprisPlayer(TMpris* parent) : QDBusAbstractAdaptor(parent), m(parent) {
    connect(parent, &TMpris::Seeked, this, &TMprisPlayer::Seeked);
}

double TMprisPlayer::MinimumRate() const {
    return TPlayerDevice::MinRate;
}

double TMprisPlayer::MaximumRate() const {
    return TPlayerDevice::MaxRate;
}

TMpris::TMpris(TListeningSession& session, TAppState& appState, TMprisWindow window)
    : s(session), app(appState), w(std::move(window)) {
    setObjectName(QStringLiteral("Mpris"));
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) return;
    new TMprisRoot(this);
    new TMprisPlayer(this);
    if (!bus.registerObject(QLatin1String(ObjectPath), this, QDBusConnection::ExportAdaptors))
        return;
    if (!bus.registerService(QLatin1String(ServiceName))) { // another instance has it
        bus.unregisterObject(QLatin1String(ObjectPath));
        return;
    }
    registered = true;

    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(0);
    connect(&refreshTimer, &QTimer::timeout, this, &TMpris::Refresh);
    // The points where what the panels show can change.
    connect(&s, &TListeningSession::Jumped, this, [this] {
        seekPending = true;
        refreshSoon();
    });
    connect(&s, &TListeningSession::SpeedChanged, this, &TMpris::refreshSoon);
    connect(s.mp, &TPlayerDevice::Finished, this, &TMpris::refreshSoon);
    connect(s.mp, &TPlayerDevice::LengthKnown, this, &TMpris::refreshSoon);
    connect(s.tmr, &QTimer::timeout, this, &TMpris::refreshSoon);
    connect(&s, &TListeningSession::PlayCaptionChanged, this, &TMpris::refreshSoon);
    connect(&s, &TListeningSession::FileTextChanged, this, &TMpris::refreshSoon);
    connect(&s, &TListeningSession::HintsChanged, this, &TMpris::refreshSoon);
    connect(&s.Chapters, &TChapterNav::CurrentChanged, this, &TMpris::refreshSoon);
    connect(&s.Chapters, &TChapterNav::RowsChanged, this, &TMpris::refreshSoon);
    Refresh();
}

TMpris::~TMpris() {
    if (!registered) return;
    QDBusConnection bus = Bus();
    bus.unregisterService(QLatin1String(ServiceName));
    bus.unregisterObject(QLatin1String(ObjectPath));
}

// ---- properties -------------------------------------------------------------

QString TMpris::PlaybackStatus() const {
    switch (s.mp->Mode()) {
    case TPlayerDevice::mpPlaying:
        return QStringLiteral("Playing");
    case TPlayerDevice::mpPaused:
        return QStringLiteral("Paused");
    default:
        // A paused file moved by a skip, or put back after a tag save, waits
        // stopped at its place: the window says "Paused", and so do the panels.
        return s.StatusText(0) == QLatin1String("Paused") ? QStringLiteral("Paused")
                                                          : QStringLiteral("Stopped");
    }
}

QString TMpris::trackFile() const {
    return s.mp->IsOpen() ? s.mp->FileName() : QString();
}

QDBusObjectPath TMpris::trackId() const {
    const QString file = trackFile();
    if (file.isEmpty())
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    const QByteArray hash =
        QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDBusObjectPath(QStringLiteral("/org/narrabel/track/t") + QString::fromLatin1(hash));
}

QVariantMap TMpris::Metadata() {
    const QString file = trackFile();
    if (file.isEmpty()) return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId())}};
    const qint64 length = s.mp->Length();
    const QDateTime modified = QFileInfo(file).lastModified();
    // A file with chapters of its own is shown as its book, at the chapter playing.
    const QString chapter = s.Chapters.OwnChapters() ? s.Chapters.CurrentTitle() : QString();
    if (file == cachedFile && length == cachedLength && modified == cachedModified &&
        chapter == cachedChapter)
        return cachedMeta;
    const TFileTag tag = ReadFileTag(file, trCover);
    const TMP3Rec& rec = tag.Fields;
    QVariantMap meta;
    meta.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    meta.insert(QStringLiteral("mpris:length"), qlonglong(length) * 1000);
    meta.insert(QStringLiteral("xesam:url"),
                QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString());
    // Panels need a title; a file without one is known by its name.
    meta.insert(QStringLiteral("xesam:title"),
                rec.Title.isEmpty() ? QFileInfo(file).completeBaseName() : rec.Title);
    if (!rec.Artist.isEmpty()) meta.insert(QStringLiteral("xesam:artist"), QStringList{rec.Artist});
    if (!rec.Album.isEmpty()) meta.insert(QStringLiteral("xesam:album"), rec.Album);
    if (!chapter.isEmpty()) {
        const QString book = !rec.Album.isEmpty()   ? rec.Album
                             : !rec.Title.isEmpty() ? rec.Title
                                                    : QFileInfo(file).completeBaseName();
        meta.insert(QStringLiteral("xesam:title"), chapter);
        meta.insert(QStringLiteral("xesam:album"), book);
    }
    if (const int n = TrackNumber(rec.Track); n > 0)
        meta.insert(QStringLiteral("xesam:trackNumber"), n);
    if (const QString art = CoverArtUrl(CoverOf(file, &tag)); !art.isEmpty())
        meta.insert(QStringLiteral("mpris:artUrl"), art);
    cachedFile = file;
    cachedLength = length;
    cachedModified = modified;
    cachedChapter = chapter;
    cachedMeta = meta;
    return meta;
}

qlonglong TMpris::Position() const {
    return s.mp->IsOpen() ? qlonglong(s.mp->Position()) * 1000 : 0;
}

double TMpris::Volume() const {
    return w.Volume ? w.Volume() / 65535.0 : 0.0;
}

// Property writes wait for the event loop as the commands do: the volume goes
// through the mixer and a new speed restarts the sound, neither of which may
// run inside a question, a dialog or another bus command.
void TMpris::SetVolume(double volume) {
    if (!std::isfinite(volume)) return;
    // As if the bar were moved there: the master volume follows.
    const int value = int(std::lround(std::clamp(volume, 0.0, 1.0) * 65535));
    later([this, value] {
        if (w.SetVolume) w.SetVolume(value);
    });
}

double TMpris::Rate() const {
    return s.Speed();
}

void TMpris::SetRate(double rate) {
    if (!(rate >= 0.0)) return; // negative or not a number: no such speed
    if (rate == 0.0) {          // asked for by the interface: a rate of 0 pauses
        Pause();
        return;
    }
    later([this, rate] { s.SetSpeed(rate); });
}

bool TMpris::CanPlay() const {
    return s.mp->IsOpen() && !s.FileText().isEmpty();
}

bool TMpris::CanSeek() const {
    return CanPlay() && s.mp->Length() > 0;
}

// A headset's next and previous buttons skip within the book, as listeners of
// audio books expect; the window's own Prev and Next walk the history.
bool TMpris::CanGoNext() const {
    return CanSeek();
}

bool TMpris::CanGoPrevious() const {
    return CanSeek();
}

// ---- commands -----------------------------------------------------------------

void TMpris::later(std::function<void()> step) {
    // From the event loop, as a click would come: a handler's error then reaches
    // the default error box, and the bus gets its answer at once.
    QTimer::singleShot(0, this, [this, step] {
        // What the window's own buttons cannot reach now, the bus cannot either:
        // nothing while a question or dialog is up, the window closing, or
        // another bus command still running (its handler may let events run).
        if (app.Closing || (w.DialogShown && w.DialogShown()) || running) return;
        const QScopedValueRollback<bool> busy(running, true);
        step();
        refreshSoon();
    });
}

void TMpris::PlayPause() {
    later([this] {
        if (CanPlay()) s.PlayPause();
    });
}

void TMpris::Play() {
    later([this] {
        if (CanPlay() && s.PlayCaption() == kPlay) s.PlayPause();
    });
}

void TMpris::Pause() {
    later([this] {
        if (CanPlay() && s.PlayCaption() != kPlay) s.PlayPause();
    });
}

void TMpris::Next() {
    later([this] {
        if (CanGoNext()) s.SkipForward();
    });
}

void TMpris::Previous() {
    later([this] {
        if (CanGoPrevious()) s.SkipBack();
    });
}

void TMpris::Seek(qlonglong offset) {
    later([this, offset] {
        if (!CanSeek()) return;
        const qlonglong target = qlonglong(s.mp->Position()) + offset / 1000;
        s.PlayFrom(int32_t(std::clamp<qlonglong>(target, 0, s.mp->Length())));
    });
}

void TMpris::SetPosition(const QDBusObjectPath& track, qlonglong position) {
    later([this, track, position] {
        // A request for another track, or outside this one, is ignored.
        if (!CanSeek() || track != trackId() || position < 0 || position / 1000 > s.mp->Length())
            return;
        s.PlayFrom(int32_t(position / 1000));
    });
}

void TMpris::Raise() {
    QTimer::singleShot(0, this, [this] {
        if (w.Raise) w.Raise();
    });
}

void TMpris::Quit() {
    // As a logout ends the program: nobody may be at the window to answer a
    // question, so none is asked, whatever dialog is up.
    QTimer::singleShot(0, this, [this] {
        if (w.Quit) w.Quit();
    });
}

// ---- change notices -----------------------------------------------------------------

void TMpris::refreshSoon() {
    if (registered && !refreshTimer.isActive()) refreshTimer.start();
}

void TMpris::Refresh() {
    if (!registered || app.Closing) return;
    const QVariantMap now{
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("Rate"), Rate()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("CanPlay"), CanPlay()},
        {QStringLiteral("CanPause"), CanPlay()},
        {QStringLiteral("CanSeek"), CanSeek()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
    };
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (sent.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    const QVariantMap meta = Metadata();
    const QString metaKey = trackFile() + QLatin1Char('|') + QString::number(cachedLength) +
                            QLatin1Char('|') + cachedModified.toString(Qt::ISODateWithMs) +
                            QLatin1Char('|') + cachedChapter;
    if (metaKey != sentMetaKey) changed.insert(QStringLiteral("Metadata"), meta);
    const bool first = sentMetaKey.isNull();
    sent = now;
    sentMetaKey = metaKey;
    if (!changed.isEmpty() && !first) {
        QDBusMessage msg = QDBusMessage::createSignal(
            QLatin1String(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        msg << QLatin1String(PlayerInterface) << changed << QStringList();
        Bus().send(msg);
    }
    if (seekPending) {
        seekPending = false;
        if (!first) emit Seeked(Position());
    }
}
