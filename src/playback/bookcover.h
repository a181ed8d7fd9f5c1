#pragma once
// The cover of the book a file belongs to: the picture embedded in the file
// (ID3v2 APIC, MP4 "covr", a FLAC or Vorbis-comment picture), else an image
// file beside it ("cover.jpg", "cover.png" or "folder.jpg", in any letter
// case) in the file's folder or in its book folder (the folder above a disc
// folder). Only the bytes: what decodes them belongs to the window. An image
// larger than TFileTag::kMaxCoverBytes is no cover.

#include <QByteArray>
#include <QString>

struct TFileTag;

struct TCover {
    QByteArray Bytes;
    QString Mime; // as the file names it, or by the image file's extension
    QString File; // the image file it came from; empty for an embedded picture
    bool IsEmpty() const { return Bytes.isEmpty(); }
};

// tag: the file's tag read with its cover (trCover), when the caller has it.
TCover CoverOf(const QString& audioFile, const TFileTag* tag = nullptr);
// The image file that stands for the book's cover, or empty.
QString CoverFileOf(const QString& audioFile);
// A URL for the cover that other programs can open (the desktop's media
// panels): the image file itself, or for an embedded picture a copy of it in
// the cache folder, named by a hash of its bytes and written once. Empty when
// there is no cover or no copy can be written.
QString CoverArtUrl(const TCover& cover);
