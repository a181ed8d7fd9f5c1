#include "support/testsupport.h"
#include "util/options.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

struct IntCase {
    const char* text;
    int64_t expected;
};

TEST(ParseLooseInt, Table) {
    const IntCase cases[] = {
        {"", 0},
        {"-", 0},
        {"--5", -5},
        {"1.5", 15},
        {"00", 0},
        {"abc", 0},
        {"5-", -5},
        {"007", 7},
        {"1.234", 1234},
        {"12.34", 1234},
        {"Files: 1,234", 1234},
        {"Files: 12,345", 12345},
        {"99999999999999999999", 0},
        {"9223372036854775807", INT64_C(9223372036854775807)},
        {"-9223372036854775808", INT64_MIN},
        {"a1b2c3", 123},
        {" 42 ", 42},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLooseInt(QString::fromUtf8(c.text)), c.expected) << c.text;
}

struct TextCase {
    const char* in;
    const char* out;
};

TEST(FormatThousands, Table) {
    const TextCase cases[] = {
        {"1234567", "1,234,567"},
        {"123", "123"},
        {"1234", "1,234"},
        {"-1234", "-1,234"},
        {"1234.5", "1,234.5"},
        {".5", "0"},
        {"12", "12"},
        {"", "0"},
        {"-123", "-123"},
        {"1.123456789", "1.12345678"},
        {" 1000 ", "1,000"},
        {"123456", "123,456"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatThousands(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(Padding, Table) {
    EXPECT_EQ(ZeroPadTo(" 42 ", 8), "00000042");
    EXPECT_EQ(ZeroPadTo("123456789", 8), "123456789");
    EXPECT_EQ(ZeroPadTo("", 3), "000");
    EXPECT_EQ(PadLeftTo("abcdef", 3), "abc");
    EXPECT_EQ(PadLeftTo("ab", 4), "  ab");
    EXPECT_EQ(PadRightTo("ab", 4), "ab  ");
    EXPECT_EQ(PadRightTo("abcdef", 3), "abc");
    EXPECT_EQ(PadRightTo("", 0), "");
}

struct FieldCase {
    const char* text;
    int n;
    char delim;
    const char* expected;
};

TEST(FieldFromLeft, Table) {
    const FieldCase cases[] = {
        {"A - B - 03 - C", 1, '-', "A "},
        {"A - B - 03 - C", 2, '-', " B "},
        {"A - B - 03 - C", 3, '-', " 03 "},
        {"A - B - 03 - C", 4, '-', " C"},
        {"A - B - 03 - C", 5, '-', ""},
        {"a--b", 1, '-', "a"},
        {"a--b", 2, '-', "-b"},
        {"abc", 1, '-', "abc"},
        {"abc", 2, '-', ""},
        {"-abc", 1, '-', "-abc"},
        {"", 1, '-', ""},
        {"a-", 1, '-', "a"},
        {"a-", 2, '-', ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FieldFromLeft(QString::fromUtf8(c.text), c.n, QChar(c.delim)),
                  QString::fromUtf8(c.expected))
            << c.text << " n=" << c.n;
}

TEST(FieldFromRight, Table) {
    const FieldCase cases[] = {
        {"a/b/c", 1, '/', "c"},      {"a/b/c", 2, '/', "b"}, {"a/b/c", 3, '/', ""},
        {"song.mp3", 1, '.', "mp3"}, {"song", 1, '.', ""},   {"a/b/", 1, '/', ""},
        {"a/b/c", 0, '/', ""},       {"/", 1, '/', ""},      {"   ", 1, ' ', ""},
        {"a.b.c", 2, '.', "b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FieldFromRight(QString::fromUtf8(c.text), c.n, QChar(c.delim)),
                  QString::fromUtf8(c.expected))
            << c.text << " n=" << c.n;
}

TEST(TextBetween, Table) {
    EXPECT_EQ(TextBetween("Name (Book)", "(", ")"), "Book");
    EXPECT_EQ(TextBetween("a) b (c", "(", ")"), "c");
    EXPECT_EQ(TextBetween("no brackets", "(", ")"), "");
    EXPECT_EQ(TextBetween("x (open", "(", ")"), "open");
    EXPECT_EQ(TextBetween("()", "(", ")"), "");
    EXPECT_EQ(TextBetween("[ab]", "[", "]"), "ab");
}

TEST(FormatMsDuration, Table) {
    EXPECT_EQ(FormatMsDuration(3723004), "0:01:02:03.4");
    EXPECT_EQ(FormatMsDuration(62000), "0:00:01:02.0");
    EXPECT_EQ(FormatMsDuration(0), "0:00:00:00.0");
    EXPECT_EQ(FormatMsDuration(86400000u + 1000), "1:00:00:01.0");
    EXPECT_EQ(FormatMsDuration(999), "0:00:00:00.999");
    // A negative position is taken as unsigned, never as a crash.
    EXPECT_FALSE(FormatMsDuration(uint32_t(-1)).isEmpty());
    EXPECT_EQ(FormatMinSec(3723000), "02:03");
    EXPECT_EQ(FormatMinSec(0), "00:00");
    EXPECT_EQ(FormatMinSec(599999), "09:59");
}

TEST(IsPlayableFile, FollowsTheMoreFormatsSwitch) {
    struct Case {
        const char* path;
        bool plain;
        bool more;
    };
    const Case cases[] = {
        {"x.mp3", true, true},
        {"x.MP3", false, false},
        {"x.wav", false, true},
        {"x", false, false},
        {"x.av", false, true},
        {"x.midi", false, true},
        {"x.ogg", true, true},
        {"dir.mp3/x", false, false},
        {"x.", false, false},
        // Audio books, always and in any letter case.
        {"x.m4b", true, true},
        {"x.M4B", true, true},
        {"x.m4a", true, true},
        {"x.aac", true, true},
        {"x.opus", true, true},
        {"x.oga", true, true},
        {"x.FLAC", true, true},
        {"x.m4", false, false},
        {"x.mp4", false, false},
    };
    for (const auto& c : cases) {
        AppOptions().MoreFormats = false;
        EXPECT_EQ(IsPlayableFile(c.path), c.plain) << c.path;
        AppOptions().MoreFormats = true;
        EXPECT_EQ(IsPlayableFile(c.path), c.more) << c.path << " (more formats)";
    }
    AppOptions().MoreFormats = false;
}

TEST(SpecialFolderPath, DocumentsEndsInSlashAndUnknownIsEmpty) {
    testsupport::IsolatedHome();
    QString docs = SpecialFolderPath(4);
    EXPECT_TRUE(docs.endsWith('/')) << docs.toStdString();
    EXPECT_TRUE(docs.startsWith(QDir::homePath()));
    EXPECT_EQ(SpecialFolderPath(27), "");
    EXPECT_EQ(SpecialFolderPath(-1), "");
    EXPECT_TRUE(SpecialFolderPath(19).endsWith('/'));
}

TEST(TSuperStringList, LoadsEveryLineEndAndSavesCrLf) {
    auto dir = testsupport::MakeTempDir();
    const QString path = dir->path() + "/list.txt";
    testsupport::WriteAll(path, "a\r\nb\nc\rd\r\n\r\ne");
    TSuperStringList list;
    ASSERT_TRUE(list.LoadFromFile(path));
    EXPECT_EQ(list, QStringList({"a", "b", "c", "d", "", "e"}));
    ASSERT_TRUE(list.SaveToFile(path));
    EXPECT_EQ(testsupport::ReadAll(path), QByteArray("a\r\nb\r\nc\r\nd\r\n\r\ne\r\n"));

    TSuperStringList untouched{"keep"};
    EXPECT_FALSE(untouched.LoadFromFile(dir->path() + "/missing.txt"));
    EXPECT_EQ(untouched, QStringList({"keep"}));
}

TEST(TSuperStringList, AddFilesMatchesMaskIgnoringCaseAndSkipsHiddenAndFolders) {
    auto dir = testsupport::MakeTempDir();
    const QString d = dir->path();
    for (const char* n : {"a.mp3", "b.MP3", ".hidden.mp3", "c.wav"})
        testsupport::WriteAll(d + '/' + n, "x");
    QDir(d).mkdir("sub.mp3");
    TSuperStringList list;
    list.AddFiles(d, "*.mp3", faArchive, false);
    list.sort();
    EXPECT_EQ(list, QStringList({"a.mp3", "b.MP3"}));

    TSuperStringList withFolder;
    withFolder.AddFiles(d + '/', "*.wav", faArchive, true);
    EXPECT_EQ(withFolder, QStringList({d + "/c.wav"}));

    TSuperStringList none;
    none.AddFiles(d + "/nope", "*.mp3", faArchive, false);
    EXPECT_TRUE(none.isEmpty());
}

TEST(PathHelpers, Table) {
    EXPECT_EQ(ExtractFileName("/a/b/c.mp3"), "c.mp3");
    EXPECT_EQ(ExtractFileName("c.mp3"), "c.mp3");
    EXPECT_EQ(ExtractFilePath("/a/b/c.mp3"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("c.mp3"), "");
    EXPECT_EQ(TrimCtl("\t x \r\n"), "x");
}

} // namespace
