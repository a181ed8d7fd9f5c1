// The seven fields of MP4 atoms (artist "©ART", or "aART" without it, album
// "©alb", track "trkn", title "©nam", year "©day", genre "©gen", comment "©cmt")
// and of Vorbis comments (ARTIST, ALBUM, TRACKNUMBER, TITLE, DATE, GENRE,
// COMMENT or DESCRIPTION), through TagLib's format classes, built here for each
// file's content (TagLib's own choice goes by the extension only).
#include "tags/taglibtags.h"

#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/savejournal.h"
#include "util/journal.h"
#include "util/qorext.h"

#include <QFile>
#include <QFileInfo>

#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfilestream.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

QString Q(const TagLib::String& s) {
    return QString::fromStdString(s.to8Bit(true));
}

TagLib::String T(const QString& s) {
    return TagLib::String(s.toUtf8().toStdString(), TagLib::String::UTF8);
}

// ---------------------------------------------------------------- bounded reading

// A file read through TagLib with a budget: once kReadBudget bytes have been
// read (whatever atoms or pages declare), every read returns nothing, which
// TagLib takes for the end of the file. Nothing is ever written. TagLib reads
// in many small pieces (atom and page headers): they are served from a window
// of the file read ahead in one call.
class TBoundedStream : public TagLib::IOStream {
public:
    TBoundedStream(int fd, const QByteArray& name, qint64 size)
        : fd(fd), fileName(name), size(size) {}
    bool Exhausted() const { return exhausted; }
    // n bytes at at, without moving the stream; false past the end.
    bool ReadAt(qint64 at, char* into, qint64 n) {
        if (at < 0 || n < 0 || at + n > size) return false;
        if (at >= windowAt && at + n <= windowAt + window.size()) {
            std::memcpy(into, window.constData() + (at - windowAt), size_t(n));
            return true;
        }
        if (n > kWindow) return Pread(at, into, n) == n;
        window.resize(qsizetype(std::min<qint64>(kWindow, size - at)));
        windowAt = at;
        const qint64 got = Pread(at, window.data(), window.size());
        window.resize(qsizetype(std::max<qint64>(got, 0)));
        if (got < n) return false;
        std::memcpy(into, window.constData(), size_t(n));
        return true;
    }

    TagLib::FileName name() const override { return fileName.constData(); }
    TagLib::ByteVector readBlock(unsigned long length) override {
        const qint64 want = std::min<qint64>(qint64(length), std::max<qint64>(0, size - pos));
        if (want <= 0) return {};
        if (want > left) {
            exhausted = true;
            left = 0;
            return {};
        }
        TagLib::ByteVector out(static_cast<unsigned int>(want), '\0');
        if (!ReadAt(pos, out.data(), want)) {
            // Cut short by the disk: what was there is given.
            const qint64 got = Pread(pos, out.data(), want);
            out.resize(static_cast<unsigned int>(std::max<qint64>(got, 0)));
        }
        pos += out.size();
        left -= out.size();
        return out;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return fd >= 0; }
    void seek(long offset, Position p) override {
        const qint64 base = p == Beginning ? 0 : p == Current ? pos : size;
        pos = std::max<qint64>(0, base + qint64(offset));
    }
    long tell() const override { return long(pos); }
    long length() override { return long(size); }
    void truncate(long) override {}

private:
    static constexpr qint64 kWindow = 16 * 1024;
    qint64 Pread(qint64 at, char* into, qint64 n) const {
        qint64 got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd, into + got, size_t(n - got), off_t(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        return got;
    }
    int fd;
    QByteArray fileName;
    qint64 size = 0;
    qint64 pos = 0;
    qint64 left = kReadBudget;
    bool exhausted = false;
    QByteArray window;
    qint64 windowAt = 0;
};

// ---------------------------------------------------------------- MP4 atoms

// TagLib walks the atoms of an MP4 file recursively, without a limit of its
// own; a file of millions of atoms, or of atoms nested thousands deep, is
// refused before it gets there. Real files have a few hundred atoms, nested
// eight deep at most.
constexpr int kMaxAtomDepth = 24;
constexpr int kMaxAtoms = 200000;

using TReader = std::function<bool(qint64 at, uint8_t* into, int n)>;

bool Mp4AtomsSane(const TReader& read, qint64 size) {
    static const char* const containers[] = {"moov", "udta", "mdia", "meta", "ilst", "stbl",
                                             "minf", "moof", "traf", "trak", "stsd"};
    struct Level {
        qint64 end;
    };
    std::vector<Level> stack{{size}};
    qint64 at = 0;
    int atoms = 0;
    while (!stack.empty()) {
        if (at + 8 > stack.back().end) {
            at = stack.back().end;
            stack.pop_back();
            continue;
        }
        uint8_t h[16];
        if (!read(at, h, 8)) return true; // the rest is TagLib's to judge
        qint64 length = (qint64(h[0]) << 24) | (qint64(h[1]) << 16) | (qint64(h[2]) << 8) | h[3];
        int header = 8;
        if (length == 1) {
            if (!read(at + 8, h + 8, 8)) return true;
            length = 0;
            for (int k = 8; k < 16; ++k)
                length = (length << 8) | h[k];
            header = 16;
        }
        if (length < header) return true; // TagLib stops here
        if (++atoms > kMaxAtoms) return false;
        const qint64 end = std::min(at + length, stack.back().end);
        bool container = false;
        for (const char* c : containers)
            container = container || std::memcmp(h + 4, c, 4) == 0;
        if (!container) {
            at = end;
            continue;
        }
        if (int(stack.size()) > kMaxAtomDepth) return false;
        const int skip = std::memcmp(h + 4, "meta", 4) == 0   ? 4
                         : std::memcmp(h + 4, "stsd", 4) == 0 ? 8
                                                              : 0;
        stack.push_back({end});
        at += header + skip;
    }
    return true;
}

// ---------------------------------------------------------------- the fields

const char* const kArtist = "\251ART";
const char* const kAlbumArtist = "aART";
const char* const kAlbum = "\251alb";
const char* const kTitle = "\251nam";
const char* const kYear = "\251day";
const char* const kGenre = "\251gen";
const char* const kComment = "\251cmt";

QString Mp4Text(const TagLib::MP4::Tag* tag, const char* key) {
    const TagLib::MP4::ItemMap& items = tag->itemMap();
    const auto it = items.find(TagLib::String(key, TagLib::String::Latin1));
    if (it == items.end()) return {};
    const TagLib::StringList list = it->second.toStringList();
    return list.isEmpty() ? QString() : Q(list.front());
}

void Mp4Fields(const TagLib::MP4::Tag* tag, TMP3Rec& r) {
    r.Artist = Mp4Text(tag, kArtist);
    // The album artist stands in for a missing track artist.
    if (r.Artist.trimmed().isEmpty()) r.Artist = Mp4Text(tag, kAlbumArtist);
    r.Album = Mp4Text(tag, kAlbum);
    r.Title = Mp4Text(tag, kTitle);
    r.Year = Mp4Text(tag, kYear);
    r.Genre = Mp4Text(tag, kGenre);
    if (r.Genre.isEmpty() && tag->contains("gnre")) {
        const int n = tag->item("gnre").toInt();
        if (n > 0) r.Genre = Q(TagLib::ID3v1::genre(n - 1));
    }
    r.Comment = Mp4Text(tag, kComment);
    if (tag->contains("trkn")) {
        const TagLib::MP4::Item::IntPair p = tag->item("trkn").toIntPair();
        if (p.first > 0)
            r.Track = p.second > 0 ? QStringLiteral("%1/%2").arg(p.first).arg(p.second)
                                   : QString::number(p.first);
    }
}

QString XiphText(const TagLib::Ogg::XiphComment* c, const char* key) {
    const TagLib::Ogg::FieldListMap& m = c->fieldListMap();
    const auto it = m.find(key);
    if (it == m.end() || it->second.isEmpty()) return {};
    return Q(it->second.front());
}

void XiphFields(const TagLib::Ogg::XiphComment* c, TMP3Rec& r) {
    r.Artist = XiphText(c, "ARTIST");
    r.Album = XiphText(c, "ALBUM");
    r.Track = XiphText(c, "TRACKNUMBER");
    r.Title = XiphText(c, "TITLE");
    r.Year = XiphText(c, "DATE");
    r.Genre = XiphText(c, "GENRE");
    r.Comment = c->contains("COMMENT") ? XiphText(c, "COMMENT") : XiphText(c, "DESCRIPTION");
}

bool FourDigits(const QString& s) {
    if (s.size() < 4) return false;
    for (int k = 0; k < 4; ++k)
        if (s[k] < QLatin1Char('0') || s[k] > QLatin1Char('9')) return false;
    return true;
}

// As a read shows them: trimmed, a date's year alone, the track two characters at least.
void Normalise(TMP3Rec& r) {
    for (const TTagField& f : TagFields)
        r.*f.Field = TrimCtl(r.*f.Field);
    if (r.Year.size() > 4 && FourDigits(r.Year)) r.Year.truncate(4);
    while (r.Track.size() < 2)
        r.Track.prepend(QLatin1Char('0'));
}

// ---------------------------------------------------------------- pictures

QString Mp4CoverMime(TagLib::MP4::CoverArt::Format f) {
    switch (f) {
    case TagLib::MP4::CoverArt::PNG:
        return QStringLiteral("image/png");
    case TagLib::MP4::CoverArt::BMP:
        return QStringLiteral("image/bmp");
    case TagLib::MP4::CoverArt::GIF:
        return QStringLiteral("image/gif");
    default:
        return QStringLiteral("image/jpeg");
    }
}

void Mp4Cover(const TagLib::MP4::Tag* tag, TFileTag& t) {
    if (!tag->contains("covr")) return;
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    for (const TagLib::MP4::CoverArt& c : covers) {
        const TagLib::ByteVector data = c.data();
        if (data.isEmpty() || qsizetype(data.size()) > TFileTag::kMaxCoverBytes) continue;
        t.Cover = QByteArray(data.data(), int(data.size()));
        t.CoverMime = Mp4CoverMime(c.format());
        return;
    }
}

void PictureCover(const TagLib::List<TagLib::FLAC::Picture*>& pictures, TFileTag& t) {
    const TagLib::FLAC::Picture* chosen = nullptr;
    for (const TagLib::FLAC::Picture* p : pictures) {
        if (!p || p->data().isEmpty() || qsizetype(p->data().size()) > TFileTag::kMaxCoverBytes)
            continue;
        if (!chosen || (p->type() == TagLib::FLAC::Picture::FrontCover &&
                        chosen->type() != TagLib::FLAC::Picture::FrontCover))
            chosen = p;
    }
    if (!chosen) return;
    t.Cover = QByteArray(chosen->data().data(), int(chosen->data().size()));
    t.CoverMime = Q(chosen->mimeType()).toLower();
}

// ---------------------------------------------------------------- reading

// The fields (and the picture) of an opened file; false when TagLib could
// not make sense of it.
bool ReadOpened(TagLib::IOStream* stream, TFileTag& t, unsigned options) {
    TMP3Rec r;
    bool tagged = false;
    switch (t.Format) {
    case TTagFormat::Mp4: {
        TagLib::MP4::File f(stream, false);
        if (!f.isValid()) return false;
        const TagLib::MP4::Tag* tag = f.tag();
        if (!tag) return true;
        tagged = !tag->isEmpty();
        Mp4Fields(tag, r);
        if (options & trCover) Mp4Cover(tag, t);
        break;
    }
    case TTagFormat::Flac: {
        TagLib::FLAC::File f(stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!f.isValid()) return false;
        if (f.hasXiphComment()) {
            tagged = !f.xiphComment()->isEmpty();
            XiphFields(f.xiphComment(), r);
        }
        if (options & trCover) {
            PictureCover(f.pictureList(), t);
            if (t.Cover.isEmpty() && f.hasXiphComment())
                PictureCover(f.xiphComment()->pictureList(), t);
        }
        break;
    }
    default: {
        std::unique_ptr<TagLib::Ogg::File> f;
        TagLib::Ogg::XiphComment* c = nullptr;
        if (t.Format == TTagFormat::OggVorbis) {
            auto* v = new TagLib::Ogg::Vorbis::File(stream, false);
            f.reset(v);
            c = v->tag();
        } else if (t.Format == TTagFormat::Opus) {
            auto* o = new TagLib::Ogg::Opus::File(stream, false);
            f.reset(o);
            c = o->tag();
        } else {
            auto* g = new TagLib::Ogg::FLAC::File(stream, false);
            f.reset(g);
            c = g->tag();
        }
        if (!f->isValid()) return false;
        if (c) {
            tagged = !c->isEmpty();
            XiphFields(c, r);
            if (options & trCover) PictureCover(c->pictureList(), t);
        }
        break;
    }
    }
    if (tagged) {
        Normalise(r);
        r.FileName = t.Path;
        t.Fields = r;
    }
    return true;
}

void ReadStream(TagLib::IOStream* stream, TFileTag& t, unsigned options, const TReader& raw,
                qint64 size, const std::function<bool()>& exhausted) {
    if (t.Format == TTagFormat::Mp4 && !Mp4AtomsSane(raw, size)) {
        t.Unreadable = true;
        return;
    }
    const bool ok = ReadOpened(stream, t, options);
    if (!ok || exhausted()) {
        // Half a read is no read: nothing of it is shown.
        const QString path = t.Path;
        const TTagFormat format = t.Format;
        t = TFileTag();
        t.Path = path;
        t.Format = format;
        t.Unreadable = true;
    }
}

// ---------------------------------------------------------------- saving

// Sets one text item, or removes it for an empty value.
void SetMp4Text(TagLib::MP4::Tag* tag, const char* key, const QString& value) {
    const TagLib::String k(key, TagLib::String::Latin1);
    if (value.isEmpty())
        tag->removeItem(k);
    else
        tag->setItem(k, TagLib::StringList(T(value)));
}

void SetXiph(TagLib::Ogg::XiphComment* c, const char* key, const QString& value) {
    if (value.isEmpty())
        c->removeFields(key);
    else
        c->addField(key, T(value), true);
}

// A changed year keeps the rest of a date it replaces ("2004-05-06" with
// 1999 gives "1999-05-06").
QString NewDate(const QString& year, const QString& old) {
    if (year.size() != 4 || !FourDigits(year) || !FourDigits(old)) return year;
    return year + old.mid(4);
}

// "3", "03" or "3/12" as MP4 stores a track; false for anything else.
bool ParseTrack(const QString& text, int& track, int& total) {
    const QString s = text.trimmed();
    const qsizetype slash = s.indexOf(QLatin1Char('/'));
    bool ok1 = true, ok2 = true;
    track = (slash < 0 ? s : s.left(slash)).trimmed().toInt(&ok1);
    total = slash < 0 ? 0 : s.mid(slash + 1).trimmed().toInt(&ok2);
    return ok1 && ok2 && track >= 0 && total >= 0 && track < 65536 && total < 65536;
}

struct TWant {
    const TFileTag& t;
    TFieldMask changed;
    bool has(QString TMP3Rec::*f) const {
        for (int k = 0; k < 7; ++k)
            if (TagFields[k].Field == f) return changed & FieldBit(k);
        return false;
    }
    const QString& value(QString TMP3Rec::*f) const { return t.Fields.*f; }
};

// Puts the changed fields into the tag; a cause when one cannot be stored.
QString ApplyMp4(TagLib::MP4::Tag* tag, const TWant& w) {
    if (w.has(&TMP3Rec::Track)) {
        const QString& text = w.value(&TMP3Rec::Track);
        int track = 0, total = 0;
        if (text.trimmed().isEmpty()) {
            tag->removeItem("trkn");
        } else if (!ParseTrack(text, track, total)) {
            return QStringLiteral("An MP4 file keeps its track as a number (such as 3 or 3/12), "
                                  "not \"%1\".")
                .arg(text);
        } else if (track == 0 && total == 0) {
            tag->removeItem("trkn");
        } else {
            tag->setItem("trkn", TagLib::MP4::Item(track, total));
        }
    }
    if (w.has(&TMP3Rec::Artist)) {
        const QString& artist = w.value(&TMP3Rec::Artist);
        SetMp4Text(tag, kArtist, artist);
        // An album artist would show in its place: no artist means neither.
        if (artist.isEmpty()) SetMp4Text(tag, kAlbumArtist, {});
    }
    if (w.has(&TMP3Rec::Album)) SetMp4Text(tag, kAlbum, w.value(&TMP3Rec::Album));
    if (w.has(&TMP3Rec::Title)) SetMp4Text(tag, kTitle, w.value(&TMP3Rec::Title));
    if (w.has(&TMP3Rec::Year))
        SetMp4Text(tag, kYear, NewDate(w.value(&TMP3Rec::Year), Mp4Text(tag, kYear).trimmed()));
    if (w.has(&TMP3Rec::Genre)) {
        tag->removeItem("gnre"); // the numbered genre would still be read first by some
        SetMp4Text(tag, kGenre, w.value(&TMP3Rec::Genre));
    }
    if (w.has(&TMP3Rec::Comment)) SetMp4Text(tag, kComment, w.value(&TMP3Rec::Comment));
    return {};
}

void ApplyXiph(TagLib::Ogg::XiphComment* c, const TWant& w) {
    if (w.has(&TMP3Rec::Artist)) SetXiph(c, "ARTIST", w.value(&TMP3Rec::Artist));
    if (w.has(&TMP3Rec::Album)) SetXiph(c, "ALBUM", w.value(&TMP3Rec::Album));
    if (w.has(&TMP3Rec::Track)) SetXiph(c, "TRACKNUMBER", w.value(&TMP3Rec::Track));
    if (w.has(&TMP3Rec::Title)) SetXiph(c, "TITLE", w.value(&TMP3Rec::Title));
    if (w.has(&TMP3Rec::Year))
        SetXiph(c, "DATE", NewDate(w.value(&TMP3Rec::Year), XiphText(c, "DATE").trimmed()));
    if (w.has(&TMP3Rec::Genre)) SetXiph(c, "GENRE", w.value(&TMP3Rec::Genre));
    if (w.has(&TMP3Rec::Comment)) {
        // The comment goes where it was read from.
        const char* key =
            !c->contains("COMMENT") && c->contains("DESCRIPTION") ? "DESCRIPTION" : "COMMENT";
        SetXiph(c, key, w.value(&TMP3Rec::Comment));
    }
}

// TagLib changes the copy: false (and a cause) when it cannot.
bool ChangeCopy(const QByteArray& temp, const TFileTag& t, const TWant& w, QString& cause) {
    TagLib::FileStream stream(temp.constData(), false);
    if (!stream.isOpen() || stream.readOnly()) {
        cause = QStringLiteral("The new copy of the file cannot be written.");
        return false;
    }
    bool saved = false;
    switch (t.Format) {
    case TTagFormat::Mp4: {
        TagLib::MP4::File f(&stream, false);
        if (!f.isValid() || !f.tag()) break;
        cause = ApplyMp4(f.tag(), w);
        if (!cause.isEmpty()) return false;
        saved = f.save();
        break;
    }
    case TTagFormat::Flac: {
        TagLib::FLAC::File f(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!f.isValid()) break;
        ApplyXiph(f.xiphComment(true), w);
        saved = f.save();
        break;
    }
    case TTagFormat::OggVorbis: {
        TagLib::Ogg::Vorbis::File f(&stream, false);
        if (!f.isValid() || !f.tag()) break;
        ApplyXiph(f.tag(), w);
        saved = f.save();
        break;
    }
    case TTagFormat::Opus: {
        TagLib::Ogg::Opus::File f(&stream, false);
        if (!f.isValid() || !f.tag()) break;
        ApplyXiph(f.tag(), w);
        saved = f.save();
        break;
    }
    case TTagFormat::OggFlac: {
        TagLib::Ogg::FLAC::File f(&stream, false);
        if (!f.isValid() || !f.tag()) break;
        ApplyXiph(f.tag(), w);
        saved = f.save();
        break;
    }
    default:
        break;
    }
    if (!saved)
        cause = QStringLiteral("TagLib could not write the %1 tags of the file.")
                    .arg(TagFormatName(t.Format));
    return saved;
}

// Copies the whole file (the kernel shares the blocks where the file system can).
bool CopyAll(int in, int out, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        loff_t from = done, to = done;
        const ssize_t n = ::copy_file_range(in, &from, out, &to,
                                            size_t(std::min<qint64>(size - done, 1 << 30)), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    if (done == size) return true;
    // Where the kernel cannot copy between these files, by hand.
    std::vector<char> block(1 << 20);
    while (done < size) {
        const ssize_t r = ::pread(in, block.data(), block.size(), off_t(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        for (ssize_t w = 0; w < r;) {
            const ssize_t n = ::pwrite(out, block.data() + w, size_t(r - w), off_t(done + w));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            w += n;
        }
        done += r;
    }
    return true;
}

QString Mib(uint64_t n) {
    return QString::number((n + (1 << 20) - 1) >> 20);
}

bool NotWritable(const QByteArray& native) {
    struct stat st;
    return ::stat(native.constData(), &st) == 0 &&
           (!(st.st_mode & S_IWUSR) || ::access(native.constData(), W_OK) != 0);
}

} // namespace

void ReadTagLibFile(TFileTag& t, unsigned options) {
    const int fd = ::open(QFile::encodeName(t.Path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        ReadTagLibDescriptor(t, fd, qint64(st.st_size), options);
    else
        t.Unreadable = true;
    if (fd >= 0) ::close(fd);
}

void ReadTagLibDescriptor(TFileTag& t, int fd, qint64 size, unsigned options) {
    TBoundedStream stream(fd, QFile::encodeName(t.Path), size);
    const TReader raw = [&stream](qint64 at, uint8_t* into, int n) {
        return stream.ReadAt(at, reinterpret_cast<char*>(into), n);
    };
    ReadStream(&stream, t, options, raw, size, [&stream] { return stream.Exhausted(); });
}

void ReadTagLibBytes(TFileTag& t, const QByteArray& data, unsigned options) {
    const TagLib::ByteVector bytes(data.constData(), static_cast<unsigned int>(data.size()));
    TagLib::ByteVectorStream stream(bytes);
    const TReader raw = [&data](qint64 at, uint8_t* into, int n) {
        if (at < 0 || at + n > data.size()) return false;
        std::memcpy(into, data.constData() + at, size_t(n));
        return true;
    };
    ReadStream(&stream, t, options, raw, data.size(), [] { return false; });
}

TTagSaveResult SaveTagLibFile(const TFileTag& t) {
    TTagSaveResult result;
    auto fail = [&](int code, const QString& cause) {
        result.Code = code;
        result.Cause = cause;
        return result;
    };
    const QByteArray native = QFile::encodeName(t.Path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(id3ErrNoFile, QStringLiteral("The file no longer exists."));
    if (NotWritable(native)) return fail(id3ErrReadOnly, QStringLiteral("The file is read-only."));
    if (QFileInfo(t.Path).fileName().startsWith(QLatin1Char('.')))
        return fail(id3ErrReadOnly,
                    QStringLiteral("The file is hidden (its name starts with \".\")."));
    // What is on disk now is read again, bounded, before TagLib changes a copy of it.
    {
        TFileTag now;
        now.Path = t.Path;
        now.Format = t.Format;
        ReadTagLibFile(now, trFields);
        if (now.Unreadable)
            return fail(id3ErrDamaged,
                        QStringLiteral("The file's tags could not be read, so none are written."));
    }
    // The file a link leads to is the one replaced; the link keeps pointing at it.
    char* resolved = ::realpath(native.constData(), nullptr);
    if (!resolved) return fail(id3ErrNoFile, QStringLiteral("The file no longer exists."));
    const QString path = QFile::decodeName(resolved);
    ::free(resolved);
    const QString folder = FolderOf(path);
    if (NotWritable(QFile::encodeName(folder)))
        return fail(id3ErrWrite, QStringLiteral("The file's folder is read-only."));
    // Room for a whole new copy, and some for the tag to grow, before anything is written.
    const uint64_t need = uint64_t(st.st_size) + (uint64_t(1) << 20);
    auto noSpace = [&](uint64_t free) {
        return fail(id3ErrNoSpace,
                    QStringLiteral("Not enough free space: saving the tags of this file writes "
                                   "it anew (%1 MB) and the disk has %2 MB free. The file was "
                                   "not changed.")
                        .arg(Mib(need), Mib(free)));
    };
    struct statvfs vfs;
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0) {
        const uint64_t free = uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
        if (free < need) return noSpace(free);
    }
    // A save of this file that ended part way is undone first, and so is any
    // whose journal this save is about to reuse.
    using id3v2::TTagRecovery;
    TTagRecovery pending = id3v2::RecoverTagFile(t.Path);
    if (pending.Result != TTagRecovery::Busy && pending.Result != TTagRecovery::Failed)
        pending = id3v2::RecoverTagJournal(id3v2::SaveJournalPath(t.Path));
    if (pending.Result == TTagRecovery::Busy)
        return fail(id3ErrIO, QStringLiteral("Another program is saving a tag right now."));
    if (pending.Result == TTagRecovery::Failed) return fail(id3ErrIO, pending.Error);

    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(id3ErrNoFile, QStringLiteral("The file cannot be opened."));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closeIn{in};
    if (::fstat(in, &st) != 0) return fail(id3ErrIO, QStringLiteral("The file cannot be read."));

    const QString temp = id3v2::NewTemporaryPath(path);
    const QByteArray nativeTemp = QFile::encodeName(temp);
    QString problem;
    TJournalWriter journal;
    // A kill from here on leaves the temporary named here, which the next look
    // at the file (or the next start) removes.
    if (!journal.Begin(id3v2::SaveJournalPath(t.Path), id3v2::kReplaceSave,
                       id3v2::ReplacePayload(path, temp), {}, &problem))
        return fail(id3ErrWrite, problem);
    const int out = ::open(nativeTemp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        problem = QStringLiteral("Cannot write a new file beside it in \"%1\": %2")
                      .arg(folder, QString::fromLocal8Bit(strerror(errno)));
        journal.End();
        return fail(id3ErrWrite, problem);
    }
    auto abandon = [&](int code, const QString& cause) {
        ::close(out);
        ::unlink(nativeTemp.constData());
        journal.End();
        return fail(code, cause);
    };
    if (const int err = ::posix_fallocate(out, 0, off_t(st.st_size)); err == ENOSPC)
        return abandon(id3ErrNoSpace, noSpace(0).Cause);
    if (!CopyAll(in, out, qint64(st.st_size)))
        return abandon(id3ErrWrite, QStringLiteral("The file could not be copied."));
    // The copy takes the file's owner, mode and extended attributes first:
    // what cannot be kept is found out before anything is changed.
    struct stat now;
    if (::fchown(out, st.st_uid, st.st_gid) != 0 &&
        (::fstat(out, &now) != 0 || now.st_uid != st.st_uid || now.st_gid != st.st_gid))
        return abandon(id3ErrWrite,
                       QStringLiteral("The file belongs to another user, and saving its tags "
                                      "writes it anew. The file was not changed."));
    if (::fchmod(out, st.st_mode & 07777) != 0)
        return abandon(id3ErrWrite, QStringLiteral("The new copy's mode cannot be set."));
    CopyExtendedAttributes(in, out);

    const TWant want{t, t.Changed()};
    QString cause;
    if (!ChangeCopy(nativeTemp, t, want, cause)) return abandon(id3ErrWrite, cause);
    // The copy must read back whole before it takes the file's place.
    {
        TFileTag check;
        check.Path = temp;
        check.Format = t.Format;
        ReadTagLibFile(check, trFields);
        if (check.Unreadable)
            return abandon(id3ErrWrite,
                           QStringLiteral("The new copy of the file did not read back."));
    }
    const struct timespec times[2] = {st.st_atim, {0, UTIME_NOW}};
    ::futimens(out, times);
    if (::fsync(out) != 0)
        return abandon(id3ErrWrite, QStringLiteral("The new copy could not be written to disk."));
    if (::close(out) != 0) {
        ::unlink(nativeTemp.constData());
        journal.End();
        return fail(id3ErrWrite, QStringLiteral("The new copy could not be written to disk."));
    }
    if (::rename(nativeTemp.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        ::unlink(nativeTemp.constData());
        journal.End();
        return fail(id3ErrWrite,
                    QStringLiteral("The new copy could not replace the file: %1").arg(why));
    }
    // Once the new name is on disk, nothing is left to undo.
    SyncFolder(folder);
    journal.End();
    return result;
}
