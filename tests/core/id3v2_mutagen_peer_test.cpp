// mutagen as a peer: tags it writes read the same here, and tags saved here
// read the same in mutagen with the audio after them unchanged.
#include "core/id3v2_peer_cases.h"
#include "support/testsupport.h"
#include "tags/mp3.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

using namespace id3test;

namespace {

const char* kPython = "/usr/bin/python3";

QString Script() {
    return testsupport::DataPath("id3v2/mutagen_peer.py");
}

QByteArray RunPython(const QStringList& args) {
    QProcess p;
    p.start(QString::fromLatin1(kPython), QStringList{Script()} + args);
    if (!p.waitForFinished(300000)) return {};
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

bool HaveMutagen() {
    QProcess p;
    p.start(QString::fromLatin1(kPython), {"-c", "import mutagen"});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class Id3Mutagen : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
    }
    std::unique_ptr<QTemporaryDir> dir = testsupport::MakeTempDir();
};

TEST_F(Id3Mutagen, TagsMutagenWritesReadTheSame) {
    const QJsonArray made = QJsonDocument::fromJson(RunPython({"make", dir->path()})).array();
    ASSERT_EQ(made.size(), 48);
    const struct {
        const char* key;
        QString TMP3Rec::*field;
    } fields[] = {{"TIT2", &TMP3Rec::Title},  {"TPE1", &TMP3Rec::Artist}, {"TALB", &TMP3Rec::Album},
                  {"TYER", &TMP3Rec::Year},   {"TCON", &TMP3Rec::Genre},  {"TRCK", &TMP3Rec::Track},
                  {"COMM", &TMP3Rec::Comment}};
    for (const QJsonValue& v : made) {
        const QJsonObject o = v.toObject();
        const QString path = o["file"].toString();
        SCOPED_TRACE(path.toStdString());
        const QJsonObject m = o["mutagen"].toObject();
        ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
        ReadTag(path);
        ASSERT_EQ(CurrentTag().FileName, path);
        for (const auto& f : fields) {
            QString want = EightBit(m[f.key].toString());
            if (QLatin1String(f.key) == QLatin1String("TRCK")) want = want.rightJustified(2, '0');
            EXPECT_EQ(CurrentTag().*f.field, want) << f.key;
        }
        // The audio begins where mutagen says the tag ends.
        EXPECT_EQ(qint64(TagStore().TagSize()) + 10, m["size"].toInteger());
    }
}

TEST_F(Id3Mutagen, TagsWeSaveReadTheSameInMutagen) {
    const std::vector<SavedCase> cases = MakeSavedCases(dir->path());
    QStringList paths;
    for (const SavedCase& c : cases)
        paths << c.path;
    const QJsonObject read =
        QJsonDocument::fromJson(RunPython(QStringList{"read"} + paths)).object();
    for (const SavedCase& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QJsonObject m = read[c.path].toObject();
        ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
        EXPECT_EQ(m["version"].toInt(), c.version);
        EXPECT_EQ(m["TIT2"].toString(), c.fields.Title);
        EXPECT_EQ(m["TPE1"].toString(), c.fields.Artist);
        EXPECT_EQ(m["TALB"].toString(), c.fields.Album);
        EXPECT_EQ(m["TRCK"].toString(), c.fields.Track);
        EXPECT_EQ(m["TCON"].toString(), c.fields.Genre);
        EXPECT_EQ(m["COMM"].toString(), c.fields.Comment);
        const QByteArray file = testsupport::ReadAll(c.path);
        EXPECT_EQ(file.mid(int(m["size"].toInteger())), c.audio);
        // And our own reader agrees.
        ReadTag(c.path);
        EXPECT_EQ(CurrentTag().Title, c.fields.Title);
        EXPECT_EQ(CurrentTag().Comment, c.fields.Comment);
    }
}

} // namespace
