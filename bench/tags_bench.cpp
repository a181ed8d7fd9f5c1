// The tag facade at library scale: the tags of 500 mixed files (MP3, M4B,
// Opus, FLAC; 125 of each, made by ffmpeg with a cover and seven fields)
// against 500 MP3 files read through the facade and through our ID3v2 library
// alone. Goal: a file of the mix costs no more than twice an MP3.
//   tags_bench [--benchmark_filter=...]   (files go under $TMPDIR or /tmp)
#include "tags/filetags.h"
#include "tags/id3v2/id3v2.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

struct MixedSet {
    QTemporaryDir dir{QDir::tempPath() + "/narrabel-tags-bench-XXXXXX"};
    std::vector<QString> mixed, mp3;
    bool ok = false;

    // One book of each format by ffmpeg; the set is copies of them.
    QString Make(const QString& name, const QStringList& codec) {
        const QString path = dir.path() + "/" + name;
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", QStringList{"-v",
                                           "error",
                                           "-y",
                                           "-f",
                                           "lavfi",
                                           "-i",
                                           "sine=frequency=440:duration=5",
                                           "-f",
                                           "lavfi",
                                           "-i",
                                           "testsrc2=s=300x300:d=1",
                                           "-map",
                                           "0:a",
                                           "-map",
                                           "1:v",
                                           "-frames:v",
                                           "1",
                                           "-c:v",
                                           "mjpeg",
                                           "-disposition:v",
                                           "attached_pic",
                                           "-metadata",
                                           "artist=Ursula K. Le Guin",
                                           "-metadata",
                                           "album=Earthsea",
                                           "-metadata",
                                           "track=3",
                                           "-metadata",
                                           "title=The Shadow",
                                           "-metadata",
                                           "date=1968",
                                           "-metadata",
                                           "genre=Fantasy",
                                           "-metadata",
                                           "comment=Read aloud"} +
                                   codec + QStringList{path});
        if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
            std::fprintf(stderr, "ffmpeg failed for %s: %s\n", qPrintable(name),
                         ffmpeg.readAllStandardError().constData());
            return {};
        }
        return path;
    }
    MixedSet() {
        const QString mp3 = Make("proto.mp3", {"-c:a", "libmp3lame", "-b:a", "64k"});
        const QString m4b = Make("proto.m4b", {"-c:a", "aac", "-b:a", "64k", "-f", "ipod"});
        // Ogg cannot carry ffmpeg's attached picture: the Opus book goes without.
        const QString opus = Make("proto.opus", {"-map", "-1:v", "-c:a", "libopus"});
        const QString flac = Make("proto.flac", {"-c:a", "flac"});
        if (mp3.isEmpty() || m4b.isEmpty() || opus.isEmpty() || flac.isEmpty()) return;
        const QString protos[] = {mp3, m4b, opus, flac};
        for (int k = 0; k < 500; ++k) {
            const QString& proto = protos[k % 4];
            const QString copy =
                dir.path() + QStringLiteral("/m%1.").arg(k) + QFileInfo(proto).suffix();
            QFile::copy(proto, copy);
            mixed.push_back(copy);
            const QString plain = dir.path() + QStringLiteral("/p%1.mp3").arg(k);
            QFile::copy(mp3, plain);
            this->mp3.push_back(plain);
        }
        ok = true;
    }
};

MixedSet& Set() {
    static MixedSet s;
    return s;
}

void Read(benchmark::State& state, const std::vector<QString>& files, unsigned options) {
    if (!Set().ok) {
        state.SkipWithError("ffmpeg could not make the files");
        return;
    }
    for (auto _ : state) {
        size_t chars = 0;
        for (const QString& p : files) {
            const TFileTag t = ReadFileTag(p, options);
            chars += size_t(t.Fields.Title.size() + t.Cover.size());
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(files.size()));
}

// Our ID3v2 library alone, without the facade's look at the file's kind.
void BM_Read500Mp3Library(benchmark::State& state) {
    if (!Set().ok) {
        state.SkipWithError("ffmpeg could not make the files");
        return;
    }
    for (auto _ : state) {
        size_t chars = 0;
        for (const QString& p : Set().mp3) {
            Tid3v2tag tag;
            chars += size_t(ReadTagWith(tag, p).Title.size());
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Set().mp3.size()));
}
BENCHMARK(BM_Read500Mp3Library)->Unit(benchmark::kMillisecond);

// The same MP3 files through the facade, as every MP3 is read.
void BM_Read500Mp3(benchmark::State& state) {
    Read(state, Set().mp3, trFields);
}
BENCHMARK(BM_Read500Mp3)->Unit(benchmark::kMillisecond);

void BM_Read500Mixed(benchmark::State& state) {
    Read(state, Set().mixed, trFields);
}
BENCHMARK(BM_Read500Mixed)->Unit(benchmark::kMillisecond);

// Each format of the mix alone (0 MP3, 1 M4B, 2 Opus, 3 FLAC; 125 files).
void BM_Read125OfOneFormat(benchmark::State& state) {
    std::vector<QString> files;
    for (size_t k = size_t(state.range(0)); k < Set().mixed.size(); k += 4)
        files.push_back(Set().mixed[k]);
    Read(state, files, trFields);
}
BENCHMARK(BM_Read125OfOneFormat)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// With the covers, as the window and the media controls read a file playing.
void BM_Read500MixedWithCovers(benchmark::State& state) {
    Read(state, Set().mixed, trCover);
}
BENCHMARK(BM_Read500MixedWithCovers)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
