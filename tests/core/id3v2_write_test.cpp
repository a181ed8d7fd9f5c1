// Saving tags: exact bytes written, padding, moving the audio, result codes and
// failures that must leave the audio intact.
#include "core/id3v2_testutil.h"
#include "support/testsupport.h"
#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/savejournal.h"
#include "util/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

using namespace id3test;
using testsupport::ReadAll;
using testsupport::WriteAll;

namespace {

uint32_t Crc(const QByteArray& b) {
    return uint32_t(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(b.constData()), uInt(b.size())));
}

QByteArray UnsyncBytes(const QByteArray& in) {
    QByteArray out;
    for (int k = 0; k < in.size(); ++k) {
        out.append(in[k]);
        const int next = k + 1 < in.size() ? uchar(in[k + 1]) : -1;
        if (uchar(in[k]) == 0xFF && (next < 0 || next == 0 || next >= 0xE0)) out.append('\0');
    }
    return out;
}

// A file as our first save leaves it: its length a multiple of 4096, so later
// size changes are whole blocks. extraBlocks makes the tag that much larger.
QByteArray SavedOnce(const QByteArray& frames, const QByteArray& audio, int extraBlocks) {
    const int used = 10 + frames.size() + audio.size();
    return Tag(3, frames, 4096 - used % 4096 + 4096 * extraBlocks) + audio;
}

// Whether the file system under dir inserts file space in place.
bool InsertsInPlace(const QString& dir) {
    const QString p = dir + "/probe";
    WriteAll(p, QByteArray(8192, 'x'));
    const int fd = ::open(QFile::encodeName(p).constData(), O_RDWR);
    const bool ok = fd >= 0 && ::fallocate(fd, FALLOC_FL_INSERT_RANGE, 4096, 4096) == 0;
    if (fd >= 0) ::close(fd);
    QFile::remove(p);
    return ok;
}

// The status texts one save goes through.
QStringList SaveSteps(Tid3v2tag& t, const QString& title) {
    QStringList steps;
    t.OnProgress = [&] {
        if (steps.isEmpty() || steps.last() != t.StatusText()) steps << t.StatusText();
    };
    t.SetTextFrame("TIT2", title);
    const uint16_t rc = t.SaveToFile("=", 255, 255, -1);
    t.OnProgress = nullptr;
    return rc < 256 ? steps : QStringList{"failed"};
}

// A grow past the old tag's space and a shrink by two blocks.
struct Resize {
    const char* name;
    int extraBlocks;
    QString title;
};
const Resize kResizes[] = {{"grow", 0, QString(6000, 'g')}, {"shrink", 2, "s"}};

class Id3Write : public ::testing::Test, protected TempFiles {
protected:
    Tid3v2tag tag;
    // Padding the alignment rule gives for a new tag of v bytes replacing d in F.
    static uint32_t Aligned(qint64 F, qint64 d, qint64 v) {
        qint64 p = (F / 4096 + 1) * 4096 + d - F - v;
        if (p == 0) return 0;
        p %= 4096;
        if (p <= 0) p += 4096;
        return uint32_t(p);
    }
};

TEST_F(Id3Write, NewTagBytesInFrontOfAudio) {
    const QByteArray audio = Audio(100);
    const QString p = Put(audio);
    EXPECT_EQ(tag.LoadFromFile(p, 0), id3ErrNoHeader);
    EXPECT_EQ(tag.SetTextFrame("TIT2", "Hi"), txtOk);
    EXPECT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    const uint32_t pad = Aligned(100, 0, 23);
    EXPECT_EQ(pad, 3973u);
    const QByteArray expected = Header(3, 0, 0, 13 + pad) + FrameV3("TIT2", id3test::Text("Hi")) +
                                QByteArray(int(pad), 0) + audio;
    EXPECT_EQ(ReadAll(p), expected);
    EXPECT_EQ(ReadAll(p).size() % 4096, 0);
    EXPECT_EQ(tag.TagSize(), 23u + pad);
    EXPECT_EQ(tag.StatusText(), "Save Complete");
    EXPECT_EQ(tag.Progress(), 100);
    EXPECT_FALSE(tag.Modified());
}

TEST_F(Id3Write, Version4CompressedFrameWithLengthIndicator) {
    const QByteArray audio = Audio(5000);
    const QString p = Put(Tag(4, FrameV4("TIT2", id3test::Text("x"))) + audio);
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    const QByteArray text = id3test::Text(QByteArray(500, 'c'));
    ASSERT_EQ(tag.SetTextFrame("TIT2", QString(500, 'c')), txtOk);
    tag.Frames().SetWriteFlags(1, fbFormat, ffCompressed);
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    const QByteArray packed = Deflated(text);
    const QByteArray frame = FrameV4("TIT2", Synchsafe(uint32_t(text.size())) + packed, 0, 0x09);
    const uint32_t pad = Aligned(5000 + 22, 22, 10 + frame.size());
    const QByteArray expected =
        Header(4, 0, 0, uint32_t(frame.size()) + pad) + frame + QByteArray(int(pad), 0) + audio;
    EXPECT_EQ(ReadAll(p), expected);

    Tid3v2tag again;
    ASSERT_EQ(again.LoadFromFile(p, 0), 0);
    QString t;
    EXPECT_EQ(again.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, QString(500, 'c'));
}

TEST_F(Id3Write, Version3CompressedFrameCarriesInflatedSize) {
    const QString p = Put(Audio(300));
    tag.LoadFromFile(p, 0);
    tag.SetTextFrame("TALB", QString(200, 'a'));
    tag.Frames().SetWriteFlags(1, fbFormat, ffCompressed);
    ASSERT_EQ(tag.SaveToFile("=", 3, 0, -1), 0);
    const QByteArray text = id3test::Text(QByteArray(200, 'a'));
    const QByteArray frame = QByteArray("TALB") + BE32(uint32_t(Deflated(text).size() + 4)) +
                             QByteArray("\0\x80", 2) + BE32(uint32_t(text.size())) + Deflated(text);
    EXPECT_TRUE(ReadAll(p).mid(10).startsWith(frame));
    EXPECT_EQ(tag.Frames().GetWriteFlags(1, fbFormat), ffCompressed | ffDataLength);
}

TEST_F(Id3Write, Version3UnsynchronisedTag) {
    const QString p = Put(Audio(64));
    tag.LoadFromFile(p, 0);
    tag.SetTextFrame("TIT2", QString::fromLatin1("\xFF\xE0\xFF"));
    tag.SetTextFrame("TPE1", "b");
    tag.SetUnsynchronisation(true);
    tag.SetPaddingMode(0);
    tag.SetPaddingSize(0);
    ASSERT_EQ(tag.SaveToFile("=", 3, 0, -1), 0);
    const QByteArray plain =
        FrameV3("TIT2", QByteArray("\0\xFF\xE0\xFF", 4)) + FrameV3("TPE1", id3test::Text("b"));
    const QByteArray body = UnsyncBytes(plain.left(14)) + plain.mid(14);
    EXPECT_EQ(ReadAll(p), Header(3, 0, 0x80, uint32_t(body.size())) + body + Audio(64));

    Tid3v2tag again;
    ASSERT_EQ(again.LoadFromFile(p, 0), 0);
    QString t;
    EXPECT_EQ(again.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, QString::fromLatin1("\xFF\xE0\xFF"));
    EXPECT_EQ(again.GetTextFrame("TPE1", t), txtOk);
    EXPECT_EQ(t, "b");
}

TEST_F(Id3Write, CrcFollowsPublishedDefinition) {
    // Version 3: over the frames only; version 4: over the frames and the padding.
    for (int ver : {3, 4}) {
        SCOPED_TRACE(ver);
        const QString p = Put(Audio(10));
        Tid3v2tag t;
        t.LoadFromFile(p, 0);
        t.SetTextFrame("TIT2", "crc");
        t.SetCRCPresent(true);
        ASSERT_EQ(t.SaveToFile("=", uint8_t(ver), 0, -1), 0);
        const QByteArray f = ReadAll(p);
        const QByteArray frame = ver == 3 ? FrameV3("TIT2", id3test::Text("crc"))
                                          : FrameV4("TIT2", id3test::Text("crc"));
        if (ver == 3) {
            ASSERT_EQ(f.mid(10, 6), BE32(10) + QByteArray("\x80\0", 2));
            const uint32_t pad = uint32_t(f.size() - 10 - 14 - frame.size() - 10);
            EXPECT_EQ(f.mid(16, 4), BE32(pad));
            EXPECT_EQ(f.mid(20, 4), BE32(Crc(frame)));
            EXPECT_EQ(f.mid(24, frame.size()), frame);
        } else {
            ASSERT_EQ(f.mid(10, 7), Synchsafe(12) + QByteArray("\1\x20\5", 3));
            const int pad = f.size() - 10 - 12 - frame.size() - 10;
            const uint32_t c = Crc(frame + QByteArray(pad, 0));
            const QByteArray five = QByteArray(1, char(c >> 28)) + Synchsafe(c & 0x0FFFFFFF);
            EXPECT_EQ(f.mid(17, 5), five);
            EXPECT_EQ(f.mid(22, frame.size()), frame);
        }
        Tid3v2tag again;
        ASSERT_EQ(again.LoadFromFile(p, 0), 0);
        EXPECT_EQ(again.CRC(), t.CRC());
        EXPECT_TRUE(again.CRCPresent());
    }
}

struct SizeCase {
    const char* name;
    int oldPadding;
    QString newTitle;
};

TEST_F(Id3Write, AudioMovesAndFileEndsOnBlock) {
    const QByteArray audio = Audio(50000, 7);
    const SizeCase cases[] = {
        {"grows past its padding", 0, QString(9000, 't')},
        {"fits the old padding", 3000, "short"},
        {"shrinks", 20000, "s"},
        {"large growth", 10, QString(100000, 'g')},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p =
            Put(Tag(3, FrameV3("TIT2", id3test::Text("old title")) + FrameV3("PRIV", "keep me"),
                    c.oldPadding) +
                audio);
        Tid3v2tag t;
        ASSERT_EQ(t.LoadFromFile(p, 0), 0);
        ASSERT_EQ(t.SetTextFrame("TIT2", c.newTitle), txtOk);
        ASSERT_EQ(t.SaveToFile("=", 255, 255, -1), 0);
        const QByteArray f = ReadAll(p);
        EXPECT_EQ(f.size() % 4096, 0);
        EXPECT_EQ(f.right(audio.size()), audio);
        EXPECT_EQ(uint32_t(f.size() - audio.size()), t.TagSize());
        Tid3v2tag again;
        ASSERT_EQ(again.LoadFromFile(p, 0), 0);
        QString title;
        again.GetTextFrame("TIT2", title);
        EXPECT_EQ(title, c.newTitle);
        ASSERT_EQ(again.Frames().Count(), 2);
        EXPECT_EQ(again.Frames().GetID(2), "PRIV");
        EXPECT_EQ(again.PaddingSize(), t.PaddingSize());
        EXPECT_GE(t.PaddingSize(), 1u);
        EXPECT_LE(t.PaddingSize(), 4096u);
    }
}

TEST_F(Id3Write, PaddingModes) {
    const QByteArray audio = Audio(1000);
    const QByteArray old = Tag(3, FrameV3("TIT2", id3test::Text("abc")), 500);
    struct {
        int mode;
        uint32_t limit;
        qint64 expectedTag;
    } cases[] = {
        {0, 4096, 24 + 77},                     // PaddingSize set to 77 below
        {1, 100, 524},                          // fits the old space exactly
        {1, 4096, 24 + Aligned(1524, 524, 24)}, // alignment after all
        {2, 100, 24 + Aligned(1524, 524, 24)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const QString p = Put(old + audio);
        Tid3v2tag t;
        ASSERT_EQ(t.LoadFromFile(p, 0), 0);
        t.SetPaddingMode(uint8_t(c.mode));
        t.SetPaddingLimit(c.limit);
        t.SetPaddingSize(77);
        t.SetTextFrame("TIT2", "xyz");
        ASSERT_EQ(t.SaveToFile("=", 255, 255, -1), 0);
        EXPECT_EQ(ReadAll(p).size(), c.expectedTag + audio.size());
        EXPECT_EQ(ReadAll(p).right(audio.size()), audio);
    }
}

TEST_F(Id3Write, PaddingWhenFramesAndAudioEndOnABlock) {
    // The alignment rule's two edges: no padding when the frames and the audio
    // already end on the next block, a whole block when they end on an earlier one.
    const struct {
        const char* name;
        QByteArray start; // old tag, then audio of 4000 bytes
        int titleLength;
        uint32_t padding;
    } cases[] = {
        {"new tag ends the first block", QByteArray(), 75, 0}, // 4000 + 10 + 86
        {"shrunk tag ends an earlier block", Tag(3, FrameV3("TIT2", id3test::Text("x")), 8170),
         4171, 4096}, // 4000 + 10 + 4182 = 2 blocks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray audio = Audio(4000, 3);
        const QString p = Put(c.start + audio);
        Tid3v2tag t;
        t.LoadFromFile(p, 0);
        ASSERT_EQ(t.SetTextFrame("TIT2", QString(c.titleLength, 'b')), txtOk);
        ASSERT_EQ(t.SaveToFile("=", 3, 0, -1), 0);
        EXPECT_EQ(t.PaddingSize(), c.padding);
        const QByteArray frame = FrameV3("TIT2", id3test::Text(QByteArray(c.titleLength, 'b')));
        EXPECT_EQ(ReadAll(p), Header(3, 0, 0, uint32_t(frame.size()) + c.padding) + frame +
                                  QByteArray(int(c.padding), 0) + audio);
        Tid3v2tag again;
        ASSERT_EQ(again.LoadFromFile(p, 0), 0);
        EXPECT_EQ(again.PaddingSize(), c.padding);
        EXPECT_EQ(again.Frames().Count(), 1);
    }
}

TEST_F(Id3Write, UnsyncOfALargeFrameEndingInFF) {
    // The last 0xFF of a frame gets its zero too: other readers refuse a frame
    // that ends "unsafe", and a zero after it would be taken for that zero.
    QByteArray priv("owner");
    priv.append('\0');
    for (int k = 0; k < 300; ++k)
        priv.append(char(k % 3 == 0 ? 0xFF : k % 3 == 1 ? 0xE7 : 0x00));
    priv.append(char(0xFF));
    for (int ver : {3, 4}) {
        SCOPED_TRACE(ver);
        auto frame = [&](const char* id, const QByteArray& d, int format) {
            return ver == 3 ? FrameV3(id, d) : FrameV4(id, d, 0, format);
        };
        const QString p = Put(
            Tag(ver, frame("PRIV", priv, 0) + frame("TIT2", id3test::Text("t"), 0)) + Audio(64));
        ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
        tag.SetUnsynchronisation(true);
        tag.SetPaddingMode(0);
        tag.SetPaddingSize(16);
        ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
        // Version 3 unsynchronises each frame whole, version 4 each frame's data.
        const QByteArray body = ver == 3
                                    ? UnsyncBytes(frame("PRIV", priv, 0)) +
                                          UnsyncBytes(frame("TIT2", id3test::Text("t"), 0))
                                    : frame("PRIV", UnsyncBytes(priv), ffUnsync) +
                                          frame("TIT2", UnsyncBytes(id3test::Text("t")), ffUnsync);
        EXPECT_EQ(ReadAll(p), Header(ver, 0, 0x80, uint32_t(body.size() + 16)) + body +
                                  QByteArray(16, 0) + Audio(64));
        Tid3v2tag again;
        ASSERT_EQ(again.LoadFromFile(p, 0), 0);
        again.Frames().RemoveUnsync(1);
        EXPECT_EQ(again.Frames().GetData(1), std::vector<uint8_t>(priv.begin(), priv.end()));
    }
}

TEST_F(Id3Write, GroupedFrameKeepsItsGroupWhenRewritten) {
    // A grouped frame nobody changed, rewritten for version 4 or for
    // unsynchronisation: its flag goes with its group byte.
    const QByteArray grouped = QByteArray("\x07", 1) + id3test::Text("Grouped");
    const struct {
        const char* name;
        QByteArray start;
        bool unsync;
    } cases[] = {
        {"version 3 saved as 4", Tag(3, FrameV3("TALB", grouped, 0, 0x20)), false},
        {"version 3 saved as 4, unsynchronised", Tag(3, FrameV3("TALB", grouped, 0, 0x20)), true},
        {"version 4 unsynchronised", Tag(4, FrameV4("TALB", grouped, 0, 0x40)), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = Put(c.start + Audio(100));
        Tid3v2tag t;
        ASSERT_EQ(t.LoadFromFile(p, 0), 0);
        t.SetUnsynchronisation(c.unsync);
        ASSERT_EQ(t.SaveToFile("=", 4, 0, -1), 0);
        Tid3v2tag again;
        ASSERT_EQ(again.LoadFromFile(p, 0), 0);
        ASSERT_EQ(again.Frames().Count(), 1);
        EXPECT_EQ(again.Frames().Entry(1).FileFlags[fbFormat] & 0x40, 0x40);
        EXPECT_EQ(again.Frames().GetGroupID(1), 7);
        QString text;
        EXPECT_EQ(again.GetTextFrame("TALB", text), txtOk);
        EXPECT_EQ(text, "Grouped");
    }
}

TEST_F(Id3Write, RefusalsLeaveFileUntouched) {
    const QByteArray original = Tag(3, FrameV3("TIT2", id3test::Text("t"))) + Audio(200);
    struct Case {
        const char* name;
        std::function<void(Tid3v2tag&, QString&)> setup;
        uint16_t code;
    } cases[] = {
        {"revision 1",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(Tag(3, FrameV3("TIT2", id3test::Text("t")), 0, 0, 1) + Audio(200));
             t.LoadFromFile(p, 0);
         },
         id3ErrRevision},
        {"read-only",
         [](Tid3v2tag& t, QString& p) {
             t.LoadFromFile(p, 0);
             QFile::setPermissions(p, QFile::ReadOwner);
         },
         id3ErrReadOnly},
        {"empty frame list",
         [](Tid3v2tag& t, QString& p) {
             t.LoadFromFile(p, 0);
             t.Frames().ClearFrames();
         },
         id3ErrNoFrames},
        {"only frame emptied",
         [](Tid3v2tag& t, QString& p) {
             t.LoadFromFile(p, 0);
             t.Frames().SetData(1, {});
         },
         id3ErrNoFrames},
        {"encryption request cleared",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(Tag(3, FrameV3("PRIV", "\x01secret", 0, 0x40)) + Audio(200));
             t.LoadFromFile(p, 0);
             t.Frames().SetWriteFlags(1, fbFormat, 0);
         },
         id3ErrEncryption},
        {"grouping change",
         [](Tid3v2tag& t, QString& p) {
             t.LoadFromFile(p, 0);
             t.Frames().SetWriteFlags(1, fbFormat, ffGrouping);
         },
         id3ErrGrouping},
        {"length indicator on encrypted data",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(Tag(4, FrameV4("PRIV", "\x01secret", 0, 0x04)) + Audio(200));
             t.LoadFromFile(p, 0);
             t.Frames().SetWriteFlags(1, fbFormat, ffEncrypted | ffDataLength);
         },
         id3ErrDLIEncrypted},
        {"damaged tag loaded",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(Tag(3, FrameV3("TIT2", id3test::Text("t")) + "TP") + Audio(200));
             t.LoadFromFile(p, 0);
         },
         id3ErrDamaged},
        {"version 2 loaded",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(Tag(2, QByteArray("TT2\0\0\4\0abc", 10)) + Audio(200));
             t.LoadFromFile(p, 0);
             t.SetTextFrame("TIT2", "x");
         },
         id3ErrVersion},
        {"hidden file",
         [&](Tid3v2tag& t, QString& p) {
             p = Put(original, ".hidden.mp3");
             t.LoadFromFile(p, 0);
         },
         id3ErrReadOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString p = Put(original);
        Tid3v2tag t;
        c.setup(t, p);
        const QByteArray before = ReadAll(p);
        EXPECT_EQ(t.SaveToFile("=", 255, 255, -1), c.code);
        EXPECT_EQ(ReadAll(p), before);
        QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner);
    }
}

TEST_F(Id3Write, TagTooLargeForTheSizeField) {
    const QByteArray original = Tag(3, FrameV3("TIT2", id3test::Text("t"))) + Audio(100);
    const QString p = Put(original);
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    tag.SetPaddingMode(0);
    tag.SetPaddingSize(0x10000000 - 10); // with the 12-byte frame, past 28 bits
    EXPECT_EQ(tag.SaveToFile("=", 255, 255, -1), id3ErrTooLarge);
    EXPECT_EQ(ReadAll(p), original);
    tag.SetPaddingMode(1);
    EXPECT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
}

TEST_F(Id3Write, EncryptedFrameKeptAsItIs) {
    const QByteArray enc = FrameV3("PRIV", "\x01secret", 0, 0x40);
    const QString p = Put(Tag(3, enc + FrameV3("TIT2", id3test::Text("t"))) + Audio(200));
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    tag.SetTextFrame("TIT2", "new");
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    EXPECT_TRUE(ReadAll(p).mid(10).startsWith(enc));
    // With DropUnsupported, a cleared request is dropped instead.
    tag.Frames().SetWriteFlags(1, fbFormat, 0);
    tag.SetDropUnsupported(true);
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    EXPECT_TRUE(ReadAll(p).mid(10).startsWith(enc));

    const QString p4 = Put(Tag(4, FrameV4("PRIV", "\x01secret", 0, 0x04)) + Audio(20), "four.mp3");
    Tid3v2tag t4;
    t4.SetDropUnsupported(true);
    ASSERT_EQ(t4.LoadFromFile(p4, 0), 0);
    t4.Frames().SetWriteFlags(1, fbFormat, ffEncrypted | ffDataLength);
    EXPECT_EQ(t4.SaveToFile("=", 255, 255, -1), id3WarnDLIDropped);
}

TEST_F(Id3Write, SaveToAnotherFileAndOffset) {
    const QString a = Put(Tag(3, FrameV3("TIT2", id3test::Text("from a"))) + Audio(10), "a.mp3");
    const QString b = Put(Audio(30, 3), "b.mp3");
    ASSERT_EQ(tag.LoadFromFile(a, 0), 0);
    EXPECT_EQ(tag.SaveToFile(b, 4, 255, -1), 0);
    EXPECT_EQ(tag.FileName(), b);
    EXPECT_EQ(tag.Version(), 4);
    EXPECT_EQ(ReadAll(b).right(30), Audio(30, 3));
    EXPECT_EQ(tag.SaveToFile(b, 3, 255, 5000000), id3ErrOffset);
    EXPECT_EQ(tag.SaveToFile(dir->path() + "/missing.mp3", 3, 0, 0), id3ErrNoFile);
    EXPECT_EQ(tag.SaveToFile(b, 5, 0, 0), id3ErrVersion);
}

TEST_F(Id3Write, ReloadedFramesSurviveUnchanged) {
    // Unknown frames, flags and order stay as they were when only a title changes.
    QByteArray body = FrameV4("TIT2", id3test::Text("t")) +
                      FrameV4("XYZW", "opaque\xFF\xFF", 0x60) +
                      FrameV4("PRIV", QByteArray("\x05", 1) + "grouped", 0, 0x40) +
                      FrameV4("COMM", QByteArray("\0eng\0c", 6));
    const QString p = Put(Tag(4, body, 100) + Audio(999));
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    tag.SetTextFrame("TIT2", "a longer title than before");
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    Tid3v2tag again;
    ASSERT_EQ(again.LoadFromFile(p, 0), 0);
    ASSERT_EQ(again.Frames().Count(), 4);
    EXPECT_EQ(again.Frames().GetID(2), "XYZW");
    EXPECT_EQ(again.Frames().GetStoredFlags(2, fbStatus), 0x60);
    EXPECT_EQ(again.Frames().GetData(2), tag.Frames().GetData(2));
    EXPECT_EQ(again.Frames().GetGroupID(3), 5);
    COMM c;
    EXPECT_EQ(again.GetComment(c, "", "eng"), txtOk);
    EXPECT_EQ(c.Text, "c");
}

TEST_F(Id3Write, SavedFramesAreTheNewBaseline) {
    // One unsynchronised frame makes the save unsynchronise the others too.
    const QByteArray body = FrameV4("TIT2", id3test::Text("t")) +
                            FrameV4("PRIV", UnsyncBytes("o\xFF\xE0k"), 0, ffUnsync) +
                            FrameV4("TALB", id3test::Text("\xFF\xE0\xFF\xFB"));
    const QString p = Put(Tag(4, body) + Audio(700));
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    for (const char* title : {"first", "t", "t"}) {
        SCOPED_TRACE(title);
        tag.SetTextFrame("TIT2", title);
        ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
        Tid3v2tag fresh;
        ASSERT_EQ(fresh.LoadFromFile(p, 0), 0);
        ASSERT_EQ(fresh.Frames().Count(), 3);
        for (int i = 1; i <= 3; ++i) {
            // No frame keeps a second copy of the form it had before the save.
            EXPECT_FALSE(tag.Frames().Entry(i).Loaded) << i;
            EXPECT_EQ(tag.Frames().GetData(i), fresh.Frames().GetData(i)) << i;
        }
        QString t;
        EXPECT_EQ(fresh.GetTextFrame("TALB", t), txtOk);
        EXPECT_EQ(t, QString::fromLatin1("\xFF\xE0\xFF\xFB"));
        EXPECT_EQ(fresh.GetTextFrame("TIT2", t), txtOk);
        EXPECT_EQ(t, title);
        EXPECT_EQ(ReadAll(p).right(700), Audio(700));
    }
}

TEST_F(Id3Write, ProgressAndStatusTexts) {
    const QString p = Put(Tag(3, FrameV3("TIT2", id3test::Text("t"))) + Audio(200000));
    QStringList steps;
    std::vector<int> percents;
    tag.OnProgress = [&] {
        if (steps.isEmpty() || steps.last() != tag.StatusText()) steps << tag.StatusText();
        percents.push_back(tag.Progress());
    };
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    EXPECT_EQ(steps, QStringList({"Loading tag", "Load Complete"}));
    steps.clear();
    percents.clear();
    tag.SetTextFrame("TIT2", QString(5000, 'x'));
    tag.Frames().SetWriteFlags(1, fbFormat, ffCompressed);
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    EXPECT_EQ(steps,
              QStringList({"Preparing tag", "Applying compression", "Re-positioning audio data",
                           "Writing new tag", "Save Complete"}));
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(Id3Write, FailedLengtheningTruncatesBack) {
    const QByteArray original = Tag(3, FrameV3("TIT2", id3test::Text("t"))) + Audio(100000);
    const QString p = Put(original);
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    tag.SetTextFrame("TIT2", QString(20000, 'x'));
    // A file size limit stands in for a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit lim = old;
    lim.rlim_cur = rlim_t(original.size() + 1000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    const uint16_t rc = tag.SaveToFile("=", 255, 255, -1);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_GE(rc, 256);
    EXPECT_EQ(ReadAll(p), original);
    EXPECT_EQ(tag.LoadResult(), 0); // a failed save leaves the load's state
}

TEST_F(Id3Write, WholeBlockChangesGiveTheSameBytesInPlaceAsByMoving) {
    const QByteArray audio = Audio(300000, 9);
    const bool inPlace = InsertsInPlace(dir->path());
    // tmpfs refuses to insert or remove space: the audio moves there.
    std::unique_ptr<QTemporaryDir> shm;
    if (QFileInfo("/dev/shm").isDir())
        shm = std::make_unique<QTemporaryDir>("/dev/shm/narrabel-XXXXXX");
    for (const Resize& r : kResizes) {
        SCOPED_TRACE(r.name);
        const QByteArray original = SavedOnce(
            FrameV3("TIT2", id3test::Text("old")) + FrameV3("PRIV", "keep"), audio, r.extraBlocks);
        Tid3v2tag moved, placed;
        const QString pm = Put(original, "moved.mp3"), pp = Put(original, "placed.mp3");
        ASSERT_EQ(moved.LoadFromFile(pm, 0), 0);
        moved.Seams.ForceMove = true;
        EXPECT_TRUE(SaveSteps(moved, r.title).contains("Re-positioning audio data"));
        ASSERT_EQ(placed.LoadFromFile(pp, 0), 0);
        const QStringList steps = SaveSteps(placed, r.title);
        EXPECT_EQ(steps.contains("Re-positioning audio data"), !inPlace)
            << steps.join('|').toStdString();
        const QByteArray bytes = ReadAll(pm);
        EXPECT_EQ(ReadAll(pp), bytes);
        EXPECT_EQ(bytes.size() % 4096, 0);
        EXPECT_NE(bytes.size(), original.size());
        EXPECT_EQ(bytes.right(audio.size()), audio);
        if (shm && shm->isValid()) {
            const QString ps = shm->path() + "/refused.mp3";
            WriteAll(ps, original);
            Tid3v2tag refused;
            ASSERT_EQ(refused.LoadFromFile(ps, 0), 0);
            EXPECT_TRUE(SaveSteps(refused, r.title).contains("Re-positioning audio data"));
            EXPECT_EQ(ReadAll(ps), bytes);
        }
    }
}

TEST_F(Id3Write, FailedWriteAtAnyBlockLeavesTheAudioWhole) {
    // Four blocks of audio to move, then the tag: a write fails part way at
    // each step in turn. Also the tag rewritten where it was: same size, and
    // in a file with no audio behind it.
    const QByteArray longAudio = Audio(3500000, 4);
    struct Case {
        Resize r;
        QByteArray audio;
        int minFailures;
    };
    std::vector<Case> cases;
    for (const Resize& r : kResizes)
        cases.push_back({r, longAudio, 5});
    cases.push_back({{"same size", 0, "new"}, longAudio, 1});
    for (const Resize& r : kResizes)
        cases.push_back({r, QByteArray(), 1});
    for (const Case& c : cases) {
        const Resize& r = c.r;
        const QByteArray& audio = c.audio;
        for (const bool force : {false, true}) {
            SCOPED_TRACE(std::string(r.name) + (force ? " moving" : " in place") +
                         (audio.isEmpty() ? ", no audio" : ""));
            const QByteArray original =
                SavedOnce(FrameV3("TIT2", id3test::Text("old")) + FrameV3("PRIV", "keep"), audio,
                          r.extraBlocks);
            int failures = 0;
            for (int block = 0;; ++block) {
                ASSERT_LT(block, 20);
                const QString p = Put(original);
                Tid3v2tag t;
                ASSERT_EQ(t.LoadFromFile(p, 0), 0);
                t.Seams.ForceMove = force;
                t.Seams.FailAtBlock = block;
                t.SetTextFrame("TIT2", r.title);
                const uint16_t rc = t.SaveToFile("=", 255, 255, -1);
                Tid3v2tag again;
                ASSERT_LT(again.LoadFromFile(p, 0), 256) << block;
                QString title;
                again.GetTextFrame("TIT2", title);
                const QByteArray after = ReadAll(p);
                EXPECT_EQ(after.mid(int(again.TagSize()) + 10), audio) << block;
                if (rc < 256) {
                    EXPECT_EQ(title, r.title);
                    break;
                }
                ++failures;
                // Either tag complete: this writer restores the old one.
                EXPECT_EQ(title, "old") << block;
                EXPECT_EQ(after, original) << block;
            }
            EXPECT_GE(failures, force ? c.minFailures : 1);
        }
    }
}

TEST_F(Id3Write, WritingTheFileAnewKeepsItAsTheUserHadItOrRefusesWithoutRoom) {
    const QByteArray audio = Audio(100000, 5);
    const QByteArray original = SavedOnce(FrameV3("TIT2", id3test::Text("old")), audio, 0);
    const QString real = Put(original, "real.mp3");
    const QString link = dir->path() + "/link.mp3";
    ASSERT_TRUE(QFile::link(real, link));
    const QByteArray native = QFile::encodeName(real);
    ASSERT_EQ(::chmod(native.constData(), 0604), 0);
    const bool xattrs = ::setxattr(native.constData(), "user.narrabel", "kept", 4, 0) == 0;
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), old, 0), 0);
    const QStringList names =
        QDir(dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);

    Tid3v2tag t;
    ASSERT_EQ(t.LoadFromFile(link, 0), 0);
    t.Seams.ForceMove = true;
    t.Seams.FreeSpace = 50000; // less than a new copy of the file takes
    t.SetTextFrame("TIT2", QString(6000, 'n'));
    EXPECT_EQ(t.SaveToFile("=", 255, 255, -1), id3ErrNoSpace);
    EXPECT_TRUE(t.SaveProblem().startsWith("Not enough free space"))
        << t.SaveProblem().toStdString();
    EXPECT_EQ(ReadAll(real), original);
    EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System), names);

    t.Seams.FreeSpace = -1;
    ASSERT_EQ(t.SaveToFile("=", 255, 255, -1), 0);
    EXPECT_TRUE(QFileInfo(link).isSymLink()); // the link still leads to the file saved
    const QByteArray saved = ReadAll(real);
    EXPECT_EQ(saved.right(audio.size()), audio);
    Tid3v2tag again;
    ASSERT_EQ(again.LoadFromFile(link, 0), 0);
    QString title;
    again.GetTextFrame("TIT2", title);
    EXPECT_EQ(title, QString(6000, 'n'));
    struct stat st;
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_GT(st.st_mtim.tv_sec, 1000000000); // modified now, as a save in place is
    char value[8] = {};
    if (xattrs) {
        EXPECT_EQ(::getxattr(native.constData(), "user.narrabel", value, 8), 4);
    }
    EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System), names);
}

TEST_F(Id3Write, KilledGrowLeavesEveryAudioByteInPlace) {
    if (!InsertsInPlace(dir->path()))
        GTEST_SKIP() << "the file system cannot insert space in place";
    // A large file saved once before; the grow is killed at each step it reports.
    const QByteArray audio = Audio(64 << 20, 6);
    const QByteArray original = SavedOnce(FrameV3("TIT2", id3test::Text("old")), audio, 0);
    const QString p = Put(original);
    for (int step = 0;; ++step) {
        ASSERT_LT(step, 50);
        WriteAll(p, original);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Tid3v2tag t;
            if (t.LoadFromFile(p, 0) >= 256) ::_exit(2);
            int reports = 0;
            t.OnProgress = [&] {
                if (reports++ == step) ::raise(SIGKILL);
            };
            t.SetTextFrame("TIT2", QString(20000, 'k'));
            ::_exit(t.SaveToFile("=", 255, 255, -1) < 256 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const QByteArray after = ReadAll(p);
        EXPECT_EQ(after.right(audio.size()), audio) << "killed at step " << step;
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_GT(step, 1);
            Tid3v2tag again;
            ASSERT_EQ(again.LoadFromFile(p, 0), 0);
            EXPECT_EQ(after.size() - audio.size(), int(again.TagSize()) + 10);
            break;
        }
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
    }
}

TEST_F(Id3Write, ASaveJournalWithAFlippedByteNeverPutsItsBytesAnywhere) {
    // A save in place cut short (the new tag half written over the old), and
    // a save by a new file cut short (the new file beside the old one). A
    // byte flipped in a journal's data makes it one that never landed whole:
    // the recovery leaves every file as it finds it.
    const QByteArray original = SavedOnce(FrameV3("TIT2", id3test::Text("old")), Audio(5000), 0);
    const QString file = Put(original);
    const QByteArray oldTag = original.left(4096);
    QByteArray halfDone = original;
    halfDone.replace(0, 2000, QByteArray(2000, 'x'));
    const QString temp = dir->path() + "/t.tmp";
    const QString victim = dir->path() + "/t.tmq"; // "t.tmp" with one bit flipped
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    struct Case {
        const char* what;
        char kind;
        QByteArray payload;
        QByteArray flipIn; // bytes of the payload; empty: nothing flipped
        int fromEnd;       // the byte of them flipped, counted from their end
        QByteArray fileAfter;
        bool tempGone;
    };
    const QByteArray inPlace = id3v2::InPlacePayload(
        file, uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(original.size()), 0,
        id3v2::spaceNone, 0, 0, std::vector<uint8_t>(oldTag.begin(), oldTag.end()));
    const QByteArray replace = id3v2::ReplacePayload(file, temp);
    const Case cases[] = {
        {"in place, whole", id3v2::kInPlaceSave, inPlace, {}, 0, original, false},
        {"in place, a byte of the old tag flipped", id3v2::kInPlaceSave, inPlace, oldTag, 100,
         halfDone, false},
        {"by a new file, whole", id3v2::kReplaceSave, replace, {}, 0, halfDone, true},
        // "t.tmp" becomes "t.tmq", the other file.
        {"by a new file, a byte of its name flipped", id3v2::kReplaceSave, replace,
         QFile::encodeName(temp), 1, halfDone, false},
    };
    const QString journal = id3v2::FolderJournalPath(dir->path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(file, halfDone);
        WriteAll(temp, "the new file, half written");
        WriteAll(victim, "another file");
        {
            TJournalWriter writer;
            ASSERT_TRUE(writer.Begin(journal, c.kind, c.payload));
        } // left behind, as by a kill
        if (!c.flipIn.isEmpty()) {
            QByteArray bytes = ReadAll(journal);
            const qsizetype at = bytes.indexOf(c.flipIn);
            ASSERT_GT(at, 0);
            const qsizetype flip = at + c.flipIn.size() - c.fromEnd;
            bytes[flip] = char(bytes[flip] ^ 0x01);
            WriteAll(journal, bytes);
        }
        id3v2::RecoverTagJournal(journal);
        EXPECT_EQ(ReadAll(file), c.fileAfter);
        EXPECT_EQ(QFile::exists(temp), !c.tempGone);
        EXPECT_TRUE(QFile::exists(victim));
        EXPECT_FALSE(QFile::exists(journal));
    }
}

} // namespace
