#include "tags/filetags.h"

#include "tags/id3v2/id3v2.h"
#include "tags/taglibtags.h"

#include <QFile>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool TagLibFormat(TTagFormat f) {
    return f == TTagFormat::Mp4 || f == TTagFormat::OggVorbis || f == TTagFormat::Opus ||
           f == TTagFormat::OggFlac || f == TTagFormat::Flac;
}

// The fields whose frame the tag holds but whose text it could not decode:
// emptied by malformed text, in an unknown encoding, or encrypted.
TFieldMask Id3v2CutShort(Tid3v2tag& tag) {
    static const char* const frames[] = {"TPE1", "TALB", "TRCK", "TIT2", "TYER", "TCON"};
    TFieldMask out = 0;
    for (int k = 0; k < 6; ++k) {
        QString text;
        const uint8_t r = tag.GetTextFrame(QLatin1String(frames[k]), text);
        if (r != txtOk && r != txtNotFound && r != txtEmpty) out |= FieldBit(k);
    }
    COMM comm;
    const uint8_t r = tag.GetComment(comm, QString(), QStringLiteral("None"));
    if (r != txtOk && r != txtNotFound && r != txtEmpty) out |= FieldBit(6);
    return out;
}

void ReadId3v2(TFileTag& t, unsigned options) {
    Tid3v2tag tag;
    t.Fields = ReadTagWith(tag, t.Path);
    const uint16_t code = tag.LastLoadCode();
    // No tag at all is no fault of the file: it reads as an empty one.
    const uint16_t error = code & 0xFF00;
    t.Unreadable = code >= 256 && error != id3ErrNoHeader && error != id3ErrOffset;
    if (t.Fields.FileName.isEmpty()) return;
    t.CutShort = Id3v2CutShort(tag);
    if (options & trCover) {
        QByteArray image;
        QString mime;
        if (tag.GetPicture(image, mime) == txtOk && image.size() <= TFileTag::kMaxCoverBytes) {
            t.Cover = image;
            t.CoverMime = mime;
        }
    }
}

// Whether the file can be opened for reading at all.
bool Openable(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

TTagSaveResult Refused(const QString& cause) {
    return {id3ErrWrite, cause};
}

} // namespace

TFileTag ReadFileTag(const QString& path, unsigned options) {
    TFileTag t;
    t.Path = path;
    t.Format = DetectTagFormat(path);
    try {
        if (t.Format == TTagFormat::Id3v2)
            ReadId3v2(t, options);
        else if (TagLibFormat(t.Format))
            ReadTagLibFile(t, options);
        else
            t.Unreadable = !Openable(path);
    } catch (const std::exception&) {
        // A read never fails its caller: what could not be read is empty.
        const TFileTag empty;
        t.Fields = empty.Fields;
        t.Cover.clear();
        t.CoverMime.clear();
        t.Unreadable = true;
    }
    t.Read = t.Fields;
    return t;
}

TTagSaveResult SaveFileTag(const TFileTag& t) {
    if (!t.Changed()) return {};
    // The file is judged again: it may have been replaced since it was read.
    const TTagFormat format = DetectTagFormat(t.Path);
    if (format == TTagFormat::Id3v2) {
        // The library refuses a damaged tag itself, and says what is wrong with it.
        Tid3v2tag tag;
        ReadTagWith(tag, t.Path);
        TTagSaveResult r;
        r.Code = SaveTagFieldsWith(tag, t.Path, t.Fields, t.Read);
        if (!r.Ok()) r.Cause = SaveFailureCauseWith(tag, t.Path, r.Code);
        return r;
    }
    if (TagLibFormat(format)) {
        if (t.Unreadable)
            return Refused(
                QStringLiteral("The file's tags could not be read, so none are written."));
        if (format != t.Format)
            return Refused(QStringLiteral("The file changed since its tags were read."));
        return SaveTagLibFile(t);
    }
    if (!QFile::exists(t.Path)) return {id3ErrNoFile, QStringLiteral("The file no longer exists.")};
    if (format == TTagFormat::Foreign) return Refused(NotMpegAudioCause(TagFormatName(format)));
    return Refused(QStringLiteral("Tags cannot be written into this kind of file."));
}
