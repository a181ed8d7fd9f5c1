#pragma once
// GUI test support: one offscreen application per test program, scripted
// answers for every dialog, and a fresh set of windows per test.

#include "support/testsupport.h"
#include "util/dialogs.h"

#include <QFont>
#include <QStringList>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

class TAppState;
class TBookmarkCommands;
class TBookmarkTree;
class TListeningSession;
class TMediaPlayer;
class TProgram;
class TRenamer;
class TTagEditor;
class TfrmAbout;
class TfrmBM;
class TfrmDebug;
class TfrmEdit;
class TfrmFill;
class TfrmImport;
class TfrmMain;
class TfrmMissing;
class TfrmOptions;
class TfrmPreview;
class TfrmRename;

struct AskedQuestion {
    QString kind; // "message", "confirm", "input", "open", "folder", "font"
    QString title;
    QString text;
};

// Answers dialogs from a queue and records every question. An unexpected
// question (nothing queued for it) fails the test and answers No / cancel.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs() { InstallDialogs(this); }
    ~ScriptedDialogs() override { InstallDialogs(nullptr); }

    void AnswerConfirm(bool yes) { answers.push_back({Answer::Yes, yes, false, {}}); }
    void AnswerInput(const std::optional<QString>& text) {
        answers.push_back({Answer::Text, false, text.has_value(), text.value_or(QString())});
    }
    void AnswerFile(const std::optional<QString>& path) {
        answers.push_back({Answer::Text, false, path.has_value(), path.value_or(QString())});
    }
    void AnswerFont(const std::optional<QFont>& font) {
        answers.push_back(
            {Answer::Font, false, font.has_value(), font ? font->toString() : QString()});
    }
    // Messages need no answer; they are only recorded.

    std::vector<AskedQuestion> asked;
    QStringList Texts() const;
    QStringList TextsOf(const QString& kind) const;
    bool Pending() const { return !answers.empty(); }
    // Last open-file or folder request's folder and filter index.
    QString lastFolder;
    QString lastFilter;
    int lastFilterIndex = 0;

    void Message(const QString& title, const QString& text) override;
    bool Confirm(const QString& title, const QString& text) override;
    std::optional<QString> Input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
    std::optional<QString> OpenFile(const QString& title, const QString& folder,
                                    const QString& filter, int filterIndex) override;
    std::optional<QString> ChooseFolder(const QString& title, const QString& folder) override;
    std::optional<QString> ChooseFont(const QString& initial, int maxPointSize) override;

private:
    struct Answer {
        enum Kind { Yes, Text, Font } kind;
        bool yes = false;
        bool given = false; // a text (or font) given, not cancelled
        QString text;       // a font as QFont::toString() gives it
        std::optional<QString> reply() const {
            return given ? std::optional<QString>(text) : std::nullopt;
        }
    };
    std::deque<Answer> answers;
    // The next answer if it is of the kind asked; No and cancel (and a failure) otherwise.
    Answer next(Answer::Kind kind, const char* what, const QString& text);
};

// Runs the event loop until cond holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000);

// Makes the QApplication (offscreen) for the whole test program.
void EnsureApplication();

// Starts the program (its parts and every window) with the given command line,
// under a fresh HOME whose documents folder is <home>/Documents, and ends it in
// TearDown. The windows and parts are reached through the program.
class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the windows; call again after DestroyAll to simulate a new start.
    void StartProgram(const QStringList& args = {}, bool show = true);
    void CloseProgram();
    // Runs action once the (modal) window is visible, from the event loop that
    // shows it; gives up after timeoutMs.
    static void WhenShown(QWidget* window, std::function<void()> action, int timeoutMs = 5000);
    // Runs the event loop until cond holds or timeoutMs passes.
    static bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000);
    QString dataFolder() const;
    // Browses to each file in turn (answering the open dialog), waits until the
    // last one has played 1.5 s, bookmarks that place as "mark" (its node is
    // selected) and saves the resume point.
    void BrowseAndMark(const QStringList& files);
    // After the program renamed the file was to now: every place that remembers it
    // by its path names now and none names was (the file box and the player, the
    // recent list and "Narrabel.hst", the history and "Narrabel.nbh", the resume
    // point "Narrabel.rsm"), and the selected tree node is a bookmark of now.
    void ExpectPathFollowed(const QString& was, const QString& now);
    QString home;
    ScriptedDialogs* dialogs = nullptr;

    // The running program and, for short, its parts (null while none runs).
    std::unique_ptr<TProgram> program;
    TAppState* app = nullptr;
    TBookmarkTree* tree = nullptr;
    TBookmarkCommands* bookmarks = nullptr;
    TListeningSession* session = nullptr;
    TMediaPlayer* mp = nullptr;
    TTagEditor* editor = nullptr;
    TRenamer* renamer = nullptr;
    TfrmMain* frmMain = nullptr;
    TfrmBM* frmBM = nullptr;
    TfrmEdit* frmEdit = nullptr;
    TfrmImport* frmImport = nullptr;
    TfrmMissing* frmMissing = nullptr;
    TfrmAbout* frmAbout = nullptr;
    TfrmDebug* frmDebug = nullptr;
    TfrmFill* frmFill = nullptr;
    TfrmOptions* frmOptions = nullptr;
    TfrmRename* frmRename = nullptr;
    TfrmPreview* frmPreview = nullptr;

private:
    std::unique_ptr<QTemporaryDir> homeDir;
};
