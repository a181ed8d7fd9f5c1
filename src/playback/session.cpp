#include "playback/session.h"

#include "bookmarks/bookmarktree.h"
#include "util/appstate.h"
#include "util/dialogs.h"
#include "util/errors.h"
#include "util/options.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

namespace {

const QString kPlay = QStringLiteral("&Play");
const QString kPause = QStringLiteral("&Pause");
const int kMaxRecentFiles = 30;
const int32_t kResumeLeadMs = 2500; // resume a little before where listening stopped
const int32_t kResumeMinMs = 10;

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
    : QObject(parent), mp(&player), tmr(new QTimer(this)), app(appState), tree(bookmarkTree),
      bookmarks(commands), playCaption(kPlay) {
    tmr->setObjectName(QStringLiteral("tmr"));
    tmr->setInterval(1000);
    status[0] = QStringLiteral("Stopped");
    status[1] = QStringLiteral("00:00");
    connect(tmr, &QTimer::timeout, this, &TListeningSession::Tick);
    // The open file's frames have been counted: the bars span all of it now.
    connect(mp, &TPlayerDevice::LengthKnown, this, &TListeningSession::LengthChanged);
    connect(&bookmarks, &TBookmarkCommands::BookmarkStored, this, [this] {
        PlayedSinceMark = false;
        LastMarkTime = QDateTime::currentDateTime();
    });
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
    }
    if (!History) History = std::make_unique<TBMHistory>(QString());
    History->OnChanged = [this] { UpdateHints(); }; // hints follow every append
    emit ResumeChanged();
    UpdateHints();

    ParamRec.MediaFile = args.value(0);
    ParamRec.SeekPoint = low32(ParseLooseInt(args.value(1)));
    ParamRec.PlaySeconds = low32(ParseLooseInt(args.value(2)));
    ExitCountdown = ParamRec.PlaySeconds;
}

void TListeningSession::PlayCommandLine() {
    if (ParamRec.MediaFile.isEmpty() || !QFileInfo(ParamRec.MediaFile).isFile()) return;
    SetFileText(ParamRec.MediaFile);
    OpenCurrentFile();
    PlayFrom(ParamRec.SeekPoint);
}

QStringList TListeningSession::CloseDown() {
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
        const QString file = fileText;
        if (PlayedSinceMark && !app.Closing && !file.isEmpty() && QFileInfo(file).isFile() &&
            mp->Position() > 0 && AskYesNo(QStringLiteral("Update Resume point before exiting?")))
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
    if (panel < 0 || panel > 2) return;
    status[panel] = text;
    emit StatusChanged(panel, text);
    // The text shows at once, even in the middle of a command.
    QCoreApplication::processEvents();
}

QString TListeningSession::StatusText(int panel) const {
    return panel >= 0 && panel < 3 ? status[panel] : QString();
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
    return QStringLiteral("MP3 files (*.mp3)|*.mp3|All supported formats "
                          "(mp3,wav,avi,mpg/mpeg,mid/midi)|*.mp3;*.wav;*.avi;*.mpg;*.mpeg;*.mid;"
                          "*.midi|All files (not advised)|*.*");
}

// ---------------------------------------------------------------- playback

bool TListeningSession::OpenCurrentFile() {
    const QString file = fileText;
    if (file.isEmpty()) {
        mp->Close();
        emit PositionChanged(0);
        emit LengthChanged(0);
        setPlayerShown(false);
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, QStringLiteral("00:00"));
        SetStatus(2, QString());
        return true;
    }
    try {
        setPlayerShown(true);
        emit PositionChanged(0);
        mp->Close();
        mp->SetFileName(file);
        mp->Open();
        emit LengthChanged(mp->Length());
        setPlayCaption(kPlay);
        SetStatus(2, ExtractFileName(file));
    } catch (const std::exception&) {
        // The caller decides; Resume, for one, stays silent.
        return false;
    }
    return true;
}

void TListeningSession::PlayFrom(int32_t position) {
    tmr->stop();
    mp->Close();
    mp->SetStartPos(position);
    mp->Open();
    mp->Play();
    setPlayCaption(kPause);
    SetStatus(0, QStringLiteral("Playing"));
    PlayedSinceMark = true;
    tmr->start();
    emit Jumped(position);
}

void TListeningSession::PlayPause() {
    if (fileText.isEmpty()) return;
    if (playCaption != kPlay) {
        if (mp->Mode() == TPlayerDevice::mpPlaying) mp->Pause();
        setPlayCaption(kPlay);
        SetStatus(0, QStringLiteral("Paused"));
    } else {
        // Played to the end: start again from the beginning.
        if (mp->Mode() == TPlayerDevice::mpStopped && mp->Position() == mp->Length())
            mp->SetPosition(0);
        if (mp->Mode() == TPlayerDevice::mpPaused)
            mp->Resume();
        else
            mp->Play();
        setPlayCaption(kPause);
        SetStatus(0, QStringLiteral("Playing"));
        // Listening started here (Play, Prev, Next) counts like a jump's.
        if (mp->Mode() == TPlayerDevice::mpPlaying) PlayedSinceMark = true;
    }
    if (mp->Mode() == TPlayerDevice::mpPlaying)
        tmr->start();
    else
        tmr->stop();
}

void TListeningSession::Tick() {
    TimedExitTick();
    const int mode = mp->Mode();
    if (mode == TPlayerDevice::mpStopped) {
        // Played to the end; the bars stay where the last tick put them.
        tmr->stop();
        setPlayCaption(kPlay);
        SetStatus(0, QStringLiteral("Stopped"));
        SetStatus(1, FormatMinSec(mp->Position()));
    } else if (mode != TPlayerDevice::mpPaused) {
        const int32_t position = mp->Position();
        emit PositionChanged(position);
        SetStatus(1, FormatMinSec(position));
    }
}

void TListeningSession::PositionBarMoved(int32_t position) {
    if (mp->Mode() == TPlayerDevice::mpPlaying) PlayFrom(position);
}

void TListeningSession::Browse() {
    const int filterIndex = AppOptions().MoreFormats ? 2 : 1;
    const QString current = fileText.trimmed();
    const QString folder = current.isEmpty() ? QString() : ExtractFilePath(current);
    const std::optional<QString> chosen =
        Dlg().OpenFile(QStringLiteral("Open"), folder, DlgOpenFilter(), filterIndex);
    if (!chosen) return;
    AskBookmarkProgress();
    const QString path = *chosen;
    SetFileText(path);
    AddRecentFile();
    const QString found = bookmarks.FindOrAddStartBookmark(path);
    if (!found.isEmpty()) {
        bookmarks.SelectNodeByText(found);
        GoToSelectedBookmark();
        if (History) History->Add(path, mp->Position());
    } else {
        OpenCurrentFile();
        setPlayCaption(kPause);
        PlayFrom(0);
        if (History) History->Add(path, 1);
    }
}

void TListeningSession::FileTyped() {
    if (!fileText.isEmpty() && QFileInfo(fileText).isFile()) OpenCurrentFile();
}

void TListeningSession::RecentPicked() {
    const QString file = fileText;
    bookmarks.FindOrAddStartBookmark(file); // stores a start bookmark for a file that has none
    if (History) History->Add(file, 1);     // gone once the window has closed
    OpenCurrentFile();
    setPlayCaption(kPause);
    PlayFrom(0);
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
        OpenCurrentFile();
        PlayFrom(bm.Rec.Position);
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
                           DlgOpenFilter(), AppOptions().MoreFormats ? 2 : 1);
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
    const int64_t value = ParseLooseInt(*answer);
    if (value >= 0 && value <= length)
        PlayFrom(int32_t(value));
    else
        ShowMessage(*answer + QStringLiteral(" is not a valid value."));
}

void TListeningSession::TimedExitTick() {
    if (ParamRec.PlaySeconds <= 0) return;
    --ExitCountdown;
    app.SetCaption(QStringLiteral("Narrabel - exiting in %1 seconds...").arg(ExitCountdown));
    if (ExitCountdown == 0) {
        app.Closing = true;
        emit CloseRequested();
    }
}

int32_t TListeningSession::ReleaseFile(const QString& path) {
    if (mp->Mode() != TPlayerDevice::mpPlaying || mp->FileName() != path) return 0;
    const int32_t position = mp->Position();
    mp->Close();
    return position;
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
        OpenCurrentFile();
        // A successful open leaves the button on Play: the file plays from its start.
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
    mp->SetRate(speed);
    emit SpeedChanged(speed);
}

void TListeningSession::StepSpeed(int steps) {
    SetSpeed(steps == 0 ? 1.0 : Speed() + 0.1 * steps);
}
