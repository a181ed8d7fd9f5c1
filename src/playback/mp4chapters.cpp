#include "playback/mp4chapters.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <unordered_map>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

// Where this reads a box the way libavformat's mov.c does, the names are
// those of mov.c (mov_read_default, mov_read_chpl, mov_build_index, ...), so
// that the two can be read side by side.

namespace {

constexpr uint32_t Tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

uint16_t Rb16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t Rb32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t Rb64(const uint8_t* p) {
    return uint64_t(Rb32(p)) << 32 | Rb32(p + 4);
}

// Reads are served from one block: the box headers of a header follow each
// other closely, and so do a chapter track's titles.
constexpr qint64 kBlock = 16 * 1024;
// The probe window libavformat's format detection looks at first.
constexpr qint64 kProbeBytes = 2048;
// libavformat refuses boxes nested deeper than this.
constexpr int kMaxDepth = 10;
// Beyond these a file is no usual book; libavformat reads it.
constexpr int kMaxBoxes = 1 << 20;
constexpr size_t kMaxTracks = 1024;
constexpr uint32_t kMaxTrackSamples = 1 << 17;
constexpr qint64 kMaxSmallBox = 64 * 1024;
constexpr size_t kMaxChapterRefs = 16;
// mov.c's max_stts_delta: larger sample durations are clipped there.
constexpr uint32_t kMaxSttsDelta = UINT32_MAX - 48000 * 10;
// A Nero list: at most 255 entries of at most 9 + 255 bytes.
constexpr qint64 kMaxChplBytes = 9 + 255 * (9 + 255) + 4;

// The file, read within the budget.
class Source {
public:
    Source(QFile& file, TChapterBudget& budget)
        : file_(file), budget_(budget), size_(file.size()) {}
    qint64 Size() const { return size_; }
    qint64 MaxBytes() const { return budget_.MaxBytes; }
    bool Failed() const { return failed_; }

    // The n bytes at pos; false when they are not all in the file, or the
    // budget is spent (then Failed()).
    bool Read(qint64 pos, void* out, qint64 n) {
        if (failed_ || pos < 0 || n < 0 || pos > size_ || n > size_ - pos) return false;
        if (n == 0) return true;
        if (blockAt_ >= 0 && pos >= blockAt_ && pos + n <= blockAt_ + block_.size()) {
            std::memcpy(out, block_.constData() + (pos - blockAt_), size_t(n));
            return true;
        }
        if (n > kBlock) return Load(pos, static_cast<char*>(out), n);
        blockAt_ = -1;
        block_.resize(int(std::min(kBlock, size_ - pos)));
        if (!Load(pos, block_.data(), block_.size())) return false;
        blockAt_ = pos;
        std::memcpy(out, block_.constData(), size_t(n));
        return true;
    }

    // As Read, with zeros past the end of the file (what libavformat reads there).
    bool ReadPadded(qint64 pos, uint8_t* out, qint64 n) {
        const qint64 have = std::clamp<qint64>(size_ - pos, 0, n);
        std::memset(out + have, 0, size_t(n - have));
        return have == 0 || Read(pos, out, have);
    }

    bool ReadAll(qint64 pos, qint64 n, std::vector<uint8_t>& out) {
        out.resize(size_t(n));
        return Read(pos, out.data(), n);
    }

private:
    bool Load(qint64 pos, char* to, qint64 n) {
        if (budget_.Stopped() || n > budget_.MaxBytes - budget_.BytesRead || !file_.seek(pos) ||
            file_.read(to, n) != n) {
            failed_ = true;
            return false;
        }
        budget_.BytesRead += n;
        return true;
    }

    QFile& file_;
    TChapterBudget& budget_;
    const qint64 size_;
    QByteArray block_;
    qint64 blockAt_ = -1;
    bool failed_ = false;
};

// A table box of a track: where its payload is and its entry count.
struct Table {
    qint64 at = -1;
    qint64 size = 0;
    uint32_t entries = 0;
};

// A "trak" box as far as the chapters need it.
struct Track {
    int tkhds = 0;
    int32_t id = -1;
    int mdhds = 0;
    int mdhdOrder = -1;
    int32_t timeScale = 0;
    int64_t duration = 0;
    bool textHandler = false; // a handler of text
    bool typeHandler = false; // a handler that makes it sound, video or subtitles
    int stsds = 0;
    uint32_t format = 0; // of the first sample description
    int32_t descriptions = 0;
    bool ctts = false;
    int elsts = 0;
    Table elst;
    Table stts;
    int sttsOrder = -1;
    Table stsc;
    int32_t stscLastFirst = 0;
    Table stsz;
    bool stz2 = false;
    uint32_t sampleSize = 0;
    Table stco;
    bool co64 = false;
};

// avpriv_new_chapter: a chapter whose id is listed already takes its place.
class ChapterList {
public:
    void Add(int64_t id, int num, int den, int64_t start, int64_t end, QByteArray title) {
        if (end != TRawChapter::kNoTime && start > end) return;
        size_t at = list_.size();
        bool listed = false;
        if (list_.empty()) {
            monotonic_ = true;
        } else if (!monotonic_ || ids_.back() >= id) {
            // Ids stay unique: a new one is only added when not found.
            const auto found = where_.find(id);
            listed = found != where_.end();
            if (listed)
                at = found->second;
            else
                monotonic_ = false;
        }
        if (!listed) {
            list_.emplace_back();
            ids_.push_back(id);
            where_.emplace(id, at);
        }
        list_[at] = {start, end, num, den, std::move(title)};
    }
    std::vector<TRawChapter> Take() { return std::move(list_); }

private:
    std::vector<TRawChapter> list_;
    std::vector<int64_t> ids_;
    std::unordered_map<int64_t, size_t> where_;
    bool monotonic_ = true;
};

class Reader {
public:
    Reader(Source& source, int keep, int titleBytes)
        : src_(source), keep_(keep), titleBytes_(titleBytes) {}

    std::optional<TMp4Chapters> Read() {
        if (!IsMp4()) return std::nullopt;
        Walk(0, src_.Size(), Tag("root"), 0);
        if (doubt_ || src_.Failed() || !foundMoov_ || !mvhd_) return std::nullopt;
        TMp4Chapters out;
        out.DurationUs = av_rescale(movieDuration_, AV_TIME_BASE, movieTimeScale_);
        // No length in the movie header: libavformat looks at the streams.
        if (out.DurationUs <= 0) return std::nullopt;
        // mov_read_chapters, after the whole header.
        if (chapterTracks_.size() > 1) return std::nullopt;
        if (!chapterTracks_.empty()) {
            for (const Track& t : tracks_)
                if (t.id == chapterTracks_.front()) {
                    ChapterTrack(t);
                    break;
                }
        }
        if (doubt_ || src_.Failed()) return std::nullopt;
        out.Chapters = chapters_.Take();
        return out;
    }

private:
    bool Doubt() {
        doubt_ = true;
        return false;
    }

    bool ReadSmall(qint64 at, qint64 size, std::vector<uint8_t>& out) {
        if (size > kMaxSmallBox) return Doubt();
        return src_.ReadAll(at, size, out) || Doubt();
    }

    // A file libavformat's detection gives to its MP4 demuxer: an "ftyp" box
    // first, of a brand it reads as a movie.
    bool IsMp4() {
        const qint64 n = std::min(src_.Size(), kProbeBytes);
        if (n < 16) return false;
        uint8_t p[kProbeBytes];
        if (!src_.Read(0, p, n) || Rb32(p + 4) != Tag("ftyp")) return false;
        const uint32_t size = Rb32(p), brand = Rb32(p + 8);
        // Still pictures and Audible's encrypted books go through libavformat.
        if (size < 16 || brand == Tag("jp2 ") || brand == Tag("jpx ") || brand == Tag("jxl ") ||
            brand == Tag("avif") || brand == Tag("aax ") || brand == Tag("aaxc"))
            return false;
        // mov_probe: a movie box in the window that holds MPEG program
        // stream is left to another demuxer.
        int64_t moov = -1;
        for (int64_t offset = 0; offset + 8 <= n;) {
            int64_t boxSize = Rb32(p + offset);
            int64_t minSize = 8;
            if (boxSize == 1 && offset + 16 <= n) {
                boxSize = int64_t(Rb64(p + offset + 8));
                minSize = 16;
            } else if (boxSize == 0) {
                boxSize = n - offset;
            }
            if (boxSize < minSize) {
                offset += 4;
                continue;
            }
            if (Rb32(p + offset + 4) == Tag("moov")) moov = offset + 4;
            if (boxSize > INT64_MAX - offset) break;
            offset += boxSize;
        }
        if (moov >= 0)
            for (int64_t offset = moov; offset < n - 16; offset += 2)
                if (Rb32(p + offset) == Tag("hdlr") && Rb32(p + offset + 8) == Tag("mhlr") &&
                    Rb32(p + offset + 12) == Tag("MPEG"))
                    return false;
        return true;
    }

    // mov_read_default: the boxes in size bytes from start.
    void Walk(qint64 start, qint64 size, uint32_t parent, int depth) {
        if (depth > kMaxDepth) {
            Doubt();
            return;
        }
        qint64 total = 0;
        while (!doubt_ && total <= size - 8) {
            if (++boxes_ > kMaxBoxes) {
                Doubt();
                return;
            }
            const qint64 at = start + total;
            uint8_t h[16];
            if (at + 8 > src_.Size()) break;
            if (!src_.Read(at, h, 8)) {
                Doubt();
                return;
            }
            const uint32_t type = Rb32(h + 4);
            // A "hoov" box may be taken for the movie box.
            if (type == Tag("hoov")) {
                Doubt();
                return;
            }
            // libavformat stops reading such a box where a track or the
            // media data starts in it.
            if (parent != Tag("root") && parent != Tag("moov") &&
                (type == Tag("trak") || type == Tag("mdat")))
                return;
            total += 8;
            int64_t boxSize = Rb32(h);
            if (boxSize == 1 && total + 8 <= size) {
                if (!src_.Read(at + 8, h + 8, 8)) {
                    Doubt();
                    return;
                }
                boxSize = int64_t(Rb64(h + 8)) - 8;
                total += 8;
            }
            if (boxSize == 0) boxSize = size - total + 8;
            if (boxSize < 0) break;
            boxSize -= 8;
            if (boxSize < 0) break;
            // A box that does not fit where it stands: a cut file, or one
            // written wrong. At the top, one that is skipped may run past the
            // end (the media data of a book still downloading); it ends there.
            if (boxSize > size - total) {
                if (parent != Tag("root") || Reads(type)) {
                    Doubt();
                    return;
                }
                boxSize = size - total;
            }
            Box(type, start + total, boxSize, parent, depth);
            total += boxSize;
        }
    }

    // Whether libavformat may read a box of this type as more than its
    // first bytes (or this reader reads it).
    static bool Reads(uint32_t type) {
        switch (type) {
        case Tag("mdat"):
        case Tag("free"):
        case Tag("skip"):
        case Tag("wide"):
        case Tag("uuid"):
            return false;
        default:
            return true; // not known to be harmless
        }
    }

    // mov_read_uuid refuses a file for a short one, or for a manifest or
    // spherical video data it cannot read.
    void Uuid(qint64 at, qint64 size) {
        static const uint8_t manifest[] = {0xa5, 0xd4, 0x0b, 0x30, 0xe8, 0x14, 0x11, 0xdd,
                                           0xba, 0x2f, 0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66};
        static const uint8_t spherical[] = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                            0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};
        uint8_t uuid[16];
        if (size < 16 || size >= INT32_MAX || !src_.Read(at, uuid, 16) ||
            !std::memcmp(uuid, manifest, 16) || !std::memcmp(uuid, spherical, 16))
            Doubt();
    }

    void Box(uint32_t type, qint64 at, qint64 size, uint32_t parent, int depth) {
        ++order_;
        switch (type) {
        case Tag("moov"):
            if (parent != Tag("root")) {
                Doubt();
            } else if (!foundMoov_) {
                // libavformat would not read all of it within the budget.
                if (size > src_.MaxBytes()) {
                    Doubt();
                    return;
                }
                Walk(at, size, type, depth + 1);
                foundMoov_ = true;
            }
            return;
        case Tag("trak"):
            if (parent != Tag("moov") || tracks_.size() >= kMaxTracks) {
                Doubt();
                return;
            }
            tracks_.emplace_back();
            track_ = &tracks_.back();
            Walk(at, size, type, depth + 1);
            EndTrack(*track_);
            track_ = nullptr;
            return;
        case Tag("dinf"):
        case Tag("edts"):
        case Tag("mdia"):
        case Tag("minf"):
        case Tag("stbl"):
        case Tag("tref"):
        case Tag("udta"):
        case Tag("sinf"):
        case Tag("schi"):
        case Tag("ilst"):
            Walk(at, size, type, depth + 1);
            return;
        case Tag("meta"):
            Meta(at, size, depth);
            return;
        case Tag("ftyp"):
            // Another file type box may change what libavformat makes of the
            // file (one of still pictures refuses its tracks).
            if (at != 8) Doubt();
            return;
        // Fragments, compressed headers and such are libavformat's.
        case Tag("moof"):
        case Tag("mvex"):
        case Tag("trex"):
        case Tag("traf"):
        case Tag("tfhd"):
        case Tag("trun"):
        case Tag("tfdt"):
        case Tag("sidx"):
        case Tag("cmov"):
        case Tag("wave"):
            Doubt();
            return;
        case Tag("uuid"):
            Uuid(at, size);
            return;
        case Tag("chpl"):
            Chpl(at, size);
            return;
        case Tag("chap"):
            Chap(at, size);
            return;
        case Tag("mvhd"):
            Mvhd(at, size);
            return;
        case Tag("hdlr"):
        case Tag("elst"):
            // Harmless outside a track: a handler there only names metadata;
            // edit lists are not applied (chapters.cpp opens files so).
            if (track_) TrackBox(*track_, type, at, size);
            return;
        case Tag("tkhd"):
        case Tag("mdhd"):
        case Tag("stsd"):
        case Tag("stts"):
        case Tag("stsc"):
        case Tag("stsz"):
        case Tag("stz2"):
        case Tag("stco"):
        case Tag("co64"):
        case Tag("ctts"):
        case Tag("dref"):
            // Outside a track these would change the last track read.
            if (!track_) {
                Doubt();
                return;
            }
            TrackBox(*track_, type, at, size);
            return;
        default:
            return; // a leaf that changes no chapter and no length
        }
    }

    // mov_read_meta: the boxes from its handler on.
    void Meta(qint64 at, qint64 size, int depth) {
        for (int words = 0; size > 8; ++words) {
            uint8_t w[4];
            if (words > 64 || !src_.Read(at, w, 4)) {
                Doubt();
                return;
            }
            at += 4;
            size -= 4;
            if (Rb32(w) == Tag("hdlr")) {
                Walk(at - 8, size + 8, Tag("meta"), depth + 1);
                return;
            }
        }
    }

    // mov_read_mvhd: the last one read gives the length.
    void Mvhd(qint64 at, qint64 size) {
        uint8_t b[32];
        if (size < 1 || !src_.Read(at, b, 1)) {
            Doubt();
            return;
        }
        const bool v1 = b[0] == 1;
        if (size < (v1 ? 32 : 20) || !src_.Read(at, b, v1 ? 32 : 20)) {
            Doubt();
            return;
        }
        movieTimeScale_ = int32_t(Rb32(b + (v1 ? 20 : 12)));
        if (movieTimeScale_ <= 0) movieTimeScale_ = 1;
        movieDuration_ = v1 ? int64_t(Rb64(b + 24)) : int64_t(Rb32(b + 16));
        mvhd_ = true;
    }

    // mov_read_chap: the tracks that hold chapters; the last such box counts.
    void Chap(qint64 at, qint64 size) {
        const qint64 count = size / 4;
        std::vector<uint8_t> b;
        if (size_t(count) > kMaxChapterRefs) {
            Doubt();
            return;
        }
        if (!ReadSmall(at, count * 4, b)) return;
        chapterTracks_.clear();
        for (qint64 i = 0; i < count; ++i)
            chapterTracks_.push_back(int32_t(Rb32(b.data() + 4 * i)));
    }

    // mov_read_chpl, with its own way of counting the bytes left (a version 1
    // list may be read 4 bytes past its end).
    void Chpl(qint64 at, qint64 size) {
        const qint64 want = std::min(size + 4, kMaxChplBytes);
        const qint64 real = std::clamp<qint64>(src_.Size() - at, 0, want);
        std::vector<uint8_t> b(size_t(want), 0);
        if (real > 0 && !src_.Read(at, b.data(), real)) {
            Doubt();
            return;
        }
        if ((size -= 5) < 0) return;
        qint64 pos = 0;
        const int version = b[0];
        pos = version ? 8 : 4;
        const int count = b[size_t(pos++)];
        for (int i = 0; i < count; ++i) {
            if (size < 9) return;
            const int64_t start = int64_t(Rb64(b.data() + pos));
            const int length = b[size_t(pos + 8)];
            pos += 9;
            if ((size -= 9 + length) < 0) return;
            // Read past the end of the file, the title fails the whole file.
            if (pos + length > real) {
                Doubt();
                return;
            }
            const char* title = reinterpret_cast<const char*>(b.data() + pos);
            chapters_.Add(i, 1, 10000000, start, TRawChapter::kNoTime,
                          QByteArray(title, int(qstrnlen(title, uint(length)))));
            pos += length;
        }
    }

    void TrackBox(Track& t, uint32_t type, qint64 at, qint64 size) {
        uint8_t b[32];
        switch (type) {
        case Tag("tkhd"): {
            ++t.tkhds;
            if (size < 1 || !src_.Read(at, b, 1)) {
                Doubt();
                return;
            }
            const qint64 idAt = b[0] == 1 ? 20 : 12;
            if (size < idAt + 4 || !src_.Read(at + idAt, b, 4)) {
                Doubt();
                return;
            }
            t.id = int32_t(Rb32(b));
            return;
        }
        case Tag("mdhd"): {
            if (++t.mdhds > 1 || size < 1 || !src_.Read(at, b, 1) || b[0] > 1) {
                Doubt();
                return;
            }
            const bool v1 = b[0] == 1;
            if (size < (v1 ? 32 : 20) || !src_.Read(at, b, v1 ? 32 : 20)) {
                Doubt();
                return;
            }
            t.timeScale = int32_t(Rb32(b + (v1 ? 20 : 12)));
            if (t.timeScale <= 0) t.timeScale = 1;
            t.duration = v1 ? int64_t(Rb64(b + 24)) : int64_t(Rb32(b + 16));
            t.mdhdOrder = order_;
            return;
        }
        case Tag("hdlr"):
            if (size < 12 || !src_.Read(at, b, 12)) {
                Doubt();
                return;
            }
            switch (Rb32(b + 8)) {
            case Tag("text"):
            case Tag("sbtl"):
                t.textHandler = true;
                break;
            // mov_read_hdlr: these change the stream's type (or codec).
            case Tag("vide"):
            case Tag("soun"):
            case Tag("subp"):
            case Tag("clcp"):
            case Tag("m1a "):
                t.typeHandler = true;
                break;
            default:
                break; // a data handler ("url ", "alis"), metadata ("mdir")
            }
            return;
        case Tag("stsd"):
            Stsd(t, at, size);
            return;
        case Tag("dref"):
            Dref(at, size);
            return;
        case Tag("ctts"):
            t.ctts = true;
            return;
        case Tag("elst"):
            ++t.elsts;
            t.elst = {at, size, 0};
            return;
        case Tag("stts"):
        case Tag("stsc"):
        case Tag("stco"):
        case Tag("co64"): {
            // Counted entries of 8, 12, 4 and 8 bytes after version and flags.
            Table& table = type == Tag("stts") ? t.stts : type == Tag("stsc") ? t.stsc : t.stco;
            const qint64 entrySize = type == Tag("stsc") ? 12 : type == Tag("stco") ? 4 : 8;
            if (table.at >= 0 || size < 8 || !src_.Read(at, b, 8)) {
                Doubt();
                return;
            }
            table = {at, size, Rb32(b + 4)};
            // A table longer than its box: libavformat reads on into what
            // follows, or fails at the end of the file.
            if (8 + entrySize * table.entries > size) {
                Doubt();
                return;
            }
            if (type == Tag("stts")) t.sttsOrder = order_;
            if (type == Tag("co64")) t.co64 = true;
            if (type == Tag("stsc") && table.entries > 0) StscLast(t);
            return;
        }
        case Tag("stsz"):
        case Tag("stz2"): {
            if (t.stsz.at >= 0 || size < 12 || !src_.Read(at, b, 12)) {
                Doubt();
                return;
            }
            t.stsz = {at, size, Rb32(b + 8)};
            t.stz2 = type == Tag("stz2");
            const qint64 bits = t.stz2 ? b[7] : 32;
            t.sampleSize = t.stz2 ? 0 : Rb32(b + 4);
            if (t.stz2 && bits != 4 && bits != 8 && bits != 16 && bits != 32) {
                Doubt();
                return;
            }
            if (t.sampleSize == 0 && 12 + (t.stsz.entries * bits + 4) / 8 > size) {
                Doubt();
                return;
            }
            // mov_read_stsz refuses the file for a size over 2 GB. Not looked
            // for in a long table: the sound's, which is what is not read.
            const qint64 bytes = qint64(t.stsz.entries) * 4;
            if (!t.stz2 && t.sampleSize == 0 && bytes <= kMaxSmallBox) {
                std::vector<uint8_t> sizes;
                if (!src_.ReadAll(at + 12, bytes, sizes)) {
                    Doubt();
                    return;
                }
                for (uint32_t i = 0; i < t.stsz.entries; ++i)
                    if (Rb32(&sizes[4 * i]) > INT32_MAX) {
                        Doubt();
                        return;
                    }
            }
            return;
        }
        default:
            return;
        }
    }

    // The last entry of a sample-to-chunk table, which libavformat checks
    // against the chunk count (and mends when it is wrong: not here).
    void StscLast(Track& t) {
        const uint32_t n = t.stsc.entries;
        const qint64 from = n >= 2 ? n - 2 : 0;
        uint8_t b[24];
        const qint64 count = n >= 2 ? 2 : 1;
        if (!src_.Read(t.stsc.at + 8 + 12 * from, b, 12 * count)) {
            Doubt();
            return;
        }
        const uint8_t* last = b + 12 * (count - 1);
        const int32_t first = int32_t(Rb32(last));
        if ((count == 2 && first <= int32_t(Rb32(b))) || int64_t(first) < int64_t(n) ||
            int32_t(Rb32(last + 4)) < 1 || int32_t(Rb32(last + 8)) < 1) {
            Doubt();
            return;
        }
        t.stscLastFirst = first;
    }

    // mov_read_stsd, as far as libavformat could fail on it or find more
    // boxes in it.
    void Stsd(Track& t, qint64 at, qint64 size) {
        std::vector<uint8_t> b;
        if (++t.stsds > 1 || size < 16) {
            Doubt();
            return;
        }
        if (!ReadSmall(at, size, b)) return;
        t.descriptions = int32_t(Rb32(b.data() + 4));
        if (t.descriptions <= 0 || t.descriptions > size / 8 || t.descriptions > 1024) {
            Doubt();
            return;
        }
        // Entries that do not fit make libavformat read on past the box.
        for (qint64 pos = 8, i = 0; i < t.descriptions; ++i) {
            const qint64 entrySize = pos + 8 <= size ? Rb32(b.data() + pos) : 0;
            if (entrySize <= 7 || entrySize > size - pos) {
                Doubt();
                return;
            }
            pos += entrySize;
        }
        t.format = Rb32(b.data() + 12);
        // Boxes libavformat would read inside a sample description and that
        // would change the chapters or the length, the key of an encrypted
        // book: none are in a book's sound or chapter text.
        static const uint32_t inside[] = {
            Tag("moov"), Tag("trak"), Tag("mdat"), Tag("mvhd"), Tag("tkhd"), Tag("mdhd"),
            Tag("hdlr"), Tag("stsd"), Tag("stts"), Tag("stsc"), Tag("stsz"), Tag("stz2"),
            Tag("stco"), Tag("co64"), Tag("ctts"), Tag("dref"), Tag("chpl"), Tag("chap"),
            Tag("udta"), Tag("meta"), Tag("moof"), Tag("mvex"), Tag("trex"), Tag("cmov"),
            Tag("adrm"), Tag("hoov")};
        for (size_t i = 16; i + 4 <= b.size(); ++i)
            if (std::find(std::begin(inside), std::end(inside), Rb32(b.data() + i)) !=
                std::end(inside)) {
                Doubt();
                return;
            }
    }

    // mov_read_dref: refused entries fail the file; an alias makes libavformat
    // look for the samples in another file.
    void Dref(qint64 at, qint64 size) {
        std::vector<uint8_t> b;
        if (size < 8 || !ReadSmall(at, size, b)) {
            Doubt();
            return;
        }
        const int32_t entries = int32_t(Rb32(b.data() + 4));
        if (entries <= 0 || entries > (size - 1) / 12 + 1) {
            Doubt();
            return;
        }
        qint64 pos = 8;
        for (int32_t i = 0; i < entries; ++i) {
            if (pos + 12 > size) {
                Doubt();
                return;
            }
            // An entry that runs past the box sends libavformat past it.
            const uint32_t entrySize = Rb32(b.data() + pos);
            if (entrySize < 12 || entrySize > size - pos ||
                Rb32(b.data() + pos + 4) == Tag("alis")) {
                Doubt();
                return;
            }
            pos += entrySize;
        }
    }

    // The end of mov_read_trak: what would make libavformat refuse the file.
    void EndTrack(const Track& t) {
        if (t.tkhds != 1) {
            Doubt();
            return;
        }
        const bool noSamples = t.stco.entries == 0 && t.stts.entries == 0;
        if (t.stsc.entries > 0 && !noSamples && uint32_t(t.stscLastFirst) > t.stco.entries) Doubt();
    }

    // mov_read_trak's checks and mov_build_index for the chapter track, then
    // mov_read_chapters.
    void ChapterTrack(const Track& t) {
        // A text track as chapter tracks are: anything else is libavformat's
        // (a picture track gives no chapters there, an odd one may).
        if (t.mdhds != 1 || !t.textHandler || t.typeHandler || t.stsds != 1 ||
            t.descriptions != 1 || (t.format != Tag("text") && t.format != Tag("tx3g")) || t.ctts ||
            t.stz2 || (t.sttsOrder >= 0 && t.sttsOrder < t.mdhdOrder) || !PlainEdits(t)) {
            Doubt();
            return;
        }
        const uint32_t chunkCount = t.stco.entries, sttsCount = t.stts.entries;
        const uint32_t stscCount = chunkCount == 0 && sttsCount == 0 ? 0 : t.stsc.entries;
        const uint32_t sampleCount = t.stsz.entries, sampleSize = t.sampleSize;
        // "Missing mandatory atoms": no index, so no chapters from the track.
        if ((chunkCount && (!sttsCount || !stscCount || (!sampleSize && !sampleCount))) ||
            (!chunkCount && sampleCount))
            return;
        if (!sampleCount) return;
        if (sampleCount > kMaxTrackSamples || chunkCount > kMaxTrackSamples ||
            stscCount > kMaxTrackSamples || sttsCount > kMaxTrackSamples) {
            Doubt();
            return;
        }

        std::vector<uint8_t> stts, stsc, stco, stsz;
        if (!src_.ReadAll(t.stts.at + 8, qint64(sttsCount) * 8, stts) ||
            !src_.ReadAll(t.stsc.at + 8, qint64(stscCount) * 12, stsc) ||
            !src_.ReadAll(t.stco.at + 8, qint64(chunkCount) * (t.co64 ? 8 : 4), stco) ||
            (!sampleSize && !src_.ReadAll(t.stsz.at + 12, qint64(sampleCount) * 4, stsz))) {
            Doubt();
            return;
        }
        // mov_read_stts: st->duration is the shorter of the media header's
        // and the table's. Clipped durations are libavformat's to mend.
        int64_t tableDuration = 0, tableSamples = 0;
        for (uint32_t i = 0; i < sttsCount; ++i) {
            const uint32_t count = Rb32(&stts[8 * i]), delta = Rb32(&stts[8 * i + 4]);
            tableSamples += count;
            if (delta > kMaxSttsDelta || tableSamples > kMaxTrackSamples) {
                Doubt();
                return;
            }
            tableDuration += int64_t(delta) * count;
        }
        int64_t duration = t.duration;
        if (tableDuration) duration = std::min(duration, tableDuration);
        // mov_read_stsz refuses the file for a size over 2 GB.
        for (uint32_t i = 0; !sampleSize && i < sampleCount; ++i)
            if (Rb32(&stsz[4 * i]) > INT32_MAX) {
                Doubt();
                return;
            }
        // mov_read_stsc mends wrong entries; a chapter track with one is
        // libavformat's.
        for (uint32_t i = 0; i < stscCount; ++i) {
            const int32_t first = int32_t(Rb32(&stsc[12 * i]));
            if ((i + 1 < stscCount && first >= int32_t(Rb32(&stsc[12 * (i + 1)]))) ||
                (i > 0 && first <= int32_t(Rb32(&stsc[12 * (i - 1)]))) ||
                int64_t(first) < int64_t(i) + 1 || int32_t(Rb32(&stsc[12 * i + 4])) < 1 ||
                int32_t(Rb32(&stsc[12 * i + 8])) < 1) {
                Doubt();
                return;
            }
        }

        // mov_build_index, for a track that is not sound and has no
        // composition offsets. The one sample description is number 1.
        struct Sample {
            int64_t pos, time;
            uint32_t size;
        };
        std::vector<Sample> samples;
        samples.reserve(sampleCount);
        auto index = [&] {
            int64_t dts = 0;
            uint32_t stscIndex = 0, sttsIndex = 0, sttsSample = 0, current = 0;
            for (uint32_t i = 0; i < chunkCount; ++i) {
                int64_t offset = t.co64 ? int64_t(Rb64(&stco[8 * i])) : int64_t(Rb32(&stco[4 * i]));
                if (offset < 0) return Doubt();
                while (stscIndex + 1 < stscCount && i + 1 == Rb32(&stsc[12 * (stscIndex + 1)]))
                    ++stscIndex;
                const uint32_t perChunk = Rb32(&stsc[12 * stscIndex + 4]);
                const uint32_t description = Rb32(&stsc[12 * stscIndex + 8]);
                for (uint32_t j = 0; j < perChunk; ++j) {
                    // Where libavformat stops indexing ("wrong sample count" and such).
                    if (current >= sampleCount) return true;
                    const uint32_t size = sampleSize ? sampleSize : Rb32(&stsz[4 * current]);
                    if (offset > INT64_MAX - size) return true;
                    if (description == 1) {
                        if (size > 0x3FFFFFFF) return true;
                        samples.push_back({offset, dts, size});
                    }
                    offset += size;
                    dts += Rb32(&stts[8 * sttsIndex + 4]);
                    ++sttsSample;
                    ++current;
                    if (sttsIndex + 1 < sttsCount && sttsSample == Rb32(&stts[8 * sttsIndex])) {
                        sttsSample = 0;
                        ++sttsIndex;
                    }
                }
            }
            return true;
        };
        if (!index()) return;
        for (size_t i = 0, listed = 0; i < samples.size() && listed < size_t(keep_); ++i) {
            const Sample& s = samples[i];
            int64_t end = i + 1 < samples.size() ? samples[i + 1].time : duration;
            if (end < s.time) end = TRawChapter::kNoTime;
            // libavformat would read zeros or fail where a sample lies past
            // the end of the file.
            if (s.pos > src_.Size() - s.size) {
                Doubt();
                return;
            }
            uint8_t b[2];
            if (!src_.ReadPadded(s.pos, b, 2)) {
                Doubt();
                return;
            }
            const int length = Rb16(b);
            if (length > int(s.size) - 2) continue;
            QByteArray title;
            if (!SampleTitle(s.pos + 2, length, title)) {
                Doubt();
                return;
            }
            chapters_.Add(int64_t(i), 1, t.timeScale, s.time, end, std::move(title));
            ++listed;
        }
    }

    // No edit list, or the one muxers write that changes nothing: libavformat
    // applies none here, but other lists are left to it all the same.
    bool PlainEdits(const Track& t) {
        if (t.elsts == 0) return true;
        uint8_t b[28];
        if (t.elsts > 1 || t.elst.size < 20 || t.elst.size > 28 ||
            !src_.Read(t.elst.at, b, t.elst.size))
            return false;
        const bool v1 = b[0] == 1;
        if (t.elst.size != (v1 ? 28 : 20) || Rb32(b + 4) != 1) return false;
        const int64_t mediaTime = v1 ? int64_t(Rb64(b + 16)) : int32_t(Rb32(b + 12));
        return mediaTime == 0 && Rb32(b + (v1 ? 24 : 16)) == 0x10000;
    }

    // A chapter title as mov_read_chapters reads it at pos, after its length:
    // UTF-16 after a byte order mark, else bytes as they are (UTF-8 in
    // practice; an "encd" box after the text is not looked at). Only its first
    // titleBytes bytes are made.
    bool SampleTitle(qint64 pos, int length, QByteArray& title) {
        title.clear();
        if (length == 0) return true;
        uint8_t mark[2];
        if (!src_.ReadPadded(pos, mark, 2)) return false;
        const uint16_t bom = Rb16(mark);
        if (bom != 0xfeff && bom != 0xfffe) {
            // The first length bytes up to a NUL.
            const int n = std::min(length, titleBytes_);
            title.resize(n);
            if (!src_.ReadPadded(pos, reinterpret_cast<uint8_t*>(title.data()), n)) return false;
            title.truncate(int(qstrnlen(title.constData(), uint(n))));
            return true;
        }
        // avio_get_str16be/le with length bytes at most: it may read 2 bytes
        // past the title (an "encd" box's size ends it there).
        const bool big = bom == 0xfeff;
        // Enough for titleBytes of UTF-8, whatever the characters.
        std::vector<uint8_t> units(size_t(std::min(length, 2 * titleBytes_ + 4)));
        if (!src_.ReadPadded(pos + 2, units.data(), qint64(units.size()))) return false;
        size_t next = 0;
        auto read = [&]() -> uint16_t {
            if (next + 2 > units.size()) return 0;
            const uint8_t* u = &units[next];
            next += 2;
            return big ? uint16_t(u[0] << 8 | u[1]) : uint16_t(u[1] << 8 | u[0]);
        };
        int got = 0;
        while (got + 1 < length && title.size() < titleBytes_) {
            uint8_t tmp;
            uint32_t ch;
            GET_UTF16(ch, (got += 2) <= length ? read() : 0, break;)
            if (!ch) break;
            PUT_UTF8(ch, tmp, if (title.size() < 2 * length) title.append(char(tmp));)
        }
        return true;
    }

    Source& src_;
    const int keep_;
    const int titleBytes_;
    bool doubt_ = false;
    int boxes_ = 0;
    int order_ = 0;
    bool foundMoov_ = false;
    bool mvhd_ = false;
    int32_t movieTimeScale_ = 1;
    int64_t movieDuration_ = 0;
    std::vector<Track> tracks_;
    Track* track_ = nullptr;
    std::vector<int32_t> chapterTracks_;
    ChapterList chapters_;
};

} // namespace

std::optional<TMp4Chapters> ReadMp4Chapters(QFile& file, TChapterBudget& budget, int keep,
                                            int titleBytes) {
    if (budget.Stopped()) return std::nullopt;
    Source source(file, budget);
    return Reader(source, keep, titleBytes).Read();
}
