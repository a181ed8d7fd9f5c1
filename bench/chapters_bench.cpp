// Chapters at book scale, run as the tests run (scripts/with-test-sink.sh):
//   chapters_bench [--benchmark_filter=...]
// - reading the chapters of a 3-hour M4B with 100 chapters, the file in the
//   page cache (target under 5 ms): silence at 8 kHz, as small and quick to
//   make as such a book gets, and at 44.1 kHz, as books are sold;
// - a list of 5,000 chapters shown beside the tree while a 3-hour book plays:
//   one timer tick of the main window (the session's tick and the repaint it
//   causes), each landing in another chapter far from the one before
//   (target: no tick over 16 ms; the counter max_ms is the slowest,
//   over_16ms counts the ticks over the target). Every thirtieth tick also
//   writes the places file, as the window's ticks do.
// The books are made once with ffmpeg in a scratch folder.

#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/chapters.h"
#include "playback/session.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <random>

namespace {

QTemporaryDir* scratch = nullptr;

// A 3-hour silent M4B (AAC) with `chapters` chapters, made once per rate.
QString Book(int chapters, int rate) {
    const QString path =
        scratch->filePath(QStringLiteral("book-%1-%2.m4b").arg(chapters).arg(rate));
    if (QFile::exists(path)) return path;
    const int64_t total = 3 * 3600 * 1000;
    QByteArray meta = ";FFMETADATA1\ntitle=Three Hours\n";
    for (int i = 0; i < chapters; ++i)
        meta += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=Chapter %3 of "
                               "the book, with a title of a usual length\n")
                    .arg(total * i / chapters)
                    .arg(total * (i + 1) / chapters)
                    .arg(i + 1)
                    .toUtf8();
    QFile m(path + QStringLiteral(".txt"));
    m.open(QIODevice::WriteOnly);
    m.write(meta);
    m.close();
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {"-v",
                                       "error",
                                       "-nostdin",
                                       "-y",
                                       "-f",
                                       "lavfi",
                                       "-t",
                                       "10800",
                                       "-i",
                                       QStringLiteral("anullsrc=r=%1:cl=mono").arg(rate),
                                       "-i",
                                       m.fileName(),
                                       "-map",
                                       "0",
                                       "-map_chapters",
                                       "1",
                                       "-c:a",
                                       "aac",
                                       "-b:a",
                                       "16k",
                                       path});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
        std::exit(1);
    }
    return path;
}

void BM_ReadChaptersOfA3HourBook(benchmark::State& state) {
    const QString path = Book(100, int(state.range(0)));
    // In the page cache.
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    f.readAll();
    for (auto _ : state) {
        const TChapterList list = ReadChapters(path, 0);
        if (list.size() != 100) state.SkipWithError("not 100 chapters");
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["bytes"] = double(QFileInfo(path).size());
}
BENCHMARK(BM_ReadChaptersOfA3HourBook)->Arg(8000)->Arg(44100)->Unit(benchmark::kMillisecond);

bool Wait(const std::function<bool()>& cond, int ms) {
    QDeadlineTimer deadline(ms);
    while (!cond() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return cond();
}

void BM_TickWith5000Chapters(benchmark::State& state) {
    const QString path = Book(5000, 8000);
    // No dialogs installed: the silent ones say No to every question.
    auto program = std::make_unique<TProgram>(QStringList{path, QStringLiteral("0")});
    TfrmMain* w = program->Main;
    TListeningSession& s = program->Session;
    w->show();
    if (!Wait([&] { return s.mp->Mode() == TPlayerDevice::mpPlaying; }, 20000) ||
        !Wait([&] { return w->lvChapters->model()->rowCount() == 5000; }, 20000)) {
        state.SkipWithError("the book does not play");
        return;
    }
    s.tmr->stop(); // the ticks come from here
    std::mt19937 random(26);
    double worst = 0, total = 0;
    int ticks = 0, moved = 0, over = 0;
    for (auto _ : state) {
        // Somewhere else in the book, as after a jump, then a second later.
        const int chapter = int(random() % 5000);
        s.SeekInFile(s.Chapters.Rows()[chapter].Start + 500);
        QCoreApplication::processEvents();
        const int before = s.Chapters.Current();
        s.SeekInFile(s.Chapters.Rows()[(chapter + 2500) % 5000].Start + 900);
        QElapsedTimer clock;
        clock.start();
        s.Tick();
        // The repaint the tick asked for: list, bars, panels.
        QCoreApplication::processEvents();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        moved += s.Chapters.Current() != before;
        over += ms > 16;
        worst = std::max(worst, ms);
        total += ms;
        ++ticks;
    }
    state.counters["max_ms"] = worst;
    state.counters["mean_ms"] = ticks ? total / ticks : 0;
    state.counters["chapter_changed"] = moved;
    state.counters["over_16ms"] = over;
    s.PlayedSinceMark = false;
    w->close();
    program.reset();
}
BENCHMARK(BM_TickWith5000Chapters)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    NarrabelApplication app(argc, argv);
    QTemporaryDir dir;
    scratch = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
