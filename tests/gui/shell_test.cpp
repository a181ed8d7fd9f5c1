#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "diag/tfrmabout.h"
#include "playback/mediaplayer.h"
#include "playback/places.h"
#include "playback/session.h"
#include "support/guitestsupport.h"
#include "support/mp3fixture.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <csignal>
#include <sys/stat.h>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

class ShellTest : public WindowsTest {
protected:
    // The program itself, in a process of its own on this test's data folder.
    void StartReal(QProcess& process, const QStringList& args, const QString& folder = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_DATA_HOME", home + "/.local/share");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        if (!folder.isEmpty()) process.setWorkingDirectory(folder);
        process.start(QStringLiteral(NARRABEL_BINARY_DIR "/narrabel"), args);
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }
    static bool Ends(QProcess& process, int ms = 20000) {
        return WaitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
    }
    // The last place the places log holds, as a start after a kill reads it.
    std::optional<TPlaces::TPlace> Logged() const {
        TPlaces places(dataFolder() + "Narrabel.places");
        places.Load();
        return places.LastLogged;
    }
    QStringList DataFiles() const {
        QStringList out;
        for (QDirIterator it(dataFolder(), QDir::Files | QDir::Hidden); it.hasNext();) {
            const QFileInfo f(it.next());
            out << f.fileName() + ' ' + QString::number(f.size()) + ' ' +
                       f.lastModified().toString(Qt::ISODateWithMs);
        }
        out.sort();
        return out;
    }
    QString Book(const QString& name) const {
        QDir().mkpath(home + "/book");
        return testsupport::MakeMp3(home + "/book/" + name, {"Author", "Book"}, 2000);
    }
};

TEST_F(ShellTest, CreatesEveryWindowOnceInOrderWithItsCaption) {
    StartProgram({}, false);
    EXPECT_EQ(
        program->CreationOrder,
        QStringList({"TfrmMain", "TfrmBM", "TfrmEdit", "TfrmImport", "TfrmMissing", "TfrmAbout",
                     "TfrmDebug", "TfrmFill", "TfrmOptions", "TfrmRename", "TfrmPreview"}));
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_EQ(QApplication::applicationName(), "Narrabel");
    // The window system gets each caption as it stands: with a display name of
    // its own, Qt would add " — Narrabel" to every title ("Options — Narrabel").
    QApplication::setApplicationName("probe");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe") << "no display name is set";
    QApplication::setApplicationName("Narrabel");
    const std::pair<QWidget*, const char*> captions[] = {
        {(QWidget*)frmBM, "New Bookmark"},
        {(QWidget*)frmEdit, "ID3 Tag Editor"},
        {(QWidget*)frmImport, "Import"},
        {(QWidget*)frmMissing, "Missing Audio Source"},
        {(QWidget*)frmOptions, "Options"},
        {(QWidget*)frmFill, "Fill tags from file info"},
        {(QWidget*)frmRename, "Rename File(s)"},
        {(QWidget*)frmPreview, "Mass Rename - Build, Preview, Apply"},
    };
    for (auto [w, caption] : captions)
        EXPECT_EQ(w->windowTitle(), caption);
}

TEST_F(ShellTest, MainWindowHasItsDesignedControls) {
    StartProgram();
    struct Ctl {
        const char* name;
        const char* caption;
    };
    const Ctl buttons[] = {
        {"cmdBrowse", nullptr},     {"cmdResume", "&Resume"},
        {"cmdClose", "Close"},      {"cmdAbout", "&About"},
        {"cmdPlay", "&Play"},       {"cmdBookmark", "&Create Bookmark"},
        {"cmdPrev", "<< Pre&v"},    {"cmdNext", "&Next >>"},
        {"cmdGo", "&Go"},           {"cmdTVCreate", "Create"},
        {"cmdRename", "R&ename"},   {"cmdDelBM", "&Delete"},
        {"cmdCompact", "Co&mpact"}, {"cmdCollapse", "Co&llapse"},
        {"cmdExpand", "E&xpand"},   {"cmdTagEditor", "&Tag Editor"},
        {"cmdImport", "&Import"},   {"cmdOptions", "&Options"},
    };
    for (const auto& b : buttons) {
        auto* w = frmMain->findChild<QPushButton*>(b.name);
        ASSERT_NE(w, nullptr) << b.name;
        if (b.caption) {
            EXPECT_EQ(w->text(), b.caption) << b.name;
        }
    }
    for (const char* n : {"cmbFile", "pnlPlay", "tv", "sb", "sbPos", "prg", "tbVolume"})
        EXPECT_NE(frmMain->findChild<QObject*>(n), nullptr) << n;
    EXPECT_EQ(session->tmr->objectName(), "tmr"); // the session's one-second timer
    EXPECT_EQ(frmMain->StatusText(0), "Stopped");
    EXPECT_EQ(frmMain->StatusText(1), "00:00");
    EXPECT_EQ(frmMain->StatusText(2), "");
    EXPECT_FALSE(frmMain->pnlPlay->isVisible());
    EXPECT_EQ(session->tmr->interval(), 1000);
    EXPECT_FALSE(session->tmr->isActive());
    QStringList menu;
    for (QAction* a : frmMain->pop->actions())
        menu << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(menu, QStringList({"&Go", "&Create", "&Rename", "&Delete", "Co&mpact", "-",
                                 "Co&llapse All", "E&xpand All", "&Select All", "-", "&Tag Editor",
                                 "&Import", "&Options"}));
}

TEST_F(ShellTest, CreatesTheDataFolderAndActivatesOnce) {
    StartProgram();
    EXPECT_TRUE(QDir(dataFolder()).exists());
    EXPECT_EQ(app->DataFolder, dataFolder());
    EXPECT_EQ(app->StorePath, dataFolder() + "Narrabel.nbm");
    EXPECT_TRUE(frmMain->Activated);
    EXPECT_FALSE(frmMain->cmdResume->isEnabled());
    // A later activation (after a dialog) does no start-up work again.
    frmMain->tv->addTopLevelItem(new QTreeWidgetItem(QStringList{"kept"}));
    frmMain->FormActivate();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(frmMain, &activate);
    QCoreApplication::processEvents();
    EXPECT_EQ(frmMain->tv->topLevelItemCount(), 1);
}

TEST_F(ShellTest, DataFolderThatCannotBeMadeIsReportedAndNothingIsSaved) {
    // A file where the documents folder should be makes the folder impossible.
    WriteAll(home + "/Documents", "not a folder");
    StartProgram();
    ASSERT_EQ(dialogs->asked.size(), 1u);
    EXPECT_TRUE(dialogs->asked[0].text.contains("Cannot create the data folder"));
    EXPECT_TRUE(app->DataFolder.isEmpty());
    app->EditList->append("/x.mp3");
    EXPECT_TRUE(frmMain->close());
    EXPECT_FALSE(QFile::exists(home + "/Documents/Narrabel/Narrabel.edt"));
}

TEST_F(ShellTest, LeftoversOfAnInterruptedRunAreClearedAtStartAndReportedOnce) {
    QDir().mkpath(dataFolder());
    // A compaction's copy and a tree file's replacement that a kill left behind.
    WriteAll(dataFolder() + "!.tmp", "half a copy");
    WriteAll(dataFolder() + "Narrabel.tv.AbC123", "Author\r\n");
    WriteAll(dataFolder() + "Narrabel.tv.notes", "the user's own"); // not of our naming
    StartProgram();
    EXPECT_FALSE(QFile::exists(dataFolder() + "!.tmp"));
    EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.tv.AbC123"));
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.tv.notes"));
    EXPECT_EQ(frmMain->findChild<QLabel*>("sbFile")->text(),
              "Recovered after an interruption: 2 leftover temporary files were removed.");
    EXPECT_TRUE(dialogs->asked.empty());
    CloseProgram();
    StartProgram();
    EXPECT_EQ(frmMain->findChild<QLabel*>("sbFile")->text(), "");
}

TEST_F(ShellTest, ResumeButtonFollowsTheResumeFile) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.rsm", "/a.mp3\r\n5000\r\n");
    StartProgram();
    EXPECT_TRUE(frmMain->cmdResume->isEnabled());
}

TEST_F(ShellTest, RecentFilesLoadWithAnyLineEnd) {
    const QByteArray files[] = {"/a.mp3\r\n/b.mp3\r\n", "/a.mp3\n/b.mp3\n", "/a.mp3\r/b.mp3"};
    for (const QByteArray& content : files) {
        QDir().mkpath(dataFolder());
        WriteAll(dataFolder() + "Narrabel.hst", content);
        StartProgram();
        ASSERT_EQ(frmMain->cmbFile->count(), 2) << content.toStdString();
        EXPECT_EQ(frmMain->cmbFile->itemText(0), "/a.mp3");
        EXPECT_EQ(frmMain->cmbFile->itemText(1), "/b.mp3");
        EXPECT_EQ(frmMain->cmbFile->currentText(), "");
        CloseProgram();
    }
}

TEST_F(ShellTest, AutolistSurvivesCloseAndRestart) {
    QDir().mkpath(dataFolder());
    WriteAll(dataFolder() + "Narrabel.edt", "/one.mp3\n/two.mp3\n");
    StartProgram();
    EXPECT_EQ(*app->EditList, QStringList({"/one.mp3", "/two.mp3"}));
    app->EditList->append("/three.mp3");
    CloseProgram();
    EXPECT_EQ(ReadAll(dataFolder() + "Narrabel.edt"),
              QByteArray("/one.mp3\r\n/two.mp3\r\n/three.mp3\r\n"));
    StartProgram();
    EXPECT_EQ(app->EditList->size(), 3);
}

TEST_F(ShellTest, CloseDuringTreeWorkAnsweredNoSavesNothing) {
    StartProgram();
    app->EditList->append("/x.mp3");
    frmMain->setWindowTitle("Narrabel - Building tree view...");
    dialogs->AnswerConfirm(false);
    EXPECT_FALSE(frmMain->close());
    EXPECT_EQ(dialogs->TextsOf("confirm"),
              QStringList({"The tree view will be incomplete if you exit now; quit anyway and "
                           "repair next time?"}));
    EXPECT_FALSE(app->Closing);
    EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.edt"));
    // The second close, answered Yes, goes through and saves.
    dialogs->AnswerConfirm(true);
    EXPECT_TRUE(frmMain->close());
    EXPECT_TRUE(app->Closing);
    EXPECT_TRUE(QFile::exists(dataFolder() + "Narrabel.edt"));
}

TEST_F(ShellTest, CloseWithoutTreeWorkAsksNothing) {
    StartProgram();
    frmMain->setWindowTitle("Narrabel - Compacting bookmarks...");
    EXPECT_TRUE(frmMain->close());
    EXPECT_TRUE(dialogs->asked.empty());
}

TEST_F(ShellTest, CommandLineIsReadLeniently) {
    struct Case {
        QStringList args;
        QString file;
        int32_t seek;
        int32_t seconds;
    };
    const Case cases[] = {
        {{}, "", 0, 0},
        {{"/no/such.mp3", "abc"}, "/no/such.mp3", 0, 0},
        {{"/f.mp3", "1.5", "20"}, "/f.mp3", 15, 20},
        {{"/f.mp3", "-900", "x3"}, "/f.mp3", -900, 3},
        // Only the low 32 bits of the parsed number are kept.
        {{"/f.mp3", "4294967297"}, "/f.mp3", 1, 0},
    };
    for (const auto& c : cases) {
        StartProgram(c.args, false);
        EXPECT_EQ(session->ParamRec.MediaFile, c.file);
        EXPECT_EQ(session->ParamRec.SeekPoint, c.seek) << c.args.join(' ').toStdString();
        EXPECT_EQ(session->ParamRec.PlaySeconds, c.seconds);
        EXPECT_EQ(session->ExitCountdown, c.seconds);
        CloseProgram();
    }
}

TEST_F(ShellTest, MissingCommandLineFileIsIgnoredSilently) {
    StartProgram({"/no/such/file.mp3", "900"});
    EXPECT_TRUE(dialogs->asked.empty());
    EXPECT_EQ(frmMain->cmbFile->currentText(), "");
}

TEST_F(ShellTest, UncaughtErrorEndsTheCommandInOneMessageBox) {
    StartProgram();
    auto* thrower = new QPushButton("boom", frmMain);
    QObject::connect(thrower, &QPushButton::clicked,
                     [] { throw std::runtime_error("Disk on fire"); });
    thrower->show();
    QTest::mouseClick(thrower, Qt::LeftButton);
    EXPECT_EQ(dialogs->TextsOf("message"), QStringList({"Disk on fire"}));
    EXPECT_TRUE(frmMain->isVisible()); // the program goes on
}

TEST_F(ShellTest, AboutBoxShowsProductAndCommandLineHelp) {
    StartProgram();
    QTimer::singleShot(0, [this] {
        EXPECT_TRUE(frmAbout->isVisible());
        EXPECT_TRUE(frmAbout->isModal());
        QStringList texts;
        for (QLabel* l : frmAbout->findChildren<QLabel*>())
            texts << l->text();
        for (const char* t : {"Narrabel", "audio book reader and (skinless!) MP3 player",
                              "Optional command-line parameters (to create sound bite shortcuts)",
                              "p1 - /path/to/file.mp3", "p2 - start position in milliseconds",
                              "p3 - exit after playing for p3 seconds"})
            EXPECT_TRUE(texts.contains(t)) << t;
        frmAbout->accept();
    });
    QTest::mouseClick(frmMain->cmdAbout, Qt::LeftButton);
    EXPECT_FALSE(frmAbout->isVisible());
}

TEST_F(ShellTest, AfterASignalOrAKillTheNextStartResumesWhereListeningStood) {
    const QString book = Book("long.mp3");
    struct Case {
        const char* what;
        std::vector<int> sent;
    };
    const Case cases[] = {
        {"SIGTERM, as a logout sends", {SIGTERM}},
        {"SIGHUP", {SIGHUP}},
        {"SIGINT twice, the second while the first is saving", {SIGINT, SIGINT}},
        {"SIGKILL", {SIGKILL}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool killed = c.sent.front() == SIGKILL;
        QDir(dataFolder()).removeRecursively();
        QProcess process;
        StartReal(process, {book, "20000"});
        // Where listening starts is on disk at once, and then every few
        // seconds: a kill waits for one of those.
        std::optional<TPlaces::TPlace> last;
        ASSERT_TRUE(WaitFor(
            [&] {
                last = Logged();
                return last && last->Path == book && last->Position >= (killed ? 22000 : 20000);
            },
            20000));
        for (const int sig : c.sent)
            ::kill(pid_t(process.processId()), sig);
        ASSERT_TRUE(Ends(process));
        const QString said = QString::fromLocal8Bit(process.readAllStandardError());
        int32_t resumeAt = 0;
        if (killed) {
            last = Logged(); // the last place before the kill
            ASSERT_TRUE(last);
            resumeAt = TListeningSession::ResumePositionFor(last->Position);
        } else {
            // An end without a question or a message, every state file saved.
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), 0) << said.toStdString();
            EXPECT_FALSE(said.contains("narrabel:")) << said.toStdString();
            EXPECT_FALSE(QFile::exists(dataFolder() + "Narrabel.places-log"));
            EXPECT_FALSE(QFile::exists(dataFolder() + TAppState::LockFileName()));
            for (const char* file :
                 {"Narrabel.nbh", "Narrabel.edt", "Narrabel.tvs", "Narrabel.ini", "Narrabel.opt"})
                EXPECT_TRUE(QFile::exists(dataFolder() + file)) << file;
            TPlaces places(dataFolder() + "Narrabel.places");
            places.Load();
            const auto place = places.Find(book);
            ASSERT_TRUE(place);
            EXPECT_GE(place->Position, last->Position); // where listening stood at the end
            resumeAt = TListeningSession::ResumePositionFor(place->Position);
        }
        // The next start (the killed run's lock is no obstacle): Resume goes there.
        StartProgram();
        ASSERT_FALSE(program->Refused());
        ASSERT_TRUE(frmMain->cmdResume->isEnabled());
        TSuperStringList rsm;
        ASSERT_TRUE(rsm.LoadFromFile(dataFolder() + "Narrabel.rsm"));
        EXPECT_EQ(rsm.value(0), book);
        EXPECT_NEAR(rsm.value(1).toInt(), resumeAt, killed ? 0 : 300);
        frmMain->cmdResumeClick();
        ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
        EXPECT_EQ(mp->FileName(), book);
        EXPECT_NEAR(mp->Position(), resumeAt, 1000);
        EXPECT_TRUE(dialogs->asked.empty());
        session->PlayedSinceMark = false; // the resume question is not the subject
        CloseProgram();
    }
}

TEST_F(ShellTest, ASecondStartHandsItsFileToTheRunningProgramOrIsKeptOut) {
    const QString a = Book("a.mp3"), b = Book("b.mp3");
    StartProgram({a, "0"});
    ASSERT_TRUE(WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    // A name relative to where the second start runs, a seek point and no seconds.
    QProcess second;
    StartReal(second, {"b.mp3", "5000"}, home + "/book");
    ASSERT_TRUE(Ends(second));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitFor([&] {
        return mp->FileName() == b && mp->Mode() == TMediaPlayer::mpPlaying &&
               mp->Position() >= 5000;
    }));
    EXPECT_EQ(frmMain->cmbFile->currentText(), b);
    EXPECT_LT(mp->Position(), 7000);
    EXPECT_TRUE(dialogs->asked.empty());

    // A sound bite handed over plays and pauses at its end: this program was
    // not started for it. Like any sound bite it leaves no place.
    const QString c = Book("c.mp3");
    QProcess bite;
    StartReal(bite, {c, "1000", "2"});
    ASSERT_TRUE(Ends(bite));
    EXPECT_EQ(bite.exitCode(), 0);
    ASSERT_TRUE(WaitFor([&] { return mp->FileName() == c; }));
    ASSERT_TRUE(WaitFor([this] { return frmMain->StatusText(0) == "Paused"; }, 10000));
    EXPECT_GT(mp->Position(), 1000); // it played
    EXPECT_FALSE(app->Closing);
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel");
    EXPECT_FALSE(session->Places.Find(c));
    EXPECT_TRUE(session->Places.Find(b));

    // With no way to hand over (another runtime folder, say), the data
    // folder's lock keeps a second program from writing there: it says so
    // and shows no window.
    const QStringList before = DataFiles();
    {
        TProgram other({a});
        EXPECT_TRUE(other.Refused());
        EXPECT_FALSE(other.Main->isVisible());
        ASSERT_EQ(dialogs->TextsOf("message").size(), 1);
        EXPECT_TRUE(dialogs->TextsOf("message")[0].startsWith("Narrabel is already running"))
            << dialogs->TextsOf("message")[0].toStdString();
        EXPECT_TRUE(dialogs->TextsOf("message")[0].contains(QDir::cleanPath(dataFolder())));
    }
    EXPECT_EQ(DataFiles(), before);
    EXPECT_EQ(mp->FileName(), c); // the first runs on

    // Closed, it lets the next start have the folder.
    session->PlayedSinceMark = false;
    CloseProgram();
    StartProgram();
    EXPECT_FALSE(program->Refused());
}

TEST_F(ShellTest, ADataFolderThatCannotBeWrittenIsSaidOnceAndTheCloseSaysNoMore) {
    // Its name holds "tree": that is no tree operation under way at the close.
    QDir().mkpath(home + "/.config");
    WriteAll(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Oak tree\"\n");
    const QString folder = home + "/Oak tree/Narrabel";
    ASSERT_TRUE(QDir().mkpath(folder));
    // Read-only as the file manager shows it, for root too.
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const QString a = Book("a.mp3");
    StartProgram();
    ASSERT_EQ(app->DataFolder, folder + "/");
    const QString said = "Bookmarks and your place cannot be saved: " + folder + " is read-only.";
    EXPECT_EQ(frmMain->findChild<QLabel*>("sbFile")->text(), said);
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - " + said);
    // A file played (as the command line plays one) for long enough to be asked about.
    session->SetFileText(a);
    ASSERT_TRUE(session->OpenCurrentFile());
    session->PlayFrom(0);
    ASSERT_TRUE(WaitFor([this] { return mp->Position() > 500; }));
    EXPECT_EQ(frmMain->windowTitle(), "Narrabel - " + said);
    // No resume question (it could not be saved), no tree question, no
    // list of the files that could not be written.
    EXPECT_TRUE(frmMain->close());
    EXPECT_TRUE(dialogs->asked.empty()) << dialogs->Texts().join('|').toStdString();
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

} // namespace
