#pragma once
// The chapters of the book being listened to, following the player: the open
// file's own chapters, or, for a book of several files without chapters of
// their own, its files in listening order. It knows which chapter plays, where
// the next and previous ones start, and what the time panel says; reading
// happens off the window's thread. A chapter is a place in a file: bookmarks,
// places and the resume point stay a file and a position in it.

#include "playback/chapters.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>
#include <memory>

class TPlayerDevice;

// One row of the chapter list.
struct TBookChapter {
    QString File;
    int32_t Start = 0;   // in File's own time
    int32_t Length = -1; // -1: not known yet
    QString Title;
    int64_t BookStart = -1; // from the book's start; -1 while an earlier file's length is unknown
    bool operator==(const TBookChapter& o) const {
        return File == o.File && Start == o.Start && Length == o.Length && Title == o.Title &&
               BookStart == o.BookStart;
    }
};

class TChapterNav : public QObject {
    Q_OBJECT
public:
    // Within this much of a chapter's start, Previous goes to the chapter before.
    static constexpr int32_t RestartWithinMs = 3000;

    explicit TChapterNav(TPlayerDevice& player, QObject* parent = nullptr);
    ~TChapterNav() override;

    // The length of a file whose header does not tell it (an MPEG file without
    // a frame count); called off the window's thread. -1: unknown.
    std::function<int64_t(const QString&)> MeasureLength;

    // Brings the list and the current chapter in step with the player: after
    // it opened a file, went on into the next, or moved. closed: a player with
    // nothing open means no chapters (the file box was emptied, the file
    // failed); otherwise the list waits for the next file.
    void Follow(bool closed = false);
    // The files of the book were read (or the open file has chapters of its own).
    bool Loaded() const { return !loading; }

    const QVector<TBookChapter>& Rows() const { return rows; }
    bool FilesAsChapters() const { return filesAsChapters; }
    // The open file has chapters of its own.
    bool OwnChapters() const { return !rows.isEmpty() && !filesAsChapters; }
    // The row playing; -1 when none (no chapters, or before the first one).
    int Current() const { return current; }
    QString CurrentTitle() const;
    // Where the book's file of that path starts in the book; -1 when unknown.
    int64_t BookOffset(const QString& file) const;
    // The whole book's length; -1 unless every file's is known.
    int64_t BookLength() const;

    struct TTarget {
        QString File; // empty: nowhere to go
        int32_t Position = 0;
    };
    // The next chapter's start from position (in the open file): the next
    // file of the book after the last chapter.
    TTarget Next(int32_t position) const;
    // The start of the chapter playing when more than RestartWithinMs into
    // it, else the start of the one before (the last chapter of the book's
    // previous file before the first).
    TTarget Previous(int32_t position) const;
    TTarget At(int row) const;
    // Where the chapter playing at position ends within the open file; -1 when
    // it ends with the file.
    int32_t ChapterEndAt(int32_t position) const;

    // The time panel: the chapter ("Ch 3/12 4:10 / 22:31"), the file's time
    // and the book's time where it differs from the file's, then the speed.
    QString ClockText(int32_t position, int32_t length, double speed) const;
    // "Chapter 3 of 12: Title"; empty without chapters.
    QString Hint() const;

signals:
    void RowsChanged();
    void CurrentChanged(int row);

private:
    struct Job;
    struct Book;
    void load(const QString& file);
    void loaded(const std::shared_ptr<const Book>& book);
    void rebuild();
    void updateCurrent();
    int rowAt(int32_t position) const;
    int32_t lengthOfOpenFile() const;

    TPlayerDevice& mp;
    std::shared_ptr<Job> job;
    QString file;    // the open file the rows are for
    QString ownFile; // the file own was read from
    TChapterRead own;
    // The book the open file belongs to, in listening order, with each file's
    // length (-1 unknown) and title.
    QStringList files;
    QVector<int64_t> lengths;
    QStringList titles;
    int32_t cleanedWith = -2; // the open file's length the rows were made with
    bool loading = false;
    bool filesAsChapters = false;
    QVector<TBookChapter> rows;
    int current = -1;
};
