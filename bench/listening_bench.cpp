// Figures for listening through a book, printed as plain lines:
//   listening_bench [books=5]
// - the gap between the end of one file and the first sound of the next when
//   the listening session plays on (target under 300 ms): the silences in
//   what the sound server played, recorded from its monitor with parec;
// - saving the places file with 5,000 entries (target under 5 ms): the bytes
//   alone, and the whole replace (temporary file, sync, rename, folder sync).
// Runs in a scratch HOME; the sound goes to the default sink (a null sink in
// a test run).

#include "bookmarks/bookmarkcommands.h"
#include "bookmarks/bookmarktree.h"
#include "playback/mediaplayer.h"
#include "playback/places.h"
#include "playback/session.h"
#include "playerfixtures.h"
#include "util/appstate.h"
#include "util/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace playerfixtures;

namespace {

double Ms(qint64 ns) {
    return double(ns) / 1e6;
}

// Below this a sample counts as silence (about -44 dBFS).
constexpr int kSilence = 200;

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Report(const char* what, const std::vector<double>& ms, double target) {
    const double worst = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    std::printf("%-52s median %7.2f ms, worst %7.2f ms (%zu samples; target < %.0f ms) %s\n", what,
                Median(ms), worst, ms.size(), target, worst < target ? "ok" : "SLOW");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    const int books = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/narrabel-bench-XXXXXX"));
    setenv("HOME", home.path().toUtf8().constData(), 1);

    // A book of three 3-second files, the last one on a second disc.
    const QString wav = home.filePath(QStringLiteral("tone.wav"));
    const QString mp3 = home.filePath(QStringLiteral("tone.mp3"));
    if (!WriteWav(wav, 3.0) || !EncodeMp3(wav, mp3, Mp3Kind::Cbr64)) {
        std::fprintf(stderr, "cannot encode the test file\n");
        return 1;
    }
    const QString book = home.filePath(QStringLiteral("Book"));
    const QStringList files = {book + "/CD1/01.mp3", book + "/CD1/02.mp3", book + "/CD2/01.mp3"};
    for (const QString& f : files) {
        QDir().mkpath(QFileInfo(f).absolutePath());
        QFile::copy(mp3, f);
    }

    TAppState app;
    app.ResolveDataFolder();
    TBookmarkTree tree;
    TBookmarkCommands bookmarks(app, tree);
    TMediaPlayer player;
    TListeningSession session(app, tree, bookmarks, player);
    session.Start({});
    const bool verbose = qEnvironmentVariableIsSet("NARRABEL_BENCH_VERBOSE");

    // What the sound server plays is recorded from the default sink's monitor
    // (8 kHz, mono): a gap is a stretch of silence between the book's first
    // and last sound. The files hold a tone and then noise, never silence.
    std::vector<double> gaps;
    for (int b = 0; b < books; ++b) {
        QProcess rec;
        rec.start(QStringLiteral("parec"),
                  {QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                   QStringLiteral("--channels=1"), QStringLiteral("--rate=8000"),
                   QStringLiteral("--latency-msec=10"), QStringLiteral("-d"),
                   QStringLiteral("@DEFAULT_MONITOR@")});
        if (!rec.waitForStarted()) {
            std::fprintf(stderr, "parec (pulseaudio-utils) is needed for the gap figure\n");
            return 1;
        }
        Wait(300);
        session.SetFileText(files[0]);
        session.OpenCurrentFile();
        session.PlayFrom(0);
        while (session.StatusText(0) != QLatin1String("Stopped"))
            Wait(20);
        Wait(300);
        rec.terminate();
        rec.waitForFinished();
        const QByteArray raw = rec.readAllStandardOutput();
        const auto* sample = reinterpret_cast<const int16_t*>(raw.constData());
        const qsizetype n = raw.size() / 2;
        qsizetype first = -1, last = -1;
        for (qsizetype i = 0; i < n; ++i)
            if (std::abs(int(sample[i])) >= kSilence) {
                if (first < 0) first = i;
                last = i;
            }
        // The book's silences, longest first: one for each file it went on into.
        std::vector<double> silences;
        for (qsizetype i = first, run = 0; first >= 0 && i <= last; ++i) {
            if (std::abs(int(sample[i])) < kSilence) {
                ++run;
            } else {
                if (run > 0) silences.push_back(run * 1000.0 / 8000);
                run = 0;
            }
        }
        std::sort(silences.rbegin(), silences.rend());
        silences.resize(std::min<size_t>(silences.size(), files.size() - 1));
        while (silences.size() < size_t(files.size() - 1))
            silences.push_back(0);
        if (verbose)
            std::printf("  book %d: %.0f ms of sound, longest silences %.1f and %.1f ms\n", b,
                        (last - first) * 1000.0 / 8000, silences[0], silences[1]);
        gaps.insert(gaps.end(), silences.begin(), silences.end());
    }
    Report("play on: end of a file to the next one's first sound", gaps, 300);

    // The places file at its largest.
    TPlaces places(app.DataFile(QStringLiteral("Narrabel.places")));
    const QDateTime when = QDateTime::currentDateTime();
    for (int i = 0; i < TPlaces::MaxEntries; ++i)
        places.Remember(QStringLiteral("/home/listener/Audiobooks/Author %1/Book %2/CD%3/"
                                       "Chapter %4 - A Title of Some Length.mp3")
                            .arg(i / 100)
                            .arg(i / 10)
                            .arg(i % 3)
                            .arg(i),
                        i * 1000, when);
    std::vector<double> bytes, saves;
    for (int i = 0; i < 50; ++i) {
        places.Remember(places.Entries().back().Path, i, when); // one place moves, as a tick does
        QElapsedTimer t;
        t.start();
        const QByteArray data = places.Bytes();
        bytes.push_back(Ms(t.nsecsElapsed()));
        t.restart();
        if (!places.Save()) std::fprintf(stderr, "cannot save the places file\n");
        saves.push_back(Ms(t.nsecsElapsed()));
    }
    std::printf("places file: %d entries, %lld bytes\n", int(places.Entries().size()),
                (long long)places.Bytes().size());
    Report("places: the file's bytes", bytes, 5);
    Report("places: save (bytes, write, sync, rename, folder sync)", saves, 5);
    return 0;
}
