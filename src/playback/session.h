#pragma once
// The listening session: the file being listened to and the player playing it,
// the file box's text and its recent list, the status texts, the resume point,
// the visited-files history, the "Bookmark progress?" decision, going to an
// offset, the listening speed and the timed exit of a sound bite; and going
// through a whole book: playing on into its next file, the place kept in every
// file, the sleep timer, the rewind after a long pause, the skips, and the
// book's own speed and volume boost. The main
// window mirrors this state from the signals and hands the user's commands in;
// questions go through the dialog seam.

#include "bookmarks/bookmarkcommands.h"
#include "playback/bmhistory.h"
#include "playback/books.h"
#include "playback/chapternav.h"
#include "playback/places.h"
#include "playback/playerdevice.h"
#include "playback/sleeptimer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;
class TAppState;
class TBookmarkTree;

// The command line: file, seek point in milliseconds, seconds to play.
struct TParamRec {
    QString MediaFile;
    int32_t SeekPoint = 0;
    int32_t PlaySeconds = 0;
};

class TListeningSession : public QObject {
    Q_OBJECT
public:
    using Node = TBookmarkTree::Node;
    enum class TMissingAnswer { Ignore, Repoint, Delete };
    // Status panels: 0 state, 1 time, 2 file as designed; then the sleep
    // timer, the time of the whole file ("1:02:03 / 10:15:00") and the book's
    // volume boost ("+6 dB").
    static constexpr int Panels = 6;
    static constexpr int SleepPanel = 3;
    static constexpr int ClockPanel = 4;
    static constexpr int BoostPanel = 5;
    // A place this close to a file's end counts as the file finished.
    static constexpr int32_t FinishedWithinMs = 5000;

    // What ReleaseFile let go of, for RestoreFile.
    struct TReleasedFile {
        QString Path;
        int32_t Position = 0;
        bool Released = false;
        bool Playing = false;
    };

    TListeningSession(TAppState& app, TBookmarkTree& tree, TBookmarkCommands& bookmarks,
                      TPlayerDevice& player, QObject* parent = nullptr);
    ~TListeningSession() override;

    // ---- start and end
    // Loads the history, the recent list and the autolist, and reads the
    // command line (the parameters after the program's name).
    void Start(const QStringList& args);
    // Opens and plays the command line's file, when it names one.
    void PlayCommandLine();
    // The command line of a second start, handed over: its file plays as the
    // command line's does at start (a sound bite ends in a pause).
    void PlayHandedOver(const QStringList& args);
    // Reads the command line leniently: file, seek point, seconds.
    static TParamRec ReadParams(const QStringList& args);
    // The close handler's saves, each whatever became of the others: the
    // history, the autolist, the selected node, the places, the listening
    // settings and the resume point (after asking, unless ask is false: the
    // desktop or a signal ends the program); then Closing. Returns the errors
    // met.
    QStringList CloseDown(bool ask = true);

    // ---- the file box and the status bar
    QString FileText() const { return fileText; }
    // The program puts a file into the box.
    void SetFileText(const QString& text);
    // The user changed the box's text (no signal back).
    void FileBoxEdited(const QString& text) { fileText = text; }
    const QStringList& Recent() const { return recent; }
    void SetStatus(int panel, const QString& text);
    QString StatusText(int panel) const;
    // A panel's hint: panel 2's names the file, or why it could not be opened.
    QString StatusHint(int panel) const;
    // The Play button's caption, "&Play" or "&Pause": the state the button tests.
    QString PlayCaption() const { return playCaption; }
    bool PlayerShown() const { return playerShown; }
    // The open-file dialog's file types, and the one it starts with.
    static QString DlgOpenFilter();
    static int DlgOpenFilterIndex();

    // ---- playback
    bool OpenCurrentFile();
    // Every jump reopens the file and plays from position.
    void PlayFrom(int32_t position);
    void PlayPause(); // the Play/Pause button
    void Tick();      // the one-second timer
    // The position bar was dropped at position.
    void PositionBarMoved(int32_t position);
    void Browse();
    // Opens and plays a file the user picked (Browse, a drop on the window) as
    // Browse does: from its bookmark or its kept place, with a start bookmark
    // for a file met for the first time.
    void OpenPicked(const QString& path);
    void FileTyped();    // the user typed a name into the file box
    void RecentPicked(); // the user picked a row of the recent list
    void AskBookmarkProgress();
    // Go: opens the focused bookmark (an author's latest), or decides what to
    // do with it when its file has gone.
    void GoToSelectedBookmark();
    // Asks for a position: milliseconds, or a time as "m:ss" or "h:mm:ss".
    void GoToOffset();
    void TimedExitTick();
    // Steps aside for a write into path while the player has it open (the
    // audio may move inside the file); RestoreFile then puts playback back as
    // it was, the same file at the same place, playing or not, whether or not
    // the write succeeded.
    TReleasedFile ReleaseFile(const QString& path);
    void RestoreFile(const TReleasedFile& released);

    // ---- through a book
    // Back or forward by the skip amounts, within the file.
    void SkipBack();
    void SkipForward();
    void Skip(int32_t deltaMs);
    // A jump within the open file: a playing file goes on sounding from there
    // at once (no reopen); a paused one stays paused at the new place.
    void SeekInFile(int32_t position);
    // The sleep timer's choice (minutes, or TSleepTimer::Off / EndOfFile /
    // EndOfChapter).
    void SetSleep(int choice);
    // Chapters (see TChapterNav): a step within the open file is a seek in
    // it, the sound running on; a step into another file of the book opens it.
    // Playing or paused stays as it was.
    void NextChapter();
    void PreviousChapter();
    // Plays a row of the chapter list from its start.
    void GoToChapter(int row);
    // How far Play goes back after a pause of pausedMs (bySleep: the sleep
    // timer paused it, after a fade of fadeMs).
    static int32_t RewindFor(qint64 pausedMs, bool bySleep, int fadeMs);
    // Where path, open in the player, starts when played afresh: its kept
    // place (a little earlier after a long while), or 0.
    int32_t StartPosition(const QString& path);
    // Wall time; tests put a clock of their own here (the sleep timer's too).
    std::function<QDateTime()> Clock;
    TPlaces Places;      // "Narrabel.places"
    TBookSettings Books; // "Narrabel.books"
    TSleepTimer Sleep;
    // ---- resume point and recent files
    // Where a resume point saved at position starts: 2.5 s earlier, never before 10 ms.
    static int32_t ResumePositionFor(int32_t position);
    void LoadResumeHint();
    void SaveResumePoint();
    void Resume();
    QString ResumeHint() const { return resumeHint; }
    bool ResumeEnabled() const { return resumeEnabled; }
    void AddRecentFile();
    void SaveTreeState();
    void LoadTreeState();
    // After the program renamed a file: every remembered path follows, then
    // its bookmarks are repointed.
    void FileRenamed(const QString& oldPath, const QString& newPath);
    // The player's file and panel, the file box and recent list ("Narrabel.hst"),
    // the autolist, the history ("Narrabel.nbh"), the resume point
    // ("Narrabel.rsm"), the places ("Narrabel.places") and a book that is the
    // file alone ("Narrabel.books") follow a rename.
    // Playback goes on undisturbed.
    void FollowRename(const QString& oldPath, const QString& newPath);

    // ---- history
    void Prev();
    void Next();
    void UpdateHints();
    QString PrevHint() const;
    QString NextHint() const;

    // ---- the book's own listening speed (0.5-3.0 in tenths) and volume boost
    // (0-12 dB in steps of 3), restored whenever a file of the book opens
    double Speed() const;
    void SetSpeed(double speed);
    // One tenth faster (steps > 0) or slower (< 0); 0 goes back to 1.0.
    void StepSpeed(int steps);
    int Boost() const;
    void SetBoost(int db);
    // One step more (steps > 0) or less (< 0).
    void StepBoost(int steps);

    // ---- state
    TPlayerDevice* mp;
    TParamRec ParamRec;
    int32_t ExitCountdown = 0;
    // Playback started since the last bookmark was stored.
    bool PlayedSinceMark = false;
    // When a bookmark was last stored or last offered.
    QDateTime LastMarkTime = QDateTime::currentDateTime();
    std::unique_ptr<TBMHistory> History;
    QTimer* tmr; // ticks every second while playing
    TChapterNav Chapters;

    // The Create command (the New Bookmark dialog), offered by "Bookmark progress?".
    std::function<void()> MakeBookmark;
    // What to do with a bookmark whose file has gone (the Missing Audio Source dialog).
    std::function<TMissingAnswer(const TBookmarkRec& rec)> AskMissing;

signals:
    void FileTextChanged(const QString& text);
    void RecentChanged();
    void StatusChanged(int panel, const QString& text);
    void StatusHintChanged(int panel, const QString& hint);
    void PlayCaptionChanged(const QString& caption);
    void PlayerShownChanged(bool shown);
    // The bars: the open file's length, and where playback stands.
    void LengthChanged(int32_t length);
    void PositionChanged(int32_t position);
    void ResumeChanged();
    void HintsChanged();
    void SpeedChanged(double speed);
    void BoostChanged(int db);
    // After every jump (PlayFrom, a skip, a seek within the file), with the
    // position jumped to.
    void Jumped(int32_t position);
    // The timed exit has come: the window closes (Closing is set).
    void CloseRequested();

private:
    void setPlayCaption(const QString& caption);
    void setPlayerShown(bool shown);
    void setPanel(int panel, const QString& text); // without letting events run
    void setStatusHint(int panel, const QString& hint);
    void saveRecentRows();
    // Prev and Next: one step through the history, opening and playing its file.
    void walkHistory(std::optional<QString> (TBMHistory::*step)());
    void replaceRecentRow(const QString& previous, const QString& next);
    void fileError(const QString& file, const QString& reason);
    void updateClock();
    void listeningStarted();
    void pauseNow(bool bySleep);
    void clearPause();
    // The open file's place, kept in memory.
    void rememberPlace();
    // The same, and onto disk (the places log) when write is set or nothing
    // plays (no tick will write it).
    void notePlace(bool write = false);
    void onFinished();
    void onMovedOn(const QString& previous, const QString& path);
    // Play on applies now (the option, no sound bite, no sleep at the file's end).
    bool playOnWanted() const;
    // Tells the device the file that follows the one it plays (force: it was
    // opened anew, so it knows none).
    void armPlayOn(bool force = false);
    bool playOnNext();
    // Opens next, a file of the book, at position, playing or not.
    void playOnInto(const QString& next, int32_t position = 0, bool play = true);
    // What a file reached by play on brings: panel 2, its row in place of the
    // previous one (previousRow), its start bookmark, its visit and its place.
    void enteredNextFile(const QString& previousRow, const QString& path);
    // "End of this file": the book pauses where the file ends, without a fade.
    void pauseAtFileEnd();
    // The file panel's hint: the file, and the chapter playing.
    QString fileHint(const QString& file) const;
    void showChapter();
    void goToChapterTarget(const TChapterNav::TTarget& target, bool play);
    // "End of this chapter": the player stops where the chapter playing ends.
    // at: the place playback starts from (-1: where the player is).
    void updateChapterStop(int32_t at = -1);
    void onStopPointReached();
    // The book of file becomes the current one and the player takes its speed
    // and boost. again: the book is worked out afresh even when file was the
    // last one entered (its folder may have changed since).
    void enterBook(const QString& file, bool again = false);
    void applyTuning(const TBookSettings::TTuning& tuning);
    void booksChanged();

    TAppState& app;
    TBookmarkTree& tree;
    TBookmarkCommands& bookmarks;
    QString fileText;
    QStringList recent;
    QString status[Panels];
    QString statusHint[Panels];
    QString playCaption;
    QString bookFile; // the file whose book was entered last
    // Writes a book's new setting a moment after it was made.
    QTimer* booksSaver = new QTimer(this);
    // Playback ran since the open file was opened: its place is worth keeping.
    bool listened = false;
    QElapsedTimer placeWritten; // since a place last went on disk
    // The last pause of the open file, for the rewind when Play follows.
    QDateTime pausedAt;
    QString pausedFile;
    bool pausedBySleep = false;
    bool pausedAtEnd = false; // the sleep timer waited for the end of the file
    QString armedFile;        // the device knows the file that follows this one
    int32_t knownLength = 0;  // the open file's length, as last shown
    bool playerShown = false;
    bool biteEndsInPause = false; // a handed-over sound bite: no timed exit
    QString resumeHint;
    bool resumeEnabled = false;
};
