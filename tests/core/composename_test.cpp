#include "rename/composename.h"

#include <gtest/gtest.h>

namespace {

TMP3Rec Tag(const char* artist, const char* album, const char* track, const char* title) {
    TMP3Rec r;
    r.Artist = QString::fromUtf8(artist);
    r.Album = QString::fromUtf8(album);
    r.Track = QString::fromUtf8(track);
    r.Title = QString::fromUtf8(title);
    return r;
}

TNamePattern Pattern(int s1, int s2, int s3, int s4, const char* delim) {
    TNamePattern p;
    p.Slots[0] = s1;
    p.Slots[1] = s2;
    p.Slots[2] = s3;
    p.Slots[3] = s4;
    p.Delim = QString::fromUtf8(delim);
    return p;
}

TEST(ComposeName, Table) {
    const TMP3Rec full = Tag("Author", "Book", "03", "Chapter");
    const TMP3Rec noTitle = Tag("Author", "Book", "03", "");
    const TMP3Rec empty;
    struct Case {
        const char* what;
        TMP3Rec tag;
        TNamePattern pattern;
        const char* ext;
        const char* expected;
    } cases[] = {
        {"default", full, Pattern(0, 1, 2, 3, "-"), "mp3", "Author-Book-03-Chapter.mp3"},
        {"typed delimiter", full, Pattern(0, 1, 2, 3, " - "), "mp3",
         "Author - Book - 03 - Chapter.mp3"},
        {"slot 3 none, empty title", noTitle, Pattern(0, 1, 4, 3, "-"), "mp3", "Author-Book.mp3"},
        {"all empty", empty, Pattern(0, 1, 2, 3, "-"), "mp3", "audio_.mp3"},
        {"all slots none", full, Pattern(4, 4, 4, 4, "-"), "MP3", "audio_.MP3"},
        {"same field twice", full, Pattern(3, 3, 4, 4, "_"), "mp3", "Chapter_Chapter.mp3"},
        {"empty delimiter", full, Pattern(0, 1, 2, 3, ""), "mp3", "AuthorBook03Chapter.mp3"},
        {"empty middle values leave no double delimiter", Tag("", "Book", "", "Ch"),
         Pattern(0, 1, 2, 3, " - "), "mp3", "Book - Ch.mp3"},
        {"reordered", full, Pattern(2, 3, 0, 1, "&"), "mp3", "03&Chapter&Author&Book.mp3"},
        // Names hold what the tags hold, except what no name here may hold.
        {"slashes become dashes", Tag("AC/DC", "", "", "x"), Pattern(0, 1, 2, 3, "/"), "mp3",
         "AC-DC-x.mp3"},
        {"track of a total", Tag("Lem", "", "1/12", ""), Pattern(0, 2, 4, 4, "-"), "mp3",
         "Lem-01.mp3"},
        {"track 12/20, and an empty one before its total", Tag("", "12/20", "/20", ""),
         Pattern(1, 2, 4, 4, "-"), "mp3", "12-20-00.mp3"},
        {"any script", Tag("Stanisław Lem", "Солярис", "02/04", "東京 😀"),
         Pattern(0, 1, 2, 3, " - "), "mp3", "Stanisław Lem - Солярис - 02 - 東京 😀.mp3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposeName(c.tag, c.pattern, QString::fromUtf8(c.ext)),
                  QString::fromUtf8(c.expected))
            << c.what;
    TMP3Rec odd = full;
    odd.Title = QStringLiteral("a") + QChar(0) + "b";
    EXPECT_EQ(ComposeName(odd, Pattern(3, 4, 4, 4, "-"), "mp3"), "a-b.mp3");
    // A name past 255 bytes loses the end before its extension, never half a character.
    odd.Title = QString(200, QChar(0x4E2D));
    EXPECT_EQ(ComposeName(odd, Pattern(3, 4, 4, 4, "-"), "mp3"),
              QString(83, QChar(0x4E2D)) + ".mp3"); // 249 + 4 bytes
}

TEST(ComposeName, PatternPreview) {
    EXPECT_EQ(ComposePatternName(Pattern(0, 1, 2, 3, "-"), "mp3"),
              "Artist/Author-Album/Book Title-Track/Seq-Track Title.mp3");
    EXPECT_EQ(ComposePatternName(Pattern(4, 1, 4, 3, " - "), "mp3"),
              "Album/Book Title - Track Title.mp3");
    EXPECT_EQ(ComposePatternName(Pattern(4, 4, 4, 4, "-"), "mp3"), "audio_.mp3");
}

TEST(ComposeName, AllowedNames) {
    const std::pair<QString, bool> cases[] = {
        {"a.mp3", true},    {"..a.mp3", true}, {"a..mp3", true},
        {"", false},        {".", false},      {"..", false},
        {"a/b.mp3", false}, {"/", false},      {QStringLiteral("a") + QChar(0) + "b.mp3", false},
        {"a\\b.mp3", true},
    };
    for (const auto& [name, ok] : cases)
        EXPECT_EQ(IsAllowedFileName(name), ok) << name.toStdString();
}

} // namespace
