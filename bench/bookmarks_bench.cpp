// Library-scale timings of the bookmark store, its index and the tree file:
// 100,000 records over 10,000 files, 100,000 tree nodes.

#include "bookmarks/bookmark.h"
#include "bookmarks/treefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRecords = 100000;
constexpr int kFiles = 10000;
constexpr int kAuthors = 1000;

QString FileOf(int i) {
    return QString("/library/Author %1/Book %2/part %3.mp3")
        .arg(i % kAuthors)
        .arg(i / kAuthors)
        .arg(i % 7);
}

// A store of kRecords records written directly (every tenth deleted).
QString MakeStore(QTemporaryDir& dir) {
    const QString path = dir.path() + "/Narrabel.nbm";
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray all;
    all.reserve(kRecords * TBookmarkRec::Size);
    for (int i = 1; i <= kRecords; ++i) {
        TBookmarkRec r;
        r.RecNo = i;
        r.FilePath = i % 10 == 0 ? QStringLiteral("*") : FileOf(i % kFiles);
        r.Stamp = QStringLiteral("20240101 10:00");
        r.Description = QString("Book %1 - 03 - Part (1/1/24 10:00:00) {09:36} [%2]")
                            .arg(i)
                            .arg(i, 8, 10, QChar('0'));
        r.Position = i * 1000;
        all.append(r.ToBytes());
    }
    f.write(all);
    return path;
}

void BM_StoreAppend(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Narrabel.nbm";
        TWriteContext ctx;
        for (int i = 0; i < state.range(0); ++i) {
            TBookmark bm;
            bm.Rec.FilePath = FileOf(i % kFiles);
            bm.Rec.Position = i;
            bm.Rec.Description = QStringLiteral("x");
            WriteBookmark(bm, path, ctx);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreAppend)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_StoreAppendIndexed(benchmark::State& state) {
    // The same with the index loaded, as the windows keep it.
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Narrabel.nbm";
        BookmarkIndex(path);
        TWriteContext ctx;
        for (int i = 0; i < state.range(0); ++i) {
            TBookmark bm;
            bm.Rec.FilePath = FileOf(i % kFiles);
            bm.Rec.Position = i;
            bm.Rec.Description = QStringLiteral("x");
            WriteBookmark(bm, path, ctx);
        }
        benchmark::DoNotOptimize(BookmarkIndex(path).Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreAppendIndexed)->Arg(kRecords)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_StoreScan(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = MakeStore(dir);
    for (auto _ : state) {
        int live = 0;
        ForEachRecord(path, [&](const TBookmarkRec& r) {
            live += !r.Deleted();
            return true;
        });
        benchmark::DoNotOptimize(live);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_StoreScan)->Unit(benchmark::kMillisecond);

void BM_IndexLoad(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = MakeStore(dir);
    for (auto _ : state) {
        DropBookmarkIndexes();
        benchmark::DoNotOptimize(BookmarkIndex(path).Count());
    }
}
BENCHMARK(BM_IndexLoad)->Unit(benchmark::kMillisecond);

void BM_FindBookmarksOfFile(benchmark::State& state) {
    // What FindOrAddStartBookmark needs per opened or imported file.
    QTemporaryDir dir;
    const QString path = MakeStore(dir);
    DropBookmarkIndexes();
    BookmarkIndex(path);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BookmarkIndex(path).LiveRecordsOf(FileOf(i++ % kFiles)).size());
    }
}
BENCHMARK(BM_FindBookmarksOfFile)->Unit(benchmark::kMicrosecond);

void BM_LatestChildRecord(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = MakeStore(dir);
    DropBookmarkIndexes();
    const TBookmarkIndex& idx = BookmarkIndex(path);
    QStringList children;
    for (int i = 1; i <= kRecords; i += kRecords / 100)
        children << idx.At(i)->Description;
    for (auto _ : state)
        benchmark::DoNotOptimize(idx.LatestChildRecord(children));
}
BENCHMARK(BM_LatestChildRecord)->Unit(benchmark::kMicrosecond);

void BM_Compact(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = MakeStore(dir);
        state.ResumeTiming();
        CompactStore(path, dir.path() + "/!.tmp");
    }
}
BENCHMARK(BM_Compact)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RepointMassRename(benchmark::State& state) {
    // A mass rename of state.range(0) files, each with about nine bookmarks,
    // repointed one file after another as the rename window does; the index
    // starts cold, as after a start-up that never looked a file up.
    const int files = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = MakeStore(dir);
        DropBookmarkIndexes();
        int changed = 0;
        state.ResumeTiming();
        for (int i = 0; i < files; ++i)
            changed += RepointBookmarks(path, FileOf(i), FileOf(i) + QStringLiteral(".renamed"),
                                        [] { return true; });
        state.PauseTiming();
        state.counters["records"] = changed;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_RepointMassRename)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

QVector<TTreeLine> MakeTree() {
    QVector<TTreeLine> nodes;
    nodes.reserve(kRecords + kAuthors);
    const int perAuthor = kRecords / kAuthors;
    for (int a = 0; a < kAuthors; ++a) {
        nodes.append({0, QString("Author %1").arg(a)});
        for (int b = 0; b < perAuthor; ++b) {
            const int n = a * perAuthor + b + 1;
            nodes.append({1, QString("Book %1 - 03 - Part (1/1/24 10:00:00) {09:36} [%2]")
                                 .arg(n)
                                 .arg(n, 8, 10, QChar('0'))});
        }
    }
    return nodes;
}

void BM_TreeFileLoad(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Narrabel.tv";
    SaveTreeFile(path, MakeTree());
    for (auto _ : state) {
        QVector<TTreeLine> nodes;
        LoadTreeFile(path, nodes);
        benchmark::DoNotOptimize(nodes.size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_TreeFileLoad)->Unit(benchmark::kMillisecond);

void BM_TreeFileSave(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Narrabel.tv";
    const QVector<TTreeLine> nodes = MakeTree();
    for (auto _ : state)
        SaveTreeFile(path, nodes);
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_TreeFileSave)->Unit(benchmark::kMillisecond);

void BM_NameMapApply(benchmark::State& state) {
    QStringList lines;
    for (int i = 0; i < 50; ++i)
        lines << QString("Author %1___Writer %1").arg(i);
    const TNameMap map(lines);
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(map.Apply(QString("Author %1").arg(i++ % kAuthors)));
}
BENCHMARK(BM_NameMapApply)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
