#pragma once
// One file's tags, whatever its format: everything that shows or uses tag text
// (descriptions, the author tree, import, the tag editor, renaming, the media
// controls, narrabel-tag) reads and writes them here and never asks which
// format a file has. The back end is chosen by the file's content: our own
// ID3v2 library for MPEG audio (its speed and its crash-safe saves in place),
// TagLib for MP4 (M4B, M4A), Ogg Vorbis, Opus and FLAC. A file no back end
// reads gives empty fields, as an MP3 without a tag does.
//
// A read returns the file's tag by value; the caller changes its fields and
// hands it to SaveFileTag, which writes only the fields that differ from what
// the read gave (what the user was shown), and carries every other item of the
// file through untouched.

#include "tags/filetag.h"

// Reads path's tag. Never throws; a file that cannot be read gives empty
// fields (and Unreadable).
TFileTag ReadFileTag(const QString& path, unsigned options = trFields);

// Writes the changed fields of tag into tag.Path. MP3 saves in place with its
// undo journalled first; the other formats are saved by TagLib into a copy
// beside the file that is synced and renamed over it, so that a kill leaves
// the old file or the new one, never a mix. Owner, mode, covers, chapters,
// every other item and every audio byte stay. Nothing changed: nothing is
// written. A file whose tags could not be read is never written.
TTagSaveResult SaveFileTag(const TFileTag& tag);
