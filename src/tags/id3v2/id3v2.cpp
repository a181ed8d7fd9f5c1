// Loading a tag and the text and comment accessors.
#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/id3v2internal.h"
#include "tags/id3v2/savejournal.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace id3v2;

Tid3v2tag::~Tid3v2tag() = default;

void Tid3v2tag::report(uint8_t percent, const QString& text) {
    if (percent == progress && text == statusText) return;
    progress = percent;
    if (text != statusText) statusText = text;
    if (OnProgress) OnProgress();
}

bool id3v2::FileIsReadOnly(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) return false;
    if (!(st.st_mode & S_IWUSR) || ::access(native.constData(), W_OK) != 0) return true;
    // Names starting with a dot are hidden.
    return QFileInfo(path).fileName().startsWith(QLatin1Char('.'));
}

// Reads the tag body sequentially through a bounded look-ahead, undoing
// tag-level unsynchronisation on the way in when asked.
struct TagLoader {
    static constexpr size_t kBlock = 16 * 1024;
    static constexpr size_t kLookAhead = 4 * kBlock;

    int fd = -1;
    uint64_t bodyStart = 0; // file offset of the first body byte
    uint32_t bodySize = 0;
    uint64_t fileRead = 0; // body bytes fetched from the file
    std::vector<uint8_t> buf;
    size_t bpos = 0, bend = 0;
    bool unsync = false;
    bool prevFF = false;
    bool ioError = false;

    uint64_t rawUsed() const { return fileRead - (bend - bpos); }
    uint64_t rawLeft() const { return bodySize - rawUsed(); }

    bool fill() {
        if (fileRead >= bodySize) return false;
        const size_t want = size_t(std::min<uint64_t>(bodySize - fileRead, kLookAhead));
        if (buf.size() < want) buf.resize(want);
        const ssize_t got = ::pread(fd, buf.data(), want, off_t(bodyStart + fileRead));
        if (got <= 0) {
            ioError = got < 0;
            if (!ioError) bodySize = uint32_t(fileRead); // file shrank under us
            return false;
        }
        bpos = 0;
        bend = size_t(got);
        fileRead += uint64_t(got);
        return true;
    }
    int getRaw() {
        if (bpos == bend && !fill()) return -1;
        return buf[bpos++];
    }
    size_t readRaw(uint8_t* dst, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (bpos == bend) {
                // Large frames go straight into their buffer.
                const uint64_t left = bodySize - fileRead;
                if (n - done >= kLookAhead && left >= n - done) {
                    size_t want = n - done;
                    while (want) {
                        const ssize_t got =
                            ::pread(fd, dst + done, want, off_t(bodyStart + fileRead));
                        if (got <= 0) {
                            ioError = got < 0;
                            return done;
                        }
                        done += size_t(got);
                        want -= size_t(got);
                        fileRead += uint64_t(got);
                    }
                    return done;
                }
                if (!fill()) return done;
            }
            const size_t take = std::min(n - done, bend - bpos);
            std::memcpy(dst + done, buf.data() + bpos, take);
            bpos += take;
            done += take;
        }
        return done;
    }
    // Decoded bytes; fewer than n when the body ends.
    size_t read(uint8_t* dst, size_t n) {
        if (!unsync) return readRaw(dst, n);
        for (size_t k = 0; k < n; ++k) {
            int b = getRaw();
            if (b < 0) return k;
            if (prevFF && b == 0) {
                b = getRaw();
                if (b < 0) return k;
            }
            prevFF = b == 0xFF;
            dst[k] = uint8_t(b);
        }
        return n;
    }
    bool skip(size_t n) {
        uint8_t tmp[4096];
        while (n) {
            const size_t step = std::min(n, sizeof tmp);
            if (read(tmp, step) != step) return false;
            n -= step;
        }
        return true;
    }
};

uint16_t Tid3v2tag::LoadFromFile(const QString& name, uint64_t offset) {
    // A save of this file that ended part way is undone before the tag is read.
    RecoverTagFile(name);
    // Opening never waits (a FIFO has no writer); only a regular file is read:
    // a FIFO or a device would block or never end.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    return LoadFromDescriptor(name, fd, offset);
}

uint16_t Tid3v2tag::LoadFromDescriptor(const QString& name, int fd, uint64_t offset) {
    // The frame list of an earlier file never survives into this one.
    frames.ClearFrames();
    done = false;
    inflateLeft = kInflatePerLoad;
    auto early = [&](uint16_t code) {
        // No version 3 or 4 header was parsed: the empty list is a fresh tag,
        // and nothing of an earlier file's header shapes it.
        loadResult = 0;
        tagSize = paddingSize = extendedHeaderSize = crc = 0;
        headerFlags = extendedFlags = restrictions = 0;
        if (version != 3 && version != 4 && code != id3ErrVersion) {
            version = 3;
            revision = 0;
        }
        lastLoadCode = code;
        return code;
    };

    fileReadOnly = -1; // looked at when asked for
    if (fd < 0) return early(id3ErrNoFile);
    struct stat st;
    if (::fstat(fd, &st) != 0) return early(id3ErrIO);
    if (!S_ISREG(st.st_mode)) return early(id3ErrNoFile);
    const uint64_t fileSize = uint64_t(st.st_size);
    // Named even when empty, so a save goes to this file and not the last one.
    fileName = name;
    if (offset >= fileSize) return early(id3ErrOffset);

    report(0, QStringLiteral("Loading tag"));
    if (fileSize - offset < 10) return early(id3ErrNoHeader);
    uint8_t h[10];
    if (::pread(fd, h, 10, off_t(offset)) != 10) return early(id3ErrRead);
    if (!ValidHeader(h)) return early(id3ErrNoHeader);
    version = h[3];
    revision = h[4];
    tagOffset = uint32_t(offset);
    if ((version != 3 && version != 4) || (revision != 0 && !acceptNonZeroRevision)) {
        tagSize = paddingSize = extendedHeaderSize = crc = 0;
        headerFlags = extendedFlags = restrictions = 0;
        lastLoadCode = id3ErrVersion;
        loadResult = 0;
        return id3ErrVersion;
    }
    uint16_t rc = 0;
    if (revision != 0) rc |= id3WarnRevision;
    if (version == 3) {
        headerFlags = h[5] & 0xE0;
        if (h[5] & 0x1F) rc |= id3WarnUnknownFlags;
    } else {
        headerFlags = h[5] & 0xF0;
        if (h[5] & 0x0F) rc |= id3WarnUnknownFlags;
    }
    tagSize = Synchsafe(h + 6);
    extendedFlags = 0;
    extendedHeaderSize = 0;
    paddingSize = 0;
    crc = 0;
    restrictions = 0;
    modified = false;
    auto finish = [&](uint16_t code) {
        loadResult = code;
        lastLoadCode = code;
        done = true;
        report(100, QStringLiteral("Load Complete"));
        return code;
    };
    if (fileSize < offset + 10 + tagSize) {
        loadResult = lastLoadCode = uint16_t(rc | id3ErrFileTooShort);
        return loadResult;
    }

    TagLoader in;
    in.fd = fd;
    in.bodyStart = offset + 10;
    in.bodySize = tagSize;
    in.unsync = version == 3 && (headerFlags & 0x80);
    // Version 4 unsynchronises frame by frame: the header flag marks every frame.
    const bool perFrameUnsync = version == 4 && (headerFlags & 0x80);
    const uint64_t total = uint64_t(tagSize) + 10;

    bool declaredPadding = false;
    if (version == 3) {
        if ((headerFlags & 0x40) && in.rawLeft() > 10) {
            uint8_t e[10];
            if (in.read(e, 10) != 10)
                return finish(uint16_t(in.ioError ? id3ErrRead : (rc | id3ErrDamaged)));
            extendedHeaderSize = BigEndian32(e);
            if (e[4] & 0x80) extendedFlags |= 0x20;
            if ((e[4] & 0x7F) || e[5]) rc |= id3WarnExtFlags;
            paddingSize = BigEndian32(e + 6);
            declaredPadding = true;
            if ((extendedFlags & 0x20) && extendedHeaderSize == 10) {
                uint8_t c[4];
                if (in.read(c, 4) != 4)
                    return finish(uint16_t(in.ioError ? id3ErrRead : (rc | id3ErrDamaged)));
                crc = BigEndian32(c);
            }
        }
    } else if ((headerFlags & 0x40) && in.rawLeft() > 6) {
        uint8_t s[4];
        if (in.read(s, 4) != 4) return finish(uint16_t(rc | id3ErrDamaged));
        const uint32_t size = Synchsafe(s);
        if (size < 6 || size - 4 > in.rawLeft()) return finish(uint16_t(rc | id3ErrDamaged));
        extendedHeaderSize = size;
        std::vector<uint8_t> x(size - 4);
        if (in.read(x.data(), x.size()) != x.size())
            return finish(uint16_t(in.ioError ? id3ErrRead : (rc | id3ErrDamaged)));
        const size_t count = x[0];
        if (count == 0 || 1 + count > x.size()) return finish(uint16_t(rc | id3ErrDamaged));
        const uint8_t flags = x[1];
        if (count > 1 || (flags & 0x8F)) rc |= id3WarnExtFlags;
        extendedFlags = flags & 0x70;
        size_t pos = 1 + count;
        auto dataOf = [&](size_t& len) -> bool {
            if (pos >= x.size()) return false;
            len = x[pos++];
            return pos + len <= x.size();
        };
        size_t len = 0;
        if (flags & 0x40) {
            if (!dataOf(len)) return finish(uint16_t(rc | id3ErrDamaged));
            pos += len;
        }
        if (flags & 0x20) {
            if (!dataOf(len) || len < 5) return finish(uint16_t(rc | id3ErrDamaged));
            const uint8_t* c = &x[pos];
            crc = uint32_t(uint64_t(c[0] & 0x7F) << 28 | uint64_t(c[1] & 0x7F) << 21 |
                           uint64_t(c[2] & 0x7F) << 14 | uint64_t(c[3] & 0x7F) << 7 |
                           uint64_t(c[4] & 0x7F));
            pos += len;
        }
        if (flags & 0x10) {
            if (!dataOf(len)) return finish(uint16_t(rc | id3ErrDamaged));
            if (len >= 1) restrictions = x[pos];
            pos += len;
        }
    }

    std::deque<TFrameEntry>& list = frames.Entries();
    bool paddingFound = false;
    while (in.rawLeft() > 0) {
        const uint64_t start = in.rawUsed();
        uint8_t fh[10];
        const size_t want = size_t(std::min<uint64_t>(10, in.rawLeft()));
        const size_t got = in.read(fh, want);
        if (in.ioError) return finish(uint16_t(rc | id3ErrRead));
        report(uint8_t((10 + in.rawUsed()) * 100 / total), statusText);
        bool zero = true;
        for (size_t k = 0; k < got; ++k)
            zero = zero && fh[k] == 0;
        if (zero || (got >= 4 && std::memcmp(fh, "MP3e", 4) == 0)) {
            const uint32_t computed = uint32_t(tagSize - start);
            if (declaredPadding && paddingSize != computed)
                rc |= id3WarnPadding;
            else
                paddingSize = computed;
            paddingFound = true;
            break;
        }
        if (got < 10) return finish(uint16_t(rc | id3ErrDamaged));
        char id[4];
        for (int k = 0; k < 4; ++k) {
            char c = char(fh[k]);
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            id[k] = c;
        }
        if (!TFrameIndex::ValidID(id)) return finish(uint16_t(rc | id3ErrFrameID));
        uint32_t size = version == 3 ? BigEndian32(fh + 4) : Synchsafe(fh + 4);
        if (size > in.rawLeft()) return finish(uint16_t(rc | id3ErrDamaged));
        if (version == 3 && 10 + start + 10 + uint64_t(size) > 0x10000000)
            return finish(uint16_t(rc | id3ErrDamaged));
        uint8_t status, format;
        if (version == 4) {
            status = fh[8];
            format = fh[9];
        } else {
            status = uint8_t(fh[8] >> 1);
            format = 0;
            if (fh[9] & 0x80) format |= ffCompressed | ffDataLength;
            if (fh[9] & 0x40) format |= ffEncrypted;
            if (fh[9] & 0x20) format |= ffGrouping;
        }
        if (perFrameUnsync) format |= ffUnsync;
        size_t extras = 0;
        if (version == 3) {
            extras = ((format & ffCompressed) ? 4 : 0) + ((format & ffEncrypted) ? 1 : 0) +
                     ((format & ffGrouping) ? 1 : 0);
        } else {
            extras = ((format & ffGrouping) ? 1 : 0) + ((format & ffEncrypted) ? 1 : 0) +
                     ((format & ffDataLength) ? 4 : 0);
        }
        if (extras > size) {
            // Too short for its own flags: only this frame is dropped.
            if (!in.skip(size))
                return finish(
                    uint16_t(rc | (in.ioError ? uint16_t(id3ErrRead) : uint16_t(id3ErrDamaged))));
            continue;
        }
        TFrameEntry e;
        std::memcpy(e.ID, id, 4);
        e.AsLoaded = true;
        e.FileFlags[fbStatus] = fh[8];
        e.FileFlags[fbFormat] = fh[9];
        e.StoredFlags[fbStatus] = e.WriteFlags[fbStatus] = status;
        e.StoredFlags[fbFormat] = e.WriteFlags[fbFormat] = format;
        uint8_t x[6];
        if (extras && in.read(x, extras) != extras) return finish(uint16_t(rc | id3ErrDamaged));
        size_t p = 0;
        if (version == 3) {
            if (format & ffCompressed) {
                e.DataLength = BigEndian32(x + p);
                p += 4;
            }
            if (format & ffEncrypted) e.EncryptionMethod = x[p++];
            if (format & ffGrouping) e.GroupID = x[p++];
        } else {
            if (format & ffGrouping) e.GroupID = x[p++];
            if (format & ffEncrypted) e.EncryptionMethod = x[p++];
            if (format & ffDataLength) {
                e.DataLength = Synchsafe(x + p);
                p += 4;
            }
        }
        size -= uint32_t(extras);
        e.HeaderOffset = uint32_t(10 + start);
        e.HeaderSize = uint32_t(10 + extras);
        e.Data.resize(size);
        if (in.read(e.Data.data(), size) != size)
            return finish(
                uint16_t(rc | (in.ioError ? uint16_t(id3ErrRead) : uint16_t(id3ErrDamaged))));
        list.push_back(std::move(e));
    }
    if (!paddingFound && !declaredPadding) paddingSize = 0;
    return finish(rc);
}

uint8_t Tid3v2tag::decodeEntry(int i) {
    TFrameEntry& e = frames.Entry(i);
    const uint8_t f = e.StoredFlags[fbFormat];
    if ((f | e.WriteFlags[fbFormat]) & ffEncrypted) return txtEncrypted;
    if (f & ffUnsync) frames.RemoveUnsync(i);
    if (e.StoredFlags[fbFormat] & ffCompressed) {
        // Inflating is paid for before it is done: a frame that asks for more
        // than one text may have, or than this load has left, stays packed.
        const size_t cost = e.DataLength ? e.DataLength : kInflatePerText;
        if (cost > kInflatePerText || cost > inflateLeft) return txtControlChar;
        inflateLeft -= cost;
        if (frames.Decompress(i, kInflatePerText) > 0) return txtControlChar;
    }
    return txtOk;
}

namespace {
bool ValidTextID(const QString& id) {
    return id.size() == 4 && id[0] == QLatin1Char('T') && id != QLatin1String("TXXX");
}
int FindID(const TFrameIndex& frames, const QString& id) {
    const QByteArray want = id.toLatin1();
    int i = 1;
    for (const TFrameEntry& e : frames.Entries()) {
        if (std::memcmp(e.ID, want.constData(), 4) == 0) return i;
        ++i;
    }
    return 0;
}
void AppendEncoded(std::vector<uint8_t>& out, const QString& s, uint8_t enc, bool terminate) {
    switch (enc) {
    case 1:
    case 2: {
        if (enc == 1) {
            out.push_back(0xFF);
            out.push_back(0xFE);
        }
        const qsizetype n = s.size();
        for (qsizetype k = 0; k < n; ++k) {
            uint16_t u = s[k].unicode();
            // A lone surrogate would make the frame unreadable: it goes as U+FFFD.
            if (QChar::isHighSurrogate(u) && k + 1 < n && s[k + 1].isLowSurrogate()) {
                const uint16_t low = s[++k].unicode();
                for (uint16_t v : {u, low}) {
                    out.push_back(uint8_t(enc == 1 ? v : v >> 8));
                    out.push_back(uint8_t(enc == 1 ? v >> 8 : v));
                }
                continue;
            }
            if (QChar::isSurrogate(u)) u = 0xFFFD;
            out.push_back(uint8_t(enc == 1 ? u : u >> 8));
            out.push_back(uint8_t(enc == 1 ? u >> 8 : u));
        }
        if (terminate) {
            out.push_back(0);
            out.push_back(0);
        }
        break;
    }
    case 3: {
        const QByteArray u = s.toUtf8();
        out.insert(out.end(), u.begin(), u.end());
        if (terminate) out.push_back(0);
        break;
    }
    default: {
        for (QChar c : s)
            out.push_back(uint8_t(c.unicode()));
        if (terminate) out.push_back(0);
    }
    }
}
} // namespace

uint8_t Tid3v2tag::GetTextFrame(const QString& id, QString& text) {
    text.clear();
    if (!ValidTextID(id)) return txtBadID;
    const int i = FindID(frames, id);
    if (!i) return txtNotFound;
    const uint8_t r = decodeEntry(i);
    if (r) return r;
    const TFrameData& d = frames.Entry(i).Data;
    if (d.empty()) return txtEmpty;
    return DecodeText(d.data(), d.size(), 1, kInflatePerText, d[0], false, text, nullptr);
}

uint8_t Tid3v2tag::SetTextFrame(const QString& id, const QString& text) {
    if (!ValidTextID(id)) return txtBadID;
    int i = FindID(frames, id);
    if (i && text.isEmpty()) {
        frames.DeleteFrame(i);
        return txtDeleted;
    }
    if (!i) {
        if (text.isEmpty()) return txtOk;
        i = frames.AddFrame(id);
        if (!i) return txtBadID;
    }
    const uint8_t enc = TextEncodingFor(text, version);
    std::vector<uint8_t> d(1, enc);
    AppendEncoded(d, text, enc, false);
    setPlainData(i, d);
    return txtOk;
}

int Tid3v2tag::findComment(const QString& description, const QString& language, COMM* rec,
                           uint8_t* textResult) {
    const QByteArray lang = language.toLatin1();
    for (int i = 1; i <= frames.Count(); ++i) {
        if (std::memcmp(frames.Entry(i).ID, "COMM", 4) != 0) continue;
        // A comment that cannot be decoded cannot be the one asked for; the
        // search goes on so later comments stay reachable.
        if (decodeEntry(i)) continue;
        const TFrameData& d = frames.Entry(i).Data;
        if (d.empty()) continue;
        const uint8_t enc = d[0];
        QString desc;
        size_t used = 0;
        if (DecodeText(d.data(), d.size(), 4, kInflatePerText, enc, false, desc, &used) != txtOk)
            continue;
        if (desc.endsWith(QChar(0))) desc.chop(1);
        if (desc != description) continue;
        if (lang.size() == 3 &&
            (d.size() < 4 || std::memcmp(d.data() + 1, lang.constData(), 3) != 0))
            continue;
        if (rec) {
            rec->Encoding = enc;
            rec->Language = QString::fromLatin1(reinterpret_cast<const char*>(d.data() + 1), 3);
            rec->Description = desc;
            const uint8_t r = DecodeText(d.data(), d.size(), 4 + used, kInflatePerText, enc, true,
                                         rec->Text, nullptr);
            if (textResult) *textResult = r;
        }
        return i;
    }
    return 0;
}

uint8_t Tid3v2tag::GetComment(COMM& rec, const QString& description, const QString& language) {
    rec = COMM();
    uint8_t r = txtOk;
    if (!findComment(description, language, &rec, &r)) return txtNotFound;
    return r;
}

uint8_t Tid3v2tag::GetPicture(QByteArray& image, QString& mime) {
    image.clear();
    mime.clear();
    bool front = false;
    for (int i = 1; i <= frames.Count() && !front; ++i) {
        if (std::memcmp(frames.Entry(i).ID, "APIC", 4) != 0 || decodeEntry(i) != txtOk) continue;
        const TFrameData& d = frames.Entry(i).Data;
        const size_t n = d.size();
        // Encoding, MIME type, picture type, description, then the image.
        if (n < 4 || d[0] > 3) continue;
        size_t at = 1;
        while (at < n && d[at] != 0)
            ++at;
        if (at + 2 > n) continue;
        const QString type =
            QString::fromLatin1(reinterpret_cast<const char*>(d.data()) + 1, int(at - 1));
        const uint8_t kind = d[at + 1];
        at += 2;
        const bool wide = d[0] == 1 || d[0] == 2;
        if (wide) {
            while (at + 1 < n && (d[at] != 0 || d[at + 1] != 0))
                at += 2;
            at += 2;
        } else {
            while (at < n && d[at] != 0)
                ++at;
            at += 1;
        }
        if (at >= n) continue;
        if (!image.isEmpty() && kind != 3) continue; // the first one stays unless this is the front
        image = QByteArray(reinterpret_cast<const char*>(d.data()) + at, qsizetype(n - at));
        mime = type.contains(QLatin1Char('/')) ? type.toLower()
                                               : QStringLiteral("image/") + type.toLower();
        front = kind == 3;
    }
    return image.isEmpty() ? txtNotFound : txtOk;
}

uint8_t Tid3v2tag::SetComment(const COMM& rec, const QString& description,
                              const QString& language) {
    if (rec.Encoding >= 4) return txtBadCommEncoding;
    const QString lang = rec.Language.left(3);
    for (QChar c : lang)
        if (c.unicode() < 32 || c.unicode() > 0xFF) return txtBadLanguage;
    // ISO-8859-1 asked for texts it cannot hold: the tag's Unicode encoding.
    const uint8_t enc =
        rec.Encoding == 0 ? TextEncodingFor(rec.Description + rec.Text, version) : rec.Encoding;
    int i = findComment(description, language, nullptr, nullptr);
    if (i && rec.Text.isEmpty()) {
        frames.DeleteFrame(i);
        return txtDeleted;
    }
    if (!i) {
        if (rec.Text.isEmpty()) return txtOk;
        i = frames.AddFrame(QStringLiteral("COMM"));
    }
    std::vector<uint8_t> d;
    d.push_back(enc);
    for (int k = 0; k < 3; ++k)
        d.push_back(k < lang.size() ? uint8_t(lang[k].unicode()) : uint8_t(' '));
    AppendEncoded(d, rec.Description, enc, true);
    AppendEncoded(d, rec.Text, enc, false);
    setPlainData(i, d);
    return txtOk;
}

void Tid3v2tag::setPlainData(int i, const std::vector<uint8_t>& data) {
    TFrameEntry& e = frames.Entry(i);
    e.Data = data;
    e.StoredFlags[fbFormat] = 0;
    e.DataLength = 0;
    // New plain content: nothing of the loaded frame's form is kept, and what
    // cannot be redone on saving (encryption, grouping) is no longer asked for.
    e.WriteFlags[fbFormat] &= uint8_t(~(ffEncrypted | ffGrouping));
    e.EncryptionMethod = 0;
    e.GroupID = 0;
    e.AsLoaded = false;
    e.Loaded.reset();
    e.Modified = true;
}
