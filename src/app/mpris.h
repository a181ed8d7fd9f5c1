#pragma once
// Media controls on the session bus (MPRIS 2): the desktop's panels, media keys
// and remotes drive the listening session as the window's own buttons do, so a
// command from the bus does exactly what the same button does. Without a
// session bus, or when another instance holds the name, nothing is offered and
// nothing said.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>

class TAppState;
class TListeningSession;

// What the media controls need of the main window, handed in by the program.
struct TMprisWindow {
    std::function<void()> Raise;
    // The program ends as at a logout: every save, no question.
    std::function<void()> Quit;
    std::function<int()> Volume; // the volume bar, 0-65535
    std::function<void(int)> SetVolume;
    // A question or dialog is up: the window's own buttons cannot be reached now.
    std::function<bool()> DialogShown;
};
class TMpris : public QObject {
    Q_OBJECT
public:
    static constexpr const char* ServiceName = "org.mpris.MediaPlayer2.narrabel";
    static constexpr const char* ObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* PlayerInterface = "org.mpris.MediaPlayer2.Player";

    TMpris(TListeningSession& session, TAppState& app, TMprisWindow window);
    ~TMpris() override;
    // What the properties report, from the window's state.
    QString PlaybackStatus() const;
    QVariantMap Metadata();
    qlonglong Position() const; // microseconds
    double Volume() const;
    void SetVolume(double volume);
    double Rate() const;
    void SetRate(double rate);
    bool CanPlay() const;
    bool CanSeek() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;

    // Commands; each runs from the event loop, as a button press would.
    void PlayPause();
    void Play();
    void Pause();
    void Next();
    void Previous();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath& track, qlonglong position);
    void Raise();
    void Quit();

    // Sends PropertiesChanged for whatever changed since the last call.
    void Refresh();
    // Something the panels show may have changed (the volume bar moved).
    void NoteChange() { refreshSoon(); }

signals:
    void Seeked(qlonglong position);

private:
    void later(std::function<void()> step);
    void refreshSoon();
    QString trackFile() const;
    QDBusObjectPath trackId() const;

    TListeningSession& s;
    TAppState& app;
    TMprisWindow w;
    bool registered = false;
    bool running = false;     // a bus command's handler is running
    bool seekPending = false; // a jump to announce with Seeked
    QTimer refreshTimer;
    QVariantMap sent;       // last values announced, by property name
    QString sentMetaKey;    // the track (file, length, stamp) last announced
    QVariantMap cachedMeta; // metadata of cachedFile
    QString cachedFile;
    QDateTime cachedModified;
    qint64 cachedLength = -1;
    QString cachedChapter; // the chapter playing in cachedFile
};

// org.mpris.MediaPlayer2
class TMprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit TMprisRoot(TMpris* parent) : QDBusAbstractAdaptor(parent), m(parent) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Narrabel"); }
    QString DesktopEntry() const { return QStringLiteral("narrabel"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const;
public slots:
    void Raise() { m->Raise(); }
    void Quit() { m->Quit(); }

private:
    TMpris* m;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ MinimumRate)
    Q_PROPERTY(double MaximumRate READ MaximumRate)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit TMprisPlayer(TMpris* parent);
    QString PlaybackStatus() const { return m->PlaybackStatus(); }
    double Rate() const { return m->Rate(); }
    void SetRate(double rate) { m->SetRate(rate); }
    QVariantMap Metadata() const { return m->Metadata(); }
    double Volume() const { return m->Volume(); }
    void SetVolume(double volume) { m->SetVolume(volume); }
    qlonglong Position() const { return m->Position(); }
    double MinimumRate() const;
    double MaximumRate() const;
    bool CanGoNext() const { return m->CanGoNext(); }
    bool CanGoPrevious() const { return m->CanGoPrevious(); }
    bool CanPlay() const { return m->CanPlay(); }
    bool CanPause() const { return m->CanPlay(); }
    bool CanSeek() const { return m->CanSeek(); }
    bool CanControl() const { return true; }
public slots:
    void Next() { m->Next(); }
    void Previous() { m->Previous(); }
    void Pause() { m->Pause(); }
    void PlayPause() { m->PlayPause(); }
    void Stop() { m->Pause(); } // a stopped book stays at its place
    void Play() { m->Play(); }
    void Seek(qlonglong Offset) { m->Seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
        m->SetPosition(TrackId, Position);
    }
signals:
    void Seeked(qlonglong Position);

private:
    TMpris* m;
};
