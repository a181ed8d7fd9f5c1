// Saving a tag: frames are reconciled with the flags they are to have, frames
// nobody changed go back as they were found. When the tag's size changes, the
// file system inserts or removes the space in front of the audio where it can;
// elsewhere a new file (the new tag and the audio) is written beside the old
// one and renamed over it. A change in place is journalled first (see
// savejournal.h), so a kill or a power cut at any point is undone later; every
// step that fails is undone at once.
#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/id3v2internal.h"
#include "tags/id3v2/savejournal.h"
#include "util/journal.h"
#include "util/qorext.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

using namespace id3v2;

namespace {

// The audio is moved in blocks of this size: large enough that moving costs
// about what one copy of the file does, small enough to stay a fixed amount.
constexpr size_t kMoveBlock = size_t(1) << 20;

struct Sink {
    virtual ~Sink() = default;
    virtual void put(const uint8_t* p, size_t n) = 0;
    void put(const std::vector<uint8_t>& v) { put(v.data(), v.size()); }
    void put(const TFrameData& d) { put(d.data(), d.size()); }
};

struct CountSink : Sink {
    using Sink::put;
    uint64_t n = 0;
    void put(const uint8_t*, size_t k) override { n += k; }
};

struct CrcSink : Sink {
    using Sink::put;
    uLong crc = crc32(0L, Z_NULL, 0);
    void put(const uint8_t* p, size_t n) override {
        while (n) {
            const uInt step = uInt(std::min<size_t>(n, 1u << 30));
            crc = crc32(crc, p, step);
            p += step;
            n -= step;
        }
    }
};

struct VectorSink : Sink {
    using Sink::put;
    std::vector<uint8_t>& out;
    explicit VectorSink(std::vector<uint8_t>& v) : out(v) {}
    void put(const uint8_t* p, size_t n) override { out.insert(out.end(), p, p + n); }
};

void PutZeros(Sink& s, uint64_t n) {
    static const uint8_t zeros[4096] = {};
    while (n) {
        const size_t step = size_t(std::min<uint64_t>(n, sizeof zeros));
        s.put(zeros, step);
        n -= step;
    }
}

// Unsynchronises a short piece; next is the byte that follows it (-1: none known).
std::vector<uint8_t> UnsyncPiece(const uint8_t* p, size_t n, int next) {
    std::vector<uint8_t> out;
    out.reserve(n + 4);
    for (size_t k = 0; k < n; ++k) {
        out.push_back(p[k]);
        const int after = k + 1 < n ? p[k + 1] : next;
        if (p[k] == 0xFF && (after < 0 || after == 0x00 || after >= 0xE0)) out.push_back(0x00);
    }
    return out;
}

// Every write of a save goes through here, one block at a time, so a test can
// make any one of them fail.
struct BlockWriter {
    int fd;
    int64_t failAt;
    int64_t count = 0;
    bool write(const uint8_t* p, size_t n, uint64_t at) {
        // The block made to fail still leaves all but its last byte behind,
        // as a write that fails part way does.
        const bool fail = count++ == failAt;
        const size_t len = fail && n ? n - 1 : n;
        size_t off = 0;
        while (off < len) {
            const ssize_t w = ::pwrite(fd, p + off, len - off, off_t(at + off));
            if (w <= 0) return false;
            off += size_t(w);
        }
        return !fail;
    }
};

// Inserting and removing file space in place: refused (so the audio is moved
// instead) where the file system or the sizes do not allow it.
bool Refused(int err) {
    return err == EOPNOTSUPP || err == EINVAL || err == ENOSYS || err == ENOTTY;
}

} // namespace

struct TagSaver {
    Tid3v2tag& t;
    uint8_t ver;
    bool unsync = false; // version 3 tag-level unsynchronisation

    // A frame that goes back exactly as it was loaded: its content is the
    // loaded one, in the layout of the version written (the tag's version is
    // the one loaded or last saved, so the one of every frame kept as loaded),
    // and nothing asks for another form. (Version 3 unsynchronises the whole
    // tag, not frames.)
    bool asLoaded(const TFrameEntry& e) const {
        if (!e.AsLoaded || e.Loaded || ver != t.version) return false;
        const uint8_t mask = ver == 3 ? uint8_t(~ffUnsync) : uint8_t(0xFF);
        return e.WriteFlags[fbStatus] == e.StoredFlags[fbStatus] &&
               (e.WriteFlags[fbFormat] & mask) == (e.StoredFlags[fbFormat] & mask);
    }

    // Header and extra bytes of a frame as they go into the file.
    std::vector<uint8_t> frameHead(const TFrameEntry& e, bool plain) const {
        uint8_t h[16];
        size_t n = 10;
        std::memcpy(h, e.ID, 4);
        const uint8_t f = e.WriteFlags[fbFormat];
        const size_t dataSize = e.Data.size();
        if (ver == 3) {
            const size_t plainData = (e.StoredFlags[fbFormat] & ffUnsync)
                                         ? ResyncedSize(e.Data.data(), e.Data.size())
                                         : dataSize;
            size_t extras = 0;
            if (f & ffCompressed) {
                PutBigEndian32(h + n, e.DataLength);
                n += 4;
                extras += 4;
            }
            if (f & ffEncrypted) {
                h[n++] = e.EncryptionMethod;
                ++extras;
            }
            if (f & ffGrouping) {
                h[n++] = e.GroupID;
                ++extras;
            }
            PutBigEndian32(h + 4, uint32_t(plainData + extras));
            if (asLoaded(e)) {
                h[8] = e.FileFlags[fbStatus];
                h[9] = e.FileFlags[fbFormat];
            } else {
                h[8] = uint8_t((e.WriteFlags[fbStatus] << 1) & 0xE0);
                h[9] = uint8_t(((f & ffCompressed) ? 0x80 : 0) | ((f & ffEncrypted) ? 0x40 : 0) |
                               ((f & ffGrouping) ? 0x20 : 0));
            }
            if (unsync && !plain) {
                const int next = e.Data.empty() ? -1 : e.Data[0];
                return UnsyncPiece(h, n, next);
            }
            return std::vector<uint8_t>(h, h + n);
        }
        size_t extras = 0;
        if (f & ffGrouping) {
            h[n++] = e.GroupID;
            ++extras;
        }
        if (f & ffEncrypted) {
            h[n++] = e.EncryptionMethod;
            ++extras;
        }
        if (f & ffDataLength) {
            PutSynchsafe(h + n, e.DataLength);
            n += 4;
            extras += 4;
        }
        PutSynchsafe(h + 4, uint32_t(dataSize + extras));
        if (asLoaded(e)) {
            h[8] = e.FileFlags[fbStatus];
            h[9] = e.FileFlags[fbFormat];
        } else {
            h[8] = e.WriteFlags[fbStatus] & 0x70;
            h[9] = f & 0x4F;
        }
        return std::vector<uint8_t>(h, h + n);
    }

    // Every frame as written; plain gives version 3 frames before unsynchronisation.
    void emitFrames(Sink& s, bool plain) const {
        for (const TFrameEntry& e : t.frames.Entries()) {
            s.put(frameHead(e, plain));
            if (plain && (e.StoredFlags[fbFormat] & ffUnsync))
                s.put(Resync(e.Data.data(), e.Data.size()));
            else if (!plain && unsync && !(e.StoredFlags[fbFormat] & ffUnsync))
                s.put(Unsync(e.Data.data(), e.Data.size())); // a frame kept as loaded
            else
                s.put(e.Data);
        }
    }

    std::vector<uint8_t> extHeaderV3(uint32_t padding, uint32_t crc, bool withCrc, int next) const {
        uint8_t x[14];
        PutBigEndian32(x, withCrc ? 10 : 6);
        x[4] = withCrc ? 0x80 : 0x00;
        x[5] = 0;
        PutBigEndian32(x + 6, padding);
        size_t n = 10;
        if (withCrc) {
            PutBigEndian32(x + 10, crc);
            n = 14;
        }
        if (unsync) return UnsyncPiece(x, n, next);
        return std::vector<uint8_t>(x, x + n);
    }

    std::vector<uint8_t> extHeaderV4(uint32_t crc) const {
        const uint8_t flags = t.extendedFlags & 0x70;
        uint8_t x[16];
        size_t n = 4;
        x[n++] = 1;
        x[n++] = flags;
        if (flags & 0x40) x[n++] = 0;
        if (flags & 0x20) {
            x[n++] = 5;
            x[n++] = uint8_t((crc >> 28) & 0x0F);
            x[n++] = uint8_t((crc >> 21) & 0x7F);
            x[n++] = uint8_t((crc >> 14) & 0x7F);
            x[n++] = uint8_t((crc >> 7) & 0x7F);
            x[n++] = uint8_t(crc & 0x7F);
        }
        if (flags & 0x10) {
            x[n++] = 1;
            x[n++] = t.restrictions;
        }
        PutSynchsafe(x, uint32_t(n));
        return std::vector<uint8_t>(x, x + n);
    }
};

uint16_t Tid3v2tag::SaveToFile(const QString& name, uint8_t targetVersion, uint8_t targetRevision,
                               int64_t offset) {
    if (loadResult >= 256) return id3ErrDamaged;
    const bool same = name == QLatin1String("=");
    const QString target = same ? fileName : name;
    const uint64_t off = offset >= 0 ? uint64_t(offset) : (same ? tagOffset : 0);
    const QByteArray native = QFile::encodeName(target);
    struct stat st;
    saveProblem.clear();
    if (target.isEmpty() || ::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return id3ErrNoFile;
    if (FileIsReadOnly(target)) return id3ErrReadOnly;
    // A save that ended part way is undone before anything else: this file's,
    // and any whose journal this save is about to reuse.
    TTagRecovery pending = RecoverTagFile(target);
    if (pending.Result != TTagRecovery::Busy && pending.Result != TTagRecovery::Failed)
        pending = RecoverTagJournal(SaveJournalPath(target));
    if (pending.Result == TTagRecovery::Busy || pending.Result == TTagRecovery::Failed) {
        saveProblem = pending.Result == TTagRecovery::Busy
                          ? QStringLiteral("Another program is saving a tag right now.")
                          : pending.Error;
        return id3ErrIO;
    }
    const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return id3ErrNoFile;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    const uint8_t ver = targetVersion == 255 ? version : targetVersion;
    const uint8_t rev = targetRevision == 255 ? revision : targetRevision;
    if (ver != 3 && ver != 4) return id3ErrVersion;
    if (rev != 0) return id3ErrRevision;
    std::deque<TFrameEntry>& list = frames.Entries();
    if (list.empty()) return id3ErrNoFrames;
    report(0, QStringLiteral("Preparing tag"));
    if (::fstat(fd, &st) != 0) return id3ErrIO;
    const uint64_t fileLen = uint64_t(st.st_size);
    if (fileLen < off) return id3ErrOffset;
    uint16_t rc = 0;

    // Frames that were only decoded for reading go back in the form loaded.
    for (int i = 1; i <= frames.Count(); ++i)
        frames.RestoreLoadedForm(i);

    // Unsynchronisation is all or nothing for the tag.
    bool anyUnsync = headerFlags & 0x80;
    for (const TFrameEntry& e : list)
        anyUnsync = anyUnsync || (e.WriteFlags[fbFormat] & ffUnsync);
    if (anyUnsync) {
        headerFlags |= 0x80;
        for (TFrameEntry& e : list)
            e.WriteFlags[fbFormat] |= ffUnsync;
    }

    TagSaver saver{*this, ver, false};
    saver.unsync = ver == 3 && (headerFlags & 0x80);
    if (autoFixFrames) {
        for (int i = int(list.size()); i >= 1; --i) {
            TFrameEntry& e = list[size_t(i - 1)];
            if ((e.WriteFlags[fbFormat] & ffCompressed) && !saver.asLoaded(e))
                e.WriteFlags[fbFormat] |= ffDataLength;
            if (e.Data.empty()) frames.DeleteFrame(i);
        }
        if (list.empty()) return id3ErrNoFrames;
    }

    // Frames that must carry their plain size (a version 4 data length
    // indicator, or a version 3 compressed frame) but do not know it.
    for (int i = 1; i <= frames.Count(); ++i) {
        TFrameEntry& e = list[size_t(i - 1)];
        if (saver.asLoaded(e)) continue;
        const uint8_t want = e.WriteFlags[fbFormat];
        const bool needsLength =
            ver == 4 ? (want & ffDataLength)
                     : ((want & ffCompressed) && (e.StoredFlags[fbFormat] & ffCompressed));
        if (!needsLength || e.DataLength != 0) continue;
        if (e.StoredFlags[fbFormat] & ffEncrypted) {
            if (ver == 3) continue;
            if (!dropUnsupported) return id3ErrDLIEncrypted;
            e.WriteFlags[fbFormat] &= uint8_t(~ffDataLength);
            rc |= id3WarnDLIDropped;
            continue;
        }
        if (e.StoredFlags[fbFormat] & ffUnsync) frames.RemoveUnsync(i);
        if (e.StoredFlags[fbFormat] & ffCompressed) frames.Decompress(i);
        if (!(e.StoredFlags[fbFormat] & ffCompressed)) e.DataLength = uint32_t(e.Data.size());
    }

    const int n = frames.Count();
    for (int i = 1; i <= n; ++i) {
        TFrameEntry& e = list[size_t(i - 1)];
        uint8_t& want = e.WriteFlags[fbFormat];
        const uint8_t have = e.StoredFlags[fbFormat];
        if ((want ^ have) & ffEncrypted) {
            if (!dropUnsupported) return id3ErrEncryption;
            want = uint8_t((want & ~ffEncrypted) | (have & ffEncrypted));
        }
        if ((want ^ have) & ffGrouping) {
            if (!dropUnsupported) return id3ErrGrouping;
            want = uint8_t((want & ~ffGrouping) | (have & ffGrouping));
        }
        report(uint8_t(i * 5 / n), statusText);
    }
    for (int i = 1; i <= n; ++i) {
        TFrameEntry& e = list[size_t(i - 1)];
        if (saver.asLoaded(e)) continue;
        uint8_t& want = e.WriteFlags[fbFormat];
        if ((want ^ e.StoredFlags[fbFormat]) & ffCompressed) {
            if (e.StoredFlags[fbFormat] & ffEncrypted) {
                // Encrypted data cannot be re-packed: it is kept as it is.
                want = uint8_t((want & ~ffCompressed) | (e.StoredFlags[fbFormat] & ffCompressed));
            } else {
                report(progress, QStringLiteral("Applying compression"));
                if (e.StoredFlags[fbFormat] & ffUnsync) frames.RemoveUnsync(i);
                if (want & ffCompressed) {
                    if (frames.Compress(i, compressionLevel) > 0) want &= uint8_t(~ffCompressed);
                } else if (frames.Decompress(i) > 0) {
                    // Data that cannot be inflated is kept exactly as it was.
                    want |= ffCompressed;
                }
            }
        }
        if ((want ^ e.StoredFlags[fbFormat]) & ffUnsync) {
            report(progress, QStringLiteral("Applying unsync"));
            if (want & ffUnsync)
                frames.ApplyUnsync(i);
            else
                frames.RemoveUnsync(i);
        }
        report(uint8_t(5 + i * 5 / n), statusText);
    }

    // Old tag size at the offset.
    uint64_t oldSize = 0;
    {
        uint8_t h[10];
        if (fileLen >= off + 10 && ::pread(fd, h, 10, off_t(off)) == 10 && ValidHeader(h))
            oldSize = std::min<uint64_t>(10 + uint64_t(Synchsafe(h + 6)), fileLen - off);
    }

    uint8_t flags = headerFlags;
    const bool withCrc = extendedFlags & 0x20;
    if (withCrc) flags |= 0x40;
    const bool withExt = flags & 0x40;
    CountSink framesCount;
    saver.emitFrames(framesCount, false);
    const uint64_t framesLen = framesCount.n;
    const int firstByte = list.empty() || framesLen == 0 ? -1 : 'A';

    uint32_t newCrc = 0;
    if (ver == 3 && withCrc) {
        report(progress, QStringLiteral("Calculating CRC-32"));
        CrcSink c;
        saver.emitFrames(c, true);
        newCrc = uint32_t(c.crc);
    }

    auto align = [&](uint64_t v) -> uint32_t {
        const uint64_t B = paddingBlock;
        if (B == 0) return 0;
        const int64_t first =
            int64_t((fileLen / B + 1) * B) + int64_t(oldSize) - int64_t(fileLen) - int64_t(v);
        if (first == 0) return 0;
        int64_t p = first % int64_t(B);
        if (p <= 0) p += int64_t(B);
        return uint32_t(p);
    };
    auto paddingFor = [&](uint64_t v) -> uint32_t {
        if (paddingMode == 0) return paddingSize;
        if (v > oldSize || paddingMode == 2) return align(v);
        const uint32_t fit = uint32_t(oldSize - v);
        if (paddingLimit >= paddingBlock) return align(v);
        return fit;
    };
    auto extLen = [&](uint32_t padding) -> uint64_t {
        if (!withExt) return 0;
        if (ver == 3) return saver.extHeaderV3(padding, newCrc, withCrc, firstByte).size();
        return saver.extHeaderV4(0).size();
    };
    uint32_t padding = paddingFor(10 + extLen(0) + framesLen);
    for (int k = 0; k < 4; ++k) {
        const uint32_t next = paddingFor(10 + extLen(padding) + framesLen);
        if (next == padding) break;
        padding = next;
    }
    const uint64_t total = 10 + extLen(padding) + framesLen + padding;
    if (total - 10 >= 0x10000000) return id3ErrTooLarge;

    if (ver == 4 && withCrc) {
        report(progress, QStringLiteral("Calculating CRC-32"));
        CrcSink c;
        saver.emitFrames(c, false);
        PutZeros(c, padding);
        newCrc = uint32_t(c.crc);
    }

    // The new tag, whole: it goes into the file in one write.
    std::vector<uint8_t> tag;
    tag.reserve(size_t(total));
    {
        VectorSink out(tag);
        uint8_t h[10] = {'I', 'D', '3', ver, 0, 0, 0, 0, 0, 0};
        h[5] = ver == 3 ? (flags & 0xE0) : (flags & 0xF0);
        PutSynchsafe(h + 6, uint32_t(total - 10));
        out.put(h, 10);
        if (withExt) {
            if (ver == 3)
                out.put(saver.extHeaderV3(padding, newCrc, withCrc, firstByte));
            else
                out.put(saver.extHeaderV4(newCrc));
        }
        saver.emitFrames(out, false);
        PutZeros(out, padding);
    }

    const uint16_t e = writeTag(fd, target, st, off, oldSize, tag);
    if (e) return e;

    // What was written is now what the file holds; only the frames written
    // as they were loaded still have their loaded form. The form a frame had
    // before the save went out of date with it: kept, it would cost the memory
    // twice and a later save would start again from it.
    for (TFrameEntry& f : list) {
        if (saver.asLoaded(f)) continue;
        f.AsLoaded = false;
        f.Loaded.reset();
    }
    version = ver;
    revision = rev;
    tagSize = uint32_t(total);
    headerFlags = flags;
    paddingSize = padding;
    crc = newCrc;
    loadResult = rc;
    tagOffset = uint32_t(off);
    fileName = target;
    modified = false;
    inflateLeft = kInflatePerLoad;
    report(100, QStringLiteral("Save Complete"));
    return rc;
}

uint16_t Tid3v2tag::writeTag(int fd, const QString& target, const struct stat& st, uint64_t off,
                             uint64_t oldSize, const std::vector<uint8_t>& tag) {
    const uint64_t fileLen = uint64_t(st.st_size);
    const uint64_t total = tag.size();
    const uint64_t audioStart = off + oldSize;
    const uint64_t audioLen = fileLen - audioStart;
    BlockWriter w{fd, Seams.FailAtBlock};
    auto writeNewTag = [&]() {
        report(100, QStringLiteral("Writing new tag"));
        return w.write(tag.data(), tag.size(), off);
    };
    // The old tag goes back whenever the new one is not in place whole: a
    // write that fails part way leaves some of its bytes behind, and removing
    // space takes some of the old tag's bytes with it.
    std::vector<uint8_t> oldTag(static_cast<size_t>(oldSize));
    if (oldSize && ::pread(fd, oldTag.data(), oldTag.size(), off_t(off)) != ssize_t(oldSize))
        return id3ErrRead;
    auto putOldTagBack = [&]() {
        return oldTag.empty() || w.write(oldTag.data(), oldTag.size(), off);
    };

    // A change in place is journalled before the file changes ...
    TJournalWriter journal;
    auto begin = [&](TSpaceOp op, uint64_t at, uint64_t delta) {
        return journal.Begin(SaveJournalPath(target), kInPlaceSave,
                             InPlacePayload(target, uint64_t(st.st_dev), uint64_t(st.st_ino),
                                            fileLen, off, op, at, delta, oldTag),
                             {}, &saveProblem);
    };
    // ... and the journal goes once the file is synced, whether with the new
    // tag or, after a failure, with the old one put back. When putting it back
    // failed too (id3ErrIO) the journal stays: the next look at the file does it.
    auto settle = [&](uint16_t code) -> uint16_t {
        if (code == id3ErrIO) return code;
        if (::fsync(fd) != 0) return id3ErrIO;
        if (!journal.End(&saveProblem)) return id3ErrIO;
        return code;
    };

    if (total == oldSize || audioLen == 0) {
        // Nothing to move: the tag is written where it was.
        if (!begin(spaceNone, 0, 0)) return id3ErrWrite;
        const bool grows = off + total > fileLen;
        if (grows && ::posix_fallocate(fd, off_t(fileLen), off_t(off + total - fileLen)) != 0) {
            if (::ftruncate(fd, off_t(fileLen)) != 0) return settle(id3ErrIO);
            return settle(id3ErrWrite);
        }
        if (!writeNewTag() || (total < oldSize && ::ftruncate(fd, off_t(off + total)) != 0)) {
            if (!putOldTagBack() || (grows && ::ftruncate(fd, off_t(fileLen)) != 0))
                return settle(id3ErrIO);
            return settle(id3ErrWrite);
        }
        return settle(0);
    }

    const bool grow = total > oldSize;
    const uint64_t delta = grow ? total - oldSize : oldSize - total;
    struct statfs fs;
    const uint64_t B = ::fstatfs(fd, &fs) == 0 && fs.f_bsize > 0 ? uint64_t(fs.f_bsize) : 0;
    // The space is inserted or removed at a block boundary inside the old tag,
    // so no audio byte is ever copied.
    const uint64_t boundary = B ? audioStart / B * B : 0;
    const bool inPlace = !Seams.ForceMove && B && delta % B == 0 &&
                         (grow ? boundary >= off : boundary >= off + delta);
    if (inPlace && grow) {
        if (!begin(spaceInserted, boundary, delta)) return id3ErrWrite;
        if (::fallocate(fd, FALLOC_FL_INSERT_RANGE, off_t(boundary), off_t(delta)) == 0) {
            // Claim the inserted blocks before writing, so a full disk fails
            // before anything is overwritten.
            const bool claimed = ::fallocate(fd, 0, off_t(boundary), off_t(delta)) == 0;
            if (!claimed || !writeNewTag()) {
                if (::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, off_t(boundary), off_t(delta)) != 0 ||
                    (claimed && !putOldTagBack()))
                    return settle(id3ErrIO);
                return settle(id3ErrWrite);
            }
            return settle(0);
        }
        const int err = errno;
        journal.End(); // nothing changed
        if (!Refused(err)) return id3ErrWrite;
    } else if (inPlace) {
        // The removed bytes are the old tag's: putting it back restores them.
        const uint64_t at = boundary - delta;
        if (!begin(spaceRemoved, at, delta)) return id3ErrWrite;
        if (::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, off_t(at), off_t(delta)) == 0) {
            if (!writeNewTag()) {
                if (::fallocate(fd, FALLOC_FL_INSERT_RANGE, off_t(at), off_t(delta)) != 0 ||
                    !putOldTagBack())
                    return settle(id3ErrIO);
                return settle(id3ErrWrite);
            }
            return settle(0);
        }
        const int err = errno;
        journal.End(); // nothing changed
        if (!Refused(err)) return id3ErrWrite;
    }
    return replaceFile(fd, target, st, off, oldSize, tag);
}

uint16_t Tid3v2tag::replaceFile(int fd, const QString& target, const struct stat& st, uint64_t off,
                                uint64_t oldSize, const std::vector<uint8_t>& tag) {
    const uint64_t fileLen = uint64_t(st.st_size);
    const uint64_t audioStart = off + oldSize;
    const uint64_t audioLen = fileLen - audioStart;
    const uint64_t newLen = off + tag.size() + audioLen;
    report(10, QStringLiteral("Re-positioning audio data"));

    // The file a link leads to is the one replaced; the link keeps pointing at it.
    char* resolved = ::realpath(QFile::encodeName(target).constData(), nullptr);
    if (!resolved) return id3ErrNoFile;
    const QString path = QFile::decodeName(resolved);
    ::free(resolved);
    const QString folder = FolderOf(path);
    auto noSpace = [&](uint64_t free) {
        const auto mib = [](uint64_t n) { return QString::number((n + (1 << 20) - 1) >> 20); };
        saveProblem = QStringLiteral("Not enough free space: saving this tag writes the file "
                                     "anew (%1 MB) and the disk has %2 MB free. The file was "
                                     "not changed.")
                          .arg(mib(newLen), mib(free));
        return id3ErrNoSpace;
    };
    struct statvfs vfs;
    if (Seams.FreeSpace >= 0) {
        if (uint64_t(Seams.FreeSpace) < newLen) return noSpace(uint64_t(Seams.FreeSpace));
    } else if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0) {
        const uint64_t free = uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
        if (free < newLen) return noSpace(free);
    }

    const QString temp = NewTemporaryPath(path);
    const QByteArray nativeTemp = QFile::encodeName(temp);
    TJournalWriter journal;
    // Where a later look at target finds it (beside the link, for a link).
    if (!journal.Begin(SaveJournalPath(target), kReplaceSave, ReplacePayload(path, temp), {},
                       &saveProblem))
        return id3ErrWrite;
    const int out = ::open(nativeTemp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        saveProblem = QStringLiteral("Cannot write a new file beside it in \"%1\": %2")
                          .arg(folder, QString::fromLocal8Bit(strerror(errno)));
        journal.End();
        return id3ErrWrite;
    }
    auto abandon = [&](uint16_t code) {
        ::close(out);
        ::unlink(nativeTemp.constData());
        journal.End();
        return code;
    };
    // Claim the space first: a full disk fails before anything is written.
    if (const int err = ::posix_fallocate(out, 0, off_t(newLen)); err == ENOSPC || err == EFBIG) {
        if (err == ENOSPC) return abandon(noSpace(0));
        return abandon(id3ErrWrite);
    }

    BlockWriter w{out, Seams.FailAtBlock};
    std::vector<uint8_t> block(size_t(std::min<uint64_t>(kMoveBlock, std::max(audioLen, off))));
    // Copies len bytes at from of the old file to at of the new one.
    auto copy = [&](uint64_t from, uint64_t at, uint64_t len, bool progress) -> uint16_t {
        for (uint64_t done = 0; done < len;) {
            const size_t n = size_t(std::min<uint64_t>(block.size(), len - done));
            size_t got = 0;
            while (got < n) {
                const ssize_t r =
                    ::pread(fd, block.data() + got, n - got, off_t(from + done + got));
                if (r <= 0) return id3ErrRead;
                got += size_t(r);
            }
            if (!w.write(block.data(), n, at + done)) return id3ErrWrite;
            done += n;
            if (progress) report(uint8_t(10 + done * 90 / len), statusText);
        }
        return 0;
    };
    // What precedes the tag, then the audio, then the new tag.
    uint16_t e = copy(0, 0, off, false);
    if (!e) e = copy(audioStart, off + tag.size(), audioLen, true);
    if (e) return abandon(e);
    report(100, QStringLiteral("Writing new tag"));
    if (!w.write(tag.data(), tag.size(), off)) return abandon(id3ErrWrite);

    // The new file takes the old one's owner, mode, extended attributes and
    // access time; its modification time is now, as a save in place gives.
    struct stat now;
    if (::fchown(out, st.st_uid, st.st_gid) != 0 &&
        (::fstat(out, &now) != 0 || now.st_uid != st.st_uid || now.st_gid != st.st_gid)) {
        saveProblem = QStringLiteral("The file belongs to another user, and saving this tag "
                                     "writes it anew. The file was not changed.");
        return abandon(id3ErrWrite);
    }
    if (::fchmod(out, st.st_mode & 07777) != 0) return abandon(id3ErrWrite);
    CopyExtendedAttributes(fd, out);
    const struct timespec times[2] = {st.st_atim, {0, UTIME_NOW}};
    ::futimens(out, times);
    if (::fsync(out) != 0) return abandon(id3ErrWrite);
    if (::close(out) != 0) {
        ::unlink(nativeTemp.constData());
        journal.End();
        return id3ErrWrite;
    }
    if (::rename(nativeTemp.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(nativeTemp.constData());
        journal.End();
        return id3ErrWrite;
    }
    // Once the new name is on disk, nothing is left to undo.
    SyncFolder(folder);
    journal.End();
    return 0;
}
