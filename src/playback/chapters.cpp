#include "playback/chapters.h"

#include "playback/mp4chapters.h"
#include "tags/filetags.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <mutex>
#include <numeric>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

namespace {

// A header worth reading is a few megabytes at most (the sample tables of a
// long MP4 book, an ID3v2 tag with its pictures); a file that makes the
// demuxer read more is not read further.
constexpr qint64 kMaxBytesRead = 64ll << 20;
// A file on a share that stopped answering gives up after this.
constexpr int kDeadlineMs = 5000;
constexpr int kIoBufferSize = 32 * 1024;
// Bytes of a title taken from the file; enough for MaxChapterTitle characters.
constexpr int kMaxTitleBytes = 4 * MaxChapterTitle + 16;

// The file as libavformat reads it: through our own handle, so that every
// read and seek is counted and stops at the deadline, at the byte cap, or
// when the caller no longer wants the answer. The MP4 reader that may come
// first spends from the same budget.
struct Input {
    QFile file;
    TChapterBudget budget{kMaxBytesRead, 0, QDeadlineTimer(kDeadlineMs), nullptr};

    bool stopped() const { return budget.Stopped(); }

    static int Read(void* opaque, uint8_t* buf, int size) {
        auto* in = static_cast<Input*>(opaque);
        TChapterBudget& b = in->budget;
        if (in->stopped()) return AVERROR_EXIT;
        if (b.BytesRead >= b.MaxBytes) return AVERROR(EFBIG);
        const qint64 n = in->file.read(reinterpret_cast<char*>(buf),
                                       std::min<qint64>(size, b.MaxBytes - b.BytesRead));
        if (n < 0) return AVERROR(EIO);
        if (n == 0) return AVERROR_EOF;
        b.BytesRead += n;
        return int(n);
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* in = static_cast<Input*>(opaque);
        if (whence & AVSEEK_SIZE) return in->file.size();
        if (in->stopped()) return AVERROR_EXIT;
        int64_t to = -1;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            to = offset;
            break;
        case SEEK_CUR:
            to = in->file.pos() + offset;
            break;
        case SEEK_END:
            to = in->file.size() + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (to < 0 || !in->file.seek(to)) return AVERROR(EIO);
        return to;
    }

    static int Interrupted(void* opaque) { return static_cast<Input*>(opaque)->stopped() ? 1 : 0; }
};

QString AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// libavformat says what it makes of odd files on stderr; the program does not.
void QuietLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

int64_t LengthOf(const AVFormatContext* ctx) {
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        return ChapterTimeMs(ctx->duration, 1, AV_TIME_BASE);
    int64_t longest = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || st->duration == AV_NOPTS_VALUE ||
            st->duration <= 0)
            continue;
        longest =
            std::max(longest, ChapterTimeMs(st->duration, st->time_base.num, st->time_base.den));
    }
    return longest;
}

// A chapter's times as a demuxer gives them, in its time base.
struct Times {
    int64_t start, end;
    int num, den;
};

// A demuxer's chapters as the file's: those with a start, the MaxChapters + 1
// earliest of them, in the demuxer's order. timesOf(i) gives the Times of
// chapter i, titleOf(i) its title.
template <class TimesOf, class TitleOf>
TChapterList ChaptersOf(unsigned count, TimesOf timesOf, TitleOf titleOf) {
    // The earliest ones only: sorting indices costs little, titles are copied
    // for the chapters kept.
    std::vector<unsigned> order;
    order.reserve(count);
    for (unsigned i = 0; i < count; ++i)
        if (timesOf(i).start != AV_NOPTS_VALUE) order.push_back(i);
    auto startOf = [&timesOf](unsigned i) {
        const Times c = timesOf(i);
        return ChapterTimeMs(c.start, c.num, c.den);
    };
    const size_t keep = std::min<size_t>(order.size(), MaxChapters + 1);
    if (keep < order.size()) {
        std::partial_sort(order.begin(), order.begin() + keep, order.end(),
                          [&](unsigned a, unsigned b) {
                              const int64_t sa = startOf(a), sb = startOf(b);
                              return sa != sb ? sa < sb : a < b;
                          });
        order.resize(keep);
        std::sort(order.begin(), order.end()); // back in the file's order
    }
    TChapterList out;
    out.reserve(int(order.size()));
    for (unsigned i : order) {
        const Times c = timesOf(i);
        TChapter ch;
        ch.StartMs = startOf(i);
        ch.EndMs = c.end == AV_NOPTS_VALUE ? -1 : ChapterTimeMs(c.end, c.num, c.den);
        ch.Title = titleOf(i);
        out.append(ch);
    }
    return out;
}

TChapterList ChaptersOf(const AVFormatContext* ctx) {
    return ChaptersOf(
        ctx->nb_chapters,
        [ctx](unsigned i) {
            const AVChapter* c = ctx->chapters[i];
            return Times{c->start, c->end, c->time_base.num, c->time_base.den};
        },
        [ctx](unsigned i) {
            const AVDictionaryEntry* t =
                av_dict_get(ctx->chapters[i]->metadata, "title", nullptr, 0);
            return t ? QString::fromUtf8(t->value, int(qstrnlen(t->value, kMaxTitleBytes)))
                     : QString();
        });
}

TChapterList ChaptersOf(const std::vector<TRawChapter>& list) {
    return ChaptersOf(
        unsigned(list.size()),
        [&list](unsigned i) {
            const TRawChapter& c = list[i];
            return Times{c.Start, c.End, c.Num, c.Den};
        },
        [&list](unsigned i) {
            const QByteArray& t = list[i].Title;
            return QString::fromUtf8(t.constData(), std::min<int>(t.size(), kMaxTitleBytes));
        });
}

// One line, no control characters, at most MaxChapterTitle characters.
QString CleanTitle(const QString& title) {
    QString t = title;
    for (QChar& c : t)
        if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
    t = t.simplified();
    if (t.size() > MaxChapterTitle) {
        int cut = MaxChapterTitle;
        if (t.at(cut - 1).isHighSurrogate()) --cut;
        t = t.left(cut).trimmed();
    }
    return t;
}

} // namespace

int64_t ChapterTimeMs(int64_t value, int num, int den) {
    if (num <= 0 || den <= 0) return 0;
    return av_rescale_q_rnd(value, AVRational{num, den}, AVRational{1, 1000},
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

TChapterRead ReadChapterFile(const QString& path, const std::atomic<bool>* cancel) {
    return ReadChapterFileWith(TChapterReader::Any, path, cancel);
}

TChapterRead ReadChapterFileWith(TChapterReader reader, const QString& path,
                                 const std::atomic<bool>* cancel) {
    TChapterRead result;
    // A fifo or a device would be read for ever.
    if (!QFileInfo(path).isFile()) {
        result.Error = QStringLiteral("Not a file.");
        return result;
    }
    Input in;
    in.budget.Cancel = cancel;
    in.file.setFileName(path);
    if (!in.file.open(QIODevice::ReadOnly)) {
        result.Error = in.file.errorString();
        return result;
    }
    // An MP4 book's header is mostly the sound's sample tables, which
    // libavformat reads whole and the chapters do not need.
    if (reader != TChapterReader::Libavformat) {
        if (const std::optional<TMp4Chapters> mp4 =
                ReadMp4Chapters(in.file, in.budget, MaxChapters + 1, kMaxTitleBytes)) {
            result.Chapters = ChaptersOf(mp4->Chapters);
            result.LengthMs = ChapterTimeMs(mp4->DurationUs, 1, AV_TIME_BASE);
            return result;
        }
        if (reader == TChapterReader::Mp4Boxes) {
            result.Error = QStringLiteral("Left to libavformat.");
            return result;
        }
        if (!in.file.seek(0)) {
            result.Error = in.file.errorString();
            return result;
        }
    }
    QuietLibrary();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 0, &in, &Input::Read,
                                                  nullptr, &Input::Seek)
                             : nullptr;
    AVFormatContext* ctx = io ? avformat_alloc_context() : nullptr;
    if (!ctx) {
        if (io) avio_context_free(&io);
        av_free(buffer);
        result.Error = QStringLiteral("Out of memory.");
        return result;
    }
    io->seekable = AVIO_SEEKABLE_NORMAL;
    ctx->pb = io;
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    ctx->interrupt_callback.callback = &Input::Interrupted;
    ctx->interrupt_callback.opaque = &in;
    AVDictionary* options = nullptr;
    // Edit lists only shift the sound of an MP4 by its encoder's delay, and
    // applying them rebuilds the whole sample index: thirty times the cost of
    // the rest of a long book's header.
    av_dict_set(&options, "ignore_editlist", "1", 0);
    // The name lets the extension settle a file whose first bytes do not (an
    // MP3 behind a large tag).
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    // The header only: no stream analysis, nothing decoded.
    const int opened = avformat_open_input(&ctx, name.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        // avformat_open_input freed the context; the custom I/O stays ours.
        result.Error = AvError(opened);
    } else {
        result.Chapters = ChaptersOf(ctx);
        result.LengthMs = LengthOf(ctx);
        avformat_close_input(&ctx);
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
    return result;
}

TChapterList CleanChapters(TChapterList list, int64_t lengthMs) {
    for (TChapter& c : list)
        c.StartMs = std::max<int64_t>(c.StartMs, 0);
    if (lengthMs > 0)
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [lengthMs](const TChapter& c) { return c.StartMs >= lengthMs; }),
                   list.end());
    std::stable_sort(list.begin(), list.end(),
                     [](const TChapter& a, const TChapter& b) { return a.StartMs < b.StartMs; });
    // Two chapters at one place: the first one listed stays.
    list.erase(
        std::unique(list.begin(), list.end(),
                    [](const TChapter& a, const TChapter& b) { return a.StartMs == b.StartMs; }),
        list.end());
    if (list.size() > MaxChapters) list.resize(MaxChapters);
    for (int i = 0; i < list.size(); ++i) {
        TChapter& c = list[i];
        if (i + 1 < list.size())
            c.EndMs = list[i + 1].StartMs;
        else if (lengthMs > 0)
            c.EndMs = lengthMs;
        else
            c.EndMs = std::max(c.EndMs, c.StartMs);
        c.Title = CleanTitle(c.Title);
        if (c.Title.isEmpty()) c.Title = QStringLiteral("Chapter %1").arg(i + 1);
    }
    if (list.size() == 1 && list.first().StartMs == 0) list.clear();
    return list;
}

TChapterList ReadChapters(const QString& path, int64_t lengthMs) {
    const TChapterRead read = ReadChapterFile(path);
    return CleanChapters(read.Chapters, lengthMs > 0 ? lengthMs : read.LengthMs);
}

QString BookFileTitle(const QString& path) {
    // Through the tag facade: a book of M4A, Opus or FLAC files has titles too.
    const QString title = ReadFileTag(path).Fields.Title.simplified();
    return title.isEmpty() ? QFileInfo(path).completeBaseName() : title;
}
