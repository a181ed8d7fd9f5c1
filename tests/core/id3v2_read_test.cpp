// Loading tags, result codes, text decoding and the frame transformations.
#include "core/id3v2_testutil.h"
#include "support/testsupport.h"
#include "tags/id3v2/id3v2.h"
#include "util/errors.h"

#include <QDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace id3test;
using testsupport::WriteAll;

namespace {

class Id3Read : public ::testing::Test, protected TempFiles {
protected:
    Tid3v2tag tag;
    QString Text(const char* id) {
        QString t;
        tag.GetTextFrame(QString::fromLatin1(id), t);
        return t;
    }
};

struct LoadCase {
    const char* name;
    QByteArray bytes;
    uint16_t code;
    int frames;
};

TEST_F(Id3Read, LoadResultCodes) {
    const QByteArray tit2 = FrameV3("TIT2", id3test::Text("Hello"));
    QByteArray sizeByte80 = Tag(3, tit2);
    sizeByte80[6] = char(0x80);
    QByteArray v4 = Tag(4, FrameV4("TIT2", id3test::Text("x")));
    const LoadCase cases[] = {
        {"empty file", QByteArray(), id3ErrOffset, 0},
        {"shorter than a header", QByteArray("ID3\3"), id3ErrNoHeader, 0},
        {"no tag", Audio(100), id3ErrNoHeader, 0},
        {"size byte 0x80", sizeByte80, id3ErrNoHeader, 0},
        {"version 2", Tag(2, QByteArray("TT2\0\0\4\0abc", 10)), id3ErrVersion, 0},
        {"version 5", Tag(5, tit2), id3ErrVersion, 0},
        {"version 255", Header(255, 0, 0, 0) + Audio(10), id3ErrNoHeader, 0},
        {"revision accepted", Tag(3, tit2, 0, 0, 1), id3WarnRevision, 1},
        {"v3 unknown header flag", Tag(3, tit2, 0, 0x01), id3WarnUnknownFlags, 1},
        {"v4 unknown header flag", Tag(4, FrameV4("TIT2", id3test::Text("a")), 0, 0x08),
         id3WarnUnknownFlags, 1},
        {"file shorter than tag", Tag(3, tit2).left(15), id3ErrFileTooShort, 0},
        {"frames end at tag end", Tag(3, tit2), 0, 1},
        {"four zero bytes", Tag(3, tit2, 4), 0, 1},
        {"MP3e padding", Tag(3, tit2 + QByteArray("MP3ext junk")), 0, 1},
        {"hyphen in ID", Tag(3, tit2 + FrameV3("TI-2", id3test::Text("a"))), id3ErrFrameID, 1},
        {"frame larger than tag", Tag(3, tit2 + QByteArray("TPE1\0\0\1\0\0\0abc", 13)),
         id3ErrDamaged, 1},
        {"trailing bytes not a header", Tag(3, tit2 + QByteArray("TPE", 3)), id3ErrDamaged, 1},
        {"v4 bad extended header size", Tag(4, Synchsafe(3) + QByteArray(6, 1), 0, 0x40),
         id3ErrDamaged, 0},
        {"v4 extended header without flag bytes",
         Tag(4, Synchsafe(6) + QByteArray("\0\0", 2) + FrameV4("TIT2", id3test::Text("a")), 0,
             0x40),
         id3ErrDamaged, 0},
        {"v4 short CRC", Tag(4, Synchsafe(8) + QByteArray("\1\x20\2\0", 4), 0, 0x40), id3ErrDamaged,
         0},
        {"v4 plain", v4, 0, 1},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = Put(c.bytes);
        EXPECT_EQ(tag.LoadFromFile(p, 0), c.code);
        EXPECT_EQ(tag.Frames().Count(), c.frames);
    }
}

TEST_F(Id3Read, MissingFileAndOffset) {
    EXPECT_EQ(tag.LoadFromFile(dir->path() + "/none.mp3", 0), id3ErrNoFile);
    const QString p = Put(Audio(50) + Tag(3, FrameV3("TIT2", id3test::Text("At 50"))));
    EXPECT_EQ(tag.LoadFromFile(p, 500), id3ErrOffset);
    EXPECT_EQ(tag.LoadFromFile(p, 50), 0);
    EXPECT_EQ(tag.TagOffset(), 50u);
    EXPECT_EQ(Text("TIT2"), "At 50");
}

TEST_F(Id3Read, HeaderFieldsAndState) {
    const QString p = Put(Tag(3, FrameV3("TIT2", id3test::Text("Abc")), 6) + Audio(20));
    EXPECT_EQ(tag.LoadFromFile(p, 0), 0);
    EXPECT_EQ(tag.Version(), 3);
    EXPECT_EQ(tag.Revision(), 0);
    EXPECT_EQ(tag.TagSize(), 10u + 4 + 6);
    EXPECT_EQ(tag.PaddingSize(), 6u);
    EXPECT_TRUE(tag.Done());
    EXPECT_EQ(tag.Progress(), 100);
    EXPECT_EQ(tag.StatusText(), "Load Complete");
    EXPECT_EQ(tag.LoadResult(), 0);
    EXPECT_EQ(tag.FileName(), p);
    EXPECT_FALSE(tag.FileReadOnly());
    EXPECT_EQ(tag.Frames().GetHeaderOffset(1), 10u);
    EXPECT_EQ(tag.Frames().GetHeaderSize(1), 10u);

    // A later load of a file without a tag leaves no frames behind.
    const QString plain = Put(Audio(64), "plain.mp3");
    EXPECT_EQ(tag.LoadFromFile(plain, 0), id3ErrNoHeader);
    EXPECT_EQ(tag.Frames().Count(), 0);
    EXPECT_EQ(tag.FileName(), plain);
}

TEST_F(Id3Read, Version2SetsVersion) {
    const QString p = Put(Tag(2, QByteArray("TT2\0\0\4\0abc", 10)));
    EXPECT_EQ(tag.LoadFromFile(p, 0), id3ErrVersion);
    EXPECT_EQ(tag.Version(), 2);
}

TEST_F(Id3Read, RevisionRefusedWhenNotAccepted) {
    tag.SetAcceptNonZeroRevision(false);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, FrameV4("TIT2", id3test::Text("a")), 0, 0, 1)), 0),
              id3ErrVersion);
}

TEST_F(Id3Read, PaddingDeclaredInExtendedHeader) {
    // Version 3 extended header declaring 8 bytes of padding while 4 follow.
    QByteArray ext = BE32(6) + QByteArray(2, 0) + BE32(8);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, ext + FrameV3("TIT2", id3test::Text("a")), 4, 0x40)), 0),
              id3WarnPadding);
    EXPECT_EQ(tag.PaddingSize(), 8u);
    EXPECT_EQ(tag.ExtendedHeaderSize(), 6u);
    // With a CRC.
    ext = BE32(10) + QByteArray("\x80\0", 2) + BE32(4) + BE32(0xDEADBEEF);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, ext + FrameV3("TIT2", id3test::Text("a")), 4, 0x40)), 0),
              0);
    EXPECT_TRUE(tag.CRCPresent());
    EXPECT_EQ(tag.CRC(), 0xDEADBEEFu);
    EXPECT_EQ(Text("TIT2"), "a");
}

TEST_F(Id3Read, Version4ExtendedHeader) {
    // Update, CRC and restrictions, each with its length byte.
    QByteArray ext = Synchsafe(15) + QByteArray("\1\x70\0\5\x0F\x7F\x7F\x7F\x7F\1\x42", 11);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, ext + FrameV4("TALB", id3test::Text("b")), 0, 0x40)), 0),
              0);
    EXPECT_TRUE(tag.IsUpdate());
    EXPECT_TRUE(tag.CRCPresent());
    EXPECT_TRUE(tag.RestrictionsPresent());
    EXPECT_EQ(tag.CRC(), 0xFFFFFFFFu);
    EXPECT_EQ(tag.Restrictions(), 0x42);
    EXPECT_EQ(Text("TALB"), "b");
    // Unknown bits warn.
    ext = Synchsafe(6) + QByteArray("\1\x81", 2);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, ext + FrameV4("TALB", id3test::Text("b")), 0, 0x40)), 0),
              id3WarnExtFlags);
}

TEST_F(Id3Read, LowerCaseIdIsStoredUpperCase) {
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, FrameV3("tit2", id3test::Text("low")))), 0), 0);
    EXPECT_EQ(tag.Frames().GetID(1), "TIT2");
    EXPECT_EQ(Text("TIT2"), "low");
}

TEST_F(Id3Read, Version3FlagsMoveToVersion4Positions) {
    // Status 0xE0 (all three), format: compression + encryption + grouping.
    QByteArray body = BE32(5) + QByteArray("\x07\x09") + QByteArray("xyz");
    const QByteArray f = QByteArray("PRIV") + BE32(uint32_t(body.size())) + "\xE0\xE0" + body;
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, f)), 0), 0);
    const TFrameIndex& fr = tag.Frames();
    EXPECT_EQ(fr.GetStoredFlags(1, fbStatus), 0x70);
    EXPECT_EQ(fr.GetStoredFlags(1, fbFormat),
              ffCompressed | ffDataLength | ffEncrypted | ffGrouping);
    EXPECT_EQ(fr.GetWriteFlags(1, fbFormat), fr.GetStoredFlags(1, fbFormat));
    EXPECT_EQ(fr.GetDataLength(1), 5u);
    EXPECT_EQ(fr.GetEncryptionMethod(1), 7);
    EXPECT_EQ(fr.GetGroupID(1), 9);
    EXPECT_EQ(fr.GetHeaderSize(1), 16u);
    EXPECT_EQ(fr.GetData(1).size(), 3u);
}

TEST_F(Id3Read, Version4ExtraBytesOrder) {
    // Grouping, encryption, then the data length indicator.
    const QByteArray body = QByteArray("\x05\x06") + Synchsafe(300) + "data";
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, FrameV4("PRIV", body, 0, 0x45))), 0), 0);
    EXPECT_EQ(tag.Frames().GetGroupID(1), 5);
    EXPECT_EQ(tag.Frames().GetEncryptionMethod(1), 6);
    EXPECT_EQ(tag.Frames().GetDataLength(1), 300u);
    EXPECT_EQ(tag.Frames().GetData(1).size(), 4u);
}

TEST_F(Id3Read, FrameTooShortForItsFlagsIsDropped) {
    const QByteArray bad = FrameV4("TENC", QByteArray("\0\0", 2), 0, 0x01);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, bad + FrameV4("TIT2", id3test::Text("ok")))), 0), 0);
    ASSERT_EQ(tag.Frames().Count(), 1);
    EXPECT_EQ(Text("TIT2"), "ok");
}

TEST_F(Id3Read, Version3TagUnsynchronisation) {
    // TIT2 holding "a\xFF\xE1" and "\xFF\x00" written with tag-level unsync.
    const QByteArray plain = FrameV3("TIT2", QByteArray("\0a\xFF\xE1\xFF\0z", 7));
    QByteArray unsynced;
    for (int k = 0; k < plain.size(); ++k) {
        unsynced.append(plain[k]);
        const uchar c = uchar(plain[k]);
        const int next = k + 1 < plain.size() ? uchar(plain[k + 1]) : -1;
        if (c == 0xFF && (next < 0 || next == 0 || next >= 0xE0)) unsynced.append('\0');
    }
    ASSERT_NE(unsynced, plain);
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, unsynced + QByteArray(4, 0), 0, 0x80)), 0), 0);
    ASSERT_EQ(tag.Frames().Count(), 1);
    EXPECT_EQ(tag.Frames().GetData(1).size(), 7u);
    QString t;
    EXPECT_EQ(tag.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, QString::fromLatin1("a\xFF\xE1\xFF") + QChar(0));
    EXPECT_EQ(tag.PaddingSize(), 4u);
}

TEST_F(Id3Read, Version4HeaderUnsyncMarksEveryFrame) {
    // Past the first 64 KiB as well.
    const QByteArray big = FrameV4("PRIV", QByteArray(70000, 'p'));
    const QByteArray t2 = FrameV4("TIT2", QByteArray("\0\xFF\0\xE9", 4));
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(4, big + t2, 0, 0x80)), 0), 0);
    ASSERT_EQ(tag.Frames().Count(), 2);
    EXPECT_EQ(tag.Frames().GetStoredFlags(2, fbFormat) & ffUnsync, ffUnsync);
    EXPECT_EQ(Text("TIT2"), QString::fromLatin1("\xFF\xE9"));
}

TEST_F(Id3Read, LargeTagReadAcrossLookAhead) {
    QByteArray body;
    for (int k = 0; k < 40; ++k)
        body += FrameV3("PRIV", QByteArray(5000 + k, char('a' + k % 26)));
    body += FrameV3("TIT2", id3test::Text("After"));
    EXPECT_EQ(tag.LoadFromFile(Put(Tag(3, body, 100) + Audio(1000)), 0), 0);
    EXPECT_EQ(tag.Frames().Count(), 41);
    EXPECT_EQ(tag.Frames().GetData(40).size(), 5039u);
    EXPECT_EQ(Text("TIT2"), "After");
    EXPECT_EQ(tag.PaddingSize(), 100u);
}

struct DecodeCase {
    const char* name;
    QByteArray frame; // text frame data, encoding byte first
    uint8_t result;
    QString text;
};

TEST_F(Id3Read, TextDecoding) {
    const QString e = QString::fromLatin1("\xE9");
    const DecodeCase cases[] = {
        {"latin1", QByteArray("\0Hello", 6), txtOk, "Hello"},
        {"latin1 with terminator", QByteArray("\0Hi\0more", 8), txtOk, QString("Hi") + QChar(0)},
        {"latin1 line break ends single line", QByteArray("\0a\nb", 4), txtOk, "a\n"},
        {"latin1 control char", QByteArray("\0a\x01z", 4), txtControlChar, ""},
        {"utf16 LE BOM", QByteArray("\1\xFF\xFEH\0\xE9\0", 7), txtOk, "H" + e},
        {"utf16 BE BOM", QByteArray("\1\xFE\xFF\0H\0\xE9", 7), txtOk, "H" + e},
        {"utf16 bad BOM", QByteArray("\1\x01\x02H\0", 5), txtControlChar, ""},
        {"utf16 above U+00FF",
         QByteArray("\1\xFF\xFE"
                    "a\0\x01\x01z\0",
                    9),
         txtOk, QString::fromUtf8("aāz")},
        {"utf16 pair", QByteArray("\1\xFE\xFF\xD8\x3D\xDE\x00\0!", 9), txtOk,
         QString::fromUtf8("😀!")},
        {"utf16 lone high surrogate",
         QByteArray("\1\xFF\xFE"
                    "a\0\x3D\xD8z\0",
                    9),
         txtControlChar, ""},
        {"utf16 lone low surrogate", QByteArray("\2\0a\xDE\x00", 5), txtControlChar, ""},
        {"utf16 high surrogate at the end", QByteArray("\2\0a\xD8\x3D", 5), txtControlChar, ""},
        {"utf16 control",
         QByteArray("\1\xFF\xFE"
                    "a\0\x0A\0",
                    7),
         txtControlChar, ""},
        {"utf16 terminator",
         QByteArray("\1\xFF\xFE"
                    "a\0\0\0b\0",
                    9),
         txtOk, "a"},
        {"utf16be", QByteArray("\2\0a\0\xE9", 5), txtOk, "a" + e},
        {"utf8 latin1 range", QByteArray("\3caf\xC3\xA9", 6), txtOk, "caf" + e},
        {"utf8 beyond latin1", QByteArray("\3a\xC4\x80z", 5), txtOk, QString::fromUtf8("aĀz")},
        {"utf8 three and four bytes", QByteArray("\3\xE6\x97\xA5\xF0\x9F\x98\x80\0x", 10), txtOk,
         QString::fromUtf8("日😀")},
        {"utf8 truncated pair", QByteArray("\3a\xC3", 3), txtControlChar, ""},
        {"utf8 truncated triple", QByteArray("\3a\xE6\x97", 4), txtControlChar, ""},
        {"utf8 stray continuation", QByteArray("\3a\xA9", 3), txtControlChar, ""},
        {"utf8 overlong", QByteArray("\3a\xC0\xAF", 4), txtControlChar, ""},
        {"utf8 encoded surrogate", QByteArray("\3a\xED\xA0\x80", 5), txtControlChar, ""},
        {"utf8 beyond U+10FFFF", QByteArray("\3a\xF4\x90\x80\x80", 6), txtControlChar, ""},
        {"utf8 latin1 byte", QByteArray("\3caf\xE9", 5), txtControlChar, ""},
        {"utf8 control", QByteArray("\3a\x05", 3), txtControlChar, ""},
        {"utf16le without BOM (9)",
         QByteArray("\x09"
                    "a\0b\0",
                    5),
         txtOk, "ab"},
        {"unknown encoding", QByteArray("\4abc", 4), txtBadEncoding, ""},
        {"encoding byte only", QByteArray("\0", 1), txtEmpty, ""},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, FrameV3("TIT2", c.frame))), 0), 0);
        QString t = "junk";
        EXPECT_EQ(tag.GetTextFrame("TIT2", t), c.result);
        EXPECT_EQ(t, c.text);
    }
}

TEST_F(Id3Read, DecodeTextConsumedCountsTerminator) {
    const uint8_t d[] = {0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0};
    QString t;
    size_t used = 0;
    EXPECT_EQ(id3v2::DecodeText(d, sizeof d, 0, 0, 1, false, t, &used), txtOk);
    EXPECT_EQ(used, 6u);
    const uint8_t l[] = {'x', 'y', 0, 'z'};
    EXPECT_EQ(id3v2::DecodeText(l, sizeof l, 0, 0, 0, false, t, &used), txtOk);
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(id3v2::DecodeText(l, sizeof l, 0, 2, 0, false, t, &used), txtOk);
    EXPECT_EQ(t, "xy");
    EXPECT_EQ(id3v2::DecodeText(l, sizeof l, 9, 0, 0, false, t, &used), txtEmpty);
}

TEST_F(Id3Read, TextFrameAccessRules) {
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, FrameV3("TIT2", id3test::Text("t")) +
                                              FrameV3("TIT2", id3test::Text("second")) +
                                              FrameV3("TXXX", QByteArray("\0d\0v", 4)))),
                               0),
              0);
    QString t;
    EXPECT_EQ(tag.GetTextFrame("TXXX", t), txtBadID);
    EXPECT_EQ(tag.GetTextFrame("COMM", t), txtBadID);
    EXPECT_EQ(tag.GetTextFrame("TIT", t), txtBadID);
    EXPECT_EQ(tag.GetTextFrame("TPE1", t), txtNotFound);
    EXPECT_EQ(tag.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, "t"); // the first of two
    EXPECT_EQ(tag.SetTextFrame("TPE2", ""), txtOk);
    EXPECT_EQ(tag.Frames().Count(), 3);
    EXPECT_EQ(tag.SetTextFrame("TPE2", "Band"), txtOk);
    EXPECT_EQ(tag.Frames().Count(), 4);
    EXPECT_EQ(tag.Frames().GetData(4), std::vector<uint8_t>({0, 'B', 'a', 'n', 'd'}));
    EXPECT_TRUE(tag.Frames().GetModified(4));
    EXPECT_EQ(tag.SetTextFrame("TIT2", ""), txtDeleted);
    EXPECT_EQ(tag.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, "second");
    // Beyond ISO-8859-1: UTF-16 with a byte order mark in version 3, UTF-8 in version 4.
    EXPECT_EQ(tag.SetTextFrame("TIT2", QString::fromUtf8("Ā😀")), txtOk);
    EXPECT_EQ(tag.Frames().GetData(1),
              std::vector<uint8_t>({1, 0xFF, 0xFE, 0x00, 0x01, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(tag.GetTextFrame("TIT2", t), txtOk);
    EXPECT_EQ(t, QString::fromUtf8("Ā😀"));
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(4, FrameV4("TIT2", id3test::Text("t")))), 0), 0);
    EXPECT_EQ(tag.SetTextFrame("TIT2", QString::fromUtf8("Ā")), txtOk);
    EXPECT_EQ(tag.Frames().GetData(1), std::vector<uint8_t>({3, 0xC4, 0x80}));
    COMM w;
    w.Language = "ENG";
    w.Description = QString::fromLatin1("d\xE9");
    w.Text = QString::fromUtf8("Część\n2");
    EXPECT_EQ(tag.SetComment(w, "", "None"), txtOk);
    EXPECT_EQ(tag.Frames().GetData(2),
              std::vector<uint8_t>({3, 'E', 'N', 'G', 'd', 0xC3, 0xA9, 0, 'C', 'z', 0xC4, 0x99,
                                    0xC5, 0x9B, 0xC4, 0x87, '\n', '2'}));
    COMM r;
    EXPECT_EQ(tag.GetComment(r, QString::fromLatin1("d\xE9"), "ENG"), txtOk);
    EXPECT_EQ(r.Text, w.Text);
}

TEST_F(Id3Read, Comments) {
    auto comm = [](const QByteArray& d) { return FrameV3("COMM", d); };
    const QByteArray body = comm(QByteArray("\0engdesc\0with desc", 18)) +
                            comm(QByteArray("\1deu\xFF\xFE\0\0\xFF\xFEt\0\n\0\xE9\0", 16)) +
                            comm(QByteArray("\0fra\0third", 10));
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, body)), 0), 0);
    COMM c;
    EXPECT_EQ(tag.GetComment(c, "", "None"), txtOk);
    EXPECT_EQ(c.Text, QString::fromLatin1("t\n\xE9")); // line breaks pass in every encoding
    EXPECT_EQ(c.Language, "deu");
    EXPECT_EQ(c.Encoding, 1);
    EXPECT_EQ(tag.GetComment(c, "", "fra"), txtOk);
    EXPECT_EQ(c.Text, "third");
    EXPECT_EQ(tag.GetComment(c, "desc", "XX"), txtOk);
    EXPECT_EQ(c.Text, "with desc");
    EXPECT_EQ(tag.GetComment(c, "other", ""), txtNotFound);

    COMM w;
    w.Language = "ENG";
    w.Text = "new";
    EXPECT_EQ(tag.SetComment(w, "", "fra"), txtOk);
    EXPECT_EQ(tag.Frames().GetData(3), std::vector<uint8_t>({0, 'E', 'N', 'G', 0, 'n', 'e', 'w'}));
    w.Encoding = 4;
    EXPECT_EQ(tag.SetComment(w, "", "fra"), txtBadCommEncoding);
    w.Encoding = 0;
    w.Language = QString("E\x01G");
    EXPECT_EQ(tag.SetComment(w, "", "fra"), txtBadLanguage);
    w.Language = "ENG";
    w.Text.clear();
    EXPECT_EQ(tag.SetComment(w, "", "None"), txtDeleted);
    EXPECT_EQ(tag.Frames().Count(), 2);
    w.Text = "appended";
    EXPECT_EQ(tag.SetComment(w, "nothing like it", "None"), txtOk);
    EXPECT_EQ(tag.Frames().Count(), 3);
}

TEST_F(Id3Read, UndecodableCommentDoesNotHideLaterOnes) {
    const QByteArray body = FrameV3("COMM", QByteArray("\1eng\xFF\xFE\0\xD8\0\0\xFF\xFEx\0", 14)) +
                            FrameV3("COMM", QByteArray("\0eng\0real", 9));
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, body)), 0), 0);
    COMM c;
    EXPECT_EQ(tag.GetComment(c, "", "None"), txtOk);
    EXPECT_EQ(c.Text, "real");
}

TEST_F(Id3Read, CompressedFrameIsInflatedOnAccess) {
    QByteArray text = id3test::Text(QByteArray(3000, 'z'));
    uLongf len = compressBound(uLong(text.size()));
    QByteArray packed(int(len), 0);
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &len,
                       reinterpret_cast<const Bytef*>(text.constData()), uLong(text.size())),
              Z_OK);
    packed.resize(int(len));
    const QByteArray f = QByteArray("TIT2") + BE32(uint32_t(packed.size() + 4)) +
                         QByteArray("\0\x80", 2) + BE32(uint32_t(text.size())) + packed;
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, f)), 0), 0);
    EXPECT_EQ(tag.Frames().GetStoredFlags(1, fbFormat), ffCompressed | ffDataLength);
    EXPECT_EQ(Text("TIT2"), QString(3000, 'z'));
    EXPECT_EQ(tag.Frames().GetStoredFlags(1, fbFormat), ffDataLength);
    EXPECT_EQ(tag.Frames().GetWriteFlags(1, fbFormat), ffCompressed | ffDataLength);
}

TEST_F(Id3Read, ZlibBombStopsAtDeclaredSize) {
    // 64 MiB of zeros declared as 100 bytes: inflating stops at the declared size.
    std::vector<uint8_t> zeros(64u << 20, 0);
    std::vector<uint8_t> packed;
    {
        TFrameIndex tmp;
        tmp.AddFrame("PRIV");
        tmp.SetData(1, zeros);
        ASSERT_EQ(tmp.Compress(1, 3), 0);
        packed = tmp.GetData(1);
    }
    const QByteArray data(reinterpret_cast<const char*>(packed.data()), int(packed.size()));
    const QByteArray f = QByteArray("TIT2") + BE32(uint32_t(data.size() + 4)) +
                         QByteArray("\0\x80", 2) + BE32(100) + data;
    ASSERT_EQ(tag.LoadFromFile(Put(Tag(3, f)), 0), 0);
    QString t;
    tag.GetTextFrame("TIT2", t);
    EXPECT_LE(tag.Frames().GetData(1).size(), 100u);
    // Without a declared size the output is bounded too and the data stays packed.
    TFrameIndex fr;
    fr.AddFrame("PRIV");
    fr.SetData(1, packed);
    fr.SetStoredFlags(1, fbFormat, ffCompressed);
    EXPECT_EQ(fr.Decompress(1), 4);
    EXPECT_EQ(fr.GetData(1), packed);
}

// Hostile tags: what the accessors inflate is bounded per frame and per load;
// frames past the bounds stay packed, read as undecodable, and go back into
// the file as they were.
TEST_F(Id3Read, InflatingIsBoundedAndUnreadFramesGoBackAsTheyWere) {
    const QByteArray bomb = Deflated(QByteArray("\0engd\0", 6) + QByteArray(4 << 20, 'b'));
    const QByteArray mib = QByteArray("\0engd\0", 6) + QByteArray((1 << 20) - 6, 'm');
    std::vector<QByteArray> payloads = {
        BE32(200000000) + bomb, // declares far more than a text may have
        BE32(0) + bomb,         // declares nothing and inflates past the bound
    };
    // Each inflates to exactly 1 MiB: the load's budget runs out after 64,
    // less the 1 MiB the undeclared one was allowed.
    const QByteArray mibPacked = Deflated(mib);
    for (int k = 0; k < 70; ++k)
        payloads.push_back(BE32(uint32_t(mib.size())) + mibPacked);
    payloads.push_back(BE32(6) + Deflated(QByteArray("\0eng\0c", 6)));
    QByteArray body = FrameV3("TIT2", id3test::Text("t"));
    for (const QByteArray& d : payloads)
        body += FrameV3("COMM", d, 0, 0x80);
    const QString p = Put(Tag(3, body) + Audio(100));
    ASSERT_EQ(tag.LoadFromFile(p, 0), 0);
    COMM c;
    EXPECT_EQ(tag.GetComment(c, "", "None"), txtNotFound); // the last one is past the budget
    int packedLeft = 0;
    for (int i = 2; i <= tag.Frames().Count(); ++i)
        packedLeft += (tag.Frames().GetStoredFlags(i, fbFormat) & ffCompressed) ? 1 : 0;
    EXPECT_EQ(packedLeft, 2 + 7 + 1);
    ASSERT_EQ(tag.SetTextFrame("TIT2", "new"), txtOk);
    ASSERT_EQ(tag.SaveToFile("=", 255, 255, -1), 0);
    Tid3v2tag again;
    ASSERT_EQ(again.LoadFromFile(p, 0), 0);
    ASSERT_EQ(again.Frames().Count(), int(payloads.size()) + 1);
    for (size_t k = 0; k < payloads.size(); ++k) {
        const std::vector<uint8_t> d = again.Frames().GetData(int(k) + 2);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(d.data()), int(d.size())),
                  payloads[k].mid(4))
            << k;
        EXPECT_EQ(again.Frames().GetDataLength(int(k) + 2),
                  qFromBigEndian<quint32>(payloads[k].constData()));
    }
    // A fresh load has a fresh budget.
    EXPECT_EQ(again.GetComment(c, "", "None"), txtNotFound);
    Tid3v2tag small;
    ASSERT_EQ(
        small.LoadFromFile(
            Put(Tag(3, FrameV3("COMM", payloads.back(), 0, 0x80)) + Audio(9), "small.mp3"), 0),
        0);
    EXPECT_EQ(small.GetComment(c, "", "None"), txtOk);
    EXPECT_EQ(c.Text, "c");
}

TEST_F(Id3Read, Transformations) {
    TFrameIndex fr;
    ASSERT_EQ(fr.AddFrame("priv"), 1);
    EXPECT_EQ(fr.AddFrame("PR-V"), 0);
    EXPECT_EQ(fr.AddFrame("PRIVX"), 0);
    const std::vector<uint8_t> raw = {0xFF, 0x00, 0x01, 0xFF, 0xE0, 0xFF, 0x41, 0xFF};
    fr.SetData(1, raw);
    EXPECT_EQ(fr.RemoveUnsync(1), -1);
    EXPECT_EQ(fr.ApplyUnsync(1), 0);
    EXPECT_EQ(fr.GetData(1), std::vector<uint8_t>({0xFF, 0x00, 0x00, 0x01, 0xFF, 0x00, 0xE0, 0xFF,
                                                   0x41, 0xFF, 0x00}));
    EXPECT_EQ(fr.GetSizeBeforeUnsync(1), 8u);
    EXPECT_EQ(fr.GetDataLength(1), 8u);
    EXPECT_EQ(fr.ApplyUnsync(1), -1);
    EXPECT_EQ(fr.Compress(1, 2), 2);
    EXPECT_EQ(fr.RemoveUnsync(1), 0);
    EXPECT_EQ(fr.GetData(1), raw);

    EXPECT_EQ(fr.Decompress(1), -1);
    EXPECT_EQ(fr.Compress(1, 2), 0);
    EXPECT_EQ(fr.GetDataLength(1), 8u);
    EXPECT_EQ(fr.Compress(1, 2), -1);
    EXPECT_EQ(fr.Decompress(1), 0);
    EXPECT_EQ(fr.GetData(1), raw);
    EXPECT_EQ(fr.GetDataLength(1), 0u);

    // A declared size that is wrong still inflates, with -2.
    fr.Compress(1, 1);
    fr.SetDataLength(1, 3);
    EXPECT_EQ(fr.Decompress(1), -2);
    fr.SetStoredFlags(1, fbFormat, ffEncrypted);
    EXPECT_EQ(fr.Compress(1, 2), 1);

    // Corrupt deflate data: failure, data unchanged.
    fr.SetStoredFlags(1, fbFormat, ffCompressed);
    fr.SetData(1, {1, 2, 3, 4});
    EXPECT_EQ(fr.Decompress(1), 4);
    EXPECT_EQ(fr.GetData(1), std::vector<uint8_t>({1, 2, 3, 4}));
}

TEST(FrameData, AppendingItsOwnBytes) {
    // Inline, inline growing onto the heap, heap growing, and a part of itself.
    const struct {
        size_t size, from, count;
    } cases[] = {{3, 0, 3}, {6, 0, 6}, {8, 2, 5}, {20, 0, 20}, {40, 7, 30}, {16, 15, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, from " + std::to_string(c.from));
        std::vector<uint8_t> v(c.size);
        for (size_t k = 0; k < v.size(); ++k)
            v[k] = uint8_t(k + 1);
        TFrameData d(v);
        d.append(d.data() + c.from, c.count);
        v.insert(v.end(), v.begin() + long(c.from), v.begin() + long(c.from + c.count));
        EXPECT_EQ(d.ToVector(), v);
    }
}

TEST_F(Id3Read, ModifiedMarksAndRangeChecks) {
    TFrameIndex fr;
    fr.AddFrame("TIT2");
    fr.SetModified(1, false);
    fr.SetGroupID(1, 0);
    EXPECT_FALSE(fr.GetModified(1));
    fr.SetGroupID(1, 3);
    EXPECT_TRUE(fr.GetModified(1));
    fr.SetModified(1, false);
    fr.SetEncryptionMethod(1, 0);
    EXPECT_FALSE(fr.GetModified(1));
    fr.SetWriteFlags(1, fbFormat, 0);
    EXPECT_TRUE(fr.GetModified(1));
    fr.SetModified(1, false);
    fr.SetDataLength(1, 9);
    EXPECT_FALSE(fr.GetModified(1));

    for (int bad : {0, 2, -1}) {
        EXPECT_THROW(fr.GetID(bad), NarrabelError);
        EXPECT_THROW(fr.Compress(bad, 2), NarrabelError);
        EXPECT_THROW(fr.RemoveUnsync(bad), NarrabelError);
    }
    EXPECT_THROW(fr.GetStoredFlags(1, 2), NarrabelError);
    try {
        fr.GetDataLength(5);
        FAIL();
    } catch (const NarrabelError& e) {
        EXPECT_EQ(e.message(), "Array range out of bounds.");
    }
    EXPECT_EQ(fr.DeleteFrame(2), 0);
    EXPECT_EQ(fr.DeleteFrame(1), 1);
    EXPECT_EQ(fr.Count(), 0);
}

TEST_F(Id3Read, TagFlagSettersMarkModified) {
    EXPECT_FALSE(tag.Modified());
    tag.SetExperimental(true);
    EXPECT_TRUE(tag.Experimental());
    EXPECT_TRUE(tag.Modified());
    EXPECT_EQ(tag.HeaderFlags(), 0x20);
    tag.SetCRCPresent(true);
    EXPECT_EQ(tag.ExtendedFlags(), 0x20);
    // Defaults.
    EXPECT_EQ(tag.Version(), 3);
    EXPECT_TRUE(tag.AcceptNonZeroRevision());
    EXPECT_FALSE(tag.DropUnsupported());
    EXPECT_TRUE(tag.AutoFixFrames());
    EXPECT_EQ(tag.CompressionLevel(), 2);
    EXPECT_EQ(tag.PaddingMode(), 1);
    EXPECT_EQ(tag.PaddingBlock(), 4096u);
    EXPECT_EQ(tag.PaddingLimit(), 4096u);
}

} // namespace
