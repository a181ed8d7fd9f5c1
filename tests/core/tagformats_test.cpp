// The tag facade over every format, against mutagen and ffmpeg as peers: M4B
// (both kinds of chapters, and the QuickTime kind alone), M4A, AAC with an
// ID3v2 tag, Opus, Ogg Vorbis, FLAC and MP3, tagged by mutagen in Latin and in
// other scripts.
#include "support/testsupport.h"
#include "tags/filetags.h"
#include "tags/id3v2/id3v2.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

using testsupport::ReadAll;

QByteArray RunPeer(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{testsupport::DataPath("tags/formats_peer.py")} + args);
    if (!p.waitForFinished(300000)) return {};
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

bool HavePeers() {
    QProcess p;
    p.start(QStringLiteral("/bin/sh"),
            {"-c", "command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null && "
                   "/usr/bin/python3 -c 'import mutagen'"});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString Sha1(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

TTagFormat Expected(const QString& format) {
    if (format.startsWith("m4")) return TTagFormat::Mp4;
    if (format == "opus") return TTagFormat::Opus;
    if (format == "ogg") return TTagFormat::OggVorbis;
    if (format == "flac") return TTagFormat::Flac;
    return TTagFormat::Id3v2; // mp3, and AAC behind its ID3v2 tag
}

class TagFormats : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!HavePeers()) return;
        folder = testsupport::MakeTempDir().release();
        made = QJsonDocument::fromJson(RunPeer({"make", folder->path()})).array();
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override {
        if (made.isEmpty()) GTEST_SKIP() << "ffmpeg, ffprobe or python3-mutagen is not installed";
        ASSERT_EQ(made.size(), 16);
    }
    static QTemporaryDir* folder;
    static QJsonArray made;
};
QTemporaryDir* TagFormats::folder = nullptr;
QJsonArray TagFormats::made;

// The seven fields read as mutagen reads them, whatever the format and the
// script; the cover read is the one embedded.
TEST_F(TagFormats, ReadAsMutagenReads) {
    for (const QJsonValue& v : made) {
        const QJsonObject m = v.toObject();
        const QString path = m["file"].toString();
        SCOPED_TRACE(path.toStdString());
        const TFileTag t = ReadFileTag(path, trCover);
        EXPECT_EQ(t.Format, Expected(m["format"].toString()));
        EXPECT_FALSE(t.Unreadable);
        EXPECT_EQ(t.Fields.FileName, path);
        const QJsonObject want = m["fields"].toObject();
        for (const TTagField& f : TagFields)
            EXPECT_EQ(t.Fields.*f.Field, want[f.Name].toString()) << f.Name;
        EXPECT_EQ(Sha1(t.Cover), m["cover"].toString());
        EXPECT_TRUE(t.CoverMime.startsWith("image/"));
    }
}

// A save of one field is read back by mutagen as typed; every other item, the
// covers, the chapters, every audio byte, the mode and the owner stay.
TEST_F(TagFormats, ASavedFieldReadsBackAndNothingElseChanges) {
    QStringList paths;
    for (const QJsonValue& v : made)
        paths << v.toObject()["file"].toString();
    const QJsonObject before =
        QJsonDocument::fromJson(RunPeer(QStringList{"dump"} + paths)).object();
    std::map<QString, struct stat> stats;
    std::map<QString, TFileTag> saved;
    for (const QJsonValue& v : made) {
        const QJsonObject m = v.toObject();
        const QString path = m["file"].toString();
        SCOPED_TRACE(path.toStdString());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &stats[path]), 0);
        TFileTag t = ReadFileTag(path);
        // Latin files get a title in other scripts, the others an artist in Latin.
        if (m["script"].toString() == "latin")
            t.Fields.Title = QString::fromUtf8("Ἡ σκιά — 影 "
                                               "😀 ");
        else
            t.Fields.Artist = "Ursula K. Le Guin";
        const TTagSaveResult r = SaveFileTag(t);
        EXPECT_TRUE(r.Ok()) << r.Cause.toStdString();
        saved[path] = t;
    }
    const QJsonObject after =
        QJsonDocument::fromJson(RunPeer(QStringList{"dump"} + paths)).object();
    const QJsonObject fields =
        QJsonDocument::fromJson(RunPeer(QStringList{"fields"} + paths)).object();
    for (const QJsonValue& v : made) {
        const QJsonObject m = v.toObject();
        const QString path = m["file"].toString();
        const bool latin = m["script"].toString() == "latin";
        SCOPED_TRACE(path.toStdString());
        const TFileTag& t = saved[path];
        const QString typed = latin ? t.Fields.Title : t.Fields.Artist;
        EXPECT_EQ(fields[path].toObject()[latin ? "title" : "artist"].toString(), typed);
        const QJsonObject old = before[path].toObject(), now = after[path].toObject();
        QJsonObject oldItems = old["items"].toObject(), newItems = now["items"].toObject();
        EXPECT_GE(oldItems.size(), 7);
        // The item changed, by its name in each format.
        for (const char* key : {"\u00a9nam", "title", "TIT2", "\u00a9ART", "artist", "TPE1"}) {
            oldItems.remove(QString::fromUtf8(key));
            newItems.remove(QString::fromUtf8(key));
        }
        EXPECT_EQ(newItems, oldItems);
        EXPECT_EQ(now["pictures"], old["pictures"]);
        EXPECT_EQ(now["pictures"].toArray().size(), 1);
        EXPECT_EQ(now["audio"], old["audio"]);
        EXPECT_TRUE(now["audio"].toString().startsWith("MD5="));
        EXPECT_EQ(now["chapters"], old["chapters"]);
        if (m["format"].toString().startsWith("m4b")) {
            EXPECT_EQ(now["chapters"].toArray().size(), 3);
        }
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode, stats[path].st_mode);
        EXPECT_EQ(st.st_uid, stats[path].st_uid);
        EXPECT_EQ(st.st_gid, stats[path].st_gid);
        // What was saved reads back here too, and the other field did not move.
        const TFileTag again = ReadFileTag(path);
        EXPECT_EQ(latin ? again.Fields.Title : again.Fields.Artist, typed.trimmed());
        EXPECT_EQ(latin ? again.Fields.Artist : again.Fields.Title,
                  latin ? t.Read.Artist : t.Read.Title);
    }
}

// No ID3v2 tag is ever put in front of a file that is not MPEG audio, by the
// program or by narrabel-tag; a file that cannot be written says why and
// stays as it was.
TEST_F(TagFormats, OtherFormatsKeepTheirOwnTagsAndRefusalsSayWhy) {
    for (const QJsonValue& v : made) {
        const QJsonObject m = v.toObject();
        const QString path = m["file"].toString();
        if (m["script"].toString() != "world" ||
            Expected(m["format"].toString()) == TTagFormat::Id3v2)
            continue;
        SCOPED_TRACE(path.toStdString());
        const QByteArray magic = ReadAll(path).left(8);
        QProcess tool;
        tool.start(QStringLiteral(NARRABEL_BINARY_DIR "/tools/narrabel-tag"),
                   {"write", path, "--album", "Anna Karenina"});
        if (!tool.waitForFinished(60000) || tool.exitCode() != 0) {
            ADD_FAILURE() << tool.readAllStandardError().toStdString();
            continue;
        }
        EXPECT_EQ(ReadAll(path).left(8), magic);
        EXPECT_EQ(ReadFileTag(path).Fields.Album, "Anna Karenina");

        // The shared record's save refuses such a file outright.
        ReadTag(path);
        CurrentTag().Title = "x";
        const QByteArray was = ReadAll(path);
        const int rc = SaveCurrentTag(path);
        EXPECT_GE(rc, 256);
        EXPECT_TRUE(SaveFailureCause(path, rc).contains("not MPEG audio"))
            << SaveFailureCause(path, rc).toStdString();
        EXPECT_EQ(ReadAll(path), was);

        TFileTag t = ReadFileTag(path);
        t.Fields.Genre = "Satire";
        QFile::setPermissions(path, QFile::ReadOwner);
        const TTagSaveResult r = SaveFileTag(t);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.Cause, "The file is read-only.");
        EXPECT_EQ(ReadAll(path), was);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
}

// With too little room for a new copy, the save refuses before anything is
// written (root only: a small file system of its own).
TEST_F(TagFormats, TooLittleRoomRefusesBeforeWriting) {
    QString m4b;
    for (const QJsonValue& v : made)
        if (v.toObject()["format"].toString() == "m4b") m4b = v.toObject()["file"].toString();
    const QString disk = folder->path() + "/disk";
    QDir().mkpath(disk);
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=1m") != 0) {
        std::cout << "[ NOTE ] no small file system here: the full-disk case is not run\n";
        return;
    }
    const QString path = disk + "/full.m4b";
    ASSERT_TRUE(QFile::copy(m4b, path));
    QFile filler(disk + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
    }
    filler.close();
    const QByteArray was = ReadAll(path);
    TFileTag t = ReadFileTag(path);
    t.Fields.Title = "Tehanu";
    const TTagSaveResult r = SaveFileTag(t);
    EXPECT_EQ(r.Code, id3ErrNoSpace);
    EXPECT_TRUE(r.Cause.startsWith("Not enough free space")) << r.Cause.toStdString();
    EXPECT_EQ(ReadAll(path), was);
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden).size(), 2); // nothing left behind
    ::umount(QFile::encodeName(disk).constData());
}

} // namespace
