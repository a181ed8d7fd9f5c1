#include "playback/session.h"

#include "bookmarks/bookmarktree.h"
#include "playback/bookorder.h"
#include "playback/clocktext.h"
#include "playback/listeningsettings.h"
#include "util/appstate.h"
#include "util/dialogs.h"
#include "util/errors.h"
#include "util/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

namespace {

const QString kPlay = QStringLiteral("&Play");
const QString kPause = QStringLiteral("&Pause");
const QString kBooksFile = QStringLiteral("Narrabel.books");
// A book's new speed or boost is written this long after the last change (a
// key held down makes many).
const int kBooksSaveDelayMs = 1500;
const int kMaxRecentFiles = 30;
const int32_t kResumeLeadMs = 2500; // resume a little before where listening stopped
const int32_t kResumeMinMs = 10;
// While playing, the place goes on disk (into the places log) at least this
// often: a tick writes it once so long has passed since the last write.
const qint64 kPlaceWriteMs = 3500;
// Listening that starts writes its place at once, unless a write was this recent.
const qint64 kPlaceStartWriteMs = 1000;

// Where Browse starts when the file box is empty: the music folder, or home.
QString StartFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QString folder = !music.isEmpty() && QFileInfo(music).isDir() ? music : QDir::homePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

// Replaces the file with these lines; an error ends the command.
void writeLines(const QString& path, const QStringList& lines) {
    TSuperStringList list;
    list.append(lines);
    QString error;
    if (!list.SaveToFile(path, &error)) throw NarrabelError(error);
}

int32_t low32(int64_t value) {
    return int32_t(uint32_t(uint64_t(value)));
}

} // namespace

TListeningSession::TListeningSession(TAppState& appState, TBookmarkTree& bookmarkTree,
                                     TBookmarkCommands& commands, TPlayerDevice& player,
                                     QObject* parent)
    : QObject(parent), Clock([] { return QDateTime::currentDateTime(); }), mp(&player),
      tmr(new QTimer(this)), Chapters(player), app(appState), tree(bookmarkTree),
      bookmarks(commands), playCaption(kPlay) {
    tmr->setObjectName(QStringLiteral("tmr"));
    tmr->setInterval(1000);
    status[0] = QStringLiteral("Stopped");
    status[1] = QStringLiteral("00:00");
    status[SleepPanel] = Sleep.Text();
    status[BoostPanel] = QStringLiteral("Boost");
    booksSaver->setSingleShot(true);
    booksSaver->setInterval(kBooksSaveDelayMs);
    // The settings are a convenience: a failed write waits for the next change or the close.
    connect(booksSaver, &QTimer::timeout, this, [this] { Books.Store.SaveIfChanged(); });
    connect(tmr, &QTimer::timeout, this, &TListeningSession::Tick);
    // The open file's frames have been counted: the bars span all of it now.
    connect(mp, &TPlayerDevice::LengthKnown, this, &TListeningSession::LengthChanged);
    connect(mp, &TPlayerDevice::LengthKnown, this, &TListeningSession::updateClock);
    connect(mp, &TPlayerDevice::Finished, this, &TListeningSession::onFinished);
    connect(mp, &TPlayerDevice::MovedOn, this, &TListeningSession::onMovedOn);
    connect(this, &TListeningSession::SpeedChanged, this, &TListeningSession::updateClock);
    Sleep.Now = [this] { return Clock().toMSecsSinceEpoch(); };
    connect(&Sleep, &TSleepTimer::TextChanged, this,
            [this](const QString& text) { setPanel(SleepPanel, text); });
    // The fade is the stream's own level; the master volume stays as it is.
    connect(&Sleep, &TSleepTimer::VolumeChanged, this,
            [this](double level) { mp->SetStreamVolume(level); });
    connect(&Sleep, &TSleepTimer::Fired, this, [this] {
        if (playCaption != kPlay) pauseNow(true);
    });
    connect(&bookmarks, &TBookmarkCommands::BookmarkStored, this, [this] {
        PlayedSinceMark = false;
        LastMarkTime = QDateTime::currentDateTime();
    });
    // The chapters follow the player: a file opened or emptied, a tick, a jump.
    connect(this, &TListeningSession::LengthChanged, &Chapters, [this] { Chapters.Follow(true); });
    connect(this, &TListeningSession::PositionChanged, &Chapters, [this] { Chapters.Follow(); });
    connect(this, &TListeningSession::Jumped, &Chapters, [this] { Chapters.Follow(); });
    connect(&Chapters, &TChapterNav::RowsChanged, this, &TListeningSession::showChapter);
    connect(&Chapters, &TChapterNav::CurrentChanged, this, &TListeningSession::showChapter);
    // "End of this chapter" follows the chapter playing, in whatever file.
    connect(&Sleep, &TSleepTimer::TextChanged, this, [this] { updateChapterStop(); });
    connect(this, &TListeningSession::Jumped, this, [this] { updateChapterStop(); });
    connect(this, &TListeningSession::LengthChanged, this, [this] { updateChapterStop(); });
    connect(mp, &TPlayerDevice::StopPointReached, this, &TListeningSession::onStopPointReached);
}

TListeningSession::~TListeningSession() = default;

// ---------------------------------------------------------------- start and end

void TListeningSession::Start(const QStringList& args) {
    PlayedSinceMark = false;
    LastMarkTime = QDateTime::currentDateTime();
    if (!app.DataFolder.isEmpty()) {
        resumeEnabled = QFileInfo::exists(app.DataFile(QStringLiteral("Narrabel.rsm")));
        History = std::make_unique<TBMHistory>(app.DataFile(QStringLiteral("Narrabel.nbh")));
        TSuperStringList rows;
        if (rows.LoadFromFile(app.DataFile(QStringLiteral("Narrabel.hst")))) {
            recent = rows;
            emit RecentChanged();
            SetFileText(QString());
        }
        app.EditList->LoadFromFile(app.DataFile(QStringLiteral("Narrabel.edt")));
        Places.Path = app.DataFile(PlacesFileName());
        Places.Load();
        Books.Store.Path = app.DataFile(kBooksFile);
        Books.Store.Load();
        LoadListeningSettings(app.DataFile(ListeningSettingsFileName()), AppOptions());
    } else {
        LoadListeningSettings(QString(), AppOptions()); // the defaults
    }
    if (!History) History = std::make_unique<TBMHistory>(QString());
    History->OnChanged = [this] { UpdateHints(); }; // hints follow every append
    emit ResumeChanged();
    UpdateHints();

    ParamRec = ReadParams(args);
    ExitCountdown = ParamRec.PlaySeconds;
}

TParamRec TListeningSession::ReadParams(const QStringList& args) {
    TParamRec rec;
    rec.MediaFile = args.value(0);
    rec.SeekPoint = low32(ParseLooseInt(args.value(1)));
    rec.PlaySeconds = low32(ParseLooseInt(args.value(2)));
    return rec;
}

void TListeningSession::PlayCommandLine() {
    if (ParamRec.MediaFile.isEmpty() || !QFileInfo(ParamRec.MediaFile).isFile()) return;
    SetFileText(ParamRec.MediaFile);
    if (!OpenCurrentFile()) return; // the status bar says why
    PlayFrom(ParamRec.SeekPoint);
}

void TListeningSession::PlayHandedOver(const QStringList& args) {
    const TParamRec rec = ReadParams(args);
    if (rec.MediaFile.isEmpty() || !QFileInfo(rec.MediaFile).isFile() || app.Closing) return;
    // A timed exit counting down is called off: the listener wants this file.
    if (ParamRec.PlaySeconds > 0 && !biteEndsInPause) app.SetCaption(QStringLiteral("Narrabel"));
    // No tick of the file playing until now counts down the new seconds.
    tmr->stop();
    // The place of what played until now is kept as the new file opens.
    ParamRec = rec;
    ExitCountdown = rec.PlaySeconds;
    // This program was not started for the sound bite: it pauses at its end.
    biteEndsInPause = rec.PlaySeconds > 0;
    PlayCommandLine();
}

QStringList TListeningSession::CloseDown(bool ask) {
    // A fade cut short by the close leaves the stream at its whole level: the
    // sound server remembers the last level for the next run.
    Sleep.Stop();
    // Every step runs, whatever became of the ones before.
    QStringList errors;
    auto step = [&errors](const std::function<void()>& work) {
        try {
            work();
        } catch (const std::exception& e) {
            errors << QString::fromUtf8(e.what());
        }
    };
    step([this] {
        if (!History) return;
        const std::unique_ptr<TBMHistory> history = std::move(History);
        QString error;
        const bool saved = history->Save(&error);
        history->Path.clear(); // saved here, not once more on release
        if (!saved && !app.DataFolder.isEmpty()) throw NarrabelError(error);
    });
    if (app.EditList) {
        if (!app.DataFolder.isEmpty())
            app.EditList->SaveToFile(
                app.DataFile(QStringLiteral("Narrabel.edt"))); // failure ignored
        app.EditList.reset();
    }
    step([this] { SaveTreeState(); });
    step([this] {
        rememberPlace();
        QString error;
        // The log goes with the close: the next start knows this run ended well.
        if (!Places.SaveAtClose(&error)) throw NarrabelError(error);
    });
    step([this] {
        booksSaver->stop();
        QString error;
        if (!Books.Store.SaveIfChanged(&error)) throw NarrabelError(error);
    });
    step([this] {
        if (app.DataFolder.isEmpty()) return;
        QString error;
        if (!SaveListeningSettings(app.DataFile(ListeningSettingsFileName()), AppOptions(), &error))
            throw NarrabelError(error);
    });
    step([this, ask] {
        const QString file = fileText;
        // Nothing to ask about when the folder cannot be written (said at start).
        if (PlayedSinceMark && !app.Closing && app.CanWrite() && !file.isEmpty() &&
            QFileInfo(file).isFile() && mp->Position() > 0 &&
            (!ask || AskYesNo(QStringLiteral("Update Resume point before exiting?"))))
            SaveResumePoint();
    });
    app.Closing = true;
    return errors;
}

// ---------------------------------------------------------------- file box and status

void TListeningSession::SetFileText(const QString& text) {
    fileText = text;
    emit FileTextChanged(text);
}

void TListeningSession::SetStatus(int panel, const QString& text) {
    if (panel < 0 || panel >= Panels) return;
    setPanel(panel, text);
    // The text shows at once, even in the middle of a command.
    QCoreApplication::processEvents();
}

void TListeningSession::setPanel(int panel, const QString& text) {
    if (status[panel] == text && panel >= SleepPanel) return;
    status[panel] = text;
    emit StatusChanged(panel, text);
}

QString TListeningSession::StatusText(int panel) const {
    return panel >= 0 && panel < Panels ? status[panel] : QString();
}

QString TListeningSession::StatusHint(int panel) const {
    return panel >= 0 && panel < Panels ? statusHint[panel] : QString();
}

void TListeningSession::setStatusHint(int panel, const QString& hint) {
    if (statusHint[panel] == hint) return;
    statusHint[panel] = hint;
    emit StatusHintChanged(panel, hint);
}

void TListeningSession::fileError(const QString& file, const QString& reason) {
    // Nothing plays, and the status bar says which file failed and why.
    tmr->stop();
    setPlayCaption(kPlay);
    SetStatus(0, QStringLiteral("Error"));
    SetStatus(2, ExtractFileName(file));
    setStatusHint(2, reason.isEmpty() ? QStringLiteral("The file cannot be played.") : reason);
    Chapters.Follow(true);
    updateClock();
}

void TListeningSession::updateClock() {
    if (mp->IsOpen()) knownLength = mp->Length();
    setPanel(ClockPanel, mp->IsOpen() ? Chapters.ClockText(mp->Position(), knownLength, mp->Rate())
                                      : QString());
}

void TListeningSession::setPlayCaption(const QString& caption) {
    if (caption == playCaption) return;
    playCaption = caption;
    emit PlayCaptionChanged(caption);
}

void TListeningSession::setPlayerShown(bool shown) {
    if (shown == playerShown) return;
    playerShown = shown;
    emit PlayerShownChanged(shown);
}

QString TListeningSession::DlgOpenFilter() {
    // The books' own extensions in either letter case, as everywhere else.
    return QStringLiteral("Audio books (*.m4b *.m4a *.aac *.opus *.ogg *.oga *.flac *.mp3)|"
                          "*.m4b;*.m4a;*.aac;*.opus;*.ogg;*.oga;*.flac;*.mp3;"
                          "*.M4B;*.M4A;*.AAC;*.OPUS;*.OGG;*.OGA;*.FLAC|"
                          "MP3 files (*.mp3)|*.mp3|All supported formats "
                          "(mp3,wav,avi,mpg/mpeg,mid/midi)|*.mp3;*.wav;*.avi;*.mpg;*.mpeg;*.mid;"
                          "*.midi|All files (not advised)|*.*");
}

// ---------------------------------------------------------------- playback

bool TListeningSession::OpenCurrentFile() {
    const QString file = fileText;
    // The file left behind keeps its place.
    notePlace(mp->IsOpen() && mp->FileName() != file);
    if (file.isEmpty()) {
        mp->Close();
        Books.Leave();
        bookFile.clear();
        listened = false;
        emit PositionChanged(0);
        emit LengthChanged(0);
        setPlayerShown(false);
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, QStringLiteral("00:00"));
        SetStatus(2, QString());
        setStatusHint(2, QString());
        updateClock();
        return true;
    }
    try {
        setPlayerShown(true);
        emit PositionChanged(0);
        mp->Close();
        listened = false;
        armedFile.clear();
        mp->SetFileName(file);
        enterBook(file, true);
        mp->Open();
        emit LengthChanged(mp->Length());
        setPlayCaption(kPlay);
        SetStatus(2, ExtractFileName(file));
        setStatusHint(2, fileHint(file));
        if (status[0] == QLatin1String("Error")) SetStatus(0, QStringLiteral("Stopped"));
        clearPause();
        updateClock();
    } catch (const std::exception& e) {
        // No message (Resume, for one, stays silent): the status bar names the
        // file and its hint says why.
        fileError(file, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TListeningSession::PlayFrom(int32_t position) {
    tmr->stop();
    mp->Close();
    enterBook(mp->FileName());
    mp->SetStartPos(position);
    mp->Open();
    updateChapterStop(position); // before the sound starts: one seek does both
    mp->Play();
    setPlayCaption(kPause);
    SetStatus(0, QStringLiteral("Playing"));
    PlayedSinceMark = true;
    listened = true;
    clearPause();
    tmr->start();
    updateClock();
    listeningStarted(); // first: the sleep timer decides whether the file plays on
    armPlayOn(true);
    emit Jumped(position);
}

void TListeningSession::listeningStarted() {
    // A Play soon after the sleep timer paused starts it again.
    Sleep.PlayStarted();
    // Where listening starts goes on disk at once (quick jumps wait for the tick).
    notePlace(!placeWritten.isValid() || placeWritten.hasExpired(kPlaceStartWriteMs));
    // A file put back after a tag save has forgotten where the chapter ends.
    updateChapterStop();
}

void TListeningSession::clearPause() {
    pausedAt = QDateTime();
    pausedFile.clear();
    pausedBySleep = pausedAtEnd = false;
}

void TListeningSession::pauseNow(bool bySleep) {
    if (mp->Mode() == TPlayerDevice::mpPlaying) mp->Pause();
    // Before the status lets events run: a tick would take a device stopped
    // at a chapter's or a file's end for one played out, and say "Stopped".
    if (mp->Mode() != TPlayerDevice::mpPlaying) tmr->stop();
    setPlayCaption(kPlay);
    SetStatus(0, QStringLiteral("Paused"));
    pausedAt = Clock();
    pausedFile = mp->FileName();
    pausedBySleep = bySleep;
    pausedAtEnd = false;
    notePlace(true);
}

int32_t TListeningSession::RewindFor(qint64 pausedMs, bool bySleep, int fadeMs) {
    int32_t back = 0;
    if (pausedMs > 24 * 3600 * 1000LL)
        back = 20000;
    else if (pausedMs > 3600 * 1000LL)
        back = 10000;
    else if (pausedMs > 60 * 1000LL)
        back = 3000;
    // The fade's last seconds were hardly heard.
    if (bySleep) back = std::max(back, fadeMs);
    return back;
}

void TListeningSession::PlayPause() {
    if (fileText.isEmpty()) return;
    if (playCaption != kPlay) {
        pauseNow(false);
        return;
    }
    // Nothing open (the file failed to open, or a save let go of it): the
    // file is tried again.
    if (!mp->IsOpen() && !OpenCurrentFile()) return;
    if (mp->Mode() == TPlayerDevice::mpStopped && mp->Position() == mp->Length()) {
        // Paused at the end by the sleep timer: the book goes on.
        if (pausedAtEnd && AppOptions().PlayOn && ParamRec.PlaySeconds <= 0 && playOnNext()) return;
        // Played to the end: start again from the beginning.
        mp->SetPosition(0);
    } else if (pausedAt.isValid() && pausedFile == mp->FileName() && AppOptions().SmartRewind &&
               !pausedAtEnd) { // paused at a chapter's end, the next one starts from its start
        const int32_t back = RewindFor(pausedAt.msecsTo(Clock()), pausedBySleep, Sleep.FadeMs);
        if (back > 0) mp->SetPosition(std::max(0, mp->Position() - back));
    }
    clearPause();
    if (mp->Mode() == TPlayerDevice::mpPaused)
        mp->Resume();
    else
        mp->Play();
    setPlayCaption(kPause);
    SetStatus(0, QStringLiteral("Playing"));
    // Listening started here (Play, Prev, Next) counts like a jump's.
    if (mp->Mode() == TPlayerDevice::mpPlaying) {
        PlayedSinceMark = true;
        listened = true;
        listeningStarted();
        armPlayOn();
        tmr->start();
    } else {
        tmr->stop();
    }
    updateClock();
}

void TListeningSession::Tick() {
    TimedExitTick();
    const int mode = mp->Mode();
    if (mode == TPlayerDevice::mpStopped && !mp->LastError().isEmpty()) {
        // The decoder failed while playing (or the file it went on into did).
        notePlace(true);
        const QString file = mp->FileName(), error = mp->LastError();
        mp->Close();
        if (file != fileText) SetFileText(file);
        fileError(file, error);
    } else if (mode == TPlayerDevice::mpStopped) {
        // Played to the end; the bars stay where the last tick put them.
        tmr->stop();
        setPlayCaption(kPlay);
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, FormatMinSec(mp->Position()));
        updateClock();
        notePlace(true);
    } else if (mode != TPlayerDevice::mpPaused) {
        const int32_t position = mp->Position();
        emit PositionChanged(position);
        SetStatus(1, FormatMinSec(position));
        updateClock();
        notePlace(!placeWritten.isValid() || placeWritten.hasExpired(kPlaceWriteMs));
        armPlayOn(); // the option or the sleep timer may have changed
    }
}

void TListeningSession::rememberPlace() {
    // A sound bite, like its recent row and visit, leaves no place behind.
    const bool bite = ParamRec.PlaySeconds > 0 && mp->FileName() == ParamRec.MediaFile;
    if (listened && !bite && mp->IsOpen() && AppOptions().RememberPlaces &&
        !app.DataFolder.isEmpty())
        Places.Remember(mp->FileName(), mp->Position(), Clock());
}

void TListeningSession::notePlace(bool write) {
    rememberPlace();
    // Not playing, no tick follows to write it: it is written now.
    if (!write && mp->Mode() == TPlayerDevice::mpPlaying) return;
    placeWritten.start();
    // The places are a convenience: a failed write waits for the next.
    if (app.CanWrite()) Places.WriteLog();
}

int32_t TListeningSession::StartPosition(const QString& path) {
    if (!AppOptions().RememberPlaces) return 0;
    const std::optional<TPlaces::TPlace> place = Places.Find(path);
    if (!place || place->Position <= 0) return 0;
    if (mp->IsOpen() && mp->FileName() == path) {
        const int32_t length = mp->Length();
        // Heard to the end (or nearly): the file starts over.
        if (length > 0 && place->Position >= length - FinishedWithinMs) return 0;
    }
    int32_t back = 0;
    if (AppOptions().SmartRewind && place->When.isValid())
        back = RewindFor(place->When.msecsTo(Clock()), false, 0);
    return std::max(0, place->Position - back);
}

void TListeningSession::onFinished() {
    if (!mp->IsOpen()) return;
    notePlace(); // at its end: heard to the end
    // A sound bite ends where it ends.
    if (ParamRec.PlaySeconds > 0) return;
    if (Sleep.Choice() == TSleepTimer::EndOfFile || Sleep.Choice() == TSleepTimer::EndOfChapter) {
        pauseAtFileEnd();
        return;
    }
    if (AppOptions().PlayOn) playOnNext();
}

bool TListeningSession::playOnWanted() const {
    return AppOptions().PlayOn && ParamRec.PlaySeconds <= 0 &&
           Sleep.Choice() != TSleepTimer::EndOfFile && Sleep.Choice() != TSleepTimer::EndOfChapter;
}

void TListeningSession::armPlayOn(bool force) {
    const QString file = playOnWanted() && mp->IsOpen() ? mp->FileName() : QString();
    if (!force && file == armedFile) return;
    armedFile = file;
    mp->SetNextFile(file.isEmpty() ? QString() : NextFileOfBook(file));
}

void TListeningSession::onMovedOn(const QString& previous, const QString& path) {
    const QString shown = fileText;
    armedFile.clear();
    // The device went on by itself a moment before play on was called off
    // (the option, or the sleep timer chosen for the end of the file): it is
    // put back at the end of the file it played.
    if (!playOnWanted()) {
        try {
            mp->Close();
            mp->SetFileName(previous);
            mp->Open();
            mp->SetPosition(mp->Length());
        } catch (const std::exception& e) {
            fileError(previous, QString::fromUtf8(e.what()));
            return;
        }
        if (Sleep.Choice() == TSleepTimer::EndOfFile || Sleep.Choice() == TSleepTimer::EndOfChapter)
            pauseAtFileEnd();
        return;
    }
    // The file it left was heard to its end.
    if (listened && AppOptions().RememberPlaces && !app.DataFolder.isEmpty())
        Places.Remember(previous, knownLength, Clock());
    enterBook(path); // play on stays within the book: its speed and boost hold
    SetFileText(path);
    listened = true;
    emit PositionChanged(0);
    emit LengthChanged(mp->Length());
    updateClock();
    armPlayOn(true);
    enteredNextFile(shown, path);
}

void TListeningSession::pauseAtFileEnd() {
    // No fade: the file ends, and the book waits there. Paused before the
    // sleep panel changes (which lets events run).
    pauseNow(true);
    pausedAtEnd = true;
    Sleep.FileEnded();
}

void TListeningSession::enteredNextFile(const QString& previousRow, const QString& path) {
    SetStatus(2, ExtractFileName(path));
    setStatusHint(2, fileHint(path));
    // Then what a pick from the recent list remembers; the book keeps one row
    // in the recent list.
    replaceRecentRow(previousRow, path);
    bookmarks.FindOrAddStartBookmark(path);
    PlayedSinceMark = true; // a start bookmark is no mark of where listening stands
    if (History) History->Add(path, 1);
    notePlace(true);
}

bool TListeningSession::playOnNext() {
    const QString next = NextFileOfBook(mp->FileName());
    if (next.isEmpty()) return false;
    playOnInto(next);
    return true;
}

void TListeningSession::playOnInto(const QString& next, int32_t position, bool play) {
    const QString previous = fileText;
    notePlace();
    SetFileText(next);
    mp->SetFileName(next);
    try {
        // One open: the next file sounds as soon as it can.
        if (play) {
            PlayFrom(position);
        } else {
            if (!OpenCurrentFile()) return; // the status bar says why
            if (position > 0) SeekInFile(position);
        }
    } catch (const std::exception& e) {
        mp->Close();
        fileError(next, QString::fromUtf8(e.what()));
        return;
    }
    emit LengthChanged(mp->Length());
    enteredNextFile(previous, next);
}

void TListeningSession::PositionBarMoved(int32_t position) {
    if (mp->Mode() == TPlayerDevice::mpPlaying) PlayFrom(position);
}

int TListeningSession::DlgOpenFilterIndex() {
    // The audio books come first (MP3 among them) and are what the dialog
    // shows; with the option, all the supported formats.
    return AppOptions().MoreFormats ? 3 : 1;
}

void TListeningSession::Browse() {
    const QString current = fileText.trimmed();
    const QString folder = current.isEmpty() ? StartFolder() : ExtractFilePath(current);
    const std::optional<QString> chosen =
        Dlg().OpenFile(QStringLiteral("Open"), folder, DlgOpenFilter(), DlgOpenFilterIndex());
    if (!chosen) return;
    OpenPicked(*chosen);
}

void TListeningSession::OpenPicked(const QString& path) {
    AskBookmarkProgress();
    SetFileText(path);
    // A file that does not open, or holds no sound, is remembered nowhere:
    // no bookmark, no author, no recent row, no visit.
    if (!OpenCurrentFile()) return;
    AddRecentFile();
    const QString found = bookmarks.FindOrAddStartBookmark(path);
    // A file known only by its start bookmark plays from where it was left.
    const int32_t place =
        found.isEmpty() || bookmarks.OnlyStartBookmark(path) ? StartPosition(path) : 0;
    if (!found.isEmpty() && place == 0) {
        bookmarks.SelectNodeByText(found);
        GoToSelectedBookmark();
        if (History) History->Add(path, mp->Position());
    } else {
        if (!found.isEmpty()) bookmarks.SelectNodeByText(found);
        setPlayCaption(kPause);
        PlayFrom(place);
        if (History) History->Add(path, 1);
    }
}

void TListeningSession::FileTyped() {
    if (!fileText.isEmpty() && QFileInfo(fileText).isFile()) OpenCurrentFile();
}

void TListeningSession::RecentPicked() {
    const QString file = fileText;
    if (!OpenCurrentFile()) return;         // nothing is stored for a file that does not play
    bookmarks.FindOrAddStartBookmark(file); // stores a start bookmark for a file that has none
    if (History) History->Add(file, 1);     // gone once the window has closed
    setPlayCaption(kPause);
    PlayFrom(StartPosition(file));
}

void TListeningSession::AskBookmarkProgress() {
    if (!PlayedSinceMark) return;
    const QDateTime now = QDateTime::currentDateTime();
    const int64_t elapsed = std::llround(double(LastMarkTime.msecsTo(now)) / 1000.0);
    const int mode = mp->Mode();
    if ((mode == TPlayerDevice::mpPlaying || mode == TPlayerDevice::mpPaused) && elapsed > 15 &&
        AskYesNo(QStringLiteral("Bookmark progress?"))) {
        const Node* node = tree.CurrentSelected();
        const QString selected = node ? node->Text : QString();
        if (MakeBookmark) MakeBookmark();
        if (node) bookmarks.SelectNodeByText(selected);
    }
    LastMarkTime = QDateTime::currentDateTime();
}

void TListeningSession::GoToSelectedBookmark() {
    Node* node = tree.Focused();
    if (!node) return;
    AskBookmarkProgress();
    if (!tree.Contains(node)) return; // removed while the question was up
    if (!node->IsBookmark()) {
        node = bookmarks.LatestChildNode(node);
        if (!node) return;
        tree.Select(node, false);
    }
    TBookmark bm = bookmarks.BookmarkFromNode(node);
    // A node whose record was deleted is a leftover, never a file to look for.
    if (!bm.Valid || bm.Rec.Deleted()) {
        ShowMessage(QStringLiteral("lookup failed: ") + node->Text);
        return;
    }
    if (QFileInfo(bm.Rec.FilePath).isFile()) {
        SetFileText(bm.Rec.FilePath);
        if (!OpenCurrentFile()) return; // the status bar says why
        // A start bookmark marks a file, not a place the listener chose: the
        // file plays from where it was left.
        PlayFrom(bm.Rec.Position == TBookmarkRec::StartMark ? StartPosition(bm.Rec.FilePath)
                                                            : bm.Rec.Position);
        History->AddBookmark(bm);
        return;
    }
    // The audio file has gone: repoint, delete or leave this bookmark.
    SetStatus(0, QStringLiteral("Error"));
    const TMissingAnswer answer = AskMissing ? AskMissing(bm.Rec) : TMissingAnswer::Ignore;
    // The commands that rewrite records wait while a long operation runs.
    if (answer == TMissingAnswer::Ignore || bookmarks.LongOperationRunning()) return;
    if (answer == TMissingAnswer::Repoint) {
        const std::optional<QString> chosen =
            Dlg().OpenFile(QStringLiteral("Open"), ExtractFilePath(bm.Rec.FilePath),
                           DlgOpenFilter(), DlgOpenFilterIndex());
        if (chosen && bookmarks.RepointMissing(bm, *chosen)) GoToSelectedBookmark();
        return;
    }
    bookmarks.DeleteMissing(bm, node);
}

void TListeningSession::GoToOffset() {
    if (fileText.isEmpty() || !QFileInfo(fileText).isFile()) {
        ShowMessage(QStringLiteral("Please open a valid media file."));
        return;
    }
    const int32_t length = mp->Length();
    const std::optional<QString> answer = Dlg().Input(
        QStringLiteral("Seek Offset"), QStringLiteral("0 - ") + QString::number(length), QString());
    if (!answer) return;
    // "10:00" is ten minutes; a plain number is milliseconds.
    const std::optional<int64_t> time = ParseClockOffset(*answer);
    const int64_t value = time ? *time : ParseLooseInt(*answer);
    if (value >= 0 && value <= length)
        PlayFrom(int32_t(value));
    else
        ShowMessage(*answer + QStringLiteral(" is not a valid value."));
}

void TListeningSession::TimedExitTick() {
    if (ParamRec.PlaySeconds <= 0) return;
    --ExitCountdown;
    if (biteEndsInPause) {
        if (ExitCountdown > 0) return;
        if (playCaption != kPlay) pauseNow(false); // leaves no place: a sound bite still
        // Whatever is listened to from now on is listening as any other.
        ParamRec.PlaySeconds = 0;
        biteEndsInPause = false;
        return;
    }
    app.SetCaption(QStringLiteral("Narrabel - exiting in %1 seconds...").arg(ExitCountdown));
    if (ExitCountdown == 0) {
        app.Closing = true;
        emit CloseRequested();
    }
}

TListeningSession::TReleasedFile TListeningSession::ReleaseFile(const QString& path) {
    TReleasedFile released;
    if (!mp->IsOpen() || mp->FileName() != path) return released;
    released.Path = path;
    released.Position = mp->Position();
    released.Playing = mp->Mode() == TPlayerDevice::mpPlaying;
    released.Released = true;
    notePlace();
    tmr->stop();
    mp->Close();
    armedFile.clear();
    return released;
}

void TListeningSession::RestoreFile(const TReleasedFile& released) {
    if (!released.Released) return;
    // The session's state (file box, caption, panels, the pause) never changed
    // meanwhile: only the device is put back.
    try {
        mp->SetFileName(released.Path);
        if (released.Playing) {
            PlayFrom(released.Position);
            return;
        }
        mp->Open();
        if (released.Position > 0) mp->SetPosition(released.Position);
        updateClock();
    } catch (const std::exception& e) {
        fileError(released.Path, QString::fromUtf8(e.what()));
    }
}

// ---------------------------------------------------------------- through a book

void TListeningSession::SkipBack() {
    Skip(-AppOptions().SkipBackSeconds * 1000);
}

void TListeningSession::SkipForward() {
    Skip(AppOptions().SkipForwardSeconds * 1000);
}

void TListeningSession::Skip(int32_t deltaMs) {
    if (fileText.isEmpty() || !mp->IsOpen()) return;
    const int32_t length = mp->Length();
    // From where the last skip landed, even before it sounds: quick presses add up.
    const int64_t to = int64_t(mp->Position()) + deltaMs;
    SeekInFile(int32_t(std::clamp<int64_t>(to, 0, length > 0 ? length : INT32_MAX)));
}

void TListeningSession::SeekInFile(int32_t position) {
    if (fileText.isEmpty() || !mp->IsOpen()) return;
    position = std::max(position, 0);
    // Playing: the file plays on from there without a reopen. Paused or
    // stopped: the place moves and playback stays as it is; the listener chose
    // this place, so Play does not rewind from it.
    mp->Seek(position);
    clearPause();
    emit PositionChanged(position);
    setPanel(1, FormatMinSec(position));
    updateClock();
    notePlace();
    emit Jumped(position);
}

void TListeningSession::SetSleep(int choice) {
    if (!TSleepTimer::Choices().contains(choice)) return;
    // Off is no choice worth offering first next time.
    if (choice != TSleepTimer::Off) AppOptions().SleepChoice = choice;
    Sleep.Start(choice);
    armPlayOn(); // "end of this file" holds the device at the end
}

// ---------------------------------------------------------------- resume point and recent files

int32_t TListeningSession::ResumePositionFor(int32_t position) {
    const int64_t p = int64_t(position) - kResumeLeadMs;
    return int32_t(p < kResumeMinMs ? kResumeMinMs : p);
}

void TListeningSession::SaveResumePoint() {
    if (app.DataFolder.isEmpty()) return;
    writeLines(app.DataFile(QStringLiteral("Narrabel.rsm")),
               {fileText, QString::number(ResumePositionFor(mp->Position()))});
    resumeHint = ExtractFileName(fileText);
    emit ResumeChanged();
}

void TListeningSession::LoadResumeHint() {
    if (app.DataFolder.isEmpty()) return;
    TSuperStringList lines;
    if (lines.LoadFromFile(app.DataFile(QStringLiteral("Narrabel.rsm"))) && !lines.isEmpty()) {
        resumeHint = ExtractFileName(lines.first());
        emit ResumeChanged();
    }
}

void TListeningSession::Resume() {
    const QString rsm = app.DataFolder + QStringLiteral("Narrabel.rsm");
    TSuperStringList lines;
    if (!lines.LoadFromFile(rsm))
        throw NarrabelError(QStringLiteral("Cannot read \"%1\"").arg(rsm));
    SetFileText(lines.value(0));
    const QString posText = lines.value(1);
    const bool opened = OpenCurrentFile();
    if (opened)
        tmr->start();
    else
        tmr->stop();
    if (!opened) return;
    const int32_t pos = low32(ParseLooseInt(posText));
    History->Add(fileText, pos);
    PlayFrom(pos);
}

void TListeningSession::saveRecentRows() {
    // Errors are ignored: the list is a convenience.
    if (app.DataFolder.isEmpty()) return;
    TSuperStringList rows;
    rows.append(recent);
    rows.SaveToFile(app.DataFile(QStringLiteral("Narrabel.hst")));
}

void TListeningSession::replaceRecentRow(const QString& previous, const QString& next) {
    qsizetype at = -1;
    for (qsizetype i = 0; i < recent.size() && at < 0; ++i)
        if (recent[i].compare(previous, Qt::CaseInsensitive) == 0) at = i;
    if (at < 0) return;
    recent[at] = next;
    for (qsizetype i = recent.size() - 1; i >= 0; --i)
        if (i != at && recent[i].compare(next, Qt::CaseInsensitive) == 0) {
            recent.removeAt(i);
            if (i < at) --at;
        }
    emit RecentChanged();
    saveRecentRows();
}

void TListeningSession::AddRecentFile() {
    const QString file = fileText;
    for (const QString& row : recent)
        if (row.compare(file, Qt::CaseInsensitive) == 0) return;
    recent.prepend(file);
    while (recent.size() > kMaxRecentFiles)
        recent.removeLast();
    emit RecentChanged();
    saveRecentRows();
}

void TListeningSession::SaveTreeState() {
    if (app.DataFolder.isEmpty()) return;
    const Node* node = tree.CurrentSelected();
    writeLines(app.DataFile(QStringLiteral("Narrabel.tvs")), {node ? node->Text : QString()});
}

void TListeningSession::LoadTreeState() {
    if (app.DataFolder.isEmpty()) return;
    TSuperStringList lines;
    if (lines.LoadFromFile(app.DataFile(QStringLiteral("Narrabel.tvs"))) && !lines.isEmpty() &&
        !lines.first().isEmpty())
        bookmarks.SelectNodeByText(lines.first());
}

void TListeningSession::FileRenamed(const QString& oldPath, const QString& newPath) {
    if (oldPath == newPath) return;
    // The remembered paths follow first: repointing the store lets events run,
    // and a jump, tick or timer meanwhile must find the file by its new name.
    // Each step runs whatever became of the other; the store's error wins.
    std::exception_ptr error;
    try {
        FollowRename(oldPath, newPath);
    } catch (...) {
        error = std::current_exception();
    }
    try {
        bookmarks.RepointBookmarks(oldPath, newPath);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) std::rethrow_exception(error);
}

void TListeningSession::FollowRename(const QString& oldPath, const QString& newPath) {
    if (oldPath.isEmpty() || oldPath == newPath) return;
    // The device keeps the file it has open and plays on; only the name it
    // reopens by (every jump reopens) changes.
    if (mp->FileName() == oldPath) {
        mp->SetFileName(newPath);
        status[2] = ExtractFileName(newPath);
        emit StatusChanged(2, status[2]);
    }

    // File box and recent list; the box's text is left alone unless it names
    // the file (the user may be typing into it meanwhile).
    bool rowsChanged = false;
    for (QString& row : recent) {
        if (row != oldPath) continue;
        row = newPath;
        rowsChanged = true;
    }
    // No two rows alike, letter case aside: the newer (upper) one stays.
    for (int i = int(recent.size()) - 1; rowsChanged && i > 0; --i)
        for (int j = 0; j < i; ++j)
            if (recent[i].compare(recent[j], Qt::CaseInsensitive) == 0) {
                recent.removeAt(i);
                break;
            }
    if (rowsChanged) emit RecentChanged();
    if (fileText == oldPath) SetFileText(newPath);
    if (rowsChanged) saveRecentRows();
    if (pausedFile == oldPath) pausedFile = newPath;
    if (Places.FollowRename(oldPath, newPath)) Places.Save();
    if (bookFile == oldPath) bookFile = newPath;
    if (Books.FollowRename(oldPath, newPath)) {
        booksSaver->stop();
        Books.Store.Save();
    }

    if (app.EditList)
        for (QString& entry : *app.EditList)
            if (entry == oldPath) entry = newPath;

    // The history is written at once, so that Prev and Next find the file even
    // after a run that does not end through the close handler.
    if (History && History->FollowRename(oldPath, newPath)) {
        UpdateHints();
        History->Save();
    }

    // Resume point: the path follows, the position stays.
    if (app.DataFolder.isEmpty()) return;
    const QString rsm = app.DataFile(QStringLiteral("Narrabel.rsm"));
    TSuperStringList lines;
    if (lines.LoadFromFile(rsm) && !lines.isEmpty() && lines.first() == oldPath) {
        lines.first() = newPath;
        writeLines(rsm, lines);
        resumeHint = ExtractFileName(newPath);
        emit ResumeChanged();
    }
}

// ---------------------------------------------------------------- history

void TListeningSession::Prev() {
    walkHistory(&TBMHistory::GoPrev);
}

void TListeningSession::Next() {
    walkHistory(&TBMHistory::GoNext);
}

void TListeningSession::walkHistory(std::optional<QString> (TBMHistory::*step)()) {
    // The hints are brought up to date however the step ends (a file that does
    // not open makes the Play press that follows fail).
    struct HintsOnExit {
        TListeningSession* s;
        ~HintsOnExit() { s->UpdateHints(); }
    } hints{this};
    if (!History) return;
    if (const auto path = (History.get()->*step)()) {
        SetFileText(*path);
        if (!OpenCurrentFile()) return; // the status bar says why
        // A successful open leaves the button on Play: the file plays from its
        // start, or from its kept place.
        if (const int32_t place = StartPosition(*path)) mp->SetPosition(place);
        PlayPause();
    }
}

QString TListeningSession::PrevHint() const {
    return History ? History->PrevHint() : QStringLiteral("no history yet");
}

QString TListeningSession::NextHint() const {
    return History ? History->NextHint() : QStringLiteral("no history yet");
}

void TListeningSession::UpdateHints() {
    emit HintsChanged();
}

// ---------------------------------------------------------------- speed

double TListeningSession::Speed() const {
    return mp->Rate();
}

void TListeningSession::SetSpeed(double speed) {
    if (!std::isfinite(speed)) return;
    speed =
        std::clamp(std::round(speed * 10.0) / 10.0, TPlayerDevice::MinRate, TPlayerDevice::MaxRate);
    if (speed == mp->Rate()) return;
    Books.SetSpeed(speed, Clock());
    booksChanged();
    mp->SetRate(speed);
    emit SpeedChanged(speed);
}

void TListeningSession::StepSpeed(int steps) {
    SetSpeed(steps == 0 ? 1.0 : Speed() + 0.1 * steps);
}

int TListeningSession::Boost() const {
    return int(std::lround(mp->Boost()));
}

void TListeningSession::SetBoost(int db) {
    db = std::clamp(db / BoostStepDb * BoostStepDb, 0, MaxBoostDb);
    if (db == Boost()) return;
    Books.SetBoost(db, Clock());
    booksChanged();
    applyTuning({Speed(), db});
}

void TListeningSession::StepBoost(int steps) {
    SetBoost(Boost() + BoostStepDb * steps);
}

void TListeningSession::enterBook(const QString& file, bool again) {
    if (file.isEmpty() || (!again && file == bookFile)) return;
    bookFile = file;
    applyTuning(Books.Enter(file, Clock()));
    // A book that took the speed chosen before it opened keeps it from now on.
    if (Books.Store.Changed()) booksChanged();
}

void TListeningSession::applyTuning(const TBookSettings::TTuning& tuning) {
    if (tuning.Speed != mp->Rate()) {
        mp->SetRate(tuning.Speed);
        emit SpeedChanged(mp->Rate());
    }
    if (tuning.BoostDb != Boost()) {
        mp->SetBoost(tuning.BoostDb);
        setPanel(BoostPanel, tuning.BoostDb ? BoostText(tuning.BoostDb) : QStringLiteral("Boost"));
        emit BoostChanged(tuning.BoostDb);
    }
}

void TListeningSession::booksChanged() {
    if (!app.DataFolder.isEmpty()) booksSaver->start();
}
