// The narrabel-tag tool, run as a user's script would.
#include "core/id3v2_testutil.h"
#include "support/testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

using namespace id3test;

namespace {

QString Tool() {
    return QStringLiteral(NARRABEL_BINARY_DIR "/tools/narrabel-tag");
}

struct ToolRun {
    int exit;
    QByteArray out, err;
};

ToolRun Exec(const QStringList& args) {
    QProcess p;
    p.start(Tool(), args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

class NarrabelTag : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFile::exists(Tool())) GTEST_SKIP() << "narrabel-tag is not built here";
    }
    std::unique_ptr<QTemporaryDir> dir = testsupport::MakeTempDir();
};

TEST_F(NarrabelTag, ReadPrintsTheLoadAndTheRecord) {
    const QString p = dir->path() + "/a.mp3";
    testsupport::WriteAll(p, Tag(3,
                                 FrameV3("TIT2", Text("Title")) + FrameV3("TRCK", Text("5")) +
                                     FrameV3("TPE1", QByteArray("\3Zo\xC3\xAB", 5)),
                                 7) +
                                 Audio(100));
    const ToolRun r = Exec({"read", p});
    EXPECT_EQ(r.exit, 0);
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(o["result"].toInt(), 0);
    EXPECT_EQ(o["version"].toInt(), 3);
    EXPECT_EQ(o["revision"].toInt(), 0);
    EXPECT_EQ(o["padding"].toInt(), 7);
    EXPECT_EQ(o["tagSize"].toInt(), 16 + 12 + 15 + 7);
    EXPECT_EQ(o["title"].toString(), "Title");
    EXPECT_EQ(o["track"].toString(), "05");
    EXPECT_EQ(o["artist"].toString(), QString::fromUtf8("Zoë"));
    const QJsonArray frames = o["frames"].toArray();
    ASSERT_EQ(frames.size(), 3);
    EXPECT_EQ(frames[1].toObject()["id"].toString(), "TRCK");
    EXPECT_EQ(frames[1].toObject()["size"].toInt(), 2);

    const ToolRun none = Exec({"read", dir->path() + "/missing.mp3"});
    EXPECT_EQ(none.exit, 1);
    EXPECT_EQ(QJsonDocument::fromJson(none.out).object()["result"].toInt(), 0x0100);
}

TEST_F(NarrabelTag, WriteReplacesGivenFieldsOnly) {
    const QString p = dir->path() + "/b.mp3";
    testsupport::WriteAll(p, Tag(4, FrameV4("TALB", Text("Book")) + FrameV4("TIT2", Text("Old"))) +
                                 Audio(500));
    ToolRun w = Exec({"write", p, "--title", "Neue Über", "--album", "", "--comment", "c"});
    EXPECT_EQ(w.exit, 0);
    EXPECT_EQ(w.out.trimmed(), "0");
    const QJsonObject o = QJsonDocument::fromJson(Exec({"read", p}).out).object();
    EXPECT_EQ(o["title"].toString(), QString::fromUtf8("Neue Über"));
    EXPECT_EQ(o["album"].toString(), "");
    EXPECT_EQ(o["comment"].toString(), "c");
    EXPECT_EQ(o["version"].toInt(), 4);
    EXPECT_EQ(testsupport::ReadAll(p).right(500), Audio(500));

    // UTF-8 in the arguments and in the JSON.
    w = Exec({"write", p, "--artist", QString::fromUtf8("日本 😀")});
    EXPECT_EQ(w.exit, 0);
    const QByteArray read = Exec({"read", p}).out;
    EXPECT_TRUE(read.contains("\"artist\": \"日本 😀\""));
    EXPECT_EQ(QJsonDocument::fromJson(read).object()["artist"].toString(),
              QString::fromUtf8("日本 😀"));

    const QByteArray before = testsupport::ReadAll(p);
    QFile::setPermissions(p, QFile::ReadOwner);
    w = Exec({"write", p, "--artist", "Other"});
    EXPECT_EQ(w.exit, 1);
    EXPECT_EQ(w.err.trimmed(), "Error saving tag info.\nThe file is read-only.");
    EXPECT_EQ(testsupport::ReadAll(p), before);
}

} // namespace
