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

// Every encoding in both versions, with texts in many scripts: our read gives
// exactly mutagen's text.
TEST_F(Id3Mutagen, TagsMutagenWritesReadTheSame) {
    QJsonArray made = QJsonDocument::fromJson(RunPython({"make", dir->path()})).array();
    ASSERT_EQ(made.size(), 48);
    for (const QJsonValue& v : QJsonDocument::fromJson(RunPython({"world", dir->path()})).array())
        made.append(v);
    ASSERT_EQ(made.size(), 60);
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
            QString want = m[f.key].toString();
            if (QLatin1String(f.key) == QLatin1String("TRCK")) want = want.rightJustified(2, '0');
            EXPECT_EQ(CurrentTag().*f.field, want) << f.key;
        }
        // The audio begins where mutagen says the tag ends.
        EXPECT_EQ(qint64(TagStore().TagSize()) + 10, m["size"].toInteger());
    }
}

// Every frame as our loader finds it: ID, flag bytes and data, in file order.
QStringList FramesAsLoaded(const QString& path, const QStringList& skip) {
    Tid3v2tag tag;
    EXPECT_LT(tag.LoadFromFile(path, 0), 256);
    QStringList out;
    for (const TFrameEntry& e : tag.Frames().Entries()) {
        const QString id = QString::fromLatin1(e.ID, 4);
        if (skip.contains(id)) continue;
        out << id + ' ' + QByteArray(reinterpret_cast<const char*>(e.FileFlags), 2).toHex() + ' ' +
                   QByteArray(reinterpret_cast<const char*>(e.Data.data()), int(e.Data.size()))
                       .toHex();
    }
    return out;
}

// Changing one field through the real save: mutagen reads it as typed, in
// ISO-8859-1 when it fits and else in the version's Unicode encoding, every
// other frame back unchanged, our loader finds their bytes unchanged, and the
// audio is the same. The tags hold what the record does not show (more values,
// other frames).
TEST_F(Id3Mutagen, SavingOneFieldKeepsEveryOtherFrame) {
    const QJsonObject made = QJsonDocument::fromJson(RunPython({"keep", dir->path()})).object();
    ASSERT_EQ(made.size(), 4);
    const struct {
        const char* file;
        QString TMP3Rec::*field;
        const char* value;
        const char* key;   // the mutagen key that changes ("COMM::" covers every language)
        QStringList ours;  // our frame IDs that change
        const char* shows; // what mutagen then reads in that key
    } cases[] = {
        // Cyrillic, a dash and a two-line comment survive; TRCK "5" stays "5".
        {"v23-utf16", &TMP3Rec::Album, "New album", "TALB", {"TALB"}, "New album"},
        {"v23-utf16", &TMP3Rec::Track, "06", "TRCK", {"TRCK"}, "06"},
        // Multi-value frames keep every value; the year goes to TDRC (its date
        // stays), no TYER appears, and no TRCK is added.
        {"v24-utf8", &TMP3Rec::Year, "2002", "TDRC", {"TDRC"}, "2002-05-12"},
        {"v24-utf8", &TMP3Rec::Comment, "New note", "COMM::", {"COMM"}, "New note"},
        // A grouped frame that is set loses its grouping and the save succeeds;
        // an encrypted one nobody changed goes back as it was.
        {"v23-flags", &TMP3Rec::Album, "Plain album", "TALB", {"TALB"}, "Plain album"},
        {"v23-flags", &TMP3Rec::Artist, "Other", "TPE1", {"TPE1"}, "Other"},
        {"v24-flags", &TMP3Rec::Title, "Plain title", "TIT2", {"TIT2"}, "Plain title"},
        {"v24-flags", &TMP3Rec::Year, "2000", "TDRC", {"TDRC"}, "2000"},
        {"id3v2.4-with-multiple-album-artists-null-separated",
         &TMP3Rec::Year,
         "2005",
         "TDRC",
         {"TDRC"},
         "2005"},
        // Beyond ISO-8859-1: Polish, Greek with an emoji, Japanese, Arabic.
        {"v23-flags", &TMP3Rec::Artist, "Stanisław Lem", "TPE1", {"TPE1"}, "Stanisław Lem"},
        {"v24-utf8", &TMP3Rec::Title, "Οδύσσεια 😀", "TIT2", {"TIT2"}, "Οδύσσεια 😀"},
        {"v23-utf16",
         &TMP3Rec::Comment,
         "吾輩は猫である 📚",
         "COMM::",
         {"COMM"},
         "吾輩は猫である 📚"},
        {"v24-flags", &TMP3Rec::Album, "نجيب محفوظ", "TALB", {"TALB"}, "نجيب محفوظ"},
    };
    QStringList paths, originals;
    int n = 0;
    for (const auto& c : cases) {
        const QString from =
            made.contains(c.file)
                ? made[c.file].toString()
                : testsupport::PeersPath(QStringLiteral("other/music-metadata/%1.mp3").arg(c.file));
        originals << from;
        paths << testsupport::CopyFixture(from, dir->path(), QStringLiteral("case%1.mp3").arg(n++));
    }
    const QJsonObject before =
        QJsonDocument::fromJson(RunPython(QStringList{"dump"} + originals)).object();
    std::vector<QStringList> oursBefore;
    for (int k = 0; k < paths.size(); ++k) {
        const auto& c = cases[k];
        SCOPED_TRACE(paths[k].toStdString());
        oursBefore.push_back(FramesAsLoaded(paths[k], c.ours));
        ReadTag(paths[k]);
        // A version 4 year is read from TDRC.
        if (c.field == &TMP3Rec::Year) {
            EXPECT_EQ(CurrentTag().Year.size(), 4);
        }
        CurrentTag().*c.field = QString::fromUtf8(c.value);
        EXPECT_LT(SaveCurrentTag(paths[k]), 256);
    }
    const QJsonObject after =
        QJsonDocument::fromJson(RunPython(QStringList{"dump"} + paths)).object();
    for (int k = 0; k < paths.size(); ++k) {
        const auto& c = cases[k];
        SCOPED_TRACE(paths[k].toStdString() + " from " + c.file);
        const QJsonObject m0 = before[originals[k]].toObject();
        const QJsonObject m1 = after[paths[k]].toObject();
        ASSERT_FALSE(m1.contains("error")) << m1["error"].toString().toStdString();
        EXPECT_EQ(m1["audio"], m0["audio"]);
        EXPECT_EQ(m1["unknown"], m0["unknown"]);
        const QString key = QString::fromLatin1(c.key);
        auto others = [&](const QJsonObject& m) {
            QJsonObject f = m["frames"].toObject();
            for (const QString& k : f.keys())
                if (k.startsWith(key) && (key.endsWith(':') || k == key)) f.remove(k);
            return f;
        };
        EXPECT_EQ(others(m1), others(m0));
        QString shown;
        const QJsonObject f1 = m1["frames"].toObject();
        for (const QString& k : f1.keys())
            if (k.startsWith(key)) shown = f1[k].toString();
        EXPECT_TRUE(shown.contains(QStringLiteral("'%1'").arg(QString::fromUtf8(c.shows))))
            << shown.toStdString();
        const char* encoding = id3v2::IsLatin1(QString::fromUtf8(c.value)) ? "LATIN1: 0"
                               : m1["version"].toInt() == 3                ? "UTF16: 1"
                                                                           : "UTF8: 3";
        EXPECT_TRUE(shown.contains(QStringLiteral("encoding=<Encoding.") + encoding))
            << shown.toStdString();
        EXPECT_FALSE(f1.contains("TYER") && !m0["frames"].toObject().contains("TYER"));
        EXPECT_EQ(FramesAsLoaded(paths[k], c.ours), oursBefore[size_t(k)]);
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
