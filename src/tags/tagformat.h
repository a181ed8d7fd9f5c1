#pragma once
// What kind of tag a file carries, told by its first bytes: an ID3v2 tag or
// MPEG audio (our own ID3v2 library), an MP4 container, an Ogg stream of
// Vorbis, Opus or FLAC, or a native FLAC stream (TagLib). A file whose bytes
// say nothing (empty, unreadable, an unknown container) is judged by its
// extension; a known container of another kind (WAV, MIDI, MPEG video) is
// Foreign: no tag of ours goes into it.

#include <QByteArray>
#include <QString>

enum class TTagFormat { None, Foreign, Id3v2, Mp4, OggVorbis, Opus, OggFlac, Flac };

TTagFormat DetectTagFormat(const QString& path);
// The same judgement on bytes already read: the file's first bytes (head) and
// those found right after a leading ID3v2 tag (afterId3, empty when it has none).
TTagFormat TagFormatOfBytes(const QByteArray& head, const QByteArray& afterId3,
                            const QString& name);
// The bytes TagFormatOfBytes judges, read from a file opened as fd.
void ReadHead(int fd, QByteArray& head, QByteArray& afterId3);
// The size of a leading ID3v2 tag (header and footer included), 0 when head
// does not start with one.
qint64 LeadingId3v2Size(const QByteArray& head);
// The kind of tag: "ID3v2", "MP4", "Ogg Vorbis", "Opus", "Ogg FLAC", "FLAC", "another container"
// (Foreign), or empty for None.
QString TagFormatName(TTagFormat format);
