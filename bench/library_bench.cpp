// Times the bookmark windows at library scale, offscreen, in a scratch HOME:
//   import 10,000 tagged files into a store that holds 10,000 bookmarks (< 1 s)
//   rebuild the tree from 100,000 records over 10,000 files (< 15 s)
//   load a 100,000-node tree file at start (< 2 s); Browse and Go on it (< 100 ms)
// Usage: library_bench [files=10000] [records=100000]

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "bookmarks/bookmark.h"
#include "bookmarks/tfrmimport.h"
#include "bookmarks/treefile.h"
#include "util/dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Answers every question with No and every file dialog with a fixed file.
class BenchDialogs : public Dialogs {
public:
    QString nextFile;
    void Message(const QString&, const QString& t) override {
        std::printf("  (message: %s)\n", qPrintable(t));
    }
    bool Confirm(const QString&, const QString&) override { return false; }
    std::optional<QString> Input(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> OpenFile(const QString&, const QString&, const QString&, int) override {
        return nextFile;
    }
    std::optional<QString> ChooseFolder(const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseFont(const QString&, int) override { return std::nullopt; }
};

QByteArray syncsafe(uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (21 - 7 * i)) & 0x7F);
    return b;
}

QByteArray textFrame(const char* id, const QByteArray& text) {
    QByteArray body = QByteArray(1, '\0') + text;
    QByteArray size(4, '\0');
    for (int i = 0; i < 4; ++i)
        size[i] = char((body.size() >> (24 - 8 * i)) & 0xFF);
    return QByteArray(id) + size + QByteArray(2, '\0') + body;
}

void makeTaggedMp3(const QString& path, int author, int book, int part) {
    QByteArray frames = textFrame("TPE1", "Author " + QByteArray::number(author)) +
                        textFrame("TALB", "Book " + QByteArray::number(book)) +
                        textFrame("TRCK", QByteArray::number(part)) +
                        textFrame("TIT2", "Part " + QByteArray::number(part));
    QByteArray audio(417, '\0');
    audio[0] = char(0xFF);
    audio[1] = char(0xFB);
    audio[2] = char(0x90);
    audio[3] = char(0x64);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    // Enough frames for the player to recognise the file as MP3.
    f.write(QByteArray("ID3\x03\x00\x00", 6) + syncsafe(uint32_t(frames.size())) + frames +
            audio.repeated(12));
}

QStringList makeLibrary(const QString& root, int files, int offset) {
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        const int author = (i + offset) / 100, book = (i + offset) / 10;
        const QString dir = QStringLiteral("%1/author%2/book%3").arg(root).arg(author).arg(book);
        QDir().mkpath(dir);
        const QString path = QStringLiteral("%1/part%2.mp3").arg(dir).arg(i % 10);
        makeTaggedMp3(path, author, book, i % 10);
        paths << path;
    }
    return paths;
}

void fillStore(const QString& store, const QStringList& paths, int records) {
    TWriteContext ctx;
    for (int i = 0; i < records; ++i) {
        TBookmark bm;
        bm.Rec.FilePath = paths[i % paths.size()];
        bm.Rec.Position = 1000 * i;
        bm.Rec.Description = QStringLiteral("mark %1").arg(i);
        WriteBookmark(bm, store, ctx);
    }
}

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

void report(const char* what, double secs, double target) {
    std::printf("%-58s %9.3f s  (target %.3g s) %s\n", what, secs, target,
                secs <= target ? "ok" : "SLOW");
    std::fflush(stdout);
}

} // namespace

int run(int argc, char** argv);

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "library_bench: %s\n", e.what());
        return 1;
    }
}

int run(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int records = argc > 2 ? std::atoi(argv[2]) : 100000;
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/narrabel-bench-XXXXXX"));
    setenv("HOME", home.path().toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    NarrabelApplication app(argc, argv);
    BenchDialogs dialogs;
    InstallDialogs(&dialogs);
    const QString data = home.path() + QStringLiteral("/Documents/Narrabel/");
    QDir().mkpath(data);
    const QString store = data + QStringLiteral("Narrabel.nbm");

    std::printf("library: %d files, %d records\n", files, records);
    const QStringList known = makeLibrary(home.path() + "/known", files, 0);
    const QStringList fresh = makeLibrary(home.path() + "/fresh", files, files);

    // 1. Import a folder of new files into a store that already holds bookmarks.
    fillStore(store, known, files);
    DropBookmarkIndexes();
    auto program = std::make_unique<TProgram>(QStringList());
    program->Main->show();
    while (!program->Main->Activated)
        app.processEvents();
    QElapsedTimer t;
    t.start();
    program->Main->mnuImportClick();
    program->Import->SelectFolder(home.path() + "/fresh");
    program->Import->cmdOkClick();
    report(qPrintable(QStringLiteral("import %1 new files (store of %2)").arg(files).arg(files)),
           seconds(t), 1);
    std::printf("  %s, %s\n", qPrintable(program->Import->lblFiles->text()),
                qPrintable(program->Import->lblNew->text()));
    program->App.Closing = true;
    program.reset();

    // 2. Rebuild from a large store without a tree file.
    QFile::remove(store);
    QFile::remove(data + TreeFileName());
    DropBookmarkIndexes();
    fillStore(store, known, records);
    DropBookmarkIndexes();
    t.start();
    program = std::make_unique<TProgram>(QStringList());
    program->Main->show();
    while (!program->Main->Activated)
        app.processEvents();
    report(
        qPrintable(
            QStringLiteral("rebuild tree from %1 records over %2 files").arg(records).arg(files)),
        seconds(t), 15);
    std::printf("  %d authors\n", program->Main->tv->topLevelItemCount());
    program->Main->close();
    program.reset();

    // 3. Start with that tree file (100,000 nodes plus authors).
    DropBookmarkIndexes();
    t.start();
    program = std::make_unique<TProgram>(QStringList());
    TfrmMain* frmMain = program->Main;
    TBookmarkCommands& bookmarks = program->Bookmarks;
    TListeningSession& session = program->Session;
    frmMain->show();
    while (!frmMain->Activated)
        app.processEvents();
    report("start with the saved tree file", seconds(t), 2);

    // Browse to a file that has bookmarks: the tree scan and the jump.
    dialogs.nextFile = known[files / 2];
    t.start();
    frmMain->cmdBrowseClick();
    report("Browse to a bookmarked file", seconds(t), 0.1);
    // The parts of that Browse, on another bookmarked file.
    {
        const QString path = known[files / 3];
        session.SetFileText(path);
        t.start();
        const QString found = bookmarks.FindOrAddStartBookmark(path);
        report("  finding its bookmark", seconds(t), 0.1);
        t.start();
        bookmarks.SelectNodeByText(found);
        report("  selecting its node", seconds(t), 0.1);
        t.start();
        session.GoToSelectedBookmark();
        report("  going to it (open and play)", seconds(t), 0.1);
    }
    // Browse to a file without bookmarks: a start bookmark is stored and shown.
    dialogs.nextFile = fresh[0];
    t.start();
    frmMain->cmdBrowseClick();
    report("Browse to a new file (start bookmark)", seconds(t), 0.1);
    // Go on a bookmark and on an author.
    QTreeWidgetItem* node =
        frmMain->tv->topLevelItem(frmMain->tv->topLevelItemCount() / 2)->child(0);
    frmMain->tv->setCurrentItem(node);
    t.start();
    session.GoToSelectedBookmark();
    report("Go on a bookmark", seconds(t), 0.1);
    frmMain->tv->setCurrentItem(node->parent());
    t.start();
    session.GoToSelectedBookmark();
    report("Go on an author (latest bookmark)", seconds(t), 0.1);
    program->App.Closing = true;
    program.reset();
    return 0;
}
