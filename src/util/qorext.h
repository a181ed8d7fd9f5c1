#pragma once
// Small text, number, path and shell helpers. None keeps state and none fails:
// bad numbers become 0, missing fields become empty.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class QIODevice;

enum FileAttr : unsigned {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faDirectory = 0x10,
    faArchive = 0x20,
};

// An ordered, unsorted string list with text-file load and save.
class TSuperStringList : public QStringList {
public:
    using QStringList::QStringList;
    // Appends the entries of folder matching mask (letter case ignored): regular
    // files (links to them included), never FIFOs, sockets, devices or broken
    // links. With only faArchive in attrs, hidden entries and folders are left out.
    void AddFiles(QString folder, const QString& mask, unsigned attrs, bool withFolder);
    // Lines end at CR, LF or CR LF. Returns false (list untouched) when unreadable.
    bool LoadFromFile(const QString& path);
    // Each string followed by CR LF, written to a temporary file beside path and
    // renamed over it, so a full disk or a crash never leaves the old file cut
    // short. Returns false (the old file untouched, a message in *error) when
    // it cannot be written.
    bool SaveToFile(const QString& path, QString* error = nullptr) const;
    QString Text() const;
    static QStringList SplitLines(const QByteArray& data);
};

// Replaces the file at path with data in one step: a temporary file beside it
// is written and renamed over it, so a full disk, a size limit or a crash never
// leaves the old file cut short. False (the old file untouched, a message in
// *error) when it cannot be written.
bool ReplaceFile(const QString& path, const QByteArray& data, QString* error = nullptr);

int64_t ParseLooseInt(const QString& text);
QString FormatThousands(const QString& text);
QString PadRightTo(const QString& text, int width);
QString PadLeftTo(const QString& text, int width);
QString ZeroPadTo(const QString& text, int width);
QString FieldFromLeft(const QString& text, int n, QChar delim);
QString FieldFromRight(const QString& text, int n, QChar delim);
QString TextBetween(const QString& text, const QString& open, const QString& close);
QString FormatMsDuration(uint32_t ms);
// Minutes and seconds ("mm:ss") of a position, as the time panel shows it.
QString FormatMinSec(int32_t ms);
QString TrimCtl(const QString& text);
// Folder of a kind (4 = documents) ending in "/", or empty.
QString SpecialFolderPath(int kind);
// The extensions (lower case, without ".") of the audio-book containers taken
// besides "mp3": m4b, m4a, aac, opus, ogg, oga, flac.
const QStringList& BookExtensions();
// "mp3" files; audio books (m4b, m4a, aac, opus, ogg, oga, flac, any letter
// case); with the option More formats also wav, avi, mpg, mpeg, mid and midi.
bool IsPlayableFile(const QString& path);
// Last path component ("a/b/c.mp3" -> "c.mp3").
QString ExtractFileName(const QString& path);
// Folder of a path with its trailing "/" ("a/b/c.mp3" -> "a/b/").
QString ExtractFilePath(const QString& path);

// Reads lines of a file no line of which may be longer than maxLineBytes:
// hands each line (without its CR LF) to take, at most maxLines of them; a
// line too long is skipped a bounded piece at a time. take returns false to
// stop. Memory and time stay bounded whatever the file holds.
void ReadBoundedLines(QIODevice& f, int maxLines, int maxLineBytes,
                      const std::function<bool(const QByteArray& line)>& take);

// Extended attributes (access lists among them) of the open file from go to
// the open file to, as far as it takes them.
void CopyExtendedAttributes(int from, int to);
