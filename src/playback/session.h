#pragma once
// The listening session: the file being listened to and the player playing it,
// the file box's text and its recent list, the status texts, the resume point,
// the visited-files history, the "Bookmark progress?" decision, going to an
// offset, the listening speed and the timed exit of a sound bite. The main
// window mirrors this state from the signals and hands the user's commands in;
// questions go through the dialog seam.

#include "bookmarks/bookmarkcommands.h"
#include "playback/bmhistory.h"
#include "playback/playerdevice.h"

#include <QDateTime>
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

    TListeningSession(TAppState& app, TBookmarkTree& tree, TBookmarkCommands& bookmarks,
                      TPlayerDevice& player, QObject* parent = nullptr);
    ~TListeningSession() override;

    // ---- start and end
    // Loads the history, the recent list and the autolist, and reads the
    // command line (the parameters after the program's name).
    void Start(const QStringList& args);
    // Opens and plays the command line's file, when it names one.
    void PlayCommandLine();
    // The close handler's saves, each whatever became of the others: the
    // history, the autolist, the selected node, and (after asking) the resume
    // point; then Closing. Returns the errors met.
    QStringList CloseDown();

    // ---- the file box and the status bar
    QString FileText() const { return fileText; }
    // The program puts a file into the box.
    void SetFileText(const QString& text);
    // The user changed the box's text (no signal back).
    void FileBoxEdited(const QString& text) { fileText = text; }
    const QStringList& Recent() const { return recent; }
    void SetStatus(int panel, const QString& text);
    QString StatusText(int panel) const;
    // The Play button's caption, "&Play" or "&Pause": the state the button tests.
    QString PlayCaption() const { return playCaption; }
    bool PlayerShown() const { return playerShown; }
    // The open-file dialog's file types.
    static QString DlgOpenFilter();

    // ---- playback
    bool OpenCurrentFile();
    // Every jump reopens the file and plays from position.
    void PlayFrom(int32_t position);
    void PlayPause(); // the Play/Pause button
    void Tick();      // the one-second timer
    // The position bar was dropped at position.
    void PositionBarMoved(int32_t position);
    void Browse();
    void FileTyped();    // the user typed a name into the file box
    void RecentPicked(); // the user picked a row of the recent list
    void AskBookmarkProgress();
    // Go: opens the focused bookmark (an author's latest), or decides what to
    // do with it when its file has gone.
    void GoToSelectedBookmark();
    void GoToOffset();
    void TimedExitTick();
    // Steps aside for a write into path while it is playing (the audio may
    // move inside the file); returns where it was (0 when nothing stepped aside).
    int32_t ReleaseFile(const QString& path);

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
    // the autolist, the history ("Narrabel.nbh") and the resume point
    // ("Narrabel.rsm") follow a rename. Playback goes on undisturbed.
    void FollowRename(const QString& oldPath, const QString& newPath);

    // ---- history
    void Prev();
    void Next();
    void UpdateHints();
    QString PrevHint() const;
    QString NextHint() const;

    // ---- listening speed: 0.5-3.0 in tenths, for every file until the program ends
    double Speed() const;
    void SetSpeed(double speed);
    // One tenth faster (steps > 0) or slower (< 0); 0 goes back to 1.0.
    void StepSpeed(int steps);

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

    // The Create command (the New Bookmark dialog), offered by "Bookmark progress?".
    std::function<void()> MakeBookmark;
    // What to do with a bookmark whose file has gone (the Missing Audio Source dialog).
    std::function<TMissingAnswer(const TBookmarkRec& rec)> AskMissing;

signals:
    void FileTextChanged(const QString& text);
    void RecentChanged();
    void StatusChanged(int panel, const QString& text);
    void PlayCaptionChanged(const QString& caption);
    void PlayerShownChanged(bool shown);
    // The bars: the open file's length, and where playback stands.
    void LengthChanged(int32_t length);
    void PositionChanged(int32_t position);
    void ResumeChanged();
    void HintsChanged();
    void SpeedChanged(double speed);
    // After every jump through PlayFrom, with the position jumped to.
    void Jumped(int32_t position);
    // The timed exit has come: the window closes (Closing is set).
    void CloseRequested();

private:
    void setPlayCaption(const QString& caption);
    void setPlayerShown(bool shown);
    void saveRecentRows();
    // Prev and Next: one step through the history, opening and playing its file.
    void walkHistory(std::optional<QString> (TBMHistory::*step)());

    TAppState& app;
    TBookmarkTree& tree;
    TBookmarkCommands& bookmarks;
    QString fileText;
    QStringList recent;
    QString status[3];
    QString playCaption;
    bool playerShown = false;
    QString resumeHint;
    bool resumeEnabled = false;
};
