#include "bookmarks/bookmark.h"
#include "playback/bmhistory.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

void ExpectHints(const TBMHistory& h, const QString& prev, const QString& next) {
    EXPECT_EQ(h.PrevHint(), prev);
    EXPECT_EQ(h.NextHint(), next);
}

TEST(History, EntryLines) {
    EXPECT_EQ(TBMHistory::EntryLine("/Books/a.mp3", 834), "000000000834/Books/a.mp3");
    EXPECT_EQ(TBMHistory::EntryPath("000000000834/Books/a.mp3"), "/Books/a.mp3");
    EXPECT_EQ(TBMHistory::EntryPath("00000000083"), "");
    EXPECT_EQ(TBMHistory::EntryPath("000000000000" + QString(1200, 'p')).size(), 999);
}

TEST(History, EmptyHistoryGoesNowhere) {
    TBMHistory h{QString()};
    EXPECT_EQ(h.Cursor, -1);
    ExpectHints(h, "no history yet", "no history yet");
    EXPECT_FALSE(h.GoPrev());
    EXPECT_FALSE(h.GoNext());
    EXPECT_EQ(h.Cursor, -1);
}

TEST(History, AppendPrevNextAndHints) {
    TBMHistory h{QString()};
    int changed = 0;
    h.OnChanged = [&] { ++changed; };
    h.Add("/b/one.mp3", 1);
    EXPECT_EQ(changed, 1);
    ExpectHints(h, "beginning of bookmark history", "end of bookmark history");
    TBookmarkRec rec;
    rec.FilePath = "/b/two.mp3";
    rec.Position = 576487;
    h.AddBookmark(TBookmark(rec));
    h.Add("/b/three.mp3", 1);
    EXPECT_EQ(h.Entries.at(1), "000000576487/b/two.mp3");
    EXPECT_EQ(h.Cursor, 2);
    ExpectHints(h, "two.mp3", "end of bookmark history");

    EXPECT_EQ(h.GoPrev(), QString("/b/two.mp3"));
    ExpectHints(h, "one.mp3", "three.mp3");
    EXPECT_EQ(h.GoPrev(), QString("/b/one.mp3"));
    ExpectHints(h, "beginning of bookmark history", "two.mp3");
    EXPECT_FALSE(h.GoPrev());
    EXPECT_EQ(h.Cursor, 0);
    EXPECT_EQ(h.GoNext(), QString("/b/two.mp3"));

    // Stepping back and then browsing appends at the end; later entries stay.
    h.GoPrev();
    h.Add("/b/four.mp3", 1);
    EXPECT_EQ(h.Entries.size(), 4);
    EXPECT_EQ(h.Cursor, 3);
    ExpectHints(h, "three.mp3", "end of bookmark history");
    EXPECT_FALSE(h.GoNext());
    EXPECT_EQ(changed, 4); // moves record nothing
}

TEST(History, HundredthEntryDropsTheOldest) {
    TBMHistory h{QString()};
    for (int i = 1; i <= 99; ++i)
        h.Add(QString("/f%1.mp3").arg(i), i);
    EXPECT_EQ(h.Entries.size(), 99);
    h.Add("/f100.mp3", 100);
    EXPECT_EQ(h.Entries.size(), 99);
    EXPECT_EQ(TBMHistory::EntryPath(h.Entries.first()), "/f2.mp3");
    EXPECT_EQ(h.Cursor, 98);
    EXPECT_EQ(h.GoPrev(), QString("/f99.mp3"));
}

TEST(History, FileRoundTrip) {
    auto dir = MakeTempDir();
    const QString path = dir->path() + "/Narrabel.nbh";
    {
        TBMHistory h(path);
        EXPECT_EQ(h.Cursor, -1);
        h.Add("/a.mp3", 834);
        h.Add("/b c.mp3", 1);
    } // saved on destruction
    EXPECT_EQ(ReadAll(path), QByteArray("000000000834/a.mp3\r\n000000000001/b c.mp3\r\n"));
    TBMHistory again(path);
    EXPECT_EQ(again.Entries.size(), 2);
    EXPECT_EQ(again.Cursor, 1); // on the last stored entry
    ExpectHints(again, "a.mp3", "end of bookmark history");

    // A short line opens nothing useful but does not break navigation.
    WriteAll(path, "12\r\n000000000001/z.mp3\r\n");
    TBMHistory shortLine(path);
    EXPECT_EQ(shortLine.GoPrev(), QString());
    EXPECT_EQ(shortLine.NextHint(), "z.mp3");
}

TEST(History, NoDataFolderSavesNothing) {
    auto dir = MakeTempDir();
    {
        TBMHistory h{QString()};
        h.Add("/a.mp3", 1);
        EXPECT_FALSE(h.Save());
    }
    EXPECT_TRUE(QDir(dir->path()).isEmpty());
}

} // namespace
