#include "support/guitestsupport.h"

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "playback/bmhistory.h"
#include "playback/mediaplayer.h"
#include "playback/session.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <memory>

QStringList ScriptedDialogs::Texts() const {
    QStringList out;
    for (const auto& q : asked)
        out << q.text;
    return out;
}

QStringList ScriptedDialogs::TextsOf(const QString& kind) const {
    QStringList out;
    for (const auto& q : asked)
        if (q.kind == kind) out << q.text;
    return out;
}

ScriptedDialogs::Answer ScriptedDialogs::next(Answer::Kind kind, const char* what,
                                              const QString& text) {
    if (answers.empty() || answers.front().kind != kind) {
        ADD_FAILURE() << "unexpected " << what << " dialog: " << text.toStdString();
        return {kind, false, false, {}};
    }
    Answer a = std::move(answers.front());
    answers.pop_front();
    return a;
}

void ScriptedDialogs::Message(const QString& title, const QString& text) {
    asked.push_back({QStringLiteral("message"), title, text});
}

bool ScriptedDialogs::Confirm(const QString& title, const QString& text) {
    asked.push_back({QStringLiteral("confirm"), title, text});
    return next(Answer::Yes, "confirm", text).yes;
}

std::optional<QString> ScriptedDialogs::Input(const QString& title, const QString& prompt,
                                              const QString& initial) {
    asked.push_back({QStringLiteral("input"), title, prompt});
    lastFolder = initial;
    return next(Answer::Text, "input", prompt).reply();
}

std::optional<QString> ScriptedDialogs::OpenFile(const QString& title, const QString& folder,
                                                 const QString& filter, int filterIndex) {
    asked.push_back({QStringLiteral("open"), title, filter});
    lastFolder = folder;
    lastFilter = filter;
    lastFilterIndex = filterIndex;
    return next(Answer::Text, "open", title).reply();
}

std::optional<QString> ScriptedDialogs::ChooseFolder(const QString& title, const QString& folder) {
    asked.push_back({QStringLiteral("folder"), title, folder});
    lastFolder = folder;
    return next(Answer::Text, "folder", title).reply();
}

std::optional<QString> ScriptedDialogs::ChooseFont(const QString& initial, int maxPointSize) {
    QFont start;
    start.fromString(initial);
    asked.push_back({QStringLiteral("font"), start.family(), QString::number(maxPointSize)});
    return next(Answer::Font, "font", start.family()).reply();
}

void EnsureApplication() {
    static NarrabelApplication* app = nullptr;
    if (!app) {
        testsupport::IsolatedHome();
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char arg0[] = "narrabel-test";
        static char* argv[] = {arg0, nullptr};
        app = new NarrabelApplication(argc, argv);
    }
}

void WindowsTest::SetUp() {
    EnsureApplication();
    homeDir = testsupport::MakeTempDir();
    home = homeDir->path();
    const QByteArray h = home.toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    dialogs = new ScriptedDialogs();
}

void WindowsTest::TearDown() {
    CloseProgram();
    delete dialogs;
    dialogs = nullptr;
    homeDir.reset();
}

void WindowsTest::StartProgram(const QStringList& args, bool show) {
    // A program still running goes first: it holds the data folder.
    program.reset();
    program = std::make_unique<TProgram>(args);
    app = &program->App;
    tree = &program->Tree;
    bookmarks = &program->Bookmarks;
    session = &program->Session;
    mp = &program->Player;
    editor = &program->Editor;
    renamer = &program->Renamer;
    frmMain = program->Main;
    frmBM = program->BM;
    frmEdit = program->Edit;
    frmImport = program->Import;
    frmMissing = program->Missing;
    frmAbout = program->About;
    frmDebug = program->Debug;
    frmFill = program->Fill;
    frmOptions = program->Options;
    frmRename = program->Rename;
    frmPreview = program->Preview;
    if (show) {
        frmMain->show();
        WaitFor([this] { return frmMain->Activated; });
    }
}

void WindowsTest::CloseProgram() {
    if (!program) return;
    if (!app->Closing) frmMain->close();
    program.reset();
    app = nullptr;
    tree = nullptr;
    bookmarks = nullptr;
    session = nullptr;
    mp = nullptr;
    editor = nullptr;
    renamer = nullptr;
    frmMain = nullptr;
    frmBM = nullptr;
    frmEdit = nullptr;
    frmImport = nullptr;
    frmMissing = nullptr;
    frmAbout = nullptr;
    frmDebug = nullptr;
    frmFill = nullptr;
    frmOptions = nullptr;
    frmRename = nullptr;
    frmPreview = nullptr;
    QCoreApplication::processEvents();
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

bool WindowsTest::WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    return ::WaitFor(cond, timeoutMs);
}

void WindowsTest::WhenShown(QWidget* window, std::function<void()> action, int timeoutMs) {
    auto* timer = new QTimer();
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [timer, window, action, deadline] {
        if (window->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action();
        } else if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "window never shown: " << window->objectName().toStdString();
        }
    });
    timer->start(10);
}

QString WindowsTest::dataFolder() const {
    return home + QStringLiteral("/Documents/Narrabel/");
}

void WindowsTest::BrowseAndMark(const QStringList& files) {
    for (const QString& f : files) {
        dialogs->AnswerFile(f);
        frmMain->cmdBrowseClick();
    }
    ASSERT_TRUE(
        WaitFor([this] { return mp->Mode() == TMediaPlayer::mpPlaying && mp->Position() > 1500; }));
    bookmarks->SaveNewBookmark(files.last(), mp->Position(), "mark");
    session->SaveResumePoint();
}

void WindowsTest::ExpectPathFollowed(const QString& was, const QString& now) {
    TfrmMain* w = frmMain;
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->cmbFile->currentText(), now);
    EXPECT_EQ(mp->FileName(), now);
    EXPECT_EQ(w->StatusText(2), ExtractFileName(now));
    QStringList rows;
    for (int i = 0; i < w->cmbFile->count(); ++i)
        rows << w->cmbFile->itemText(i);
    EXPECT_TRUE(rows.contains(now) && !rows.contains(was)) << rows.join('\n').toStdString();
    TSuperStringList hst;
    EXPECT_TRUE(hst.LoadFromFile(dataFolder() + "Narrabel.hst"));
    EXPECT_EQ(QStringList(hst), rows);
    QStringList visited;
    for (const QString& line : session->History->Entries)
        visited << TBMHistory::EntryPath(line);
    EXPECT_TRUE(visited.contains(now) && !visited.contains(was))
        << visited.join('\n').toStdString();
    TSuperStringList nbh;
    EXPECT_TRUE(nbh.LoadFromFile(dataFolder() + "Narrabel.nbh"));
    EXPECT_EQ(QStringList(nbh), session->History->Entries);
    TSuperStringList rsm;
    EXPECT_TRUE(rsm.LoadFromFile(dataFolder() + "Narrabel.rsm"));
    EXPECT_EQ(rsm.value(0), now);
    QTreeWidgetItem* node = w->tv->currentItem();
    ASSERT_TRUE(node && node->isSelected() && TfrmMain::IsBookmarkNode(node));
    EXPECT_EQ(w->BookmarkFromNode(node).Rec.FilePath, now);
}
