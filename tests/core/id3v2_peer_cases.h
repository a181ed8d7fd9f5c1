#pragma once
// Files our library saves, for the peers to read back: new, grown and shrunk
// tags, both versions, compressed and unsynchronised frames, CRC.

#include "core/id3v2_testutil.h"
#include "support/testsupport.h"
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"

#include <QString>
#include <functional>
#include <vector>

namespace id3test {

struct SavedCase {
    QString name;
    QString path;
    QByteArray audio; // the bytes that must follow the tag
    TMP3Rec fields;   // what was written
    int version = 3;
};

inline TMP3Rec SampleFields(const QString& title) {
    TMP3Rec r;
    r.Artist = QString::fromLatin1("Art\xEFst \xFF\xE0");
    r.Album = QStringLiteral("Album");
    r.Track = QStringLiteral("03");
    r.Title = title;
    r.Year = QStringLiteral("2001");
    r.Genre = QStringLiteral("Speech");
    r.Comment = QString::fromLatin1("Comm\xE9nt");
    return r;
}

// Builds every case in dir. Each starts from a file with some tag (or none),
// writes SampleFields through the tag record and saves with the given tweak.
inline std::vector<SavedCase> MakeSavedCases(const QString& dir) {
    std::vector<SavedCase> out;
    const QByteArray audio = Audio(70000, 5);
    const QByteArray small3 = Tag(3, FrameV3("TIT2", Text("old")) + FrameV3("PRIV", "private"), 50);
    const QByteArray small4 = Tag(4, FrameV4("TIT2", Text("old")) + FrameV4("PRIV", "private"), 50);
    const QByteArray big4 = Tag(4, FrameV4("TIT2", Text("old")), 100000);
    struct Recipe {
        const char* name;
        QByteArray start;
        QString title;
        int version; // 0 keeps the loaded one
        std::function<void(Tid3v2tag&)> tweak;
    };
    const Recipe recipes[] = {
        {"new-v3", QByteArray(), "New tag", 0, nullptr},
        {"grown-v3", small3, QString(9000, 'g'), 0, nullptr},
        {"grown-v4", small4, QString(9000, 'g'), 0, nullptr},
        {"shrunk-v4", big4, "short", 0, nullptr},
        {"v3-to-v4", small3, "Now four", 4, nullptr},
        {"compressed-v3", small3, QString(3000, 'c'), 0,
         [](Tid3v2tag& t) {
             for (int i = 1; i <= t.Frames().Count(); ++i)
                 t.Frames().SetWriteFlags(i, fbFormat, ffCompressed);
         }},
        {"compressed-v4", small4, QString(3000, 'c'), 0,
         [](Tid3v2tag& t) {
             for (int i = 1; i <= t.Frames().Count(); ++i)
                 t.Frames().SetWriteFlags(i, fbFormat, ffCompressed | ffDataLength);
         }},
        {"unsync-v3", small3, QString::fromLatin1("\xFF\xFF\xE0 unsync \xFF"), 0,
         [](Tid3v2tag& t) { t.SetUnsynchronisation(true); }},
        {"unsync-v4", small4, QString::fromLatin1("\xFF\xFF\xE0 unsync \xFF"), 0,
         [](Tid3v2tag& t) { t.SetUnsynchronisation(true); }},
        {"crc-v3", small3, "With CRC", 0, [](Tid3v2tag& t) { t.SetCRCPresent(true); }},
        {"crc-v4", small4, "With CRC", 0, [](Tid3v2tag& t) { t.SetCRCPresent(true); }},
        {"all-v3", small3, QString::fromLatin1("All \xFF\xE9"), 0,
         [](Tid3v2tag& t) {
             t.SetUnsynchronisation(true);
             t.SetCRCPresent(true);
             t.Frames().SetWriteFlags(1, fbFormat, ffCompressed);
         }},
        {"all-v4", small4, QString::fromLatin1("All \xFF\xE9"), 0,
         [](Tid3v2tag& t) {
             t.SetUnsynchronisation(true);
             t.SetCRCPresent(true);
             t.SetIsUpdate(true);
             t.Frames().SetWriteFlags(1, fbFormat, ffCompressed | ffDataLength);
         }},
    };
    for (const Recipe& s : recipes) {
        SavedCase c;
        c.name = QString::fromLatin1(s.name);
        c.path = dir + '/' + c.name + ".mp3";
        c.audio = audio;
        testsupport::WriteAll(c.path, s.start + audio);
        ReadTag(c.path);
        c.fields = SampleFields(s.title);
        CurrentTag() = c.fields;
        Tid3v2tag& tag = TagStore();
        // Set the fields first so the tweaks see every frame.
        tag.SetTextFrame("TIT2", c.fields.Title);
        tag.SetTextFrame("TPE1", c.fields.Artist);
        tag.SetTextFrame("TALB", c.fields.Album);
        tag.SetTextFrame("TYER", c.fields.Year);
        tag.SetTextFrame("TCON", c.fields.Genre);
        tag.SetTextFrame("TRCK", c.fields.Track);
        COMM comm;
        comm.Language = "ENG";
        comm.Text = c.fields.Comment;
        tag.SetComment(comm, "", "None");
        if (s.tweak) s.tweak(tag);
        c.version = s.version ? s.version : tag.Version();
        const uint16_t rc = tag.SaveToFile(c.path, uint8_t(c.version), 0, 0);
        if (rc >= 256) c.name += QStringLiteral(" (save failed)");
        out.push_back(c);
    }
    return out;
}

} // namespace id3test
