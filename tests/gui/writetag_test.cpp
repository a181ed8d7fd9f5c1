// WriteTag: the message on failure and the player stepping aside for the write.
#include "app/application.h"
#include "app/program.h"
#include "app/tfrmmain.h"
#include "playback/mediaplayer.h"
#include "support/guitestsupport.h"
#include "tags/mp3.h"
#include "tags/writetag.h"

#include <QFile>

using testsupport::ReadAll;

namespace {

class WriteTagTest : public WindowsTest {
protected:
    std::unique_ptr<QTemporaryDir> dir = testsupport::MakeTempDir();
    QString Copy(const char* peer) {
        return testsupport::CopyFixture(testsupport::PeersPath(QString::fromLatin1(peer)),
                                        dir->path());
    }
};

TEST_F(WriteTagTest, WritesFieldsWithoutMessage) {
    StartProgram({}, false);
    const QString p = Copy("mutagen/silence-44-s.mp3");
    ReadTag(p);
    CurrentTag().Album = "New album";
    WriteTag(*session, p);
    EXPECT_TRUE(dialogs->asked.empty());
    ReadTag(p);
    EXPECT_EQ(CurrentTag().Album, "New album");
}

TEST_F(WriteTagTest, FailureShowsTheMessageAndItsCause) {
    StartProgram({}, false);
    const QString p = Copy("mutagen/silence-44-s.mp3");
    // Any script is saved.
    ReadTag(p);
    CurrentTag().Title = QString::fromUtf8("日本語");
    WriteTag(*session, p);
    EXPECT_TRUE(dialogs->asked.empty());
    ReadTag(p);
    EXPECT_EQ(CurrentTag().Title, QString::fromUtf8("日本語"));

    const QByteArray before = ReadAll(p);
    CurrentTag().Title = "ok";
    QFile::setPermissions(p, QFile::ReadOwner);
    WriteTag(*session, p);
    EXPECT_EQ(dialogs->TextsOf("message"),
              QStringList({"Error saving tag info.\nThe file is read-only."}));
    EXPECT_EQ(ReadAll(p), before);
}

TEST_F(WriteTagTest, PlayingFileIsClosedForTheWriteAndPlaysOn) {
    StartProgram({}, false);
    const QString p = Copy("mutagen/silence-44-s.mp3");
    if (!mp) GTEST_SKIP() << "no player device";
    mp->SetFileName(p);
    try {
        mp->Open();
        mp->Play();
    } catch (const std::exception& e) {
        GTEST_SKIP() << "player cannot play here: " << e.what();
    }
    if (!WaitFor([&] { return mp->Mode() == TMediaPlayer::mpPlaying && mp->Position() > 100; }))
        GTEST_SKIP() << "player did not start";
    ReadTag(p);
    CurrentTag().Title = QString(6000, 'x'); // the tag grows: the audio moves
    WriteTag(*session, p);
    EXPECT_TRUE(dialogs->asked.empty());
    EXPECT_TRUE(WaitFor([&] { return mp->Mode() == TMediaPlayer::mpPlaying; }));
    EXPECT_GT(mp->Position(), 100);
    ReadTag(p);
    EXPECT_EQ(CurrentTag().Title, QString(6000, 'x'));
}

} // namespace
