#pragma once
// The tag record, and the ID3v2 side of the tag facade (filetags.h): the seven
// tag fields read from and written back to a file's ID3v2 tag through a tag
// object of the caller's. The program reads and writes tags through the facade
// only; the shared record (CurrentTag, TagStore) stays for the ID3v2 library's
// own tests, which look into the tag object a read leaves behind.

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
// The record of the tag that tag has just loaded from path; cutShort receives
// the fields (bits by TagFields index) whose frame is there but whose text
// could not be decoded in full (malformed, unknown encoding, encrypted).
TMP3Rec FieldsOfLoadedTag(Tid3v2tag& tag, const QString& path, unsigned* cutShort = nullptr);
// Writes the fields of CurrentTag that differ from what ReadTag produced for
// path (reading path's tag again when the tag object holds another file's or
// was saved since); every other frame goes back as it was. A version 4 tag
// keeps its year in TDRC: a changed year replaces the first four digits and
// keeps the date and time after them. Returns the save's result code (256 or more is a
// failure). A file that is not MPEG audio (an MP4, Ogg or FLAC file, a WAV) is
// refused: an ID3v2 tag in front of it would damage it. No message and no
// player handling: see WriteTag.
int SaveCurrentTag(const QString& path);
// Why SaveCurrentTag(path) failed with code, in words for the user: the file
// or its folder is read-only, the file is gone, the disk is full, the tag is
// damaged (with the load's result code), ...
QString SaveFailureCause(const QString& path, int code);

// The same two steps on a tag object of the caller's, which holds path's tag as
// ReadTagWith loaded it: the fields of wanted that differ from shown (what the
// user was shown of that file) are written, nothing else.
int SaveTagFieldsWith(Tid3v2tag& tag, const QString& path, const TMP3Rec& wanted,
                      const TMP3Rec& shown);
QString SaveFailureCauseWith(const Tid3v2tag& tag, const QString& path, int code);
// The cause SaveCurrentTag gives for a file that is not MPEG audio.
QString NotMpegAudioCause(const QString& formatName);
