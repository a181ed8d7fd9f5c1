#include "bookmarks/bookmark.h"
#include "rename/massrename.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

// Day and month names come from the user's locale; pin it before Qt reads it.
const bool localePinned = [] {
    setenv("LC_ALL", "C", 1);
    return true;
}();

class MassRenameTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp = testsupport::MakeTempDir();
        root = tmp->path() + "/books";
        data = tmp->path() + "/data/";
        QDir().mkpath(root);
        QDir().mkpath(data);
    }
    void TearDown() override { SetRenameat2ForTest(nullptr); }

    QString Make(const QString& rel, const QByteArray& content = "audio") {
        const QString p = root + "/" + rel;
        QDir().mkpath(QFileInfo(p).path());
        WriteAll(p, content);
        return p;
    }
    void SetTag(const QString& rel, const char* artist, const char* album, const char* track,
                const char* title) {
        TMP3Rec r;
        r.Artist = artist;
        r.Album = album;
        r.Track = track;
        r.Title = title;
        r.FileName = root + "/" + rel;
        tags[root + "/" + rel] = r;
    }
    TMassRenameWalk Walk() {
        TMassRenameWalk w;
        w.ReadTag = [this](const QString& p) {
            readOrder << p;
            return tags.value(p); // a file without a tag reads as empty fields
        };
        return w;
    }
    static QStringList OldPaths(const std::vector<TRenameAction>& rows) {
        QStringList out;
        for (const auto& r : rows)
            out << r.OldPath;
        return out;
    }

    std::unique_ptr<QTemporaryDir> tmp;
    QString root, data;
    QMap<QString, TMP3Rec> tags;
    QStringList readOrder;
};

TEST_F(MassRenameTest, RenameNeverReplacesAFile) {
    const QString a = Make("a.mp3", "AAA");
    const QString b = Make("b.mp3", "BBB");
    EXPECT_EQ(RenameNoReplace(a, b), TRenameStatus::TargetExists);
    EXPECT_EQ(ReadAll(a), "AAA");
    EXPECT_EQ(ReadAll(b), "BBB");

    // A dangling link is an entry too.
    const QString link = root + "/link.mp3";
    ASSERT_TRUE(QFile::link(root + "/nowhere", link));
    EXPECT_TRUE(PathTaken(link));
    EXPECT_EQ(RenameNoReplace(a, link), TRenameStatus::TargetExists);
    EXPECT_TRUE(QFile::exists(a));

    EXPECT_EQ(RenameNoReplace(a, root + "/c.mp3"), TRenameStatus::Ok);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(ReadAll(root + "/c.mp3"), "AAA");
    EXPECT_EQ(RenameNoReplace(a, root + "/d.mp3"), TRenameStatus::Failed); // gone
    EXPECT_EQ(RenameNoReplace(b, b), TRenameStatus::Ok);
    EXPECT_EQ(ReadAll(b), "BBB");
}

TEST_F(MassRenameTest, RenameRefusesNamesThatLeaveTheFolder) {
    const QString a = Make("a.mp3", "AAA");
    Make("sub/keep.txt");
    const QString folder = root + "/";
    const QString bad[] = {folder + "sub/x.mp3",
                           folder + ".",
                           folder + "..",
                           folder,
                           folder + "x" + QChar(0) + "y.mp3",
                           tmp->path() + "/x.mp3"};
    for (const QString& to : bad) {
        EXPECT_EQ(RenameNoReplace(a, to), TRenameStatus::IllegalName) << to.toStdString();
        EXPECT_EQ(ReadAll(a), "AAA");
    }
    EXPECT_FALSE(QFile::exists(folder + "x"));
    EXPECT_FALSE(QFile::exists(folder + "sub/x.mp3"));
}

int NoRenameat2(int, const char*, int, const char*, unsigned) {
    errno = EINVAL;
    return -1;
}

TEST_F(MassRenameTest, RenameFallsBackToLinkAndUnlink) {
    SetRenameat2ForTest(&NoRenameat2);
    const QString a = Make("a.mp3", "AAA");
    const QString b = Make("b.mp3", "BBB");
    EXPECT_EQ(RenameNoReplace(a, b), TRenameStatus::TargetExists);
    EXPECT_EQ(ReadAll(a), "AAA");
    EXPECT_EQ(ReadAll(b), "BBB");
    EXPECT_EQ(RenameNoReplace(a, root + "/c.mp3"), TRenameStatus::Ok);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(ReadAll(root + "/c.mp3"), "AAA");
}

TEST_F(MassRenameTest, WalkListsSubfoldersFirstAndSkipsUnchangedNames) {
    Make("own.mp3");
    SetTag("own.mp3", "Au", "Ti", "01", "One");
    Make("Au-Ti-02-Two.mp3"); // already named after its tag
    SetTag("Au-Ti-02-Two.mp3", "Au", "Ti", "02", "Two");
    Make("au-ti-03-three.MP3"); // differs only in letter case
    SetTag("au-ti-03-three.MP3", "Au", "Ti", "03", "Three");
    Make(".hidden.mp3");
    Make("notes.txt");
    Make("Sub/deep/d.mp3");
    SetTag("Sub/deep/d.mp3", "Au", "Deep", "09", "");
    Make("Sub/s.mp3");
    Make(".hiddendir/h.mp3");
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/pipe.mp3").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(root + "/gone", root + "/dangling.mp3"));
    ASSERT_TRUE(QFile::link(root + "/Sub", root + "/linked"));

    QStringList status, found;
    TMassRenameWalk w = Walk();
    w.Status = [&](const QString& t) { status << t; };
    w.Found = [&](const TRenameAction& r) { found << r.OldPath; };
    const auto rows = PlanMassRename(root, TNamePattern(), "mp3", w);

    ASSERT_EQ(OldPaths(rows),
              QStringList({root + "/Sub/deep/d.mp3", root + "/Sub/s.mp3", root + "/own.mp3"}));
    EXPECT_EQ(found, OldPaths(rows));
    EXPECT_EQ(rows[0].NewName, "Au-Deep-09.mp3");
    EXPECT_EQ(rows[1].NewName, "audio_.mp3"); // no tag
    EXPECT_EQ(rows[2].NewName, "Au-Ti-01-One.mp3");
    EXPECT_EQ(rows[2].NewPath(), root + "/Au-Ti-01-One.mp3");
    for (const auto& r : rows) {
        EXPECT_TRUE(r.Checked);
        EXPECT_TRUE(r.SkipReason.isEmpty());
    }
    EXPECT_EQ(status.first(), root);
    EXPECT_TRUE(status.contains(root + "/Sub/deep"));
    EXPECT_FALSE(readOrder.contains(root + "/.hidden.mp3"));
    EXPECT_FALSE(readOrder.contains(root + "/.hiddendir/h.mp3"));
    EXPECT_FALSE(readOrder.contains(root + "/linked/s.mp3"));
    EXPECT_FALSE(readOrder.contains(root + "/pipe.mp3"));
    EXPECT_FALSE(readOrder.contains(root + "/dangling.mp3"));
}

TEST_F(MassRenameTest, OtherBooksAreTakenAndKeepTheirOwnExtension) {
    Make("a.M4B");
    SetTag("a.M4B", "Au", "Bk", "01", "One");
    Make("b.opus");
    SetTag("b.opus", "Au", "Bk", "02", "Two");
    Make("c.mp3");
    SetTag("c.mp3", "Au", "Bk", "03", "Three");
    Make("d.wav");
    QStringList names;
    for (const auto& r : PlanMassRename(root, TNamePattern(), "mp3", Walk()))
        names << r.NewName;
    names.sort();
    EXPECT_EQ(names, QStringList({"Au-Bk-01-One.M4B", "Au-Bk-02-Two.opus", "Au-Bk-03-Three.mp3"}));
}

TEST_F(MassRenameTest, PlanForeseesCollisionsAndIllegalNames) {
    Make("x1.mp3");
    Make("x2.mp3"); // both untagged: both become audio_.mp3
    Make("slash.mp3");
    SetTag("slash.mp3", "AC/DC", "", "1/12", "");
    Make("dot.mp3");
    TNamePattern p;
    p.Delim = "";
    auto rows = PlanMassRename(root, p, "", Walk()); // "audio_." for untagged files
    QMap<QString, QString> reason, name;
    QStringList audio;
    for (const auto& r : rows) {
        reason[QFileInfo(r.OldPath).fileName()] = r.SkipReason;
        name[QFileInfo(r.OldPath).fileName()] = r.NewName;
        if (r.NewName == "audio_.") audio << r.SkipReason;
    }
    // The row holds the name the rename will give: no "/" from the tag.
    EXPECT_EQ(name["slash.mp3"], "AC-DC01.");
    EXPECT_EQ(reason["slash.mp3"], "");
    audio.sort();
    EXPECT_EQ(audio, QStringList({"", "NewName exists", "NewName exists"}));
}

TEST_F(MassRenameTest, StopSkipsFoldersNotYetEntered) {
    Make("top.mp3");
    Make("A/a.mp3");
    Make("A/B/b.mp3");
    int folders = 0;
    TMassRenameWalk w = Walk();
    w.Status = [&](const QString& t) { folders += t.startsWith('/'); };
    w.Stop = [&] { return folders >= 2; }; // cancel once two folders were entered
    const auto rows = PlanMassRename(root, TNamePattern(), "mp3", w);
    const QStringList paths = OldPaths(rows);
    EXPECT_FALSE(paths.contains(root + "/A/B/b.mp3"));
    EXPECT_TRUE(paths.contains(root + "/A/a.mp3"));
    EXPECT_TRUE(paths.contains(root + "/top.mp3"));
}

TMassRenameApply Apply(QStringList* renamed, QList<QDateTime> times) {
    TMassRenameApply a;
    a.Rename = [renamed](const QString& from, const QString& to) {
        renamed->append(from + " -> " + to);
        return RenameNoReplace(from, to) == TRenameStatus::Ok;
    };
    auto clock = std::make_shared<QList<QDateTime>>(times);
    a.Now = [clock] { return clock->takeFirst(); };
    return a;
}

const QDateTime kStart(QDate(2026, 12, 8), QTime(9, 5, 3, 7));
const QDateTime kEnd(QDate(2026, 12, 8), QTime(9, 6, 0, 250));

TEST_F(MassRenameTest, ApplyOverTwoFoldersWritesTheDesignedLog) {
    Make("One/a.mp3", "A");
    SetTag("One/a.mp3", "Au", "Bk", "01", "Ch");
    Make("One/b.mp3", "B");
    SetTag("One/b.mp3", "Au", "Bk", "02", "Ch");
    Make("One/c.mp3", "C");
    SetTag("One/c.mp3", "Au", "Bk", "03", "Ch");
    Make("Two/d.mp3", "D");
    SetTag("Two/d.mp3", "Au", "Bk", "04", "Ch");
    Make("Two/e.mp3", "E");
    SetTag("Two/e.mp3", "AC/DC", "", "", "");
    Make("Two/f.mp3", "F");
    SetTag("Two/f.mp3", "Au", "Bk", "05", "Ch");
    Make("Two/Au-Bk-05-Ch.mp3", "existing");
    SetTag("Two/Au-Bk-05-Ch.mp3", "Au", "Bk", "05", "Ch");

    auto rows = PlanMassRename(root, TNamePattern(), "mp3", Walk());
    ASSERT_EQ(rows.size(), 6u);
    // Order within a folder is the directory's; find rows by name.
    auto row = [&](const char* rel) -> TRenameAction& {
        for (auto& r : rows)
            if (r.OldPath == root + "/" + rel) return r;
        throw std::runtime_error(rel);
    };
    row("One/b.mp3").Checked = false;
    row("Two/d.mp3").Checked = false;
    EXPECT_EQ(row("Two/f.mp3").SkipReason, "NewName exists");
    EXPECT_EQ(row("Two/e.mp3").NewName, "AC-DC.mp3");
    QFile::remove(root + "/Two/e.mp3"); // gone before the apply: its rename fails

    QStringList renamed;
    std::vector<int> progress;
    TMassRenameApply a = Apply(&renamed, {kStart, kEnd});
    a.Progress = [&](int i, const TRenameAction&) { progress.push_back(i); };
    const TMassRenameLog log = ApplyMassRename(rows, data, a);

    EXPECT_EQ(progress, std::vector<int>({1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(log.Saved);
    EXPECT_EQ(log.Path, data + "MassRenameLog_20261208-0905.txt");
    EXPECT_EQ(ReadAll(log.Path), log.Text);

    // Expected lines, in plan order.
    QStringList expected = {"Narrabel - Mass Rename Log - Tuesday, December 8, 2026",
                            "Started : 09:05:03.007", ""};
    QString lastFolder;
    for (const auto& r : rows) {
        if (!r.Checked) continue;
        const QString folder = QFileInfo(r.OldPath).path() + "/";
        if (folder != lastFolder)
            expected << ""
                     << " - " + folder;
        lastFolder = folder;
        expected << "From   : " + QFileInfo(r.OldPath).fileName() << "To     : " + r.NewName;
        const QString name = QFileInfo(r.OldPath).fileName();
        expected << (name == "f.mp3"   ? "Result : SKIPPED - NewName exists"
                     : name == "e.mp3" ? "Result : ERROR"
                                       : "Result : OK")
                 << "";
    }
    expected << ""
             << "Finished: 09:06:00.250"
             << "";
    EXPECT_EQ(QString::fromUtf8(log.Text).split("\r\n"), expected);
    EXPECT_FALSE(log.Text.contains("b.mp3"));
    EXPECT_FALSE(log.Text.contains("d.mp3"));
    EXPECT_EQ(log.Text.count(" - " + (root + "/One/").toUtf8()), 1);
    EXPECT_EQ(log.Text.count(" - " + (root + "/Two/").toUtf8()), 1);

    // Disk: renamed, untouched, skipped, refused.
    EXPECT_EQ(ReadAll(root + "/One/Au-Bk-01-Ch.mp3"), "A");
    EXPECT_EQ(ReadAll(root + "/One/Au-Bk-03-Ch.mp3"), "C");
    EXPECT_EQ(ReadAll(root + "/One/b.mp3"), "B");
    EXPECT_EQ(ReadAll(root + "/Two/d.mp3"), "D");
    EXPECT_FALSE(QFile::exists(root + "/Two/AC-DC.mp3"));
    EXPECT_EQ(ReadAll(root + "/Two/f.mp3"), "F");
    EXPECT_EQ(ReadAll(root + "/Two/Au-Bk-05-Ch.mp3"), "existing");
    EXPECT_EQ(renamed.size(), 3); // the skipped row was not attempted

    EXPECT_EQ(row("One/a.mp3").Result, TRowResult::Ok);
    EXPECT_EQ(row("One/b.mp3").Result, TRowResult::Unticked);
    EXPECT_EQ(row("Two/e.mp3").Result, TRowResult::Error);
    EXPECT_EQ(row("Two/f.mp3").Result, TRowResult::Skipped);
}

TEST_F(MassRenameTest, CollidingUntaggedFilesFirstRenamedRestSkipped) {
    Make("x1.mp3", "1");
    Make("x2.mp3", "2");
    Make("x3.mp3", "3");
    auto rows = PlanMassRename(root, TNamePattern(), "mp3", Walk());
    ASSERT_EQ(rows.size(), 3u);
    QStringList renamed;
    const auto log = ApplyMassRename(rows, data, Apply(&renamed, {kStart, kEnd}));
    EXPECT_EQ(log.Text.count("Result : OK"), 1);
    EXPECT_EQ(log.Text.count("Result : SKIPPED - NewName exists"), 2);
    EXPECT_EQ(QDir(root).entryList(QDir::Files).size(), 3);
    EXPECT_TRUE(QFile::exists(root + "/audio_.mp3"));
}

TEST_F(MassRenameTest, EmptyTreeLogAndNoLogIsLost) {
    auto rows = PlanMassRename(root, TNamePattern(), "mp3", Walk());
    EXPECT_TRUE(rows.empty());
    const QString first = data + "MassRenameLog_20261208-0905.txt";
    WriteAll(first, "earlier run");
    QStringList renamed;
    const auto log = ApplyMassRename(rows, data, Apply(&renamed, {kStart, kEnd}));
    EXPECT_TRUE(log.Saved);
    EXPECT_EQ(log.Path, data + "MassRenameLog_20261208-0905_2.txt");
    EXPECT_EQ(ReadAll(first), "earlier run");
    EXPECT_EQ(ReadAll(log.Path), "Narrabel - Mass Rename Log - Tuesday, December 8, 2026\r\n"
                                 "Started : 09:05:03.007\r\n\r\n\r\nFinished: 09:06:00.250\r\n");
    const auto third = ApplyMassRename(rows, data, Apply(&renamed, {kStart, kEnd}));
    EXPECT_EQ(third.Path, data + "MassRenameLog_20261208-0905_3.txt");
    EXPECT_TRUE(third.Saved);

    // No data folder: nothing written anywhere, and the caller is told.
    const auto none = ApplyMassRename(rows, QString(), Apply(&renamed, {kStart, kEnd}));
    EXPECT_FALSE(none.Saved);
    EXPECT_FALSE(QFile::exists("MassRenameLog_20261208-0905.txt"));
}

TEST_F(MassRenameTest, LogShowsControlCharactersInNamesEscaped) {
    Make("Line\nFeed/a\nb.mp3", "A");
    SetTag("Line\nFeed/a\nb.mp3", "Au", "Bk", "01", "Ch\tX\r\x01");
    auto rows = PlanMassRename(root, TNamePattern(), "mp3", Walk());
    ASSERT_EQ(rows.size(), 1u);
    QStringList renamed;
    const auto log = ApplyMassRename(rows, data, Apply(&renamed, {kStart, kEnd}));
    EXPECT_TRUE(QFile::exists(root + "/Line\nFeed/Au-Bk-01-Ch\tX\r\x01.mp3"));
    const QStringList lines = QString::fromUtf8(log.Text).split("\r\n");
    EXPECT_EQ(lines.mid(3, 6),
              QStringList({"", " - " + root + "/Line\\nFeed/", "From   : a\\nb.mp3",
                           "To     : Au-Bk-01-Ch\\tX\\r\\x01.mp3", "Result : OK", ""}));
    EXPECT_EQ(log.Text.count('\n'), log.Text.count("\r\n")); // CR LF line ends only
}

TEST_F(MassRenameTest, LogNameUsesTwentyFourHours) {
    EXPECT_EQ(MassRenameLogName(QDateTime(QDate(2027, 1, 2), QTime(23, 7))),
              "MassRenameLog_20270102-2307.txt");
    EXPECT_EQ(MassRenameLogName(QDateTime(QDate(2027, 1, 2), QTime(0, 0))),
              "MassRenameLog_20270102-0000.txt");
}

TEST_F(MassRenameTest, ARenameJournalWithAFlippedByteIsDroppedNotFollowed) {
    // A file renamed, its bookmarks not repointed yet when the run ended.
    const QString store = data + "Narrabel.nbm";
    const QString a = Make("a.mp3"), renamed = root + "/renamed.mp3";
    Make("renamee.mp3"); // "renamed.mp3" with one bit flipped: another file
    TBookmark bm;
    bm.Rec.FilePath = a;
    bm.Rec.Position = 5000;
    bm.Rec.Description = "mark";
    QString error;
    ASSERT_TRUE(WriteBookmark(bm, store, TWriteContext{}, &error)) << error.toStdString();
    const QString journal = RenameJournalPath(store);
    QByteArray left;
    ASSERT_EQ(RenameAndRepoint(store, a, renamed,
                               [&](const QString&, const QString&) { left = ReadAll(journal); }),
              TRenameStatus::Ok);
    ASSERT_FALSE(left.isEmpty());
    const QByteArray storeLeft = ReadAll(store);
    struct Case {
        const char* what;
        bool flipped;
        TRenameRecovery::What result;
        QString pointsAt;
    };
    const Case cases[] = {
        {"whole", false, TRenameRecovery::Finished, renamed},
        {"a byte of the new name flipped", true, TRenameRecovery::Dropped, a},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(store, storeLeft);
        DropBookmarkIndexes();
        QByteArray bytes = left;
        if (c.flipped) {
            const qsizetype at = bytes.indexOf("renamed.mp3");
            ASSERT_GT(at, 0);
            bytes[at + 6] = char(bytes[at + 6] ^ 0x01);
        }
        WriteAll(journal, bytes);
        EXPECT_EQ(RecoverRename(store).Result, c.result);
        EXPECT_EQ(TBookmark(store, 1).Rec.FilePath, c.pointsAt);
        EXPECT_FALSE(QFile::exists(journal));
    }
}

} // namespace
