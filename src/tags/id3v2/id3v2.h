#pragma once
// The program's own ID3v2 library: loads the version 3 or 4 tag found at an
// offset of a file into a frame list, gives access to text and comment frames,
// and saves the list back: in place where the tag keeps its size or the file
// system makes or gives back the room, otherwise by writing the file anew.
//
// Texts are Unicode in every ID3v2 encoding. A changed text is written as
// ISO-8859-1 when it fits, else as UTF-16 with a byte order mark (version 3) or
// UTF-8 (version 4); frames nobody changed keep their bytes.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct stat;
namespace id3v2 {
bool FileIsReadOnly(const QString& path);
}

// 16-bit result codes of loads and saves: high byte an error, low byte warnings.
enum : uint16_t {
    id3Ok = 0x0000,
    id3ErrNoFile = 0x0100,
    id3ErrReadOnly = 0x0200,
    id3ErrRead = 0x0300,
    id3ErrWrite = 0x0400,
    id3ErrIO = 0x0500,
    // Not enough free space for a save that writes the file anew; nothing changed.
    id3ErrNoSpace = 0x0600,
    id3ErrOffset = 0x0800,
    id3ErrNoHeader = 0x1000,
    id3ErrVersion = 0x1100,
    id3ErrRevision = 0x1200,
    id3ErrFileTooShort = 0x2000,
    id3ErrFrameID = 0x2100,
    id3ErrTooLarge = 0x2200,
    id3ErrEncryption = 0xC000,
    id3ErrGrouping = 0xC100,
    id3ErrDLIEncrypted = 0xC200,
    id3ErrNoFrames = 0xFD00,
    id3ErrDamaged = 0xFE00,

    id3WarnUnknownFlags = 0x0080,
    id3WarnExtFlags = 0x0040,
    id3WarnRevision = 0x0010,
    id3WarnDLIDropped = 0x0008,
    id3WarnPadding = 0x0004,
};

// Text and comment access results.
enum : uint8_t {
    txtOk = 0,
    txtNotFound = 1,
    txtEmpty = 2,
    txtBadID = 3,
    txtNot8Bit = 4, // no longer given: every encoding decodes all of Unicode
    txtBadEncoding = 5,
    txtBadCommEncoding = 6,
    txtBadLanguage = 7,
    txtControlChar = 8,
    txtEncrypted = 9,
    txtDeleted = 255,
};

// Frame flag bits, in version 4 positions, as held in StoredFlags and WriteFlags.
enum : uint8_t {
    ffTagAlterPreserve = 0x40, // status byte
    ffFileAlterPreserve = 0x20,
    ffReadOnly = 0x10,
    ffGrouping = 0x40, // format byte
    ffCompressed = 0x08,
    ffEncrypted = 0x04,
    ffUnsync = 0x02,
    ffDataLength = 0x01,
};

enum TFlagByte : int { fbStatus = 0, fbFormat = 1 };

// A frame's bytes. Data of up to eight bytes is held inside the object, so a
// tag of many tiny frames costs no allocation per frame.
class TFrameData {
public:
    TFrameData() = default;
    TFrameData(const std::vector<uint8_t>& v) { assign(v.data(), v.size()); }
    TFrameData(const TFrameData& o) { assign(o.data(), o.size()); }
    TFrameData(TFrameData&& o) noexcept { take(o); }
    TFrameData& operator=(const TFrameData& o) {
        if (this != &o) assign(o.data(), o.size());
        return *this;
    }
    TFrameData& operator=(TFrameData&& o) noexcept {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    TFrameData& operator=(const std::vector<uint8_t>& v) {
        assign(v.data(), v.size());
        return *this;
    }
    ~TFrameData() { release(); }

    size_t size() const { return n; }
    bool empty() const { return n == 0; }
    uint8_t* data() { return cap ? heap : inl; }
    const uint8_t* data() const { return cap ? heap : inl; }
    uint8_t& operator[](size_t k) { return data()[k]; }
    uint8_t operator[](size_t k) const { return data()[k]; }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + n; }
    // New bytes are zero.
    void resize(size_t size);
    void clear() {
        release();
        n = 0;
    }
    void assign(const uint8_t* p, size_t size);
    void append(const uint8_t* p, size_t size);
    void push_back(uint8_t b) { append(&b, 1); }
    std::vector<uint8_t> ToVector() const { return std::vector<uint8_t>(begin(), end()); }
    bool operator==(const TFrameData& o) const;
    bool operator!=(const TFrameData& o) const { return !(*this == o); }

private:
    static constexpr uint32_t kInline = 8;
    void reserve(size_t size);
    void release();
    void take(TFrameData& o);
    uint32_t n = 0;
    uint32_t cap = 0; // 0: the bytes are inline
    union {
        uint8_t inl[kInline];
        uint8_t* heap;
    };
};

// A frame as it was loaded, kept while the entry holds it decoded in memory.
struct TFrameForm {
    TFrameData Data;
    uint8_t StoredFlags[2] = {0, 0};
    uint32_t DataLength = 0;
    uint32_t SizeBeforeUnsync = 0;
};

struct TFrameEntry {
    bool Modified = false;
    // The content is the one loaded from the file (perhaps decoded in memory):
    // a save writes such a frame back byte for byte, as it was found.
    bool AsLoaded = false;
    uint8_t EncryptionMethod = 0;
    uint8_t GroupID = 0;
    char ID[4] = {0, 0, 0, 0};
    uint8_t StoredFlags[2] = {0, 0};
    uint8_t WriteFlags[2] = {0, 0};
    uint8_t FileFlags[2] = {0, 0}; // the two flag bytes as found in the file
    uint32_t HeaderOffset = 0;
    uint32_t SizeBeforeUnsync = 0;
    uint32_t HeaderSize = 0;
    uint32_t DataLength = 0;
    TFrameData Data;
    // The loaded form, once the data in memory was transformed.
    std::unique_ptr<TFrameForm> Loaded;
};

// The frame list, addressed from 1. Any index outside 1..Count() throws
// NarrabelError("Array range out of bounds.").
class TFrameIndex {
public:
    int Count() const { return int(entries.size()); }
    // Returns the new entry's index, or 0 when id is not four of A-Z, 0-9.
    int AddFrame(const QString& id);
    int DeleteFrame(int index);
    void ClearFrames();

    bool GetModified(int i) const;
    void SetModified(int i, bool v);
    uint32_t GetHeaderOffset(int i) const;
    void SetHeaderOffset(int i, uint32_t v);
    uint32_t GetSizeBeforeUnsync(int i) const;
    void SetSizeBeforeUnsync(int i, uint32_t v);
    uint32_t GetHeaderSize(int i) const;
    void SetHeaderSize(int i, uint32_t v);
    QString GetID(int i) const;
    // Four characters of A-Z and 0-9 after upper-casing; false (unchanged) otherwise.
    bool SetID(int i, const QString& id);
    uint8_t GetStoredFlags(int i, int byte) const;
    void SetStoredFlags(int i, int byte, uint8_t v);
    uint8_t GetWriteFlags(int i, int byte) const;
    void SetWriteFlags(int i, int byte, uint8_t v);
    uint32_t GetDataLength(int i) const;
    void SetDataLength(int i, uint32_t v);
    uint8_t GetEncryptionMethod(int i) const;
    void SetEncryptionMethod(int i, uint8_t v);
    uint8_t GetGroupID(int i) const;
    void SetGroupID(int i, uint8_t v);
    std::vector<uint8_t> GetData(int i) const;
    void SetData(int i, std::vector<uint8_t> data);

    // In-memory transformations of one entry's data (results as designed:
    // 0 done, -1 already in that state, 1 encrypted, 2 unsynchronised,
    // -2 inflated size differs from DataLength, 4 failure).
    int Compress(int i, int level);
    // limit bounds the inflated size (0: the declared size, or 16 MiB when none
    // is declared); data that would inflate past it stays compressed (result 4).
    int Decompress(int i, size_t limit = 0);
    int ApplyUnsync(int i);
    int RemoveUnsync(int i);

    // Direct access for the library itself.
    TFrameEntry& Entry(int i);
    const TFrameEntry& Entry(int i) const;
    std::deque<TFrameEntry>& Entries() { return entries; }
    const std::deque<TFrameEntry>& Entries() const { return entries; }
    // Keeps the entry's loaded form before its data is transformed in memory.
    void KeepLoadedForm(int i);
    // Puts the loaded form back into the entry (nothing when it has none).
    void RestoreLoadedForm(int i);

    static bool ValidID(const char id[4]);

private:
    void Check(int i) const;
    void Changed(TFrameEntry& e);
    // A deque: growing never copies the entries already loaded.
    std::deque<TFrameEntry> entries;
};

// One comment frame's content.
struct COMM {
    uint8_t Encoding = 0;
    QString Language;
    QString Description;
    QString Text;
};

class Tid3v2tag {
public:
    Tid3v2tag() = default;
    virtual ~Tid3v2tag();
    Tid3v2tag(const Tid3v2tag&) = delete;
    Tid3v2tag& operator=(const Tid3v2tag&) = delete;

    uint16_t LoadFromFile(const QString& fileName, uint64_t offset);
    // The same on a file the caller has opened for reading (fd; -1 when it
    // could not be opened) after undoing any save of it that ended part way
    // (RecoverTagFile); the caller closes it.
    uint16_t LoadFromDescriptor(const QString& fileName, int fd, uint64_t offset);
    // fileName "=" is the loaded file; version/revision 255 keep the loaded ones;
    // a negative offset is TagOffset for "=", else 0.
    uint16_t SaveToFile(const QString& fileName, uint8_t version, uint8_t revision, int64_t offset);
    // Why the last save failed, in words, when a result code says too little
    // (no room for a new copy of the file, say); empty otherwise.
    QString SaveProblem() const { return saveProblem; }

    uint8_t GetTextFrame(const QString& id, QString& text);
    uint8_t SetTextFrame(const QString& id, const QString& text);
    uint8_t GetComment(COMM& rec, const QString& description, const QString& language);
    // The picture of the first APIC frame that holds a front cover, else of
    // the first readable one: its image bytes and MIME type ("image/jpeg"; a
    // version 2.2 format such as "PNG" as "image/png"). txtNotFound without one.
    uint8_t GetPicture(QByteArray& image, QString& mime);
    uint8_t SetComment(const COMM& rec, const QString& description, const QString& language);

    // Header fields.
    uint8_t Version() const { return version; }
    uint8_t Revision() const { return revision; }
    uint32_t TagSize() const { return tagSize; }
    uint8_t HeaderFlags() const { return headerFlags; }
    uint8_t ExtendedFlags() const { return extendedFlags; }
    uint32_t PaddingSize() const { return paddingSize; }
    void SetPaddingSize(uint32_t v) { paddingSize = v; }
    uint32_t ExtendedHeaderSize() const { return extendedHeaderSize; }
    uint32_t CRC() const { return crc; }
    uint8_t Restrictions() const { return restrictions; }
    void SetRestrictions(uint8_t v) {
        restrictions = v;
        modified = true;
    }
    uint16_t LoadResult() const { return loadResult; }
    // The code the last LoadFromFile returned (whatever it was).
    uint16_t LastLoadCode() const { return lastLoadCode; }
    bool Modified() const { return modified; }
    // Whether the file loaded last may not be saved (read-only or hidden).
    bool FileReadOnly() const {
        if (fileReadOnly < 0) fileReadOnly = id3v2::FileIsReadOnly(fileName) ? 1 : 0;
        return fileReadOnly == 1;
    }
    QString FileName() const { return fileName; }
    uint32_t TagOffset() const { return tagOffset; }
    bool Done() const { return done; }
    uint8_t Progress() const { return progress; }
    QString StatusText() const { return statusText; }
    TFrameIndex& Frames() { return frames; }
    const TFrameIndex& Frames() const { return frames; }

    // Tag-level flags.
    bool Unsynchronisation() const { return headerFlags & 0x80; }
    void SetUnsynchronisation(bool v) { setBit(headerFlags, 0x80, v); }
    bool ExtendedHeader() const { return headerFlags & 0x40; }
    void SetExtendedHeader(bool v) { setBit(headerFlags, 0x40, v); }
    bool Experimental() const { return headerFlags & 0x20; }
    void SetExperimental(bool v) { setBit(headerFlags, 0x20, v); }
    bool Footer() const { return headerFlags & 0x10; }
    void SetFooter(bool v) { setBit(headerFlags, 0x10, v); }
    bool IsUpdate() const { return extendedFlags & 0x40; }
    void SetIsUpdate(bool v) { setBit(extendedFlags, 0x40, v); }
    bool CRCPresent() const { return extendedFlags & 0x20; }
    void SetCRCPresent(bool v) { setBit(extendedFlags, 0x20, v); }
    bool RestrictionsPresent() const { return extendedFlags & 0x10; }
    void SetRestrictionsPresent(bool v) { setBit(extendedFlags, 0x10, v); }

    // Settings.
    bool AcceptNonZeroRevision() const { return acceptNonZeroRevision; }
    void SetAcceptNonZeroRevision(bool v) { acceptNonZeroRevision = v; }
    bool DropUnsupported() const { return dropUnsupported; }
    void SetDropUnsupported(bool v) { dropUnsupported = v; }
    bool AutoFixFrames() const { return autoFixFrames; }
    void SetAutoFixFrames(bool v) { autoFixFrames = v; }
    uint8_t CompressionLevel() const { return compressionLevel; }
    void SetCompressionLevel(uint8_t v) { compressionLevel = v; }
    uint8_t PaddingMode() const { return paddingMode; }
    void SetPaddingMode(uint8_t v) { paddingMode = v; }
    uint32_t PaddingBlock() const { return paddingBlock; }
    void SetPaddingBlock(uint32_t v) { paddingBlock = v; }
    uint32_t PaddingLimit() const { return paddingLimit; }
    void SetPaddingLimit(uint32_t v) { paddingLimit = v; }

    // Called whenever Progress or StatusText change (may be empty).
    std::function<void()> OnProgress;

    // What the text and comment accessors may inflate: at most kInflatePerText
    // bytes for one frame and kInflatePerLoad for all frames of one load. A
    // frame past either stays compressed and reads as undecodable; a save
    // writes it back as it was.
    static constexpr size_t kInflatePerText = size_t(1) << 20;
    static constexpr size_t kInflatePerLoad = size_t(64) << 20;

    // Seams for tests of a save's file steps.
    struct TSaveSeams {
        // The file writer's block with this number, counted from 0 over one
        // save, fails part way as a write error can: all but its last byte
        // is written, then the error (once); -1: none.
        int64_t FailAtBlock = -1;
        // Write the file anew (the way that moves the audio) even where the
        // file system could insert or remove the space in place.
        bool ForceMove = false;
        // The free space the save sees on the file's disk; -1: what the disk says.
        int64_t FreeSpace = -1;
    };
    TSaveSeams Seams;

private:
    friend struct TagLoader;
    friend struct TagSaver;
    void setBit(uint8_t& flags, uint8_t bit, bool v) {
        flags = v ? uint8_t(flags | bit) : uint8_t(flags & ~bit);
        modified = true;
    }
    void report(uint8_t percent, const QString& text);
    // Makes an entry's data plain (no unsync, no compression) for reading;
    // returns 0 or a text result code.
    uint8_t decodeEntry(int i);
    // The file steps of a save: puts the new tag in place of the old one,
    // making or giving back room in front of the audio; undoes what it did
    // when a step fails. Returns 0 or an error code.
    uint16_t writeTag(int fd, const QString& target, const struct stat& st, uint64_t off,
                      uint64_t oldSize, const std::vector<uint8_t>& tag);
    // The save that moves the audio: a new file beside the old one, renamed over it.
    uint16_t replaceFile(int fd, const QString& target, const struct stat& st, uint64_t off,
                         uint64_t oldSize, const std::vector<uint8_t>& tag);
    // Replaces an entry's content by plain data (text and comment setters).
    void setPlainData(int i, const std::vector<uint8_t>& data);
    // Index of the first COMM entry matching, 0 when none.
    int findComment(const QString& description, const QString& language, COMM* rec,
                    uint8_t* textResult);

    uint8_t version = 3;
    size_t inflateLeft = kInflatePerLoad;
    uint8_t revision = 0;
    uint32_t tagSize = 0;
    uint8_t headerFlags = 0;
    uint8_t extendedFlags = 0;
    uint32_t paddingSize = 0;
    uint32_t extendedHeaderSize = 0;
    uint32_t crc = 0;
    uint8_t restrictions = 0;
    uint16_t loadResult = 0;
    uint16_t lastLoadCode = 0;
    bool modified = false;
    mutable int8_t fileReadOnly = -1; // -1: not looked at yet
    QString fileName;
    uint32_t tagOffset = 0;
    bool done = false;
    uint8_t progress = 0;
    QString statusText;
    QString saveProblem;
    TFrameIndex frames;

    bool acceptNonZeroRevision = true;
    bool dropUnsupported = false;
    bool autoFixFrames = true;
    uint8_t compressionLevel = 2;
    uint8_t paddingMode = 1;
    uint32_t paddingBlock = 4096;
    uint32_t paddingLimit = 4096;
};

namespace id3v2 {
// Decodes text from data[start..] (limit 0 = to the end) in an ID3v2 encoding.
// multiLine lets line breaks through. consumed receives the bytes used including
// the terminator. Returns a text result code; malformed input (a control
// character, a bad byte order mark, a lone surrogate, invalid UTF-8) gives
// txtControlChar and an empty text.
uint8_t DecodeText(const uint8_t* data, size_t size, size_t start, size_t limit, uint8_t encoding,
                   bool multiLine, QString& text, size_t* consumed);
// True when every character of text fits ISO-8859-1.
bool IsLatin1(const QString& text);
// The encoding a changed text is written in: 0 (ISO-8859-1) when it fits, else
// 1 (UTF-16 with a byte order mark) in a version 3 tag and 3 (UTF-8) in version 4.
uint8_t TextEncodingFor(const QString& text, uint8_t version);
// The file attributes that forbid saving: read-only (not writable by us) or hidden.
bool FileIsReadOnly(const QString& path);
} // namespace id3v2
