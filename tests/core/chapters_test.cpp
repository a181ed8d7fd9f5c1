// A file's chapters, read from files that ffmpeg, mutagen and a Nero list
// writer made at test time: the cleaned list is the one ffprobe (FFmpeg's own
// full probe) gives after the same cleaning, and what the listener expects.
// MP4 files are read from their boxes, as libavformat reads them.

#include "playback/chapters.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sys/stat.h>

// Failed comparisons print the chapters.
inline void PrintTo(const TChapter& c, std::ostream* os) {
    *os << c.StartMs << "-" << c.EndMs << " \"" << c.Title.toStdString() << '"';
}

namespace {

struct Expected {
    int64_t start;
    const char* title;
};

bool RunTool(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ": " << p.readAllStandardError().toStdString();
        return false;
    }
    if (out) *out = p.readAllStandardOutput();
    return true;
}

// The MP4 reader's raw list and length are libavformat's, when it takes the file.
bool ReadAsLibavformat(const QString& path) {
    const TChapterRead own = ReadChapterFileWith(TChapterReader::Mp4Boxes, path);
    if (!own.Error.isEmpty()) return false;
    const TChapterRead theirs = ReadChapterFileWith(TChapterReader::Libavformat, path);
    EXPECT_EQ(own.Chapters, theirs.Chapters);
    EXPECT_EQ(own.LengthMs, theirs.LengthMs);
    return true;
}

// ffprobe's chapters, as the file gives them, and its idea of the length.
TChapterList Ffprobe(const QString& path, int64_t* lengthMs) {
    QByteArray json;
    if (!RunTool("ffprobe",
                 {"-v", "error", "-show_chapters", "-show_entries", "format=duration", "-of",
                  "json", path},
                 &json))
        return {};
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    *lengthMs = qRound64(root["format"].toObject()["duration"].toString().toDouble() * 1000);
    TChapterList list;
    for (const QJsonValue& v : root["chapters"].toArray()) {
        const QJsonObject c = v.toObject();
        const QStringList base = c["time_base"].toString().split('/');
        const int num = base.value(0).toInt(), den = base.value(1).toInt();
        TChapter ch;
        ch.StartMs = ChapterTimeMs(c["start"].toInteger(), num, den);
        ch.EndMs = ChapterTimeMs(c["end"].toInteger(), num, den);
        ch.Title = c["tags"].toObject()["title"].toString();
        list.append(ch);
    }
    return list;
}

class ChaptersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty() ||
            QStandardPaths::findExecutable("ffprobe").isEmpty())
            return;
        dir = testsupport::MakeTempDir().release();
        made = RunTool("/usr/bin/python3",
                       {testsupport::DataPath("chapters/make_chapter_files.py"), dir->path()});
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (!dir) GTEST_SKIP() << "ffmpeg is not installed; ./test.sh installs it";
        ASSERT_TRUE(made);
    }
    static QString File(const char* name) { return dir->filePath(QString::fromLatin1(name)); }
    static QTemporaryDir* dir;
    static bool made;
};

QTemporaryDir* ChaptersTest::dir = nullptr;
bool ChaptersTest::made = false;

TEST_F(ChaptersTest, EveryKindReadsAsFfprobeReadsItCleaned) {
    const std::vector<Expected> three = {{0, "Opening"}, {10000, "Second"}, {25000, "Chapter 3"}};
    // An ID3v2 chapter without a title of its own is named by its element id.
    const std::vector<Expected> id3 = {{0, "One"}, {20000, "Two"}, {40000, "c3"}};
    const std::vector<Expected> comments = {{0, "Intro"}, {30500, "Middle"}, {45000, "Chapter 3"}};
    const struct {
        const char* file;
        std::vector<Expected> expected; // empty: none
        int count;                      // when the titles are not listed
        bool mp4;                       // read by the MP4 reader, not libavformat
    } cases[] = {
        {"both.m4b", three, 3, true},
        {"quicktime.m4b", three, 3, true},
        {"nero.m4b", {{0, "Nero one"}, {20000, "Nero two"}, {50000, "Nero three"}}, 3, true},
        {"utf16.m4b", {{0, "Öffnung"}, {10000, "第二章"}, {25000, "Kapitel 𝄞"}}, 3, true},
        {"id3v23.mp3", id3, 3, false},
        {"id3v23-toc.mp3", id3, 3, false},
        {"id3v24.mp3", id3, 3, false},
        {"id3v24-toc.mp3", id3, 3, false},
        {"comments.opus", comments, 3, false},
        {"comments.flac", comments, 3, false},
        {"matroska.mka", {{0, "Eins"}, {15000, "Zwei"}}, 2, false},
        {"many.m4b", {}, 300, true},
        {"lone.m4b", {}, 0, true},
        {"huge.mka", {}, MaxChapters, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = File(c.file);
        int64_t length = -1;
        const TChapterList probed = Ffprobe(path, &length);
        const TChapterList theirs = CleanChapters(probed, length);
        QElapsedTimer clock;
        clock.start();
        const TChapterRead read = ReadChapterFile(path);
        const qint64 took = clock.elapsed();
        EXPECT_TRUE(read.Error.isEmpty()) << read.Error.toStdString();
        // The header alone gives the length, when the format keeps it there.
        if (read.LengthMs >= 0) {
            EXPECT_NEAR(read.LengthMs, length, 150);
        }
        const TChapterList ours = CleanChapters(read.Chapters, length);
        EXPECT_EQ(ours, theirs);
        ASSERT_EQ(ours.size(), c.count);
        EXPECT_EQ(ReadChapters(path, length), ours);
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(ours[int(i)].StartMs, c.expected[i].start) << i;
            EXPECT_EQ(ours[int(i)].Title, QString::fromUtf8(c.expected[i].title)) << i;
        }
        if (!ours.isEmpty()) {
            EXPECT_EQ(ours.last().EndMs, length) << "the last one ends with the file";
            for (int i = 0; i + 1 < ours.size(); ++i)
                ASSERT_EQ(ours[i].EndMs, ours[i + 1].StartMs) << i;
        }
        EXPECT_LT(took, 2000) << "the header only";
        EXPECT_EQ(ReadAsLibavformat(path), c.mp4);
    }
    // 300 and more than the cap: every start in order, titles numbered.
    const TChapterList many = ReadChapters(File("many.m4b"), 60000);
    EXPECT_EQ(many[299].StartMs, 299 * 200);
    EXPECT_EQ(many[299].Title, "Part 300");
    const TChapterList huge = ReadChapters(File("huge.mka"), 600000);
    EXPECT_EQ(huge.last().StartMs, (MaxChapters - 1) * 30);
    EXPECT_EQ(huge.last().Title, QString("Chapter %1").arg(MaxChapters));
    EXPECT_EQ(huge.last().EndMs, 600000);
}

TEST_F(ChaptersTest, WhatIsNoSoundFileGivesNoChaptersAndNeverHangs) {
    testsupport::WriteAll(dir->filePath("text.m4b"), QByteArray("not a book\n").repeated(50));
    const QString fifo = dir->filePath("pipe.mp3");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {dir->filePath("text.m4b"), fifo, dir->filePath("gone.mp3")}) {
        const TChapterRead read = ReadChapterFile(path);
        EXPECT_TRUE(read.Chapters.isEmpty()) << path.toStdString();
        EXPECT_FALSE(read.Error.isEmpty()) << path.toStdString();
    }
    // Called off: nothing is read.
    std::atomic<bool> cancel{true};
    EXPECT_TRUE(ReadChapterFile(File("many.m4b"), &cancel).Chapters.isEmpty());

    // Broken MP4 files: read at once, as libavformat reads them (by the MP4
    // reader only where it is sure of that).
    const QByteArray both = testsupport::ReadAll(File("both.m4b"));
    const int moov = both.indexOf("moov") - 4;
    auto with = [&both](int at, quint32 value) {
        QByteArray b = both;
        qToBigEndian(value, b.data() + at);
        return b;
    };
    // The Nero list's count after its version, flags and 4 reserved bytes.
    QByteArray chpl255 = both;
    chpl255[both.indexOf("chpl") + 12] = char(255);
    const struct {
        const char* name;
        QByteArray bytes;
        bool mp4;
    } broken[] = {
        {"chpl-255.m4b", chpl255, true}, // more than the list holds
        {"cut-moov.m4b", both.left(moov + 1000), false},
        {"moov-past-end.m4b", with(moov, quint32(both.size() - moov + 1000000)), false},
        {"stsz-2g.m4b", with(both.indexOf("stsz") + 12, 0x80000000u), false},
        {"title-past-end.m4b", with(both.lastIndexOf("stco") + 12, 0x7fffff00u), false},
    };
    for (const auto& b : broken) {
        SCOPED_TRACE(b.name);
        const QString path = dir->filePath(b.name);
        testsupport::WriteAll(path, b.bytes);
        QElapsedTimer clock;
        clock.start();
        ReadChapterFile(path);
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_EQ(ReadAsLibavformat(path), b.mp4);
    }
}

TEST(ChapterCleaning, SortedOnePerStartEndingAtTheNextWithTitlesOnOneLine) {
    const QString longTitle = QString(300, QChar(0x00e9));
    const struct {
        const char* what;
        TChapterList in;
        int64_t length;
        TChapterList out;
    } cases[] = {
        {"out of order, a repeated start, one past the end, a negative start",
         {{30000, -1, "c"},
          {-5, 10, " a\n"},
          {10000, 12000, "b"},
          {10000, 11000, "b twice"},
          {90000, -1, "past"}},
         60000,
         {{0, 10000, "a"}, {10000, 30000, "b"}, {30000, 60000, "c"}}},
        {"titles: blank, control characters, too long",
         {{0, -1, "  "}, {1000, -1, "x\ty\r\nz"}, {2000, -1, longTitle}},
         5000,
         {{0, 1000, "Chapter 1"},
          {1000, 2000, "x y z"},
          {2000, 5000, longTitle.left(MaxChapterTitle)}}},
        {"a lone chapter from the start is the whole file", {{0, -1, "All"}}, 60000, {}},
        {"a lone chapter later on is kept", {{5000, -1, "Later"}}, 60000, {{5000, 60000, "Later"}}},
        {"length unknown: the last keeps its own end",
         {{0, 4000, "a"}, {4000, 9000, "b"}},
         -1,
         {{0, 4000, "a"}, {4000, 9000, "b"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CleanChapters(c.in, c.length), c.out) << c.what;

    TChapterList many;
    for (int i = MaxChapters + 5; i >= 0; --i)
        many.append({int64_t(i) * 10, -1, QString()});
    const TChapterList kept = CleanChapters(many, 10000000);
    ASSERT_EQ(kept.size(), MaxChapters);
    EXPECT_EQ(kept.last().StartMs, (MaxChapters - 1) * 10);
    EXPECT_EQ(kept.last().EndMs, 10000000);
}

} // namespace
