// The tag record and the shared tag object.
#include "tags/mp3.h"

#include "tags/id3v2/id3v2.h"
#include "tags/tagformat.h"
#include "util/qorext.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

namespace {

// What ReadTag produced for the file whose tag TagStore holds, while the tag
// object still holds it as loaded; FileName empty when there is no such read.
TMP3Rec& LastRead() {
    static TMP3Rec rec;
    return rec;
}

// The format of the file the last SaveCurrentTag refused, empty when it did not.
QString& notMpeg() {
    static QString name;
    return name;
}

bool FourDigits(const QString& s) {
    if (s.size() < 4) return false;
    for (int k = 0; k < 4; ++k)
        if (s[k] < QLatin1Char('0') || s[k] > QLatin1Char('9')) return false;
    return true;
}

// The recording time a changed year gives a version 4 tag: the year was
// changed, not the date or time behind it, so those stay.
QString RecordingTime(Tid3v2tag& tag, const QString& year) {
    QString old;
    if (year.size() != 4 || !FourDigits(year) ||
        tag.GetTextFrame(QStringLiteral("TDRC"), old) != txtOk || !FourDigits(old))
        return year;
    return year + old.mid(4);
}

} // namespace

TMP3Rec ReadTagWith(Tid3v2tag& tag, const QString& path) {
    if (tag.LoadFromFile(path, 0) >= 256) return {};
    return FieldsOfLoadedTag(tag, path);
}

TMP3Rec FieldsOfLoadedTag(Tid3v2tag& tag, const QString& path, unsigned* cutShort) {
    TMP3Rec r;
    unsigned lost = 0;
    // A frame that is there but whose text could not be decoded in full.
    auto get = [&](const char* id, QString& into, int field) {
        const uint8_t result = tag.GetTextFrame(QLatin1String(id), into);
        if (result != txtOk && result != txtNotFound && result != txtEmpty) lost |= 1u << field;
        return result;
    };
    get("TIT2", r.Title, 3);
    get("TPE1", r.Artist, 0);
    get("TALB", r.Album, 1);
    // Version 4 has no TYER: its year is the start of the recording time.
    if (get("TYER", r.Year, 4) == txtNotFound && tag.Version() == 4) {
        get("TDRC", r.Year, 4);
        r.Year.truncate(4);
    }
    get("TCON", r.Genre, 5);
    get("TRCK", r.Track, 2);
    COMM comm;
    // A language filter that is not three characters long matches any language.
    const uint8_t result = tag.GetComment(comm, QString(), QStringLiteral("None"));
    if (result != txtOk && result != txtNotFound && result != txtEmpty) lost |= 1u << 6;
    r.Comment = comm.Text;
    r.FileName = path;
    for (const TTagField& f : TagFields)
        r.*f.Field = TrimCtl(r.*f.Field);
    while (r.Track.size() < 2)
        r.Track.prepend(QLatin1Char('0'));
    if (cutShort) *cutShort = lost;
    return r;
}

void ReadTag(const QString& path) {
    // Cleared first: the read may throw.
    LastRead() = CurrentTag() = TMP3Rec();
    CurrentTag() = ReadTagWith(TagStore(), path);
    LastRead() = CurrentTag();
}

int SaveCurrentTag(const QString& path) {
    const TMP3Rec r = CurrentTag();
    Tid3v2tag& tag = TagStore();
    const TTagFormat format = DetectTagFormat(path);
    // An ID3v2 tag goes in front of MPEG audio, or of bytes nobody knows.
    if (format != TTagFormat::Id3v2 && format != TTagFormat::None) {
        LastRead() = TMP3Rec();
        notMpeg() = TagFormatName(format);
        return id3ErrWrite;
    }
    notMpeg().clear();
    // What the caller was shown for this file: the read it did, or, when
    // another file was read or this one saved since, the same read again.
    TMP3Rec shown = LastRead();
    if (shown.FileName != path || tag.FileName() != path) {
        shown = ReadTagWith(tag, path);
        // Whatever the load found, the save below judges it; only a file that
        // could not be opened leaves the tag object naming another file.
        if (tag.FileName() != path) return id3ErrNoFile;
    }
    LastRead() = TMP3Rec();
    return SaveTagFieldsWith(tag, path, r, shown);
}

int SaveTagFieldsWith(Tid3v2tag& tag, const QString& path, const TMP3Rec& r, const TMP3Rec& shown) {
    if (tag.FileName() != path) return id3ErrNoFile;
    // Only the fields the caller changed are written: the read keeps one value
    // of a frame and trims it, so writing an unchanged field back would lose
    // what it did not show. Every other frame stays as it was, byte for byte.
    auto changed = [&](QString TMP3Rec::*f) { return r.*f != shown.*f; };
    const struct {
        const char* id;
        QString TMP3Rec::*field;
    } texts[] = {{"TIT2", &TMP3Rec::Title}, {"TPE1", &TMP3Rec::Artist}, {"TALB", &TMP3Rec::Album},
                 {"TYER", &TMP3Rec::Year},  {"TCON", &TMP3Rec::Genre},  {"TRCK", &TMP3Rec::Track}};
    for (const auto& t : texts) {
        if (!changed(t.field)) continue;
        const QString id = QString::fromLatin1(t.id);
        if (t.field == &TMP3Rec::Year && tag.Version() == 4) {
            tag.SetTextFrame(QStringLiteral("TDRC"), RecordingTime(tag, r.Year));
            // A TYER some program left in a version 4 tag would still be read first.
            QString old;
            if (tag.GetTextFrame(id, old) != txtNotFound) tag.SetTextFrame(id, r.Year);
            continue;
        }
        tag.SetTextFrame(id, r.*t.field);
    }
    if (changed(&TMP3Rec::Comment)) {
        COMM comm;
        comm.Encoding = 0;
        comm.Language = QStringLiteral("ENG");
        comm.Text = r.Comment;
        tag.SetComment(comm, QString(), QStringLiteral("None"));
    }
    return tag.SaveToFile(QStringLiteral("="), 255, 255, -1);
}

namespace {

QString CodeText(int code) {
    return QStringLiteral("0x") + QString::number(code, 16).toUpper().rightJustified(4, '0');
}

// Read-only as a save sees it: the owner's write bit is clear, or we may not
// write (so it holds for root too).
bool NotWritable(const QByteArray& native) {
    struct stat st;
    return ::stat(native.constData(), &st) == 0 &&
           (!(st.st_mode & S_IWUSR) || ::access(native.constData(), W_OK) != 0);
}

} // namespace

QString NotMpegAudioCause(const QString& formatName) {
    return QStringLiteral("The file is not MPEG audio (%1): an ID3v2 tag would damage it.")
        .arg(formatName);
}

QString SaveFailureCause(const QString& path, int code) {
    if (!notMpeg().isEmpty()) return NotMpegAudioCause(notMpeg());
    return SaveFailureCauseWith(TagStore(), path, code);
}

QString SaveFailureCauseWith(const Tid3v2tag& tag, const QString& path, int code) {
    // The save itself knows best what stopped it (no room for a new copy of
    // the file, a folder it cannot write a new file into, ...).
    if (!tag.SaveProblem().isEmpty()) return tag.SaveProblem();
    switch (code & 0xFF00) {
    case id3ErrDamaged: {
        // The load says what is wrong with the tag; the save only that it was.
        const int load = tag.LoadResult() >= 256 ? tag.LoadResult() : code;
        return QStringLiteral("The tag is damaged (result code %1).").arg(CodeText(load));
    }
    case id3ErrVersion:
        return QStringLiteral("The tag's version (ID3v2.%1) cannot be written.").arg(tag.Version());
    case id3ErrTooLarge:
        return QStringLiteral("The tag is too large to be written.");
    case id3ErrNoFrames:
        return QStringLiteral("There is no tag field left to write.");
    default:
        break;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0) return QStringLiteral("The file no longer exists.");
    if (NotWritable(native)) return QStringLiteral("The file is read-only.");
    if (code == id3ErrReadOnly && QFileInfo(path).fileName().startsWith(QLatin1Char('.')))
        return QStringLiteral("The file is hidden (its name starts with \".\").");
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (NotWritable(folder)) return QStringLiteral("The file's folder is read-only.");
    // A write that failed with (almost) no room left: no tag text needs a megabyte.
    struct statvfs fs;
    if (::statvfs(folder.constData(), &fs) == 0) {
        const uint64_t blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
        if (blocks * uint64_t(fs.f_frsize) < (uint64_t(1) << 20))
            return QStringLiteral("The disk is full.");
    }
    if (code == id3ErrNoFile) return QStringLiteral("The file cannot be opened.");
    return QStringLiteral("The file could not be written (result code %1).").arg(CodeText(code));
}
