#include "playback/chapternav.h"

#include "playback/bookorder.h"
#include "playback/clocktext.h"
#include "playback/playerdevice.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>
#include <algorithm>

namespace {

const QString kSep = QStringLiteral(" \u00b7 ");

// Reads run one after another on a thread of their own. Never freed: a read
// of a file on a share that stopped answering may still be under way at exit.
QThreadPool* Readers() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return pool;
}

} // namespace

// What was read for one open file: its own chapters, and its book's files
// with their titles and lengths.
struct TChapterNav::Book {
    QString file;
    TChapterRead own;
    QStringList files;        // the book in listening order; at least the file itself
    QVector<int64_t> lengths; // by file; -1 unknown
    QStringList titles;       // by file (only for a book of several files)
};

// One read on the readers' thread. The list that asked lets go of it (and
// calls it off) when it no longer wants the answer; an answer for a list that
// is gone is never posted.
struct TChapterNav::Job {
    std::atomic<bool> cancel{false};
    QMutex lock; // guards owner
    TChapterNav* owner = nullptr;

    void release() {
        cancel = true;
        QMutexLocker guard(&lock);
        owner = nullptr;
    }
};

TChapterNav::TChapterNav(TPlayerDevice& player, QObject* parent) : QObject(parent), mp(player) {}

TChapterNav::~TChapterNav() {
    if (job) job->release();
}

void TChapterNav::Follow(bool closed) {
    if (!mp.IsOpen()) {
        // A jump closes and reopens the file: the list waits for what opens.
        if (!closed || (file.isEmpty() && rows.isEmpty())) return;
        if (job) job->release();
        job.reset();
        file.clear();
        ownFile.clear();
        own = TChapterRead();
        files.clear();
        lengths.clear();
        titles.clear();
        loading = false;
        filesAsChapters = false;
        rows.clear();
        emit RowsChanged();
        updateCurrent();
        return;
    }
    const QString now = mp.FileName();
    if (now != file) {
        file = now;
        // Another file of the same book keeps the book's list meanwhile;
        // anything else has no chapters until they are read.
        if (!(filesAsChapters && files.contains(now)) && !rows.isEmpty()) {
            rows.clear();
            filesAsChapters = false;
            current = -1;
            emit RowsChanged();
        }
        load(now);
    } else if (ownFile == file && lengthOfOpenFile() != cleanedWith) {
        rebuild(); // the player measured the file
    }
    updateCurrent();
}

void TChapterNav::load(const QString& path) {
    if (job) job->release();
    job = std::make_shared<Job>();
    job->owner = this;
    loading = true;
    // What is known of the book already is not read again.
    auto known = std::make_shared<Book>();
    known->files = files;
    known->lengths = lengths;
    known->titles = titles;
    std::shared_ptr<Job> mine = job;
    const std::function<int64_t(const QString&)> measure = MeasureLength;
    Readers()->start([mine, path, known, measure] {
        auto b = std::make_shared<Book>();
        b->file = path;
        b->own = ReadChapterFile(path, &mine->cancel);
        b->files = BookFiles(path);
        if (!b->files.contains(path)) b->files = QStringList{path};
        const bool same = known->files == b->files;
        for (const QString& f : std::as_const(b->files)) {
            if (mine->cancel) return;
            const qsizetype i = b->lengths.size();
            if (same && known->lengths.value(i, -1) >= 0) {
                b->lengths.append(known->lengths[i]);
                b->titles.append(known->titles.value(i));
                continue;
            }
            int64_t length =
                f == path ? b->own.LengthMs : ReadChapterFile(f, &mine->cancel).LengthMs;
            if (length < 0 && measure) length = measure(f);
            b->lengths.append(length);
            // A lone file's title is never shown as a chapter.
            b->titles.append(b->files.size() > 1 ? BookFileTitle(f) : QString());
        }
        QMutexLocker lock(&mine->lock);
        if (TChapterNav* q = mine->owner)
            QMetaObject::invokeMethod(
                q,
                [q, mine, b] {
                    if (q->job == mine) q->loaded(b);
                },
                Qt::QueuedConnection);
    });
}

void TChapterNav::loaded(const std::shared_ptr<const Book>& read) {
    job.reset();
    loading = false;
    if (read->file != file) return;
    ownFile = read->file;
    own = read->own;
    files = read->files;
    lengths = read->lengths;
    titles = read->titles;
    rebuild();
}

int32_t TChapterNav::lengthOfOpenFile() const {
    if (mp.IsOpen() && mp.FileName() == file && !mp.LengthPending() && mp.Length() > 0)
        return mp.Length();
    if (ownFile == file && own.LengthMs > 0)
        return int32_t(std::min<int64_t>(own.LengthMs, INT32_MAX));
    return -1;
}

void TChapterNav::rebuild() {
    if (ownFile != file) return;
    const int32_t length = lengthOfOpenFile();
    cleanedWith = length;
    // The player's length of the open file is the one that counts.
    const qsizetype at = files.indexOf(file);
    if (at >= 0 && at < lengths.size() && length > 0) lengths[at] = length;
    const TChapterList chapters = CleanChapters(own.Chapters, length);
    const QVector<TBookChapter> before = std::exchange(rows, {});
    const bool wasFiles = filesAsChapters;
    filesAsChapters = chapters.isEmpty() && files.size() > 1;
    if (!chapters.isEmpty()) {
        const int64_t offset = BookOffset(file);
        rows.reserve(chapters.size());
        for (const TChapter& c : chapters) {
            TBookChapter row;
            row.File = file;
            row.Start = int32_t(c.StartMs);
            row.Length = int32_t(std::clamp<int64_t>(c.EndMs - c.StartMs, 0, INT32_MAX));
            row.Title = c.Title;
            row.BookStart = offset >= 0 ? offset + c.StartMs : -1;
            rows.append(row);
        }
    } else if (filesAsChapters) {
        int64_t offset = 0;
        for (qsizetype i = 0; i < files.size(); ++i) {
            TBookChapter row;
            row.File = files[i];
            const int64_t len = lengths.value(i, -1);
            row.Length = len >= 0 ? int32_t(std::min<int64_t>(len, INT32_MAX)) : -1;
            row.Title = titles.value(i);
            row.BookStart = offset;
            if (offset >= 0) offset = len >= 0 ? offset + len : -1;
            rows.append(row);
        }
    }
    // The same list again (the next file of a book of files) stays as it is
    // on screen.
    if (rows != before || filesAsChapters != wasFiles) {
        current = -1;
        emit RowsChanged();
    }
    updateCurrent();
}

int TChapterNav::rowAt(int32_t position) const {
    if (rows.isEmpty()) return -1;
    if (filesAsChapters) {
        for (int i = 0; i < rows.size(); ++i)
            if (rows[i].File == file) return i;
        return -1;
    }
    const auto it = std::upper_bound(rows.begin(), rows.end(), position,
                                     [](int32_t p, const TBookChapter& r) { return p < r.Start; });
    return int(it - rows.begin()) - 1;
}

void TChapterNav::updateCurrent() {
    const int now = mp.IsOpen() && mp.FileName() == file ? rowAt(mp.Position()) : -1;
    if (now == current) return;
    current = now;
    emit CurrentChanged(now);
}

QString TChapterNav::CurrentTitle() const {
    return current >= 0 && current < rows.size() ? rows[current].Title : QString();
}

int64_t TChapterNav::BookOffset(const QString& path) const {
    int64_t offset = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (files[i] == path) return offset;
        const int64_t len = lengths.value(i, -1);
        if (len < 0) return -1;
        offset += len;
    }
    return -1;
}

int64_t TChapterNav::BookLength() const {
    if (files.size() < 2) return -1;
    int64_t total = 0;
    for (int64_t len : lengths) {
        if (len < 0) return -1;
        total += len;
    }
    return total;
}

namespace {

// The book's file before or after path; empty at either end.
QString Neighbour(const QStringList& files, const QString& path, int step) {
    const qsizetype i = files.indexOf(path);
    if (i < 0) return QString();
    return files.value(i + step);
}

} // namespace

TChapterNav::TTarget TChapterNav::Next(int32_t position) const {
    if (!file.isEmpty() && !filesAsChapters) {
        const int cur = rowAt(position);
        if (cur + 1 < rows.size()) return {file, rows[cur + 1].Start};
    }
    const QString next = files.contains(file) ? Neighbour(files, file, 1) : NextFileOfBook(file);
    return {next, 0};
}

TChapterNav::TTarget TChapterNav::Previous(int32_t position) const {
    if (file.isEmpty()) return {};
    if (!filesAsChapters && !rows.isEmpty()) {
        const int cur = rowAt(position);
        const int32_t start = cur >= 0 ? rows[cur].Start : 0;
        if (position - start > RestartWithinMs) return {file, start};
        if (cur > 0) return {file, rows[cur - 1].Start};
        if (start > 0) return {file, 0}; // the stretch before the first chapter
    } else if (position > RestartWithinMs) {
        return {file, 0};
    }
    const QStringList book = files.contains(file) ? files : BookFiles(file);
    const QString previous = Neighbour(book, file, -1);
    if (previous.isEmpty()) return {file, 0};
    // That file's last chapter; read here, once, for this step.
    const int64_t length = book == files ? lengths.value(files.indexOf(previous), -1) : -1;
    const TChapterList theirs = ReadChapters(previous, length);
    return {previous, theirs.isEmpty() ? 0 : int32_t(theirs.last().StartMs)};
}

TChapterNav::TTarget TChapterNav::At(int row) const {
    if (row < 0 || row >= rows.size()) return {};
    return {rows[row].File, rows[row].Start};
}

int32_t TChapterNav::ChapterEndAt(int32_t position) const {
    // Rows of a file the player has just left say nothing of the one it has.
    if (filesAsChapters || rows.isEmpty() || !mp.IsOpen() || mp.FileName() != file) return -1;
    const int cur = rowAt(position);
    const int64_t end = cur < 0 ? rows.first().Start : int64_t(rows[cur].Start) + rows[cur].Length;
    const int32_t length = lengthOfOpenFile();
    if (end <= 0 || (length > 0 && end >= length)) return -1;
    return int32_t(end);
}

QString TChapterNav::ClockText(int32_t position, int32_t length, double speed) const {
    QString text;
    const int n = int(rows.size());
    if (current >= 0 && current < n && mp.IsOpen() && mp.FileName() == file) {
        const TBookChapter& c = rows[current];
        text = QStringLiteral("Ch %1/%2").arg(current + 1).arg(n);
        if (!filesAsChapters) {
            const bool hours = c.Length >= 3600000;
            text += QLatin1Char(' ') + FormatClock(position - c.Start, hours) +
                    QStringLiteral(" / ") + FormatClock(c.Length, hours);
        }
        text += kSep;
    }
    text += ::ClockText(position, length, 1.0);
    const int64_t total = BookLength();
    const int64_t offset = BookOffset(file);
    if (total > 0 && offset >= 0) {
        const bool hours = total >= 3600000;
        text += kSep + QStringLiteral("book ") + FormatClock(offset + position, hours) +
                QStringLiteral(" / ") + FormatClock(total, hours);
    }
    if (speed != 1.0) text += QStringLiteral(" (%1x)").arg(speed, 0, 'f', 1);
    return text;
}

QString TChapterNav::Hint() const {
    if (current < 0 || current >= rows.size()) return QString();
    return QStringLiteral("Chapter %1 of %2: %3")
        .arg(current + 1)
        .arg(rows.size())
        .arg(rows[current].Title);
}
