#pragma once
// New file names composed from tag fields: four slots choose the fields, a
// delimiter joins the non-empty ones, and the extension is appended.

#include "tags/mp3.h"

#include <QString>

struct TNamePattern {
    // Item indexes of the slot lists: 0 artist, 1 album, 2 track, 3 title, 4 "-".
    int Slots[4] = {0, 1, 2, 3};
    QString Delim = QStringLiteral("-"); // used whole, may be empty or longer
};

// A file's tag as names are composed from it, and which of the pattern fields
// (bits 1 << ffArtist, ffAlbum, ffTrack, ffTitle) could not be read in full
// (TFileTag::CutShort: malformed, in an unknown encoding, or encrypted).
struct TNameSource {
    TNameSource(const TMP3Rec& tag = TMP3Rec(), unsigned cutShort = 0)
        : Tag(tag), CutShort(cutShort) {}
    TMP3Rec Tag;
    unsigned CutShort;
};

// Whether a name composed with pattern takes any of the fields in cutShort.
bool UsesCutShortField(const TNamePattern& pattern, unsigned cutShort);

// Joins the non-empty values with the delimiter; "audio_" when all are empty;
// then "." and the extension.
QString JoinNameFields(const QString (&values)[4], const QString& delim, const QString& ext);

// The new name of a file whose tag is tag (name only, no folder). A track
// "n/total" gives n; "/" and NUL, which no name here may hold, become "-"; a
// name longer than a folder entry may be (255 bytes) loses the end of the part
// before the extension.
QString ComposeName(const TMP3Rec& tag, const TNamePattern& pattern, const QString& ext);

// The pattern itself as a name, for showing what a mass rename will do:
// "Artist/Author-Album/Book Title-Track/Seq-Track Title.mp3".
QString ComposePatternName(const TNamePattern& pattern, const QString& ext);

// A name that names an entry of its own folder: not empty, no "/" and no NUL,
// and not "." or "..". Composed names come from tags and may hold anything.
bool IsAllowedFileName(const QString& name);
