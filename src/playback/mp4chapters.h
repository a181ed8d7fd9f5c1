#pragma once
// The chapters of an MP4 file (M4B, M4A, MP4: an ISO media file that starts
// with its "ftyp" box) read from its boxes alone, as libavformat's demuxer of
// Debian 12 (FFmpeg 5.1, read as chapters.cpp opens files) would give them:
// the Nero "chpl" lists and the QuickTime chapter track, combined its way.
// It reads the box headers, the chapter track's tables and titles, and skips
// the sample tables of the sound, which make up most of a long book's header.
// A file it is not sure about is left to libavformat.

#include <QByteArray>
#include <QDeadlineTimer>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

class QFile;

// What reading one file's header may spend, whichever reader reads it.
struct TChapterBudget {
    qint64 MaxBytes = 0;
    qint64 BytesRead = 0;
    QDeadlineTimer Deadline;
    const std::atomic<bool>* Cancel = nullptr;

    bool Stopped() const {
        return Deadline.hasExpired() || (Cancel && Cancel->load(std::memory_order_relaxed));
    }
};

// A chapter as a demuxer lists it: times in its time base (Num/Den seconds),
// kNoTime where it has none, its title as UTF-8 up to its first NUL.
struct TRawChapter {
    static constexpr int64_t kNoTime = INT64_MIN; // AV_NOPTS_VALUE
    int64_t Start = kNoTime;
    int64_t End = kNoTime;
    int Num = 1;
    int Den = 1;
    QByteArray Title;
};

struct TMp4Chapters {
    // In libavformat's order; of a chapter track only as many as can be
    // among the keep earliest.
    std::vector<TRawChapter> Chapters;
    int64_t DurationUs = 0; // the movie header's length, as libavformat rounds it
};

// Reads file (open, any position) within budget: keep is how many chapters
// the caller keeps at most (the earliest), titleBytes how much of a title.
// Nothing when the file is not one it is sure to read as libavformat does,
// or the budget ran out.
std::optional<TMp4Chapters> ReadMp4Chapters(QFile& file, TChapterBudget& budget, int keep,
                                            int titleBytes);
