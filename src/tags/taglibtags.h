#pragma once
// The TagLib side of the tag facade: MP4 atoms and Vorbis comments (Ogg
// Vorbis, Opus, Ogg FLAC, FLAC) as the seven fields, embedded pictures, and
// saves on a copy of the file.

#include "tags/filetag.h"

// Fills tag (Path and Format set) from the file. Reads are bounded: no more
// than kReadBudget bytes are read from the file, whatever its atoms or pages
// declare; a file that asks for more is taken as unreadable.
void ReadTagLibFile(TFileTag& tag, unsigned options);
// The same on a regular file of size bytes opened for reading as fd.
void ReadTagLibDescriptor(TFileTag& tag, int fd, qint64 size, unsigned options);
TTagSaveResult SaveTagLibFile(const TFileTag& tag);

// Reads of the same on bytes in memory (the fuzz target's way in).
void ReadTagLibBytes(TFileTag& tag, const QByteArray& data, unsigned options);

constexpr qint64 kReadBudget = qint64(64) << 20;
