#include "bookmarks/bookmark.h"
#include "bookmarks/storejournal.h"
#include "bookmarks/treefile.h"
#include "support/testsupport.h"
#include "util/qorext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>
#include <utility>

using namespace testsupport;

namespace {

const QDateTime kNow(QDate(2024, 3, 15), QTime(9, 30, 12));

TMP3Rec Tag(const QString& artist, const QString& album, const QString& track,
            const QString& title) {
    TMP3Rec t;
    t.Artist = artist;
    t.Album = album;
    t.Track = track;
    t.Title = title;
    return t;
}

class Store : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        path = dir->path() + "/Narrabel.nbm";
        DropBookmarkIndexes();
    }
    // Stores a new bookmark and returns it as stored.
    TBookmarkRec Add(const QString& file, int32_t pos, const QString& desc = {},
                     const TMP3Rec& tag = {}, const QDateTime& now = kNow,
                     bool alwaysInsert = false) {
        TBookmark bm;
        bm.Rec.FilePath = file;
        bm.Rec.Position = pos;
        bm.Rec.Description = desc;
        TWriteContext ctx;
        ctx.Tag = tag;
        ctx.Now = now;
        ctx.AlwaysInsert = alwaysInsert;
        QString err;
        EXPECT_TRUE(WriteBookmark(bm, path, ctx, &err)) << err.toStdString();
        return bm.Rec;
    }
    QByteArray RecordBytes(int n) { return ReadAll(path).mid((n - 1) * 796, 796); }
    QString dt() const { return DescriptionDateTime(kNow); }
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
};

QByteArray ShortField(const QByteArray& rec, int offset, int size) {
    return rec.mid(offset, size);
}

QByteArray Expected(const QByteArray& text, int size) {
    QByteArray b(size, '\0');
    b[0] = char(text.size());
    memcpy(b.data() + 1, text.constData(), size_t(text.size()));
    return b;
}

TEST_F(Store, DesignedExampleRecordTwelveByteForByte) {
    for (int i = 1; i <= 11; ++i)
        Add(QString("/b/f%1.mp3").arg(i), 1000 * i, "x");
    const TBookmarkRec r =
        Add("/books/part.mp3", 576487, "Chapter 3", Tag("Au", "Book", "03", "Part"), kNow, true);
    ASSERT_EQ(r.RecNo, 12);
    const QByteArray desc =
        ("Book - 03 - Part (" + dt() + ") [Chapter 3] {09:36} [00000012]").toUtf8();
    EXPECT_EQ(r.Description.toUtf8(), desc);

    ASSERT_EQ(QFileInfo(path).size(), 12 * 796);
    const QByteArray rec = RecordBytes(12);
    EXPECT_EQ(qFromLittleEndian<int32_t>(rec.constData()), 12);
    EXPECT_EQ(ShortField(rec, 4, 255), Expected("/books/part.mp3", 255));
    EXPECT_EQ(ShortField(rec, 259, 21), Expected("20240315 09:30", 21));
    EXPECT_EQ(ShortField(rec, 280, 255), Expected(desc, 255));
    EXPECT_EQ(rec[535], '\0');
    EXPECT_EQ(qFromLittleEndian<int32_t>(rec.constData() + 536), 576487);
    EXPECT_EQ(ShortField(rec, 540, 255),
              Expected(QByteArray(236, ' ') + "Narrabel bookmarks", 255));
    EXPECT_EQ(rec[795], '\0');

    TBookmark back(path, 12);
    ASSERT_TRUE(back.Valid);
    EXPECT_EQ(back.Rec.Description, r.Description);
    EXPECT_EQ(back.Rec.Stamp, QString("20240315 09:30"));
    EXPECT_EQ(back.Rec.Signature.size(), 254);
    EXPECT_EQ(back.Rec.ToBytes(), rec);
}

TEST_F(Store, FirstBookmarkCreatesTheStore) {
    ASSERT_FALSE(QFileInfo::exists(path));
    const TBookmarkRec r = Add("/a/book.mp3", 5000);
    EXPECT_EQ(r.RecNo, 1);
    EXPECT_EQ(r.Description, "book (" + dt() + ") {00:05} [00000001]");
    EXPECT_EQ(StoreRecordCount(path), 1);
}

TEST_F(Store, StartMarkOnlyAtPositionOne) {
    const struct {
        int32_t pos;
        bool start;
        const char* time;
    } cases[] = {{0, false, "00:00"},
                 {1, true, "00:00"},
                 {2, false, "00:00"},
                 {3723004, false, "02:03"},
                 {59999, false, "00:59"}};
    for (const auto& c : cases) {
        const TBookmarkRec r = Add("/a/x.mp3", c.pos, {}, Tag("A", "Alb", "01", "T"));
        EXPECT_EQ(r.Description.contains(" [START]"), c.start) << c.pos;
        EXPECT_TRUE(r.Description.endsWith(
            QString(" {%1} [%2]").arg(c.time).arg(r.RecNo, 8, 10, QChar('0'))))
            << r.Description.toStdString();
        EXPECT_EQ(r.Stamp.size(), 14);
    }
}

TEST_F(Store, TaggedWithoutTitleAndTrack) {
    EXPECT_EQ(Add("/a/x.mp3", 10, {}, Tag("A", "Alb", "00", "")).Description,
              "Alb - 00 (" + dt() + ") {00:00} [00000001]");
    EXPECT_EQ(Add("/a/x.mp3", 10, {}, Tag("A", "Alb", "", "T")).Description,
              "Alb - T (" + dt() + ") {00:00} [00000002]");
    // Without an album the file name stands in, whatever its extension.
    EXPECT_EQ(Add("/a/x.mpeg", 10, {}, Tag("A", "", "01", "T")).Description,
              "x (" + dt() + ") {00:00} [00000003]");
    EXPECT_EQ(Add("/a/noext", 10).Description, "noext (" + dt() + ") {00:00} [00000004]");
}

TEST_F(Store, AlwaysInsertDecidesWhetherTextIsRebuilt) {
    const TBookmarkRec first = Add("/a/x.mp3", 2000, "mine");
    EXPECT_EQ(first.Description, "mine {00:02} [00000001]");
    const TBookmarkRec second = Add("/a/x.mp3", 2000, "mine", {}, kNow, true);
    EXPECT_EQ(second.Description, "x (" + dt() + ") [mine] {00:02} [00000002]");

    for (bool always : {false, true}) {
        TBookmark bm(path, 1);
        ASSERT_TRUE(bm.Valid);
        bm.Rec.Description = "renamed";
        TWriteContext ctx;
        ctx.AlwaysInsert = always;
        ctx.Now = kNow;
        ctx.Tag = Tag("A", "Alb", "02", "T");
        ASSERT_TRUE(WriteBookmark(bm, path, ctx));
        EXPECT_EQ(bm.Rec.Description,
                  always ? "Alb - 02 - T (" + dt() + ") [renamed] {00:02} [00000001]"
                         : QString("renamed {00:02} [00000001]"));
        EXPECT_EQ(TBookmark(path, 1).Rec.Description, bm.Rec.Description);
        EXPECT_EQ(StoreRecordCount(path), 2);
    }
}

TEST_F(Store, NoComposingWhileClosingOrDeleting) {
    for (int which = 0; which < 2; ++which) {
        TBookmark bm;
        bm.Rec.FilePath = "/a/x.mp3";
        bm.Rec.Position = 1;
        TWriteContext ctx;
        ctx.Closing = which == 0;
        ctx.Deleting = which == 1;
        ctx.Now = kNow;
        EXPECT_FALSE(DescriptionNeeded(bm.Rec, ctx));
        ASSERT_TRUE(WriteBookmark(bm, path, ctx));
        EXPECT_EQ(bm.Rec.Description, QString(" {00:00} [0000000%1]").arg(which + 1));
    }
}

TEST_F(Store, RenameToSameTextAddsOneMoreSuffixPair) {
    const TBookmarkRec r = Add("/a/x.mp3", 9000);
    TBookmark bm(path, 1);
    const QDateTime later = kNow.addSecs(3600);
    TWriteContext ctx;
    ctx.Now = later;
    ASSERT_TRUE(WriteBookmark(bm, path, ctx));
    EXPECT_EQ(bm.Rec.Description, r.Description + " {00:09} [00000001]");
    EXPECT_EQ(bm.Rec.Stamp, QString("20240315 10:30"));
}

TEST_F(Store, LongTextsKeepACompleteSuffix) {
    // A 250-character alias, rewritten many times: the suffix is always whole and
    // the text never passes 254 bytes.
    Add("/a/x.mp3", 1000);
    TBookmark bm(path, 1);
    bm.Rec.Description = QString(250, 'a');
    for (int i = 0; i < 20; ++i) {
        TWriteContext ctx;
        ctx.Now = kNow;
        ASSERT_TRUE(WriteBookmark(bm, path, ctx));
        const QByteArray stored = TBookmark(path, 1).Rec.Description.toUtf8();
        EXPECT_LE(stored.size(), 254);
        EXPECT_TRUE(stored.endsWith(" {00:01} [00000001]")) << stored.constData();
        EXPECT_EQ(NodeRecordNumber(QString::fromUtf8(stored)), 1);
    }
    // Multi-byte text: the cut never splits a character.
    bm.Rec.Description = QString(200, QChar(0x00E9)); // é, two bytes each
    TWriteContext ctx;
    ctx.Now = kNow;
    ASSERT_TRUE(WriteBookmark(bm, path, ctx));
    const QString d = TBookmark(path, 1).Rec.Description;
    EXPECT_EQ(d, QString(117, QChar(0x00E9)) + " {00:01} [00000001]");
    EXPECT_LE(d.toUtf8().size(), 254);
}

TEST_F(Store, PathsThatDoNotFitAreRefusedNeverCut) {
    const QString wide = "/" + QString(84, QChar(0x4E2D)); // three bytes each: 253 in all
    Add(wide, 5);
    EXPECT_EQ(TBookmark(path, 1).Rec.FilePath, wide);
    EXPECT_EQ(RecordBytes(1)[4], char(253));
    const QByteArray before = ReadAll(path);
    // A cut path would name another file: new, rewritten or repointed, nothing is written.
    for (const QString& tooLong : {"/" + QString(254, 'p'), wide + QChar(0x4E2D)}) {
        TBookmark fresh;
        fresh.Rec.FilePath = tooLong;
        TBookmark old(path, 1);
        old.Rec.FilePath = tooLong;
        for (TBookmark* bm : {&fresh, &old}) {
            QString err;
            EXPECT_FALSE(WriteBookmark(*bm, path, TWriteContext{}, &err));
            EXPECT_EQ(err, PathTooLongMessage());
        }
        QString err;
        EXPECT_EQ(RepointBookmarks(path, wide, tooLong, {}, &err), -1);
        EXPECT_EQ(err, PathTooLongMessage());
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf(wide), QVector<int32_t>{1});
    }
}

TEST_F(Store, UnreadableRecordsAreNotValid) {
    EXPECT_FALSE(TBookmark(path, 1).Valid); // no store
    Add("/a/x.mp3", 5);
    Add("/a/y.mp3", 5);
    for (int64_t n : {int64_t(0), int64_t(-1), int64_t(3), int64_t(1) << 40})
        EXPECT_FALSE(TBookmark(path, n).Valid) << n;
    EXPECT_TRUE(TBookmark(path, 2).Valid);
}

TEST_F(Store, TornLastRecordIsReplacedNotBuiltUpon) {
    Add("/a/x.mp3", 5);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(300, 'z'));
    f.close();
    EXPECT_EQ(StoreRecordCount(path), 1);
    EXPECT_FALSE(TBookmark(path, 2).Valid);
    const TBookmarkRec r = Add("/a/y.mp3", 5);
    EXPECT_EQ(r.RecNo, 2);
    EXPECT_EQ(QFileInfo(path).size(), 2 * 796);
    EXPECT_EQ(TBookmark(path, 2).Rec.FilePath, QString("/a/y.mp3"));
}

TEST_F(Store, AJournalRecordWithAFlippedByteEndsTheJournalAndIsNeverWrittenBack) {
    for (int n = 1; n <= 3; ++n)
        Add(QStringLiteral("/a/%1.mp3").arg(n), n * 1000);
    const QByteArray before = ReadAll(path);
    const QString journal = StoreJournalPath(path);
    QByteArray left; // the journal as a kill at the end of the command leaves it
    {
        // Records 2, 3 and 1 are rewritten (journalled in that order), and a
        // fourth is appended.
        TStoreCommand command(path);
        for (int n : {2, 3, 1}) {
            TBookmark bm(path, n);
            ASSERT_TRUE(bm.Valid);
            bm.Rec.Description = "changed";
            QString err;
            ASSERT_TRUE(WriteBookmark(bm, path, TWriteContext{}, &err)) << err.toStdString();
        }
        Add("/a/4.mp3", 4000);
        left = ReadAll(journal);
    }
    const QByteArray after = ReadAll(path);
    ASSERT_EQ(after.size(), 4 * 796);
    auto record = [](const QByteArray& store, int n) { return store.mid((n - 1) * 796, 796); };
    // Where each record's old bytes lie in the journal; the header's payload
    // (the store's length) starts at byte 20.
    const qsizetype old2 = left.indexOf(record(before, 2)), old3 = left.indexOf(record(before, 3));
    ASSERT_GT(old2, 0);
    ASSERT_GT(old3, old2);
    struct Case {
        const char* what;
        qsizetype flip; // -1: none
        QByteArray expected;
    };
    const Case cases[] = {
        {"whole", -1, before},
        // The journal ends at record 3's entry: record 2 is put back, records 3
        // and 1 keep what the command wrote, and the store its old length.
        {"a byte flipped in record 3's old bytes", old3 + 300,
         record(after, 1) + record(before, 2) + record(after, 3)},
        {"a byte flipped in record 2's old bytes", old2 + 300, after.left(3 * 796)},
        // A header that does not match never landed whole: nothing is touched.
        {"a byte flipped in the header", 20, after},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(path, after);
        QByteArray damaged = left;
        if (c.flip >= 0) damaged[c.flip] = char(damaged[c.flip] ^ 0x01);
        WriteAll(journal, damaged);
        DropBookmarkIndexes();
        RecoverStore(path);
        EXPECT_EQ(ReadAll(path), c.expected);
        EXPECT_FALSE(QFile::exists(journal));
    }
}

TEST_F(Store, RewritingARecordNotInTheStoreFails) {
    Add("/a/x.mp3", 5);
    TBookmark bm;
    bm.Rec.RecNo = 5;
    bm.Rec.FilePath = "/a/z.mp3";
    QString err;
    EXPECT_FALSE(WriteBookmark(bm, path, TWriteContext{}, &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(QFileInfo(path).size(), 796);
}

TEST_F(Store, UnwritableStoreReportsAnError) {
    TBookmark bm;
    bm.Rec.FilePath = "/a/x.mp3";
    QString err;
    EXPECT_FALSE(WriteBookmark(bm, dir->path() + "/missing/Narrabel.nbm", TWriteContext{}, &err));
    EXPECT_TRUE(err.startsWith("Cannot open the bookmark store")) << err.toStdString();
}

TEST_F(Store, Autolist) {
    const struct {
        TMP3Rec tag;
        bool autoExtra;
        int listedAfterTwoWrites;
    } cases[] = {
        {Tag("", "Alb", "01", "T"), false, 1}, {Tag("A", "", "01", "T"), false, 1},
        {Tag("", "", "", ""), false, 1},       {Tag("A", "Alb", "", "T"), false, 0},
        {Tag("A", "Alb", "", "T"), true, 1},   {Tag("A", "Alb", "01", ""), true, 1},
        {Tag("A", "Alb", "01", "T"), true, 0},
    };
    int i = 0;
    for (const auto& c : cases) {
        QStringList list{"/other.mp3"};
        const QString file = QString("/a/%1.mp3").arg(i++);
        for (int w = 0; w < 2; ++w) {
            TBookmark bm;
            bm.Rec.FilePath = file;
            TWriteContext ctx;
            ctx.Tag = c.tag;
            ctx.AutoExtra = c.autoExtra;
            ctx.EditList = &list;
            ASSERT_TRUE(WriteBookmark(bm, path, ctx));
        }
        EXPECT_EQ(list.count(file), c.listedAfterTwoWrites) << file.toStdString();
        EXPECT_EQ(list.first(), "/other.mp3");
    }
}

TEST_F(Store, MarkDeletedKeepsPlaceAndNumber) {
    Add("/a/x.mp3", 5);
    const TBookmarkRec two = Add("/a/y.mp3", 7000);
    TBookmark bm(path, 2);
    ASSERT_TRUE(MarkDeleted(bm, path, kNow.addDays(1)));
    const TBookmark back(path, 2);
    EXPECT_EQ(back.Rec.FilePath, QString("*"));
    EXPECT_EQ(back.Rec.RecNo, 2);
    EXPECT_EQ(back.Rec.Description, two.Description + " {00:07} [00000002]");
    EXPECT_EQ(back.Rec.Stamp, QString("20240316 09:30"));
    EXPECT_EQ(StoreRecordCount(path), 2);
}

TEST_F(Store, ForEachRecordReadsInFileOrder) {
    {
        TStoreCommand import(path); // one sync for the lot, as an import has
        for (int i = 1; i <= 1200; ++i)
            Add(QString("/f%1.mp3").arg(i), i);
    }
    QVector<int32_t> seen;
    EXPECT_TRUE(ForEachRecord(path, [&](const TBookmarkRec& r) {
        seen.append(r.RecNo);
        return r.RecNo < 1000;
    }));
    ASSERT_EQ(seen.size(), 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(seen[i], i + 1);
    EXPECT_FALSE(
        ForEachRecord(dir->path() + "/none.nbm", [](const TBookmarkRec&) { return true; }));
}

TEST_F(Store, CompactionRenumbersLiveRecords) {
    QStringList descs;
    for (int i = 1; i <= 5; ++i)
        descs << Add(QString("/f%1.mp3").arg(i), i * 1000).Description;
    for (int n : {2, 4}) {
        TBookmark bm(path, n);
        ASSERT_TRUE(MarkDeleted(bm, path, kNow));
    }
    const QByteArray before = ReadAll(path);
    const QString tmp = dir->path() + "/!.tmp";
    int steps = 0;
    EXPECT_EQ(CompactStore(path, tmp,
                           [&] {
                               ++steps;
                               return true;
                           }),
              TCompactResult::Done);
    EXPECT_GE(steps, 5);
    EXPECT_FALSE(QFileInfo::exists(tmp));
    ASSERT_EQ(StoreRecordCount(path), 3);
    const QByteArray after = ReadAll(path);
    const int oldPlace[] = {1, 3, 5};
    for (int i = 0; i < 3; ++i) {
        const TBookmark bm(path, i + 1);
        EXPECT_EQ(bm.Rec.RecNo, i + 1);
        EXPECT_EQ(bm.Rec.Description, descs[oldPlace[i] - 1]); // old suffix kept
        EXPECT_EQ(BookmarkNodeText(bm.Rec.Description, bm.Rec.RecNo).right(10),
                  QString("[0000000%1]").arg(i + 1));
        // Every byte but the number is copied as it was.
        EXPECT_EQ(after.mid(i * 796 + 4, 792), before.mid((oldPlace[i] - 1) * 796 + 4, 792));
    }
    EXPECT_EQ(BookmarkIndex(path).Count(), 3);
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/f5.mp3"), QVector<int32_t>{3});
    EXPECT_EQ(CompactStore(dir->path() + "/none.nbm", tmp), TCompactResult::NoStore);
}

TEST_F(Store, CompactionKeepsWritesMadeWhileItRuns) {
    for (int i = 1; i <= 6; ++i)
        Add(QString("/f%1.mp3").arg(i), i);
    TBookmark del(path, 3);
    ASSERT_TRUE(MarkDeleted(del, path, kNow));
    int steps = 0;
    // While events run: a new bookmark, a rename of an already copied record and
    // a delete of another copied one.
    auto step = [&] {
        ++steps;
        if (steps == 3) Add("/new.mp3", 42, "made meanwhile", {}, kNow, true);
        if (steps == 4) {
            TBookmark bm(path, 1);
            bm.Rec.Description = "renamed meanwhile";
            TWriteContext ctx;
            ctx.Now = kNow;
            EXPECT_TRUE(WriteBookmark(bm, path, ctx));
        }
        if (steps == 5) {
            TBookmark bm(path, 2);
            EXPECT_TRUE(MarkDeleted(bm, path, kNow));
        }
        return true;
    };
    ASSERT_EQ(CompactStore(path, dir->path() + "/!.tmp", step), TCompactResult::Done);
    QStringList paths, descs;
    ForEachRecord(path, [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        descs << r.Description;
        return true;
    });
    EXPECT_EQ(paths, (QStringList{"/f1.mp3", "/f4.mp3", "/f5.mp3", "/f6.mp3", "/new.mp3"}));
    EXPECT_TRUE(descs[0].startsWith("renamed meanwhile {")) << descs[0].toStdString();
    EXPECT_TRUE(descs[4].contains("[made meanwhile]"));
}

TEST_F(Store, CompactionDeletesFilesOfTheOldNumbersBeforeReplacingTheStore) {
    for (int i = 1; i <= 4; ++i)
        Add(QString("/f%1.mp3").arg(i), i);
    TBookmark bm(path, 2);
    ASSERT_TRUE(MarkDeleted(bm, path, kNow));
    const QString tree = dir->path() + "/Narrabel.tv";
    // Saved again while the copy runs (a bookmark made meanwhile): still gone at the end.
    auto step = [&] {
        WriteAll(tree, "Author\r\n\tx [00000004]\r\n");
        return true;
    };
    ASSERT_EQ(CompactStore(path, dir->path() + "/!.tmp", step, nullptr, {tree}),
              TCompactResult::Done);
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_EQ(StoreRecordCount(path), 3);
    // One that cannot be deleted (here a folder in its place): nothing is renumbered.
    ASSERT_TRUE(QDir().mkpath(tree + "/held"));
    TBookmark again(path, 1);
    ASSERT_TRUE(MarkDeleted(again, path, kNow));
    const QByteArray before = ReadAll(path);
    QString err;
    EXPECT_EQ(CompactStore(path, dir->path() + "/!.tmp", {}, &err, {tree}), TCompactResult::Failed);
    EXPECT_TRUE(err.contains("the bookmarks were not compacted")) << err.toStdString();
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/!.tmp"));
}

TEST_F(Store, CancelledCompactionLeavesTheStore) {
    for (int i = 1; i <= 3; ++i)
        Add(QString("/f%1.mp3").arg(i), i);
    TBookmark bm(path, 2);
    MarkDeleted(bm, path, kNow);
    const QByteArray before = ReadAll(path);
    int steps = 0;
    EXPECT_EQ(CompactStore(path, dir->path() + "/!.tmp", [&] { return ++steps < 2; }),
              TCompactResult::Cancelled);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/!.tmp"));
}

TEST_F(Store, RepointChangesLivePathsOnly) {
    Add("/m/a.mp3", 1);     // 1
    Add("/m/a.mp3", 2000);  // 2, deleted below
    Add("/m/A.mp3", 3000);  // 3, other case
    Add("/m/a.mp3", 4000);  // 4
    Add("/m/a.mp3x", 5000); // 5
    TBookmark del(path, 2);
    MarkDeleted(del, path, kNow);
    const QByteArray before = ReadAll(path);
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/m/a.mp3"), (QVector<int32_t>{1, 4}));
    EXPECT_EQ(RepointBookmarks(path, "/m/a.mp3", "/m/b.mp3"), 2);
    const QByteArray after = ReadAll(path);
    QStringList paths;
    ForEachRecord(path, [&](const TBookmarkRec& r) {
        paths << r.FilePath;
        return true;
    });
    EXPECT_EQ(paths, (QStringList{"/m/b.mp3", "*", "/m/A.mp3", "/m/b.mp3", "/m/a.mp3x"}));
    for (int n : {1, 4}) // description, stamp and number untouched
        EXPECT_EQ(after.mid((n - 1) * 796 + 259, 537), before.mid((n - 1) * 796 + 259, 537));
    EXPECT_EQ(after.mid(796, 796 * 3 - 796), before.mid(796, 796 * 3 - 796));
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/m/b.mp3"), (QVector<int32_t>{1, 4}));
    EXPECT_TRUE(BookmarkIndex(path).LiveRecordsOf("/m/a.mp3").isEmpty());
    EXPECT_EQ(RepointBookmarks(path, "*", "/x.mp3"), 0);
    EXPECT_EQ(RepointBookmarks(dir->path() + "/none.nbm", "/a", "/b"), 0);
}

TEST_F(Store, RepointingLooksAgainAtEachRecordBeforeWritingIt) {
    for (int i = 1; i <= 3; ++i)
        Add("/m/a.mp3", i * 1000);
    // Events run between records: meanwhile a later listed record is given
    // another file (the missing-source dialog's repoint, say).
    bool first = true;
    auto step = [&] {
        if (std::exchange(first, false)) {
            TBookmark bm(path, 3);
            bm.Rec.FilePath = "/m/other.mp3";
            TWriteContext ctx;
            ctx.Now = kNow;
            EXPECT_TRUE(WriteBookmark(bm, path, ctx));
        }
        return true;
    };
    EXPECT_EQ(RepointBookmarks(path, "/m/a.mp3", "/m/b.mp3", step), 2);
    EXPECT_EQ(TBookmark(path, 1).Rec.FilePath, "/m/b.mp3");
    EXPECT_EQ(TBookmark(path, 2).Rec.FilePath, "/m/b.mp3");
    EXPECT_EQ(TBookmark(path, 3).Rec.FilePath, "/m/other.mp3");
}

TEST_F(Store, IndexFollowsWritesAndOutsideChanges) {
    Add("/a.mp3", 1);
    const TBookmarkIndex& idx = BookmarkIndex(path);
    EXPECT_EQ(idx.Count(), 1);
    Add("/b.mp3", 1);
    Add("/a.mp3", 2);
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/a.mp3"), (QVector<int32_t>{1, 3}));
    TBookmark bm(path, 1);
    MarkDeleted(bm, path, kNow);
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/a.mp3"), QVector<int32_t>{3});
    EXPECT_EQ(BookmarkIndex(path).LivePaths(), (QStringList{"/b.mp3", "/a.mp3"}));
    // Another program appends a record: the index notices.
    TBookmarkRec outside;
    outside.RecNo = 4;
    outside.FilePath = "/c.mp3";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(outside.ToBytes());
    f.close();
    EXPECT_EQ(BookmarkIndex(path).Count(), 4);
    EXPECT_EQ(BookmarkIndex(path).LiveRecordsOf("/c.mp3"), QVector<int32_t>{4});
    ASSERT_NE(BookmarkIndex(path).At(4), nullptr);
    EXPECT_EQ(BookmarkIndex(path).At(5), nullptr);
    EXPECT_EQ(BookmarkIndex(path).At(0), nullptr);
}

TEST_F(Store, LatestChildRecordByStampThenNumber) {
    for (int i = 1; i <= 15; ++i)
        Add(QString("/f%1.mp3").arg(i), i, {}, {},
            i == 7   ? QDateTime(QDate(2024, 1, 1), QTime(10, 0))
            : i == 3 ? QDateTime(QDate(2024, 3, 15), QTime(9, 30))
                     : QDateTime(QDate(2023, 1, 1), QTime(0, 0)));
    const TBookmarkIndex& idx = BookmarkIndex(path);
    auto text = [&](int n) { return TBookmark(path, n).Rec.Description; };
    EXPECT_EQ(idx.LatestChildRecord({text(7), text(3)}), 3);
    EXPECT_EQ(idx.LatestChildRecord({text(5)}), 5);
    EXPECT_EQ(idx.LatestChildRecord({text(5), text(15)}), 15); // same stamp: higher number
    EXPECT_EQ(idx.LatestChildRecord({}), 0);
}

TEST_F(Store, DebugListing) {
    EXPECT_TRUE(DebugListing(path).isEmpty()); // no store
    WriteAll(path, {});
    EXPECT_TRUE(DebugListing(path).isEmpty());
    Add("/a/x.mp3", 576487, "alias");
    Add(QString(254, 'p'), 1);
    TBookmark bm(path, 1);
    MarkDeleted(bm, path, kNow);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(795, 'x'));
    f.close();
    const QStringList lines = DebugListing(path);
    ASSERT_EQ(lines.size(), 2);
    const TBookmark one(path, 1);
    EXPECT_EQ(lines[0], "00000001 - 000000576487 - 20240315 09:30 - " + PadRightTo("*", 254) +
                            " - " + PadRightTo(one.Rec.Description, 254) + "Narrabel bookmarks");
    const TBookmark two(path, 2);
    EXPECT_EQ(lines[1], "00000002 - 000000000001 - 20240315 09:30 - " + QString(254, 'p') + " - " +
                            PadRightTo(two.Rec.Description, 254) + "Narrabel bookmarks");
}

TEST(Record, ForeignBytesReadAsLatin1) {
    TBookmarkRec r;
    r.RecNo = 3;
    QByteArray b = r.ToBytes();
    b[4] = 4;
    memcpy(b.data() + 5, "C:\xE9x", 4); // an 8-bit path
    EXPECT_EQ(TBookmarkRec::FromBytes(b.constData()).FilePath, QString::fromLatin1("C:\xE9x"));
    b[4] = char(255); // a length past the capacity is held to it
    EXPECT_EQ(TBookmarkRec::FromBytes(b.constData()).FilePath.size(), 254);
}

} // namespace
