// narrabel-tag read FILE
// narrabel-tag write FILE [--artist T] [--album T] [--track T] [--title T]
//                         [--year T] [--genre T] [--comment T]
// Texts are UTF-8, in the arguments and in the JSON printed. MP3 files go
// through our ID3v2 library (the JSON lists its frames); M4B, M4A, Ogg, Opus
// and FLAC files through the same tag facade as the program (no frames).
#include "recovery/recovery.h"
#include "tags/filetags.h"
#include "tags/id3v2/id3v2.h"
#include "tags/mp3.h"
#include "util/qorext.h"

#include <QFileInfo>
#include <QString>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fputs("usage: narrabel-tag read FILE\n"
               "       narrabel-tag write FILE [--artist T] [--album T] [--track T] [--title T]\n"
               "                               [--year T] [--genre T] [--comment T]\n",
               stderr);
    return 2;
}

// A JSON string literal.
std::string Json(const QString& s) {
    std::string out = "\"";
    for (const char c : s.toStdString()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (uint8_t(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(uint8_t(c)));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// The load, the frame list and the record as JSON. Written as it goes: a tag
// may hold millions of frames.
int Read(const QString& path) {
    Tid3v2tag tag;
    const TMP3Rec r = ReadTagWith(tag, path);
    std::printf("{\n    \"format\": \"ID3v2\",\n    \"result\": %d,\n    \"version\": %d,\n"
                "    \"revision\": %d,\n    \"tagSize\": %lu,\n    \"padding\": %lu,\n"
                "    \"frames\": [",
                int(tag.LastLoadCode()), int(tag.Version()), int(tag.Revision()),
                static_cast<unsigned long>(tag.TagSize()),
                static_cast<unsigned long>(tag.PaddingSize()));
    // Formatted by hand into one buffer: printf per frame would take most of the time.
    std::vector<char> buf(1 << 16);
    size_t used = 0;
    auto put = [&](const char* p, size_t n) {
        std::memcpy(buf.data() + used, p, n);
        used += n;
    };
    auto number = [&](unsigned long v) {
        char digits[24];
        size_t n = 0;
        do {
            digits[sizeof digits - ++n] = char('0' + v % 10);
            v /= 10;
        } while (v);
        put(digits + sizeof digits - n, n);
    };
    static const char open[] = ",\n        {\"id\": \"";
    static const char size[] = "\", \"size\": ";
    static const char status[] = ", \"statusFlags\": ";
    static const char format[] = ", \"formatFlags\": ";
    bool first = true;
    for (const TFrameEntry& e : tag.Frames().Entries()) {
        if (used > buf.size() - 256) {
            std::fwrite(buf.data(), 1, used, stdout);
            used = 0;
        }
        // The first entry goes without the comma.
        put(open + (first ? 1 : 0), sizeof open - (first ? 2 : 1));
        first = false;
        put(e.ID, 4);
        put(size, sizeof size - 1);
        number(e.Data.size());
        put(status, sizeof status - 1);
        number(e.StoredFlags[fbStatus]);
        put(format, sizeof format - 1);
        number(e.StoredFlags[fbFormat]);
        put("}", 1);
    }
    std::fwrite(buf.data(), 1, used, stdout);
    std::printf("\n    ]");
    for (const TTagField& f : TagFields)
        std::printf(",\n    \"%s\": %s", f.Name, Json(r.*f.Field).c_str());
    std::printf("\n}\n");
    return tag.LastLoadCode() < 256 ? 0 : 1;
}

// Files of the other formats: the format and the record; result 256 (and
// exit 1) when the file or its tags could not be read.
int ReadOther(const TFileTag& t) {
    const int result = t.Unreadable ? id3ErrNoFile : 0;
    std::printf("{\n    \"format\": %s,\n    \"result\": %d,\n    \"version\": 0,\n"
                "    \"revision\": 0,\n    \"tagSize\": 0,\n    \"padding\": 0,\n"
                "    \"frames\": [\n    ]",
                Json(TagFormatName(t.Format)).c_str(), result);
    for (const TTagField& f : TagFields)
        std::printf(",\n    \"%s\": %s", f.Name, Json(t.Fields.*f.Field).c_str());
    std::printf("\n}\n");
    return result < 256 ? 0 : 1;
}

// The fields given on the command line into r; false on a wrong argument.
bool TakeFields(TMP3Rec& r, int argc, char** argv) {
    for (int k = 0; k < argc; ++k) {
        bool known = false;
        for (const TTagField& f : TagFields) {
            if (std::strncmp(argv[k], "--", 2) != 0 || std::strcmp(argv[k] + 2, f.Name) != 0)
                continue;
            if (k + 1 >= argc) return false;
            r.*f.Field = QString::fromUtf8(argv[++k]);
            known = true;
            break;
        }
        if (!known) return false;
    }
    return true;
}

int Report(int rc, const QString& cause) {
    std::printf("%d\n", rc);
    if (rc >= 256) {
        std::fprintf(stderr, "Error saving tag info.\n%s\n", cause.toUtf8().constData());
        return 1;
    }
    return 0;
}

int WriteOther(const QString& path, int argc, char** argv) {
    TFileTag t = ReadFileTag(path);
    if (!TakeFields(t.Fields, argc, argv)) return Usage();
    const TTagSaveResult r = SaveFileTag(t);
    return Report(r.Code, r.Cause);
}

int Write(const QString& path, int argc, char** argv) {
    Tid3v2tag tag;
    const TMP3Rec shown = ReadTagWith(tag, path);
    TMP3Rec wanted = shown;
    if (!TakeFields(wanted, argc, argv)) return Usage();
    const int rc = SaveTagFieldsWith(tag, path, wanted, shown);
    return Report(rc, rc >= 256 ? SaveFailureCauseWith(tag, path, rc) : QString());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const QString path = QString::fromUtf8(argv[2]);
    // A save of this file that a kill or a power cut cut short is undone
    // first: the tool's own (its journal beside the file) and the program's.
    const QString dataFolder = SpecialFolderPath(4) + QStringLiteral("Narrabel/");
    const QString recovered =
        RecoverFile(path, QFileInfo(dataFolder).isDir() ? dataFolder : QString());
    if (!recovered.isEmpty()) std::fprintf(stderr, "%s\n", recovered.toUtf8().constData());
    // MP3 (and what is nothing else: an ID3v2 tag read, or refused) through
    // the ID3v2 library, the other formats through the facade.
    const TTagFormat format = DetectTagFormat(path);
    const bool id3 =
        format == TTagFormat::Id3v2 || format == TTagFormat::None || format == TTagFormat::Foreign;
    if (std::strcmp(argv[1], "read") == 0 && argc == 3)
        return id3 ? Read(path) : ReadOther(ReadFileTag(path));
    if (std::strcmp(argv[1], "write") == 0) {
        // Only MPEG audio takes an ID3v2 tag; every other file is written by
        // the facade, which refuses what it cannot write.
        if (format == TTagFormat::Id3v2) return Write(path, argc - 3, argv + 3);
        return WriteOther(path, argc - 3, argv + 3);
    }
    return Usage();
}
