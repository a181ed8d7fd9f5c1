// What keeping every write safe from a kill or a power cut costs: creating one
// bookmark, deleting one, saving a tag in place (the same size, and growing and
// shrinking back by a block), saving a tag that moves the audio of a 64 MiB file,
// and importing 10,000 files into an empty store. Files go under $TMPDIR or /tmp:
// the syncs cost what that disk makes them cost.
//
// The source builds against older trees too (without store commands), so that
// one run of each gives the costs before and after side by side.
#include "bookmarks/bookmark.h"
#include "tags/id3v2/id3v2.h"

#if __has_include("bookmarks/storejournal.h")
#include "bookmarks/storejournal.h"
#define NARRABEL_STORE_COMMANDS 1
#endif

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <optional>

namespace {

const QDateTime kNow(QDate(2024, 3, 15), QTime(9, 30, 12));

QString TempRoot() {
    return QDir::tempPath() + "/narrabel-bench-XXXXXX";
}

bool Add(const QString& store, const QString& file, int32_t position) {
    TBookmark bm;
    bm.Rec.FilePath = file;
    bm.Rec.Position = position;
    TWriteContext ctx;
    ctx.Now = kNow;
    ctx.Tag.Album = QStringLiteral("A Long Book Title");
    ctx.Tag.Track = QStringLiteral("03");
    ctx.Tag.Title = QStringLiteral("Chapter");
    return WriteBookmark(bm, store, ctx);
}

QString FileOf(int i) {
    return QString("/library/Author %1/Book %2/part %3.mp3").arg(i % 100).arg(i / 100).arg(i % 7);
}

// A store of 1,000 records.
struct Store {
    QTemporaryDir dir{TempRoot()};
    QString path = dir.path() + "/Narrabel.nbm";
    Store() {
#ifdef NARRABEL_STORE_COMMANDS
        TStoreCommand command(path);
#endif
        for (int i = 0; i < 1000; ++i)
            Add(path, FileOf(i), i * 1000);
    }
};

void BM_CreateOneBookmark(benchmark::State& state) {
    Store s;
    int i = 0;
    for (auto _ : state)
        if (!Add(s.path, FileOf(i++), 1)) state.SkipWithError("write failed");
}
BENCHMARK(BM_CreateOneBookmark)->Unit(benchmark::kMicrosecond)->Iterations(300);

void BM_DeleteOneBookmark(benchmark::State& state) {
    Store s;
    int n = 1;
    for (auto _ : state) {
        TBookmark bm(s.path, n++);
        if (!MarkDeleted(bm, s.path, kNow)) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_DeleteOneBookmark)->Unit(benchmark::kMicrosecond)->Iterations(300);

void BM_Import10000Files(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto dir = std::make_unique<QTemporaryDir>(TempRoot());
        const QString store = dir->path() + "/Narrabel.nbm";
        state.ResumeTiming();
        {
#ifdef NARRABEL_STORE_COMMANDS
            TStoreCommand import(store); // as the import window opens one
#endif
            for (int i = 0; i < 10000; ++i)
                if (!Add(store, FileOf(i), 1)) state.SkipWithError("write failed");
        }
        state.PauseTiming();
        dir.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Import10000Files)->Unit(benchmark::kMillisecond)->Iterations(5);

// A tagged file of audioBytes whose tag was saved once (its length a multiple
// of 4096, so a growth by whole blocks is inserted in place).
struct TaggedFile {
    QTemporaryDir dir{TempRoot()};
    QString path = dir.path() + "/book.mp3";
    explicit TaggedFile(int audioBytes) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(audioBytes, '\x55'));
        f.close();
        Save(QStringLiteral("title A"), false);
    }
    // Sets the title and saves.
    bool Save(const QString& title, bool forceMove) const {
        Tid3v2tag tag;
        tag.LoadFromFile(path, 0);
        tag.Seams.ForceMove = forceMove;
        tag.SetTextFrame(QStringLiteral("TIT2"), title);
        return tag.SaveToFile(QStringLiteral("="), 255, 255, -1) < 256;
    }
};

// The tag keeps its size: rewritten where it is.
void BM_SaveTagInPlace(benchmark::State& state) {
    TaggedFile f(4 << 20);
    bool b = false;
    for (auto _ : state)
        if (!f.Save((b = !b) ? QStringLiteral("title B") : QStringLiteral("title A"), false))
            state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveTagInPlace)->Unit(benchmark::kMicrosecond)->Iterations(200);

// The tag grows by two blocks and shrinks back: space inserted and removed in
// front of the audio (two saves per iteration).
void BM_SaveTagGrowAndShrinkInPlace(benchmark::State& state) {
    TaggedFile f(4 << 20);
    const QString longTitle(6000, 'x');
    for (auto _ : state)
        if (!f.Save(longTitle, false) || !f.Save(QStringLiteral("title A"), false))
            state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveTagGrowAndShrinkInPlace)->Unit(benchmark::kMicrosecond)->Iterations(100);

// The tag grows where the space cannot be inserted: the audio of 64 MiB moves.
void BM_SaveTagMovingTheAudio64MiB(benchmark::State& state) {
    TaggedFile f(64 << 20);
    const QString longTitle(6000, 'x');
    bool grow = false;
    for (auto _ : state)
        if (!f.Save((grow = !grow) ? longTitle : QStringLiteral("title A"), true))
            state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveTagMovingTheAudio64MiB)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
