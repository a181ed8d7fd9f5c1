#pragma once
// A file's tag as the tag facade (filetags.h) returns it: the seven fields,
// what the read gave, and what the read could not do.

#include "tags/mp3.h"
#include "tags/tagformat.h"

#include <QByteArray>
#include <QString>

// The seven fields as bits, in TagFields order: artist 0, album 1, track 2,
// title 3, year 4, genre 5, comment 6.
using TFieldMask = unsigned;
constexpr TFieldMask FieldBit(int index) {
    return 1u << index;
}

struct TFileTag {
    QString Path; // the file, as the caller named it
    TTagFormat Format = TTagFormat::None;
    // The fields as the read gave them (trimmed, the track padded to two
    // characters), for the caller to change. Fields.FileName is empty when no
    // tag could be read.
    TMP3Rec Fields;
    // The fields as the read gave them, kept: a save writes what differs.
    TMP3Rec Read;
    // Fields whose stored text could not be read in full (malformed or
    // encrypted frames): they read as empty or cut short.
    TFieldMask CutShort = 0;
    // The file could not be opened, or its tags are damaged beyond reading.
    bool Unreadable = false;
    // The embedded picture (the front cover, else the first), when asked for
    // and no larger than kMaxCoverBytes; its MIME type as the file names it.
    QByteArray Cover;
    QString CoverMime;

    static constexpr qsizetype kMaxCoverBytes = 16 << 20;
    // The fields the caller changed since the read.
    TFieldMask Changed() const {
        TFieldMask mask = 0;
        for (int k = 0; k < 7; ++k)
            if (Fields.*TagFields[k].Field != Read.*TagFields[k].Field) mask |= FieldBit(k);
        return mask;
    }
};

enum TTagReadOption : unsigned { trFields = 0, trCover = 1 };

struct TTagSaveResult {
    int Code = 0;  // 256 or more: nothing was written (ID3v2 result codes)
    QString Cause; // why, in words for the user, when it failed
    bool Ok() const { return Code < 256; }
};
