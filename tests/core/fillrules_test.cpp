#include "tags/fillrules.h"

#include <gtest/gtest.h>

namespace {

struct FillCase {
    const char* what;
    const char* file;
    const char* folder;
    int rule;
    const char* artist;
    const char* album;
    const char* track;
    const char* title;
};

void Check(const FillCase& c, const TFillPattern& base = {}) {
    TFillPattern p = base;
    p.FolderRule = c.rule;
    const TFillResult r =
        FillFromFileInfo(QString::fromUtf8(c.file), QString::fromUtf8(c.folder), p);
    EXPECT_EQ(r.Artist, QString::fromUtf8(c.artist)) << c.what;
    EXPECT_EQ(r.Album, QString::fromUtf8(c.album)) << c.what;
    EXPECT_EQ(r.Track, QString::fromUtf8(c.track)) << c.what;
    EXPECT_EQ(r.Title, QString::fromUtf8(c.title)) << c.what;
}

const char* kName = "Author Name - Book Title - 03 - Chapter Name";

TEST(FillRules, FolderRulesOnTheDefaultPattern) {
    const FillCase cases[] = {
        {"rule 0 ignores the path", kName, "/Books/X/Y", 0, "Author Name", "Book Title", "03",
         "Chapter Name"},
        {"rule 4", kName, "/Books/Author Name/Book Title", 4, "Author Name", "Book Title", "03",
         "Chapter Name"},
        {"rule 4 overrides the name's parts", "A - B - 1 - C", "/Books/Writer/Novel", 4, "Writer",
         "Novel", "1", "C"},
        {"rule 5 adds the part number", kName, "/Books/Author Name/Book Title/Disc 2", 5,
         "Author Name", "Book Title (2)", "03", "Chapter Name"},
        {"rule 5 without digits", kName, "/Books/Author Name/Book Title/Extras", 5, "Author Name",
         "Book Title", "03", "Chapter Name"},
        {"rule 5 first digit run only", kName, "/B/Au/Ti/CD 12 of 14", 5, "Au", "Ti (12)", "03",
         "Chapter Name"},
        {"rule 1 round brackets", "x - y - 1 - z", "/B/Novel (Writer)", 1, "Writer", "y", "1", "z"},
        {"rule 1 curly brackets", "x - y - 1 - z", "/B/Novel {Writer}", 1, "Writer", "y", "1", "z"},
        {"rule 1 without brackets empties the artist", "x - y - 1 - z", "/B/Novel", 1, "", "y", "1",
         "z"},
        {"rule 2", "x - y - 1 - z", "/B/Writer (Novel)", 2, "x", "Novel", "1", "z"},
        {"rule 3 round", "x - y - 1 - z", "/B/Book Title (Author Name)", 3, "Author Name",
         "Book Title", "1", "z"},
        {"rule 3 curly", "x - y - 1 - z", "/B/Book Title {Author Name}", 3, "Author Name",
         "Book Title", "1", "z"},
        {"rule 3 without brackets", "x - y - 1 - z", "/B/Book Title", 3, "", "", "1", "z"},
        {"rule 3 with empty round brackets uses the curly ones", "x-y-1-z", "/B/T () {W}", 3, "W",
         "T ()", "1", "z"},
        {"rule 4 on the root", kName, "/", 4, "", "", "03", "Chapter Name"},
        {"rule 4 with one level", kName, "/Books", 4, "", "Books", "03", "Chapter Name"},
        {"rule 6 takes the whole path", "n", "/Books/A", 6, "/Books/A", "/Books/A", "", ""},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST(FillRules, NameSplitting) {
    const FillCase cases[] = {
        {"no delimiter: whole name is the artist, track from digits", "Chapter 12 and 13", "", 0,
         "Chapter 12 and 13", "", "12", ""},
        {"two delimiters in a row", "A -- B", "", 0, "A", "- B", "", ""},
        {"fifth field dropped", "a-b-c-d-e", "", 0, "a", "b", "c", "d"},
        {"fewer fields", "a-b", "", 0, "a", "b", "", ""},
        {"track falls back to the first digit run", "Book-Disc 7 of 9", "", 0, "Book",
         "Disc 7 of 9", "7", ""},
        {"control characters trimmed", " \ta\t - b - 5 - c \n", "", 0, "a", "b", "5", "c"},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST(FillRules, SlotsAndDelimiter) {
    TFillPattern p;
    p.Slots[0] = ffTitle;
    p.Slots[1] = ffNone;
    p.Slots[2] = ffTitle; // a later slot naming the same field wins
    p.Slots[3] = ffTrack;
    Check({"reordered slots", "one-two-three-04", "", 0, "", "", "04", "three"}, p);

    TFillPattern none;
    for (int& s : none.Slots)
        s = ffNone;
    Check({"all slots none", "a - b - 9 - c", "/Au/Ti", 4, "Au", "Ti", "9", ""}, none);

    TFillPattern under;
    under.Delim = QStringLiteral("_x"); // only the first character splits
    Check({"underscore", "Au_Ti_02_Ch-x", "", 0, "Au", "Ti", "02", "Ch-x"}, under);

    TFillPattern empty;
    empty.Delim.clear();
    Check({"empty delimiter skips the split", "Au-Ti-02", "", 0, "", "", "02", ""}, empty);

    TFillPattern later;
    later.Slots[3] = ffArtist; // an empty later part still overwrites
    Check({"later empty slot overwrites", "Au-Ti-02", "", 0, "", "Ti", "02", ""}, later);
}

TEST(FillRules, NotFoundMarker) {
    const FillCase cases[] = {
        {"marker in the file name", "A - B [NF] - 1 - C", "", 0, "A", "B [NF]", "1", "C"},
        {"marker in the name, album elsewhere", "A [NF] - B - 1 - C", "", 0, "A [NF]", "B [NF]",
         "1", "C"},
        {"marker in the folder", "A - B - 1 - C", "/x [NF]/y", 0, "A", "B [NF]", "1", "C"},
        {"album taken from a marked folder keeps one marker", "A - B - 1 - C", "/Au/Ti [NF]", 4,
         "Au", "Ti [NF]", "1", "C"},
        {"empty album still gets it", "A", "/[NF]", 0, "A", " [NF]", "", ""},
        {"lower case is no marker", "A - B - 1 - C", "/x [nf]", 0, "A", "B", "1", "C"},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST(FillRules, FirstDigitRun) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},        {"abc", ""},     {"12", "12"}, {"a12b34", "12"},
        {"Disc 2", "2"}, {"007x", "007"}, {"x9", "9"},  {"٣", ""}, // only ASCII digits count
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(FirstDigitRun(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(FillRules, Items) {
    EXPECT_EQ(FillSlotItems(),
              QStringList({"Artist/Author", "Album/Book Title", "Track/Seq", "Track Title", "-"}));
    const QStringList rules = FolderRuleItems();
    ASSERT_EQ(rules.size(), 7);
    EXPECT_EQ(rules[0], "Ignore the path name");
    EXPECT_EQ(rules[4], "Use \\Author\\Title structure");
    EXPECT_EQ(rules[6], "Observe the consequences of the Last Resort");
}

} // namespace
