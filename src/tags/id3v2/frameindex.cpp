// The frame list and the in-memory transformations of one frame's data.
#include "tags/id3v2/id3v2.h"
#include "tags/id3v2/id3v2internal.h"
#include "util/errors.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace {
const char* kRangeError = "Array range out of bounds.";

bool IdFromString(const QString& id, char out[4]) {
    const QString up = id.toUpper();
    if (up.size() != 4) return false;
    for (int k = 0; k < 4; ++k) {
        const char16_t c = up[k].unicode();
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        out[k] = char(c);
    }
    return true;
}

void CheckByte(int byte) {
    if (byte != fbStatus && byte != fbFormat) throw NarrabelError(QString::fromLatin1(kRangeError));
}

// Upper bound for inflating a frame whose decompressed size is not declared.
constexpr size_t kUndeclaredInflateLimit = 16u << 20;
// No frame can be larger than a tag.
constexpr size_t kMaxFrame = 0x10000000;
} // namespace

bool TFrameIndex::ValidID(const char id[4]) {
    for (int k = 0; k < 4; ++k) {
        const char c = id[k];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

void TFrameIndex::Check(int i) const {
    // Index 0 is refused too: there is no entry before the first.
    if (i < 1 || i > Count()) throw NarrabelError(QString::fromLatin1(kRangeError));
}

TFrameEntry& TFrameIndex::Entry(int i) {
    Check(i);
    return entries[size_t(i - 1)];
}
const TFrameEntry& TFrameIndex::Entry(int i) const {
    Check(i);
    return entries[size_t(i - 1)];
}

void TFrameIndex::Changed(TFrameEntry& e) {
    e.AsLoaded = false;
    e.Loaded.reset();
}

void TFrameIndex::KeepLoadedForm(int i) {
    TFrameEntry& e = Entry(i);
    if (!e.AsLoaded || e.Loaded) return;
    e.Loaded = std::make_unique<TFrameForm>();
    e.Loaded->Data = e.Data;
    std::memcpy(e.Loaded->StoredFlags, e.StoredFlags, 2);
    e.Loaded->DataLength = e.DataLength;
    e.Loaded->SizeBeforeUnsync = e.SizeBeforeUnsync;
}

void TFrameIndex::RestoreLoadedForm(int i) {
    TFrameEntry& e = Entry(i);
    if (!e.Loaded) return;
    e.Data = std::move(e.Loaded->Data);
    std::memcpy(e.StoredFlags, e.Loaded->StoredFlags, 2);
    e.DataLength = e.Loaded->DataLength;
    e.SizeBeforeUnsync = e.Loaded->SizeBeforeUnsync;
    e.Loaded.reset();
}

int TFrameIndex::AddFrame(const QString& id) {
    TFrameEntry e;
    if (!IdFromString(id, e.ID)) return 0;
    e.Modified = true;
    entries.push_back(std::move(e));
    return Count();
}

int TFrameIndex::DeleteFrame(int index) {
    if (index < 1 || index > Count()) return 0;
    entries.erase(entries.begin() + (index - 1));
    return 1;
}

void TFrameIndex::ClearFrames() {
    entries.clear();
    entries.shrink_to_fit();
}

bool TFrameIndex::GetModified(int i) const {
    return Entry(i).Modified;
}
void TFrameIndex::SetModified(int i, bool v) {
    Entry(i).Modified = v;
}
uint32_t TFrameIndex::GetHeaderOffset(int i) const {
    return Entry(i).HeaderOffset;
}
void TFrameIndex::SetHeaderOffset(int i, uint32_t v) {
    Entry(i).HeaderOffset = v;
}
uint32_t TFrameIndex::GetSizeBeforeUnsync(int i) const {
    return Entry(i).SizeBeforeUnsync;
}
void TFrameIndex::SetSizeBeforeUnsync(int i, uint32_t v) {
    Entry(i).SizeBeforeUnsync = v;
}
uint32_t TFrameIndex::GetHeaderSize(int i) const {
    return Entry(i).HeaderSize;
}
void TFrameIndex::SetHeaderSize(int i, uint32_t v) {
    Entry(i).HeaderSize = v;
}
QString TFrameIndex::GetID(int i) const {
    return QString::fromLatin1(Entry(i).ID, 4);
}
bool TFrameIndex::SetID(int i, const QString& id) {
    TFrameEntry& e = Entry(i);
    char old[4];
    std::memcpy(old, e.ID, 4);
    if (!IdFromString(id, e.ID)) return false;
    if (std::memcmp(old, e.ID, 4) != 0) Changed(e);
    return true;
}
uint8_t TFrameIndex::GetStoredFlags(int i, int byte) const {
    const TFrameEntry& e = Entry(i);
    CheckByte(byte);
    return e.StoredFlags[byte];
}
void TFrameIndex::SetStoredFlags(int i, int byte, uint8_t v) {
    TFrameEntry& e = Entry(i);
    CheckByte(byte);
    e.StoredFlags[byte] = v;
    Changed(e);
}
uint8_t TFrameIndex::GetWriteFlags(int i, int byte) const {
    const TFrameEntry& e = Entry(i);
    CheckByte(byte);
    return e.WriteFlags[byte];
}
void TFrameIndex::SetWriteFlags(int i, int byte, uint8_t v) {
    TFrameEntry& e = Entry(i);
    CheckByte(byte);
    if (e.WriteFlags[byte] != v) Changed(e);
    e.WriteFlags[byte] = v;
    e.Modified = true;
}
uint32_t TFrameIndex::GetDataLength(int i) const {
    return Entry(i).DataLength;
}
void TFrameIndex::SetDataLength(int i, uint32_t v) {
    TFrameEntry& e = Entry(i);
    if (e.DataLength != v) Changed(e);
    e.DataLength = v;
}
uint8_t TFrameIndex::GetEncryptionMethod(int i) const {
    return Entry(i).EncryptionMethod;
}
void TFrameIndex::SetEncryptionMethod(int i, uint8_t v) {
    TFrameEntry& e = Entry(i);
    if (e.EncryptionMethod != v) {
        e.Modified = true;
        Changed(e);
    }
    e.EncryptionMethod = v;
}
uint8_t TFrameIndex::GetGroupID(int i) const {
    return Entry(i).GroupID;
}
void TFrameIndex::SetGroupID(int i, uint8_t v) {
    TFrameEntry& e = Entry(i);
    if (e.GroupID != v) {
        e.Modified = true;
        Changed(e);
    }
    e.GroupID = v;
}
std::vector<uint8_t> TFrameIndex::GetData(int i) const {
    return Entry(i).Data.ToVector();
}
void TFrameIndex::SetData(int i, std::vector<uint8_t> data) {
    TFrameEntry& e = Entry(i);
    e.Data = data;
    Changed(e);
}

int TFrameIndex::Compress(int i, int level) {
    TFrameEntry& e = Entry(i);
    const uint8_t f = e.StoredFlags[fbFormat];
    if (f & ffCompressed) return -1;
    if (f & ffEncrypted) return 1;
    if (f & ffUnsync) return 2;
    int zlevel;
    switch (level) {
    case 0:
        zlevel = Z_NO_COMPRESSION;
        break;
    case 1:
        zlevel = Z_BEST_SPEED;
        break;
    case 3:
        zlevel = Z_BEST_COMPRESSION;
        break;
    default:
        zlevel = Z_DEFAULT_COMPRESSION;
        break;
    }
    std::vector<uint8_t> out;
    if (!id3v2::Deflate(e.Data.data(), e.Data.size(), zlevel, out)) return 4;
    KeepLoadedForm(i);
    e.DataLength = uint32_t(e.Data.size());
    e.Data = std::move(out);
    e.StoredFlags[fbFormat] |= ffCompressed;
    e.Modified = true;
    return 0;
}

int TFrameIndex::Decompress(int i, size_t limit) {
    TFrameEntry& e = Entry(i);
    const uint8_t f = e.StoredFlags[fbFormat];
    if (!(f & ffCompressed)) return -1;
    if (f & ffEncrypted) return 1;
    if (f & ffUnsync) return 2;
    if (limit && e.DataLength > limit) return 4;
    // A declared size bounds the output, so a zlib bomb cannot grow past it.
    const size_t bound = e.DataLength ? std::min<size_t>(e.DataLength, kMaxFrame)
                                      : (limit ? limit : kUndeclaredInflateLimit);
    std::vector<uint8_t> out;
    bool truncated = false;
    if (!id3v2::Inflate(e.Data.data(), e.Data.size(), bound, out, truncated)) return 4;
    if (truncated && !e.DataLength) return 4;
    const bool differs = truncated || out.size() != e.DataLength;
    KeepLoadedForm(i);
    e.Data = out;
    e.DataLength = 0;
    e.StoredFlags[fbFormat] &= uint8_t(~ffCompressed);
    e.Modified = true;
    return differs ? -2 : 0;
}

int TFrameIndex::ApplyUnsync(int i) {
    TFrameEntry& e = Entry(i);
    uint8_t& f = e.StoredFlags[fbFormat];
    if (f & ffUnsync) return -1;
    KeepLoadedForm(i);
    if (!(f & (ffCompressed | ffEncrypted))) e.DataLength = uint32_t(e.Data.size());
    e.SizeBeforeUnsync = uint32_t(e.Data.size());
    e.Data = id3v2::Unsync(e.Data.data(), e.Data.size());
    f |= ffUnsync;
    e.Modified = true;
    return 0;
}

int TFrameIndex::RemoveUnsync(int i) {
    TFrameEntry& e = Entry(i);
    uint8_t& f = e.StoredFlags[fbFormat];
    if (!(f & ffUnsync)) return -1;
    KeepLoadedForm(i);
    e.Data = id3v2::Resync(e.Data.data(), e.Data.size());
    f &= uint8_t(~ffUnsync);
    e.Modified = true;
    return 0;
}

void TFrameData::reserve(size_t size) {
    if (size <= (cap ? cap : kInline)) return;
    size_t c = std::max<size_t>(size, size_t(cap ? cap : kInline) * 2);
    c = std::min<size_t>(c, UINT32_MAX);
    uint8_t* p = new uint8_t[c];
    if (n) std::memcpy(p, data(), n);
    release();
    heap = p;
    cap = uint32_t(c);
}

void TFrameData::release() {
    if (cap) delete[] heap;
    cap = 0;
}

void TFrameData::take(TFrameData& o) {
    n = o.n;
    cap = o.cap;
    if (cap)
        heap = o.heap;
    else
        std::memcpy(inl, o.inl, kInline);
    o.n = 0;
    o.cap = 0;
}

void TFrameData::resize(size_t size) {
    reserve(size);
    if (size > n) std::memset(data() + n, 0, size - n);
    n = uint32_t(size);
}

void TFrameData::assign(const uint8_t* p, size_t size) {
    if (size > (cap ? cap : kInline)) {
        // Exactly as large as asked: loaded frames are never grown.
        uint8_t* q = new uint8_t[size];
        release();
        heap = q;
        cap = uint32_t(size);
    }
    if (size) std::memmove(data(), p, size);
    n = uint32_t(size);
}

void TFrameData::append(const uint8_t* p, size_t size) {
    if (!size) return;
    const size_t want = size_t(n) + size;
    if (want > (cap ? cap : kInline)) {
        // p may point into these very bytes (inline ones share their space
        // with the pointer): the old storage goes only after both copies.
        const size_t c =
            std::min<size_t>(std::max<size_t>(want, size_t(cap ? cap : kInline) * 2), UINT32_MAX);
        uint8_t* q = new uint8_t[c];
        if (n) std::memcpy(q, data(), n);
        std::memcpy(q + n, p, size);
        release();
        heap = q;
        cap = uint32_t(c);
    } else {
        std::memmove(data() + n, p, size);
    }
    n = uint32_t(want);
}

bool TFrameData::operator==(const TFrameData& o) const {
    return n == o.n && (n == 0 || std::memcmp(data(), o.data(), n) == 0);
}

namespace id3v2 {

std::vector<uint8_t> Unsync(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    out.reserve(n + n / 64 + 2);
    for (size_t k = 0; k < n; ++k) {
        out.push_back(p[k]);
        // A final 0xFF gets its zero too, as the published scheme and other
        // readers expect; otherwise a following zero byte would be eaten.
        if (p[k] == 0xFF && (k + 1 == n || p[k + 1] == 0x00 || p[k + 1] >= 0xE0))
            out.push_back(0x00);
    }
    return out;
}

std::vector<uint8_t> Resync(const uint8_t* p, size_t n) {
    // Every zero after 0xFF goes, as every reader of the published layout does;
    // for data that Unsync made this is its exact inverse.
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        out.push_back(p[k]);
        if (p[k] == 0xFF && k + 1 < n && p[k + 1] == 0x00) ++k;
    }
    return out;
}

size_t ResyncedSize(const uint8_t* p, size_t n) {
    size_t removed = 0;
    for (size_t k = 0; k + 1 < n; ++k)
        if (p[k] == 0xFF && p[k + 1] == 0x00) {
            ++removed;
            ++k;
        }
    return n - removed;
}

bool Deflate(const uint8_t* in, size_t size, int level, std::vector<uint8_t>& out) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (deflateInit(&zs, level) != Z_OK) return false;
    // Start at size + size/10 + 12 rounded up to 256 and grow while zlib wants more.
    size_t cap = ((size + size / 10 + 12 + 255) / 256) * 256;
    out.assign(cap, 0);
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = uInt(size);
    int rc;
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = uInt(out.size() - zs.total_out);
        rc = deflate(&zs, Z_FINISH);
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            deflateEnd(&zs);
            return false;
        }
        out.resize(out.size() + 256);
    }
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return true;
}

bool Inflate(const uint8_t* in, size_t size, size_t limit, std::vector<uint8_t>& out,
             bool& truncated) {
    truncated = false;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = uInt(size);
    size_t cap = std::min(limit, std::max<size_t>(((size + 255) / 256) * 256, 256));
    out.assign(cap, 0);
    bool ok = false;
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = uInt(out.size() - zs.total_out);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        if (zs.avail_out == 0) {
            if (out.size() >= limit) {
                // More output than allowed: keep what fits and say so.
                truncated = true;
                ok = true;
                break;
            }
            out.resize(std::min(limit, out.size() * 2));
            continue;
        }
        // zlib neither finished nor wants room: the input ran out.
        break;
    }
    const size_t produced = zs.total_out;
    inflateEnd(&zs);
    if (!ok) return false;
    out.resize(produced);
    return true;
}

namespace {

// Decoded text goes straight into a QString sized up front: no encoding gives
// more UTF-16 code units than it has bytes.
struct TextOut {
    QString& s;
    QChar* p;
    qsizetype n = 0;
    TextOut(QString& text, size_t bytes) : s(text) {
        s.resize(qsizetype(bytes));
        p = s.data();
    }
    void put(char16_t u) { p[n++] = QChar(u); }
    void finish(bool ok) {
        if (!ok) n = 0;
        s.truncate(n);
        // A long frame whose text ended early keeps no room for the rest.
        if (s.capacity() > 2 * n + 256) s.squeeze();
    }
};

bool Surrogate(uint16_t u) {
    return u >= 0xD800 && u <= 0xDFFF;
}

// One UTF-16 code unit stream (encodings 1, 2 and 9). cut says the byte limit,
// not the data, ends p: a pair it splits ends the text before it.
uint8_t DecodeUtf16(const uint8_t* p, size_t n, bool bigEndian, bool multiLine, bool cut,
                    TextOut& out, size_t& used) {
    auto unit = [&](size_t k) {
        return bigEndian ? uint16_t(p[k] << 8 | p[k + 1]) : uint16_t(p[k + 1] << 8 | p[k]);
    };
    for (size_t k = 0; k + 1 < n; k += 2) {
        const uint16_t u = unit(k);
        if (u >= 32 && !Surrogate(u)) {
            out.put(u);
            continue;
        }
        if (u == 0) {
            used = k + 2;
            return txtOk;
        }
        if (u < 32) {
            if (multiLine && (u == 10 || u == 13)) {
                out.put(u);
                continue;
            }
        } else if (u <= 0xDBFF) {
            // A high surrogate with a low one after it is one character.
            if (k + 3 < n) {
                const uint16_t low = unit(k + 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    out.put(u);
                    out.put(low);
                    k += 2;
                    continue;
                }
            } else if (cut) {
                used = k;
                return txtOk;
            }
        }
        // A control character or a lone surrogate: the text is not valid.
        used = k + 2;
        return txtControlChar;
    }
    used = n;
    return txtOk;
}

// UTF-8 (encoding 3): only well-formed sequences; an overlong form, an encoded
// surrogate, a stray continuation byte or a sequence the data ends inside makes
// the text invalid.
uint8_t DecodeUtf8(const uint8_t* p, size_t n, bool multiLine, bool cut, TextOut& out,
                   size_t& used) {
    size_t k = 0;
    while (k < n) {
        const uint8_t b = p[k];
        if (b >= 32 && b < 0x80) {
            out.put(b);
            ++k;
            continue;
        }
        if (b < 32) {
            ++k;
            if (b == 0) break;
            if (multiLine && (b == 10 || b == 13)) {
                out.put(b);
                continue;
            }
            used = k;
            return txtControlChar;
        }
        size_t len;
        uint32_t cp;
        uint8_t lo = 0x80, hi = 0xBF; // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            used = k + 1;
            return txtControlChar;
        }
        if (len > n - k) {
            if (cut) break;
            used = n;
            return txtControlChar;
        }
        for (size_t j = 1; j < len; ++j) {
            const uint8_t c = p[k + j];
            if (c < (j == 1 ? lo : 0x80) || c > (j == 1 ? hi : 0xBF)) {
                used = k + j;
                return txtControlChar;
            }
            cp = cp << 6 | (c & 0x3F);
        }
        if (cp >= 0x10000) {
            out.put(char16_t(0xD7C0 + (cp >> 10)));
            out.put(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            out.put(char16_t(cp));
        }
        k += len;
    }
    used = k;
    return txtOk;
}

} // namespace

uint8_t DecodeText(const uint8_t* data, size_t size, size_t start, size_t limit, uint8_t encoding,
                   bool multiLine, QString& text, size_t* consumed) {
    text.clear();
    if (consumed) *consumed = 0;
    if (encoding > 3 && encoding != 9) return txtBadEncoding;
    if (start >= size) return txtEmpty;
    size_t n = size - start;
    const bool cut = limit && limit < n;
    if (cut) n = limit;
    const uint8_t* p = data + start;
    size_t used = n;
    uint8_t rc = txtOk;
    TextOut out(text, n);
    switch (encoding) {
    case 0: {
        size_t k = 0;
        for (; k < n; ++k) {
            const uint8_t b = p[k];
            if (b < 32 && !(multiLine && (b == 10 || b == 13))) {
                out.put(b);
                if (!multiLine && b != 0 && b != 10 && b != 13) rc = txtControlChar;
                ++k;
                break;
            }
            out.put(b);
        }
        used = k;
        break;
    }
    case 1: {
        if (n < 2 || !((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
            used = std::min<size_t>(n, 2);
            rc = txtControlChar;
            break;
        }
        size_t u = 0;
        rc = DecodeUtf16(p + 2, n - 2, p[0] == 0xFE, multiLine, cut, out, u);
        used = 2 + u;
        break;
    }
    case 2:
    case 9:
        rc = DecodeUtf16(p, n, encoding == 2, multiLine, cut, out, used);
        break;
    case 3:
        rc = DecodeUtf8(p, n, multiLine, cut, out, used);
        break;
    }
    out.finish(rc == txtOk);
    if (consumed) *consumed = used;
    return rc;
}

bool IsLatin1(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

uint8_t TextEncodingFor(const QString& text, uint8_t version) {
    if (IsLatin1(text)) return 0;
    return version == 4 ? 3 : 1;
}

} // namespace id3v2
