#include "tags/filetags.h"

#include "tags/id3v2/id3v2.h"
#include "tags/taglibtags.h"

#include "tags/id3v2/savejournal.h"

#include <QFile>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool TagLibFormat(TTagFormat f) {
    return f == TTagFormat::Mp4 || f == TTagFormat::OggVorbis || f == TTagFormat::Opus ||
           f == TTagFormat::OggFlac || f == TTagFormat::Flac;
}

void ReadId3v2(TFileTag& t, int fd, unsigned options) {
    Tid3v2tag tag;
    const uint16_t code = tag.LoadFromDescriptor(t.Path, fd, 0);
    // No tag at all is no fault of the file: it reads as an empty one.
    const uint16_t error = code & 0xFF00;
    t.Unreadable = code >= 256 && error != id3ErrNoHeader && error != id3ErrOffset;
    if (code >= 256) return;
    t.Fields = FieldsOfLoadedTag(tag, t.Path, &t.CutShort);
    if (options & trCover) {
        QByteArray image;
        QString mime;
        if (tag.GetPicture(image, mime) == txtOk && image.size() <= TFileTag::kMaxCoverBytes) {
            t.Cover = image;
            t.CoverMime = mime;
        }
    }
}

TTagSaveResult Refused(const QString& cause) {
    return {id3ErrWrite, cause};
}

} // namespace

TFileTag ReadFileTag(const QString& path, unsigned options) {
    TFileTag t;
    t.Path = path;
    // A save of this file that ended part way (by the program or the tool,
    // in place or on a new copy) is undone before anything is read.
    id3v2::RecoverTagFile(path);
    // One opening serves the look at the content and the back end's read.
    // Opening never waits (a FIFO has no writer); only a regular file is read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    QByteArray head, after;
    struct stat st;
    const bool regular = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) ReadHead(fd, head, after);
    t.Format = TagFormatOfBytes(head, after, path);
    try {
        if (!regular)
            t.Unreadable = true;
        else if (t.Format == TTagFormat::Id3v2)
            ReadId3v2(t, fd, options);
        else if (TagLibFormat(t.Format))
            ReadTagLibDescriptor(t, fd, qint64(st.st_size), options);
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
