// The tag record and the shared tag object.
#include "tags/mp3.h"

#include "tags/id3v2/id3v2.h"
#include "util/qorext.h"

TMP3Rec& CurrentTag() {
    static TMP3Rec rec;
    return rec;
}

Tid3v2tag& TagStore() {
    static Tid3v2tag tag;
    return tag;
}

const TTagField TagFields[7] = {
    {"artist", &TMP3Rec::Artist},   {"album", &TMP3Rec::Album}, {"track", &TMP3Rec::Track},
    {"title", &TMP3Rec::Title},     {"year", &TMP3Rec::Year},   {"genre", &TMP3Rec::Genre},
    {"comment", &TMP3Rec::Comment},
};

TMP3Rec ReadTagWith(Tid3v2tag& tag, const QString& path) {
    TMP3Rec r;
    if (tag.LoadFromFile(path, 0) >= 256) return r;
    tag.GetTextFrame(QStringLiteral("TIT2"), r.Title);
    tag.GetTextFrame(QStringLiteral("TPE1"), r.Artist);
    tag.GetTextFrame(QStringLiteral("TALB"), r.Album);
    tag.GetTextFrame(QStringLiteral("TYER"), r.Year);
    tag.GetTextFrame(QStringLiteral("TCON"), r.Genre);
    tag.GetTextFrame(QStringLiteral("TRCK"), r.Track);
    COMM comm;
    // A language filter that is not three characters long matches any language.
    tag.GetComment(comm, QString(), QStringLiteral("None"));
    r.Comment = comm.Text;
    r.FileName = path;
    for (const TTagField& f : TagFields)
        r.*f.Field = TrimCtl(r.*f.Field);
    while (r.Track.size() < 2)
        r.Track.prepend(QLatin1Char('0'));
    return r;
}

void ReadTag(const QString& path) {
    CurrentTag() = TMP3Rec(); // cleared first: the read may throw
    CurrentTag() = ReadTagWith(TagStore(), path);
}

int SaveCurrentTag(const QString& path) {
    const TMP3Rec r = CurrentTag();
    // ISO-8859-1 is all a written frame can hold; refuse before anything changes.
    for (const TTagField& f : TagFields)
        if (!id3v2::IsLatin1(r.*f.Field)) return id3ErrNotLatin1;
    Tid3v2tag& tag = TagStore();
    // Another read since the caller's may have left another file's tag here.
    if (tag.FileName() != path) {
        // Whatever this finds, the save below judges it; only a file that could
        // not be opened leaves the tag object naming another file.
        tag.LoadFromFile(path, 0);
        if (tag.FileName() != path) return id3ErrNoFile;
    }
    tag.SetTextFrame(QStringLiteral("TIT2"), r.Title);
    tag.SetTextFrame(QStringLiteral("TPE1"), r.Artist);
    tag.SetTextFrame(QStringLiteral("TALB"), r.Album);
    tag.SetTextFrame(QStringLiteral("TYER"), r.Year);
    tag.SetTextFrame(QStringLiteral("TCON"), r.Genre);
    tag.SetTextFrame(QStringLiteral("TRCK"), r.Track);
    COMM comm;
    comm.Encoding = 0;
    comm.Language = QStringLiteral("ENG");
    comm.Text = r.Comment;
    tag.SetComment(comm, QString(), QStringLiteral("None"));
    return tag.SaveToFile(QStringLiteral("="), 255, 255, -1);
}
