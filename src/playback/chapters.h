#pragma once
// A file's chapters, whatever its format: the QuickTime chapter track and the
// Nero "chpl" list of MP4/M4B, ID3v2 CHAP frames of MP3, CHAPTERxx comments of
// Ogg, Opus and FLAC, and Matroska chapters. This is the one place that knows
// formats (through libavformat, which reads only the file's header here, and
// for MP4 files our own reader of their boxes, mp4chapters.h); callers get a
// clean list in milliseconds.

#include <QString>
#include <QVector>
#include <atomic>
#include <cstdint>

struct TChapter {
    int64_t StartMs = 0;
    int64_t EndMs = -1; // -1: the file does not say
    QString Title;
    bool operator==(const TChapter& o) const {
        return StartMs == o.StartMs && EndMs == o.EndMs && Title == o.Title;
    }
};
using TChapterList = QVector<TChapter>;

// However many a file declares, no more are kept.
constexpr int MaxChapters = 10000;
// A title longer than this (in characters) is cut.
constexpr int MaxChapterTitle = 200;

struct TChapterRead {
    // As the file gives them, in its order (a file with more than MaxChapters
    // gives the MaxChapters + 1 earliest).
    TChapterList Chapters;
    int64_t LengthMs = -1; // the file's own idea of its length; -1 when its header does not say
    QString Error;         // why the file could not be read (empty when it could)
};

// Reads the header of the file at path: bounded in time (a few seconds, less
// once cancel is set), in bytes read and in chapters kept, whatever the file
// declares. Any thread.
TChapterRead ReadChapterFile(const QString& path, const std::atomic<bool>* cancel = nullptr);

// The readers ReadChapterFile chooses from: its own for MP4 files it is sure
// of, else libavformat. One alone, to compare them.
enum class TChapterReader { Any, Mp4Boxes, Libavformat };
TChapterRead ReadChapterFileWith(TChapterReader reader, const QString& path,
                                 const std::atomic<bool>* cancel = nullptr);

// The list as a listener sees it: sorted by start (a negative start counts
// as 0), those at or past the end dropped, one chapter for each start, at most
// MaxChapters, each ending where the next starts and the last at the file's
// end (lengthMs; its own end when the length is unknown), titles on one line
// and at most MaxChapterTitle long, an empty title shown as "Chapter N". A
// lone chapter from the start, the whole file, means none.
TChapterList CleanChapters(TChapterList chapters, int64_t lengthMs);

// Read and cleaned; lengthMs <= 0 takes the file's own length.
TChapterList ReadChapters(const QString& path, int64_t lengthMs);

// A file's title for a list of a book's files: its title tag, else its name
// without the extension.
QString BookFileTitle(const QString& path);

// A time in a time base (num/den seconds) in milliseconds, rounded to the nearest.
int64_t ChapterTimeMs(int64_t value, int num, int den);
