#pragma once
// The tag record: the seven tag fields the program uses, read from and written
// back to a file's ID3v2 tag through the one shared tag object.

#include <QString>

class Tid3v2tag;

struct TMP3Rec {
    QString Artist;
    QString Album;
    QString Track;
    QString Title;
    QString Year;
    QString Genre;
    QString Comment;
    QString FileName; // the path read; empty when no tag could be read
};

// The seven tag fields with their lower-case names, in record order.
struct TTagField {
    const char* Name;
    QString TMP3Rec::*Field;
};
extern const TTagField TagFields[7];

// The shared record and tag object (one each for the whole program).
TMP3Rec& CurrentTag();
Tid3v2tag& TagStore();

// Fills CurrentTag from the file's ID3v2 tag; on failure every field is empty.
// A version 4 tag without TYER gives the year from the start of TDRC.
void ReadTag(const QString& path);
// The same read into a record of the caller's, through a tag object of its own
// (readers that must not disturb the shared record, such as the media controls).
TMP3Rec ReadTagWith(Tid3v2tag& tag, const QString& path);
// Writes the fields of CurrentTag that differ from what ReadTag produced for
// path (reading path's tag again when the tag object holds another file's or
// was saved since); every other frame goes back as it was. A version 4 tag
// keeps its year in TDRC: a changed year replaces the first four digits and
// keeps the date and time after them. Returns the save's result code (256 or more is a
// failure). No message and no player handling: see WriteTag.
int SaveCurrentTag(const QString& path);
// What a failed SaveCurrentTag shows: "Error saving tag info.", followed by the
// cause when the save knows more than its result code says (no room on the
// disk for a new copy of the file, say).
QString SaveFailureMessage();
