// The whole program under a listener who does everything at once: many random
// actions (Browse, a recent pick, Prev and Next, Go, go to offset, skips, speed
// changes, pause and play, play on into the next file, the sleep timer's fade,
// a rename and a tag save of the playing file, closing and starting again),
// with random gaps, on real files through the sound server. A watchdog thread
// calls 5 s without the window answering a hang, and prints every thread's
// stack (as a crash does) before it ends the run.
//   NARRABEL_STRESS_SEED    the seed (else one from the clock; printed either way)
//   NARRABEL_STRESS_ACTIONS how many actions (1000)

#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmarktree.h"
#include "playback/mediaplayer.h"
#include "playback/pipelines.h"
#include "playback/session.h"
#include "rename/renamer.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"
#include "tags/tageditor.h"
#include "util/appstate.h"
#include "util/options.h"

#include "sinkrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// Every thread's stack of this process, through gdb when it is there.
void PrintStacks() {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%d", int(getpid()));
    const char* argv[] = {"gdb", "-p", pid, "-batch", "-nx", "-ex", "thread apply all bt", nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "gdb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "(gdb is not installed: no stacks)\n");
        return;
    }
    int status = 0;
    waitpid(child, &status, 0);
}

void OnCrash(int sig) {
    std::signal(sig, SIG_DFL);
    std::fprintf(stderr, "\n*** signal %d: the stacks of every thread follow\n", sig);
    PrintStacks();
    std::raise(sig);
}

// Beats on the window's thread; a thread of its own watches the beat.
class Watchdog {
public:
    explicit Watchdog(int limitMs) : limit(limitMs) {
        beat.setInterval(50);
        QObject::connect(&beat, &QTimer::timeout, [this] { last = Now(); });
        beat.start();
        last = Now();
        watcher = std::thread([this] {
            while (!stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const qint64 job = pipelines::LongestJobMs();
                if (Now() - last > limit || job > limit) {
                    std::fprintf(stderr,
                                 "\n*** the window has not answered for %lld ms, a pipeline's "
                                 "job has run for %lld ms, during: %s\n",
                                 Now() - last, job, doing.load());
                    PrintStacks();
                    std::_Exit(3);
                }
            }
        });
    }
    ~Watchdog() {
        stop = true;
        watcher.join();
    }
    std::atomic<const char*> doing{"start"};

private:
    static qint64 Now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    const int limit;
    QTimer beat;
    std::atomic<qint64> last{0};
    std::atomic<bool> stop{false};
    std::thread watcher;
};

int EnvInt(const char* name, int fallback) {
    bool ok = false;
    const int v = qEnvironmentVariable(name).toInt(&ok);
    return ok ? v : fallback;
}

class StressTest : public WindowsTest {
protected:
    std::mt19937 rng;
    QStringList files;  // the books' files, as they are named now
    QString stoppedWhy; // why a wait for playback ended without sound moving

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool Playing() const { return mp->Mode() == TPlayerDevice::mpPlaying; }
    QString Random() { return files[Pick(int(files.size()))]; }
    // No question comes up by itself: no bookmark is due, no resume question.
    void Quiet() { session->LastMarkTime = QDateTime::currentDateTime(); }
};

TEST_F(StressTest, AThousandRandomActionsNeitherAbortNorHangAndPlaybackAlwaysMovesOn) {
    for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        std::signal(sig, OnCrash);
    const unsigned seed = unsigned(EnvInt("NARRABEL_STRESS_SEED", int(time(nullptr) & 0x7fffffff)));
    const int actions = EnvInt("NARRABEL_STRESS_ACTIONS", 1000);
    std::printf("stress: seed %u, %d actions (NARRABEL_STRESS_SEED=%u repeats this run)\n", seed,
                actions, seed);
    std::fflush(stdout);
    rng.seed(seed);

    // Two books of short files (play on meets their ends often), one of files
    // of a second (the next file is being plugged in right after each one
    // starts) and a long file.
    for (const char* book : {"Book One", "Book Two", "Short Book"})
        for (int i = 1; QDir().mkpath(home + "/books/" + book) && i <= 4; ++i)
            files << testsupport::MakeMp3(
                home + QStringLiteral("/books/%1/%2.mp3").arg(QLatin1String(book)).arg(i),
                {"Author", book}, book[0] == 'S' ? 40 : 300 + 40 * i);
    files << testsupport::MakeMp3(home + "/books/long.mp3", {"Author", "Long"}, 6000);

    // Its sound never mixes into what other tests measure from the shared sink.
    OwnSink sink(QStringLiteral("narrabel_stress"));
    // GStreamer's first start in a fresh home scans every plugin (seconds,
    // before any window shows): not a hang.
    pipelines::Init();
    Watchdog watchdog(5000);
    StartProgram();
    session->Sleep.MinuteMs = 300;
    session->Sleep.FadeMs = 800;
    AppOptions().PlayOn = true;
    bool sleepFired = false;
    auto wire = [&] {
        QObject::connect(&session->Sleep, &TSleepTimer::Fired, [&] { sleepFired = true; });
    };
    wire();
    auto browse = [&](const QString& f) {
        dialogs->AnswerFile(f);
        frmMain->cmdBrowseClick();
    };
    Quiet();
    browse(files[0]);

    std::map<std::string, int> counts;
    int silent = 0;
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < actions; ++n) {
        if (!program) StartProgram();
        Quiet();
        sleepFired = false;
        // Each action: its name, and whether playback should move after it.
        const int kind = Pick(17);
        const char* name = "";
        bool shouldMove = false;
        const bool wasPlaying = Playing();
        switch (kind) {
        case 0:
            name = "browse";
            browse(Random());
            shouldMove = true;
            break;
        case 1: {
            name = "recent pick";
            const QStringList& rows = session->Recent();
            if (rows.isEmpty()) break;
            session->SetFileText(rows[Pick(int(rows.size()))]);
            frmMain->cmbFileSelect();
            shouldMove = QFileInfo(session->FileText()).isFile();
            break;
        }
        case 2:
            name = "prev";
            frmMain->cmdPrevClick();
            break;
        case 3:
            name = "next";
            frmMain->cmdNextClick();
            break;
        case 4: {
            name = "go";
            const std::vector<TBookmarkTree::Node*> nodes = tree->AllNodes();
            if (nodes.empty()) break;
            TBookmarkTree::Node* node = nodes[size_t(Pick(int(nodes.size())))];
            tree->Select(node, true);
            session->GoToSelectedBookmark();
            break;
        }
        case 5: {
            name = "go to offset";
            if (!mp->IsOpen()) break;
            dialogs->AnswerInput(QString::number(Pick(std::max(1, mp->Length()))));
            session->GoToOffset();
            shouldMove = true;
            break;
        }
        case 6:
        case 7:
            name = kind == 6 ? "skip back" : "skip forward";
            QTest::keyClick(frmMain, kind == 6 ? Qt::Key_Left : Qt::Key_Right, Qt::ControlModifier);
            shouldMove = wasPlaying;
            break;
        case 8: {
            name = "speed or boost";
            const Qt::KeyboardModifiers boost = Qt::ControlModifier | Qt::ShiftModifier;
            const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
                {Qt::Key_BracketRight, Qt::ControlModifier},
                {Qt::Key_BracketLeft, Qt::ControlModifier},
                {Qt::Key_Backslash, Qt::ControlModifier},
                {Qt::Key_Up, boost},
                {Qt::Key_Down, boost}};
            const auto& [key, modifiers] = keys[Pick(5)];
            QTest::keyClick(frmMain, key, modifiers);
            shouldMove = wasPlaying;
            break;
        }
        case 9:
        case 10:
            name = "play/pause";
            frmMain->cmdPlayClick();
            shouldMove = !wasPlaying && mp->IsOpen();
            break;
        case 11: {
            name = "play on";
            if (!mp->IsOpen() || mp->Length() < 3000) break;
            dialogs->AnswerInput(QString::number(mp->Length() - 1200));
            session->GoToOffset();
            shouldMove = true;
            break;
        }
        case 12:
            name = "sleep";
            session->SetSleep(Pick(2) ? 5 : TSleepTimer::Off);
            break;
        case 13: {
            name = "rename";
            const QString now = mp->IsOpen() ? mp->FileName() : QString();
            if (now.isEmpty() || !QFileInfo(now).isFile()) break;
            QString to = now;
            to.insert(to.size() - 4, now.contains("_.mp3") ? "" : "_");
            if (now.endsWith("_.mp3")) to.remove(to.size() - 5, 1);
            if (!renamer->RenameAndRepoint(now, to)) break;
            files.replaceInStrings(now, to);
            shouldMove = wasPlaying;
            break;
        }
        case 14: {
            name = "tag save";
            const QString now = mp->IsOpen() ? mp->FileName() : QString();
            if (now.isEmpty() || !QFileInfo(now).isFile()) break;
            TChgRec fields = editor->Read(now);
            fields.Comment = QString::number(n);
            editor->Save(now, fields);
            shouldMove = wasPlaying;
            break;
        }
        case 15:
            name = "close";
            session->PlayedSinceMark = false;
            CloseProgram();
            StartProgram();
            wire();
            Quiet();
            browse(Random());
            shouldMove = true;
            break;
        default:
            name = "gap";
            break;
        }
        watchdog.doing = name;
        ++counts[name];

        // Playback that should move moves: a stop at the end of a book or by
        // the sleep timer is the only excuse. After one such action in three
        // the next follows without waiting for that (keys pressed as fast as
        // they repeat, a file closed while it is still starting).
        if (shouldMove && Pick(3) != 0) {
            const QString file = mp->FileName();
            const int32_t from = mp->Position();
            const bool moved = WaitFor(
                [&] {
                    return sleepFired ||
                           (Playing() &&
                            (mp->FileName() != file || std::abs(mp->Position() - from) >= 100)) ||
                           (mp->IsOpen() && mp->Mode() == TPlayerDevice::mpStopped &&
                            mp->Position() >= mp->Length() - 200);
                },
                5000);
            if (!moved) {
                ++silent;
                ADD_FAILURE() << "after " << name << " (action " << n << ") playback stood at "
                              << mp->Position() << " in " << file.toStdString() << ", mode "
                              << mp->Mode() << ", status " << frmMain->StatusText(0).toStdString()
                              << " " << frmMain->StatusText(2).toStdString() << " ("
                              << session->StatusHint(2).toStdString() << ")"
                              << (QFileInfo::exists(file) ? "" : " (no such file)");
            }
        }
        QTest::qWait(Pick(201)); // a random gap of 0-200 ms, the window running
    }
    // Every pipeline let go was freed.
    EXPECT_TRUE(pipelines::Drain(5000)) << pipelines::Live() << " pipeline jobs left";
    std::printf("stress: %d actions in %.1f s, %d without sound moving;", actions,
                clock.elapsed() / 1000.0, silent);
    for (const auto& [name, count] : counts)
        std::printf(" %s %d,", name.c_str(), count);
    std::printf("\n");
    session->PlayedSinceMark = false;
}

} // namespace
