#include "bookmarks/bookmarktree.h"
#include "bookmarks/treefile.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QVector<TTreeLine> Parse(const QByteArray& data, bool expectOk = true) {
    QVector<TTreeLine> out;
    QString err;
    EXPECT_EQ(ParseTreeText(data, out, &err), expectOk) << err.toStdString();
    return out;
}

TEST(TreeText, LevelsAndLineEnds) {
    const struct {
        const char* data;
        QVector<TTreeLine> nodes;
    } cases[] = {
        {"", {}},
        {"A\r\n\tb [00000001]\r\n\tc [00000002]\r\nB\r\n\td [00000003]\r\n",
         {{0, "A"}, {1, "b [00000001]"}, {1, "c [00000002]"}, {0, "B"}, {1, "d [00000003]"}}},
        {"A\n\tb\rB\r\n\tc", {{0, "A"}, {1, "b"}, {0, "B"}, {1, "c"}}},
        // Spaces count as levels too; the first line is a root whatever its indent.
        {"\t\tA\n b\n  c\nD", {{0, "A"}, {1, "b"}, {2, "c"}, {0, "D"}}},
        // Shallower goes back to the ancestor's level.
        {"A\n\tb\n\t\tc\n\td\nE", {{0, "A"}, {1, "b"}, {2, "c"}, {1, "d"}, {0, "E"}}},
        // A blank line in the middle is an outer node with no text.
        {"A\r\n\r\n\tb", {{0, "A"}, {0, ""}, {1, "b"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.data), c.nodes) << c.data;
}

TEST(TreeText, TooDeepFailsWithTheDesignedMessage) {
    QVector<TTreeLine> out;
    QString err;
    EXPECT_FALSE(ParseTreeText("Author\r\n\t\tBook [00000001]\r\nOther\r\n", out, &err));
    EXPECT_EQ(err, "Invalid level (2) for item \"Book [00000001]\"");
    EXPECT_EQ(out, (QVector<TTreeLine>{{0, "Author"}})); // partly filled
    EXPECT_FALSE(ParseTreeText("A\n\tb\n\t\t\t c", out, &err));
    EXPECT_EQ(err, "Invalid level (4) for item \"c\"");
}

TEST(TreeText, RenderUsesTabsAndCrLf) {
    const QVector<TTreeLine> nodes{{0, "Author"}, {1, "Book [00000001]"}, {0, "B"}};
    EXPECT_EQ(RenderTreeText(nodes), QByteArray("Author\r\n\tBook [00000001]\r\nB\r\n"));
    EXPECT_EQ(Parse(RenderTreeText(nodes)), nodes);
}

TEST(TreeText, LeadingBlanksSurviveSaveAndLoad) {
    auto dir = MakeTempDir();
    const QString path = dir->path() + "/Narrabel.tv";
    const QVector<TTreeLine> nodes{
        {0, "  Spaced Author"}, {1, "\tTabbed bookmark [00000001]"},    {0, "\t Tab Author"},
        {1, " x [00000002]"},   {0, QString(QChar(0x200B)) + "Marked"}, {1, "plain [00000003]"},
        {0, "Zo\u00EB \u4E2D"},
    };
    ASSERT_TRUE(SaveTreeFile(path, nodes));
    QVector<TTreeLine> back;
    ASSERT_TRUE(LoadTreeFile(path, back));
    EXPECT_EQ(back, nodes);
    // The file stays readable by level for any reader: no line starts with a blank
    // that is not a level.
    for (const QByteArray& line : ReadAll(path).split('\n')) {
        QByteArray l = line;
        while (l.startsWith('\t'))
            l.remove(0, 1);
        EXPECT_FALSE(l.startsWith(' ')) << line.constData();
    }
}

TEST(TreeText, LineBreaksInsideTextsDoNotSplitNodes) {
    const QVector<TTreeLine> nodes{{0, "A\r\nB"}, {1, "x\ny [00000001]"}};
    EXPECT_EQ(Parse(RenderTreeText(nodes)),
              (QVector<TTreeLine>{{0, "A  B"}, {1, "x y [00000001]"}}));
}

TEST(TreeText, EightBitFilesLoad) {
    EXPECT_EQ(Parse("Zo\xEB\r\n\tb"),
              (QVector<TTreeLine>{{0, QString::fromLatin1("Zo\xEB")}, {1, "b"}}));
}

TEST(TreeFile, MissingFileFailsAndUnwritableFolderReports) {
    auto dir = MakeTempDir();
    QVector<TTreeLine> out;
    QString err;
    EXPECT_FALSE(LoadTreeFile(dir->path() + "/none.tv", out, &err));
    EXPECT_FALSE(SaveTreeFile(dir->path() + "/no/such/Narrabel.tv", {{0, "A"}}, &err));
    EXPECT_TRUE(err.startsWith("Cannot write")) << err.toStdString();
}

TEST(NodeRecordNumber, Table) {
    const struct {
        const char* text;
        int64_t n;
    } cases[] = {
        {"Book - 03 - Part (x) [Chapter 3] {09:36} [00000012]", 12},
        {"a {00:01} [00000005]", 5},
        {"a {00:01} [00000015]", 15},
        {"a [09999999]", 9999999},
        {"[00000001]", 1},
        {"", 0},
        {"]", 0},
        {"Author", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NodeRecordNumber(QString::fromUtf8(c.text)), c.n) << c.text;
}

TEST(BookmarkNodeText, ShowsTheRecordsOwnNumber) {
    EXPECT_EQ(BookmarkNodeText("Book {09:36} [00000012]", 12), "Book {09:36} [00000012]");
    EXPECT_EQ(BookmarkNodeText("Book {09:36} [00000012]", 3), "Book {09:36} [00000003]");
    EXPECT_EQ(NodeRecordNumber(BookmarkNodeText("x {00:00} [00000040]", 1234567)), 1234567);
}

TEST(NameMap, FollowsLinesInOrder) {
    const struct {
        QStringList lines;
        const char* name;
        QString mapped;
    } cases[] = {
        {{"A___B", "B___C"}, "A", "C"},
        {{"B___C", "A___B"}, "A", "B"}, // later lines only see earlier results
        {{"A___B", "B___A"}, "A", "A"},
        {{"a___B"}, "A", "A"},         // case-sensitive
        {{"A B"}, "A B", "A B"},       // no separator: never matches
        {{"A___B___C"}, "A", "B___C"}, // the first separator splits
        {{"A___"}, "A", ""},
        {{"___X"}, "", "X"},
        {{"A___" + QString(1200, 'n')}, "A", QString(999, 'n')},
        {{}, "A", "A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ApplyNameMap(c.name, c.lines), c.mapped) << c.name;
        const TNameMap map(c.lines);
        EXPECT_EQ(map.Apply(c.name), c.mapped);
        EXPECT_EQ(map.Apply(c.name), c.mapped); // remembered answer
    }
}

TEST(NameMap, AppendAndLoad) {
    auto dir = MakeTempDir();
    const QString path = dir->path() + "/Narrabel.map";
    EXPECT_TRUE(TNameMap::Load(path).Lines.isEmpty());
    EXPECT_TRUE(AppendNameMap(path, "Same", "Same"));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(AppendNameMap(path, "A", "B"));
    EXPECT_TRUE(AppendNameMap(path, "B", "C"));
    EXPECT_EQ(ReadAll(path), QByteArray("A___B\r\nB___C\r\n"));
    EXPECT_EQ(TNameMap::Load(path).Apply("A"), "C");
    QString err;
    EXPECT_FALSE(AppendNameMap(dir->path() + "/no/such.map", "A", "B", &err));
    EXPECT_FALSE(err.isEmpty());
}

} // namespace

// The tree as data: lookups name the first node of a text in tree order, a
// sorted insert into a tree loaded out of order sorts it first, and a removed
// node leaves the selection.
TEST(BookmarkTree, LookupsInsertsAndSelectionFollowTheNodes) {
    TBookmarkTree tree;
    tree.Load({{0, "Zola"}, {1, "b [00000002]"}, {0, "abel"}, {1, "a [00000001]"},
               {1, "dup [00000003]"}, {0, "Zola"}, {1, "dup [00000004]"}});
    EXPECT_FALSE(tree.Sorted());
    EXPECT_EQ(tree.FindOuterNode("Zola"), tree.Authors()[0]);
    EXPECT_EQ(tree.FindByText("dup [00000003]")->Parent, tree.Authors()[1]);
    EXPECT_EQ(tree.FindByRecNo(4)->Text, "dup [00000004]");

    TBookmarkTree::Node* abel = tree.FindOuterNode("abel");
    tree.AddBookmark(abel, "Book 10 [00000005]", true);
    tree.AddBookmark(abel, "Book 2 [00000006]", true);
    QStringList order;
    for (const TTreeLine& line : tree.Lines())
        order << line.Text;
    EXPECT_EQ(order, QStringList({"abel", "a [00000001]", "Book 2 [00000006]",
                                  "Book 10 [00000005]", "dup [00000003]", "Zola",
                                  "b [00000002]", "Zola", "dup [00000004]"}));
    EXPECT_EQ(tree.FindByText("Book 2 [00000006]"), abel->Children[1]) << "caches follow inserts";

    tree.Select(abel->Children[1]);
    tree.Remove(abel);
    EXPECT_EQ(tree.Current(), nullptr);
    EXPECT_TRUE(tree.Selected().isEmpty());
    EXPECT_EQ(tree.FindByText("Book 2 [00000006]"), nullptr);
    EXPECT_EQ(tree.NodeCount(), 4);
}
