#include "playback/mediaplayer.h"

#include "playback/boostlimiter.h"
#include "playback/pipelines.h"
#include "util/errors.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <gst/audio/audio.h>
#include <gst/audio/streamvolume.h>
#include <gst/gst.h>
#include <mutex>
#include <utility>

namespace {

const char* const kNoDevice = "No MCI device open";

// playbin's flag bits (GstPlayFlags is not in a public header).
constexpr guint kPlayFlagAudio = 1u << 1;

// Opening prerolls the whole decoder chain; a soundfont load for MIDI can take
// a moment, a stuck sound server must not hang the window for long.
constexpr GstClockTime kOpenTimeout = 5 * GST_SECOND;
constexpr GstClockTime kSeekTimeout = 5 * GST_SECOND;
// A state change or seek that has not come back by then (the output is stuck)
// gives the pipeline up: the window waits no longer.
constexpr int kOpenWaitMs = 5500;
constexpr int kCommandWaitMs = 5500;
// A seek while playing that has not prerolled by then is taken as done.
constexpr int kSeekSettleMs = 2000;
// A sound server that accepts a connection and then says nothing would block
// the output for good; it is asked first, briefly.
constexpr int kServerAnswerMs = 1000;
// A playing file is looked at every kStallLookMs; a place that has not moved
// for kStuckLooks looks is a stall whatever the clock says.
constexpr int kStallLookMs = 500;
constexpr int kStuckLooks = 5;
// When the player goes, pipelines still being stopped get this long.
constexpr int kDrainMs = 2000;

// A playbin for sound only, floating reference sunk; nullptr when GStreamer
// has none.
GstElement* NewAudioPlaybin() {
    GstElement* bin = gst_element_factory_make("playbin", nullptr);
    if (!bin) return nullptr;
    gst_object_ref_sink(bin);
    // Sound only: a video file must never open a window of its own.
    g_object_set(bin, "flags", kPlayFlagAudio, nullptr);
    // playbin still weighs video and subtitle sinks for any such stream it
    // meets (some crash without a display, directfb for one): give it sinks
    // that render nothing.
    for (const char* property : {"video-sink", "text-sink"}) {
        if (GstElement* sink = gst_element_factory_make("fakesink", nullptr))
            g_object_set(bin, property, sink, nullptr);
    }
    return bin;
}

// What the audio filter's probe reaches: the pipeline's own limiter.
using LimiterLink = std::shared_ptr<TBoostLimiter>;

void FreeLimiterLink(gpointer data) {
    delete static_cast<LimiterLink*>(data);
}

// Boosts and limits the samples leaving the speed change, in place (16-bit:
// the filter's converter fixes the format); learns their rate and channels
// from the stream's caps.
GstPadProbeReturn OnFilteredSound(GstPad*, GstPadProbeInfo* info, gpointer data) {
    TBoostLimiter& limiter = **static_cast<LimiterLink*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        GstCaps* caps = nullptr;
        GstAudioInfo audio;
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            gst_event_parse_caps(event, &caps);
            if (caps && gst_audio_info_from_caps(&audio, caps))
                limiter.SetFormat(GST_AUDIO_INFO_RATE(&audio), GST_AUDIO_INFO_CHANNELS(&audio));
        }
        return GST_PAD_PROBE_OK;
    }
    if (limiter.Idle()) return GST_PAD_PROBE_OK; // no boost: the sound passes untouched
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
        limiter.Process(reinterpret_cast<int16_t*>(map.data),
                        map.size / (sizeof(int16_t) * size_t(limiter.Channels())));
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

// playbin's audio filter: the speed change (pitch kept), then the boost and
// its limiter. On 16-bit samples (the sound server's own default format): the
// speed change's search for the best overlap costs much less than on floats.
// Without scaletempo the speed stays as recorded; nullptr when
// GStreamer lacks even the converter.
GstElement* NewAudioFilter(const LimiterLink& limiter) {
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* format = gst_element_factory_make("capsfilter", nullptr);
    if (!convert || !format) {
        if (convert) gst_object_unref(gst_object_ref_sink(convert));
        if (format) gst_object_unref(gst_object_ref_sink(format));
        return gst_element_factory_make("scaletempo", nullptr);
    }
    GstCaps* caps =
        gst_caps_from_string("audio/x-raw,format=" GST_AUDIO_NE(S16) ",layout=interleaved");
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);
    GstElement* bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), convert, format, nullptr);
    gst_element_link(convert, format);
    GstElement* last = format;
    if (GstElement* tempo = gst_element_factory_make("scaletempo", nullptr)) {
        // Splices every 60 ms of sound with a 6 ms cross-fade, searched over
        // 14 ms: the default fade and search, spliced half as often (as other
        // players' stretchers do for speech), which halves the search's cost.
        g_object_set(tempo, "stride", guint(60), "overlap", 0.1, nullptr);
        gst_bin_add(GST_BIN(bin), tempo);
        gst_element_link(format, tempo);
        last = tempo;
    }
    GstPad* in = gst_element_get_static_pad(convert, "sink");
    GstPad* out = gst_element_get_static_pad(last, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", in));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_pad_add_probe(
        out, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &OnFilteredSound, new LimiterLink(limiter), &FreeLimiterLink);
    gst_object_unref(in);
    gst_object_unref(out);
    return bin;
}

// A local file's URI for playbin; empty, with GStreamer's reason, when it has none.
QByteArray FileUri(const QString& path, QString* why = nullptr) {
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(
        QFile::encodeName(QFileInfo(path).absoluteFilePath()).constData(), &err);
    QByteArray result;
    if (uri) {
        result = uri;
        g_free(uri);
    } else if (why) {
        *why = QString::fromUtf8(err ? err->message : "Invalid file name");
    }
    if (err) g_error_free(err);
    return result;
}

// A short silent MP3 behind an ID3v2 tag: half a second of 128 kbit/s frames.
QByteArray SilentMp3() {
    QByteArray frame(417, '\0');
    const uchar header[4] = {0xFF, 0xFB, 0x90, 0x64};
    std::memcpy(frame.data(), header, 4);
    const QByteArray title = QByteArray("TIT2") + QByteArray("\0\0\0\x02\0\0\0x", 8);
    return QByteArray("ID3\x03\0\0\0\0\0", 9) + char(title.size()) + title + frame.repeated(20);
}

// GStreamer's first pipeline of a run loads the type finders, the tag reader,
// the parser and the decoder, which costs the first file a user opens a good
// part of a second. One silent stream prerolled in the background right after
// start does that work instead, in turn with the pipelines being stopped. Its
// output renders nothing: a second sound output starting and stopping beside
// the first file's cut that file's sound for a moment.
void WarmUpOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QByteArray uri = "data:audio/mpeg;base64," + SilentMp3().toBase64();
        pipelines::Post([uri] {
            GstElement* bin = NewAudioPlaybin();
            if (!bin) return;
            if (GstElement* sink = gst_element_factory_make("fakesink", nullptr))
                g_object_set(bin, "audio-sink", sink, nullptr);
            g_object_set(bin, "uri", uri.constData(), nullptr);
            if (gst_element_set_state(bin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE)
                gst_element_get_state(bin, nullptr, nullptr, kOpenTimeout);
            gst_element_set_state(bin, GST_STATE_NULL);
            gst_object_unref(bin);
        });
    });
}

// ---- MPEG audio frames ------------------------------------------------------

struct FrameHeader {
    int version = 0; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    int layer = 0;   // 3 = Layer I, 2 = Layer II, 1 = Layer III (header coding)
    int sampleRate = 0;
    int samples = 0;
    int bytes = 0;
    int kbps = 0;
    bool mono = false;
};

bool ParseHeader(const uchar* p, FrameHeader& h) {
    const uint32_t v =
        (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    if ((v & 0xFFE00000u) != 0xFFE00000u) return false;
    const int version = (v >> 19) & 3, layer = (v >> 17) & 3, brIdx = (v >> 12) & 15,
              srIdx = (v >> 10) & 3, pad = (v >> 9) & 1;
    if (version == 1 || layer == 0 || brIdx == 0 || brIdx == 15 || srIdx == 3) return false;
    static const int rates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int br1[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};    // L3
    static const int br2[2][15] = {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}, // L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};     // L2, L3
    const int layerNo = 4 - layer;                                           // 1, 2 or 3
    const int kbps = version == 3 ? br1[layerNo - 1][brIdx] : br2[layerNo == 1 ? 0 : 1][brIdx];
    h.version = version;
    h.layer = layer;
    h.kbps = kbps;
    h.sampleRate = rates[version][srIdx];
    h.mono = ((v >> 6) & 3) == 3;
    const int64_t bps = int64_t(kbps) * 1000;
    if (layerNo == 1) {
        h.samples = 384;
        h.bytes = int((12 * bps / h.sampleRate + pad) * 4);
    } else if (layerNo == 2 || version == 3) {
        h.samples = 1152;
        h.bytes = int(144 * bps / h.sampleRate + pad);
    } else {
        h.samples = 576;
        h.bytes = int(72 * bps / h.sampleRate + pad);
    }
    return h.bytes >= 4;
}

bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

uint32_t BigEndian32(const uchar* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// A file read through a bounded window rather than mapped: a file that shrinks
// meanwhile (a tag saved in place, another program cutting it) only ends the
// scan early, where touching mapped pages past its new end would kill the
// program (SIGBUS). Each refill keeps kKeepBehind bytes before the asked
// place, more than a frame chain looks ahead, so the scan's own place is never
// read twice.
class WindowedFile {
public:
    WindowedFile(QFile& file, qint64 window)
        : file(file), window(std::max<qint64>(window, 1)),
          chunk(std::min(this->window, kFirstRead)) {}
    // Bytes [pos, pos + n) of the file, valid until the next call; nullptr when
    // the file ends before them.
    const uchar* at(qint64 pos, qint64 n) {
        if (pos >= start && pos + n <= start + buffer.size())
            return reinterpret_cast<const uchar*>(buffer.constData()) + (pos - start);
        return refill(pos, n);
    }
    // A read came up short of what the file's size promised: it shrank.
    bool cutShort = false;

private:
    static constexpr qint64 kKeepBehind = 64 * 1024;
    static constexpr qint64 kFirstRead = 256 * 1024; // a look at the start reads little

    const uchar* refill(qint64 pos, qint64 n) {
        // Reads grow only while the scan moves on through the file: the look
        // at the ID3v1 tag at the end leaves the first read at the start small.
        const bool onward = !buffer.isEmpty() && pos >= start;
        start = std::max<qint64>(0, pos - kKeepBehind);
        const qint64 want = (pos - start) + std::max(n, chunk);
        if (onward) chunk = std::min(window, chunk * 2);
        buffer.resize(want);
        qint64 got = file.seek(start) ? file.read(buffer.data(), want) : -1;
        buffer.resize(std::max<qint64>(got, 0));
        if (pos + n <= start + buffer.size())
            return reinterpret_cast<const uchar*>(buffer.constData()) + (pos - start);
        cutShort = true; // the scanner asks only for bytes within the size it was given
        return nullptr;
    }

    QFile& file;
    const qint64 window;
    qint64 chunk;
    QByteArray buffer;
    qint64 start = 0;
};

// A frame header at pos that is followed by `chain` more frames of the same
// stream (or by the end of the data) is taken as real, not a stray sync pattern.
bool RealFrameAt(WindowedFile& data, qint64 pos, qint64 end, int chain, FrameHeader& first) {
    const uchar* p0 = pos + 4 > end ? nullptr : data.at(pos, 4);
    if (!p0 || !ParseHeader(p0, first)) return false;
    qint64 p = pos + first.bytes;
    for (int i = 0; i < chain; ++i) {
        if (p == end) return true;
        FrameHeader h;
        const uchar* next = p + 4 > end ? nullptr : data.at(p, 4);
        if (!next || !ParseHeader(next, h) || !SameStream(first, h)) return false;
        p += h.bytes;
    }
    return true;
}

struct MpegLength {
    qint64 size = -1;
    QDateTime modified;
    int64_t ms = -1;
    bool fromHeader = false;
};

// What a count that was called off returns.
constexpr int64_t kCancelled = -2;
// What a look at the start of a file returns when its frames must be counted.
constexpr int64_t kNeedsCount = -3;
// Bytes a count reads at a time.
constexpr qint64 kScanWindow = 4 * 1024 * 1024;

// With headEstimate, looks at the start only: a file whose frames must be
// counted gives kNeedsCount, and an estimate from its first frame's bit rate.
// A file that turns out shorter than size is counted as far as it goes.
int64_t ScanMpegAudio(WindowedFile& data, qint64 size, bool* fromHeader,
                      const std::atomic<bool>* cancel, int64_t* headEstimate) {
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    *fromHeader = false;
    qint64 end = size;
    // An ID3v1 tag closes the file.
    if (end >= 128)
        if (const uchar* t = data.at(end - 128, 3); t && std::memcmp(t, "TAG", 3) == 0) end -= 128;
    qint64 pos = 0;
    // ID3v2 tags (possibly more than one) come first.
    while (pos + 10 <= size) {
        const uchar* t = data.at(pos, 10);
        if (!t || t[0] != 'I' || t[1] != 'D' || t[2] != '3') break;
        const qint64 tagSize = (qint64(t[6] & 0x7f) << 21) | (qint64(t[7] & 0x7f) << 14) |
                               (qint64(t[8] & 0x7f) << 7) | qint64(t[9] & 0x7f);
        pos += 10 + tagSize + ((t[5] & 0x10) ? 10 : 0);
    }
    // The ID3v1 tag counts only when it lies behind the ID3v2 tags.
    if (end != size && end < pos) end = size;

    // The audio must start near the tag: a file that is something else with a
    // stray sync pattern somewhere is not MPEG audio.
    FrameHeader first;
    const qint64 searchEnd = std::min(end, pos + 65536);
    while (pos < searchEnd && !data.cutShort && !RealFrameAt(data, pos, end, 3, first))
        ++pos;
    if (pos >= searchEnd || data.cutShort) return -1;

    // An encoder's summary frame (Xing/Info or VBRI) counts the frames for us;
    // it carries no sound of its own.
    const int sideInfo = first.version == 3 ? (first.mono ? 17 : 32) : (first.mono ? 9 : 17);
    const qint64 xing = pos + 4 + sideInfo;
    const qint64 vbri = pos + 36;
    bool summary = false;
    if (const uchar* f = xing + 12 <= end ? data.at(xing, 12) : nullptr;
        f && (std::memcmp(f, "Xing", 4) == 0 || std::memcmp(f, "Info", 4) == 0)) {
        summary = true;
        if (BigEndian32(f + 4) & 1) {
            *fromHeader = true;
            return int64_t(BigEndian32(f + 8)) * first.samples * 1000 / first.sampleRate;
        }
    } else if (const uchar* v = vbri + 18 <= end ? data.at(vbri, 18) : nullptr;
               v && std::memcmp(v, "VBRI", 4) == 0) {
        *fromHeader = true;
        return int64_t(BigEndian32(v + 14)) * first.samples * 1000 / first.sampleRate;
    }
    if (summary) pos += first.bytes;
    if (headEstimate) {
        *headEstimate = (end - pos) * 8 / first.kbps; // bits per millisecond
        return kNeedsCount;
    }

    // No frame count: count every frame. A damaged stretch is skipped up to
    // the next real frame, as the decoder does; a frame cut off by the end of
    // the file is not played.
    int64_t samples = 0;
    uint32_t frames = 0;
    while (pos + 4 <= end) {
        if ((++frames & 0xFFF) == 0 && cancelled()) return kCancelled;
        const uchar* p = data.at(pos, 4);
        if (!p) break;
        FrameHeader h;
        if (ParseHeader(p, h) && SameStream(first, h)) {
            if (pos + h.bytes > end) break;
            samples += h.samples;
            pos += h.bytes;
            continue;
        }
        ++pos;
        while (pos + 4 <= end) {
            if ((pos & 0xFFFFF) == 0 && cancelled()) return kCancelled;
            const uchar* b = data.at(pos, 1);
            if (!b || data.cutShort) break;
            FrameHeader r;
            if (*b == 0xFF && RealFrameAt(data, pos, end, 2, r) && SameStream(first, r)) break;
            ++pos;
        }
        if (data.cutShort) break;
    }
    return samples * 1000 / first.sampleRate;
}

// Lengths already counted, by file (and its size and time, so a changed file
// is counted again). Never freed: a count may still be finishing at exit.
QBasicMutex lengthCacheLock;
QHash<QString, MpegLength>& LengthCache() {
    static auto* cache = new QHash<QString, MpegLength>;
    return *cache;
}

bool CachedMpegLength(const QFileInfo& fi, int64_t* ms, bool* fromHeader) {
    QMutexLocker lock(&lengthCacheLock);
    const auto it = LengthCache().constFind(fi.absoluteFilePath());
    if (it == LengthCache().constEnd() || it->size != fi.size() ||
        it->modified != fi.lastModified())
        return false;
    *ms = it->ms;
    *fromHeader = it->fromHeader;
    return true;
}

// True when the file once at oldAbs (of that size and time) is at newAbs now.
bool RenamedTo(const QString& oldAbs, const QString& newAbs, qint64 size,
               const QDateTime& modified) {
    if (oldAbs == newAbs || QFileInfo::exists(oldAbs)) return false;
    const QFileInfo fi(newAbs);
    return fi.isFile() && fi.size() == size && fi.lastModified() == modified;
}

// A file renamed under the program keeps its counted length.
void MoveCachedLength(const QString& oldAbs, const QString& newAbs) {
    QMutexLocker lock(&lengthCacheLock);
    auto it = LengthCache().find(oldAbs);
    if (it == LengthCache().end() || !RenamedTo(oldAbs, newAbs, it->size, it->modified)) return;
    const MpegLength entry = *it;
    LengthCache().erase(it);
    LengthCache().insert(newAbs, entry);
}

// Counts (or looks up) the length; kCancelled when cancel was set meanwhile.
// With headEstimate, as ScanMpegAudio. A window other than 0 reads that many
// bytes at a time and neither looks up nor keeps the answer.
int64_t MeasureMpegLength(const QString& path, bool* fromHeader, const std::atomic<bool>* cancel,
                          int64_t* headEstimate = nullptr, qint64 window = 0) {
    *fromHeader = false;
    const QFileInfo fi(path);
    if (!fi.isFile()) return -1;
    int64_t ms = -1;
    if (window == 0 && CachedMpegLength(fi, &ms, fromHeader)) return ms;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 4) return -1;
    WindowedFile data(file, window > 0 ? window : kScanWindow);
    ms = ScanMpegAudio(data, file.size(), fromHeader, cancel, headEstimate);
    // A file cut short while it was read is counted again when next asked.
    if (ms == kCancelled || ms == kNeedsCount || window != 0 || data.cutShort) return ms;
    QMutexLocker lock(&lengthCacheLock);
    LengthCache().insert(fi.absoluteFilePath(),
                         MpegLength{fi.size(), fi.lastModified(), ms, *fromHeader});
    return ms;
}

} // namespace

int64_t TMediaPlayer::MpegAudioLengthMs(const QString& path, bool* fromHeader, qint64 window) {
    bool header = false;
    const int64_t ms =
        MeasureMpegLength(path, &header, nullptr, nullptr, std::max<qint64>(window, 0));
    if (fromHeader) *fromHeader = header;
    return ms;
}

// One count of a file's frames on a pool thread. The player that asked for it
// lets go (and calls it off) when it no longer wants the answer; an answer for
// a player that is gone is never posted.
struct TMediaPlayer::LengthWalk {
    QString path; // what is counted
    // The file's name now, which follows a rename, with its size and time at
    // the start; the player's thread alone uses these.
    QString name;
    qint64 size = -1;
    QDateTime modified;
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    QMutex lock; // guards owner
    TMediaPlayer* owner = nullptr;

    void release() {
        cancel = true;
        QMutexLocker guard(&lock);
        owner = nullptr;
    }
};

// ---- the device ---------------------------------------------------------------

struct TMediaPlayer::Impl {
    // What a pipeline's callbacks (on GStreamer's threads) reach: the device
    // while the pipeline is its own, nothing once it was let go (the device
    // itself may be gone by then).
    struct Link {
        std::mutex lock;
        Impl* impl = nullptr;
    };

    TMediaPlayer* q = nullptr;
    // The open file's pipeline; a fresh one for every open (the one before is
    // stopped and freed elsewhere). nullptr when none, or after the output
    // stopped answering.
    GstElement* playbin = nullptr;
    std::shared_ptr<Link> link;
    QString fileName;
    bool open = false;
    int mode = mpNotReady;
    bool atEnd = false;
    int32_t length = 0;
    int32_t lastPosition = 0;
    bool hasStartPos = false;
    int32_t startPos = 0;
    QString lastError;
    // The open file's frames are still being counted; length is an estimate.
    bool lengthPending = false;
    std::shared_ptr<LengthWalk> walk;
    double rate = 1.0;
    bool rateApplied = true; // the playing segment runs at `rate`
    double streamVolume = 1.0;
    bool volumeSet = false; // the program set the stream's level this run
    double boostDb = 0;
    // The boost and limiter in the open file's pipeline (each pipeline has its own).
    LimiterLink limiter;

    // Watches a playing file for a place that stands still (see watchStall).
    QTimer* stallWatch = nullptr;
    int32_t watchedPosition = -1;
    int stillLooks = 0;
    bool restartedHere = false; // this stall was met with a restart already

    // The stop point (SetStopPoint): -1 none. stopPending: the pipeline's
    // segment has yet to be given it (the next play seeks). atStop: stopped
    // there; Position stays there and Play goes on from it. segmentStops: the
    // playing segment ends at it, so its end of stream is no end of the file
    // and playbin must not go on into the next file there.
    int32_t stopAt = -1;
    bool stopPending = false;
    bool atStop = false;
    std::atomic<bool> segmentStops{false};

    // A seek while playing, not yet prerolled at its place: until then the
    // position is the place asked for (the pipeline reports the old segment
    // for a few milliseconds), so quick skips add up.
    std::atomic<bool> seekPending{false};
    QDeadlineTimer seekSettles;

    // Shared with GStreamer's streaming threads, which report through the bus.
    std::atomic<quint64> generation{1};
    QMutex errorLock;
    QString openError;

    // Going on into the next file in the same pipeline, so that the sound
    // output never stops between files. playbin asks for the next file
    // (about-to-finish) a little before the end; the new file's first data
    // reaching the output (a stream-start of another group) is the switch.
    QMutex nextLock;
    QByteArray nextUri; // what playbin gets when it asks
    QString nextPath;
    QString switchingTo; // given to playbin, not yet sounding
    bool haveGroup = false;
    guint group = 0;

    static void FreeLink(gpointer data) { delete static_cast<std::shared_ptr<Link>*>(data); }
    static void FreeLinkClosure(gpointer data, GClosure*) { FreeLink(data); }

    static void OnAboutToFinish(GstElement* bin, gpointer data) {
        const std::shared_ptr<Link>& link = *static_cast<std::shared_ptr<Link>*>(data);
        std::lock_guard<std::mutex> guard(link->lock);
        Impl* self = link->impl;
        if (!self || self->segmentStops) return;
        QMutexLocker lock(&self->nextLock);
        if (self->nextUri.isEmpty() || !self->switchingTo.isEmpty()) return;
        g_object_set(bin, "uri", self->nextUri.constData(), nullptr);
        self->switchingTo = self->nextPath;
    }

    void clearNext() {
        QMutexLocker lock(&nextLock);
        nextUri.clear();
        nextPath.clear();
        switchingTo.clear();
        haveGroup = false;
    }

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer data) {
        // Nobody pops the bus: keep nothing queued on it.
        const std::shared_ptr<Link>& link = *static_cast<std::shared_ptr<Link>*>(data);
        std::lock_guard<std::mutex> guard(link->lock);
        Impl* self = link->impl;
        if (!self) return GST_BUS_DROP;
        const quint64 gen = self->generation.load();
        TMediaPlayer* q = self->q;
        switch (GST_MESSAGE_TYPE(msg)) {
        case GST_MESSAGE_EOS:
            QMetaObject::invokeMethod(
                q, [q, gen] { q->onEndOfStream(gen); }, Qt::QueuedConnection);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            self->seekPending = false;
            break;
        case GST_MESSAGE_STREAM_START: {
            guint id = 0;
            if (!gst_message_parse_group_id(msg, &id)) break;
            QString to;
            {
                QMutexLocker lock(&self->nextLock);
                if (!self->haveGroup) {
                    self->haveGroup = true;
                } else if (id != self->group && !self->switchingTo.isEmpty()) {
                    to = self->switchingTo;
                    self->switchingTo.clear();
                    self->nextUri.clear();
                    self->nextPath.clear();
                }
                self->group = id;
            }
            if (!to.isEmpty())
                QMetaObject::invokeMethod(
                    q, [q, gen, to] { q->onMovedOn(gen, to); }, Qt::QueuedConnection);
            break;
        }
        case GST_MESSAGE_ERROR: {
            GError* err = nullptr;
            gst_message_parse_error(msg, &err, nullptr);
            const QString text =
                QString::fromUtf8(err && err->message ? err->message : "Unknown error");
            if (err) g_error_free(err);
            {
                QMutexLocker lock(&self->errorLock);
                if (self->openError.isEmpty()) self->openError = text;
            }
            QMetaObject::invokeMethod(
                q, [q, gen, text] { q->onStreamError(gen, text); }, Qt::QueuedConnection);
            break;
        }
        default:
            break;
        }
        return GST_BUS_DROP;
    }

    // A fresh pipeline for the next file (any pipeline before was let go).
    void makePlaybin() {
        playbin = NewAudioPlaybin();
        if (!playbin) return;
        // Keeps the pitch when the listening speed changes; then the boost.
        limiter = std::make_shared<TBoostLimiter>();
        limiter->SetBoostDb(boostDb);
        if (GstElement* filter = NewAudioFilter(limiter))
            g_object_set(playbin, "audio-filter", filter, nullptr);
        link = std::make_shared<Link>();
        link->impl = this;
        GstBus* bus = gst_element_get_bus(playbin);
        gst_bus_set_sync_handler(bus, &Impl::OnBusMessage, new std::shared_ptr<Link>(link),
                                 &Impl::FreeLink);
        gst_object_unref(bus);
        g_signal_connect_data(playbin, "about-to-finish", G_CALLBACK(&Impl::OnAboutToFinish),
                              new std::shared_ptr<Link>(link), &Impl::FreeLinkClosure,
                              GConnectFlags(0));
        applyVolume();
    }

    // From now on the pipeline's callbacks reach nothing, and reports already
    // queued from it are stale.
    void unlink() {
        if (link) {
            std::lock_guard<std::mutex> guard(link->lock);
            link->impl = nullptr;
        }
        link.reset();
        seekPending = false;
        ++generation;
    }

    // The pipeline is stopped and freed elsewhere, in turn; never waited for.
    void letGo() {
        if (!playbin) return;
        unlink();
        pipelines::LetGo(std::exchange(playbin, nullptr));
    }

    // A job that did not come back holds the pipeline: only our reference goes.
    void abandon() {
        if (!playbin) return;
        unlink();
        gst_object_unref(std::exchange(playbin, nullptr));
    }

    // Runs work on the pipeline off the window's thread, waiting a bounded
    // time. False when there is no pipeline, or the output did not answer in
    // time: the pipeline is then given up and the device stops, saying why.
    bool bounded(std::function<void(GstElement*)> work, int waitMs = kCommandWaitMs) {
        if (!playbin) return false;
        if (pipelines::RunBounded(playbin, std::move(work), waitMs)) return true;
        abandon();
        lastError = QStringLiteral("The sound output does not answer.");
        mode = mpStopped;
        return false;
    }

    // A state change; FAILURE when the output did not answer.
    GstStateChangeReturn setState(GstState state) {
        auto ret = std::make_shared<GstStateChangeReturn>(GST_STATE_CHANGE_FAILURE);
        if (!bounded([ret, state](GstElement* bin) { *ret = gst_element_set_state(bin, state); }))
            return GST_STATE_CHANGE_FAILURE;
        return *ret;
    }

    // The sound server may give a new stream a level it remembered (a fade cut
    // short by a kill, say): once set this run, the program's own level holds.
    void applyVolume() {
        if (!playbin || !volumeSet || !GST_IS_STREAM_VOLUME(playbin)) return;
        gst_stream_volume_set_volume(GST_STREAM_VOLUME(playbin), GST_STREAM_VOLUME_FORMAT_CUBIC,
                                     streamVolume);
    }

    // Streams of sound the prerolled file offers (an image or a text has none).
    int audioStreams() const {
        gint n = 0;
        if (playbin) g_object_get(playbin, "n-audio", &n, nullptr);
        return n;
    }

    // Prerolls (PAUSED) off the window's thread: an audio output whose server
    // hangs blocks the state change itself, sometimes for half a minute. After
    // the time is up the stuck pipeline is left to its job, and the next open
    // makes a fresh one. ASYNC means the time ran out.
    GstStateChangeReturn preroll() {
        auto ret = std::make_shared<GstStateChangeReturn>(GST_STATE_CHANGE_FAILURE);
        const bool inTime = pipelines::RunBounded(
            playbin,
            [ret](GstElement* bin) {
                GstStateChangeReturn r = gst_element_set_state(bin, GST_STATE_PAUSED);
                if (r != GST_STATE_CHANGE_FAILURE)
                    r = gst_element_get_state(bin, nullptr, nullptr, kOpenTimeout);
                *ret = r;
            },
            kOpenWaitMs);
        if (!inTime) {
            abandon();
            return GST_STATE_CHANGE_ASYNC;
        }
        // Back in time, yet still not prerolled: stuck all the same.
        if (*ret == GST_STATE_CHANGE_ASYNC) letGo();
        return *ret;
    }

    // The output's clock counts the sound played since it was made, so it can
    // never be ahead of the system's monotonic clock (time since boot); one a
    // day ahead holds a wild time.
    bool clockGoneWild() const {
        if (!playbin) return false;
        GstClock* clock = gst_pipeline_get_clock(GST_PIPELINE(playbin));
        if (!clock) return false;
        const GstClockTime now = gst_clock_get_time(clock);
        gst_object_unref(clock);
        const GstClockTime monotonic = GstClockTime(g_get_monotonic_time()) * GST_USECOND;
        return GST_CLOCK_TIME_IS_VALID(now) && now > monotonic + 24 * 3600 * GST_SECOND;
    }

    // A seek's stop for a segment from ms: the stop point when it lies ahead.
    // A segment that had one and needs none is given "none" explicitly (a seek
    // without a stop keeps the old one).
    struct SeekStop {
        GstSeekType type;
        gint64 at;
    };
    SeekStop stopFor(int32_t ms) {
        stopPending = false;
        atStop = false;
        const bool ahead = stopAt >= 0 && stopAt > ms;
        const bool had = segmentStops.exchange(ahead);
        if (ahead) return {GST_SEEK_TYPE_SET, gint64(stopAt) * GST_MSECOND};
        return {had ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE, gint64(GST_CLOCK_TIME_NONE)};
    }

    void forgetStop() {
        stopAt = -1;
        stopPending = atStop = false;
        segmentStops = false;
    }

    int32_t clampToLength(int32_t ms) const {
        if (ms < 0) ms = 0;
        if (length > 0 && !lengthPending && ms > length) ms = length; // an estimate holds nothing
        return ms;
    }

    // Flushing, sample-accurate seek; waits (bounded) until the new place is
    // ready. pauseFirst: a playing pipeline is paused in the same step.
    bool seekTo(int32_t ms, bool pauseFirst = false) {
        ms = clampToLength(ms);
        rateApplied = true;
        const double r = rate;
        const SeekStop stop = stopFor(ms);
        auto ok = std::make_shared<bool>(false);
        const bool answered = bounded([ok, ms, r, pauseFirst, stop](GstElement* bin) {
            if (pauseFirst) gst_element_set_state(bin, GST_STATE_PAUSED);
            *ok = gst_element_seek(bin, r, GST_FORMAT_TIME,
                                   GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                   GST_SEEK_TYPE_SET, gint64(ms) * GST_MSECOND, stop.type, stop.at);
            gst_element_get_state(bin, nullptr, nullptr, kSeekTimeout);
        });
        seekPending = false;
        atEnd = false;
        lastPosition = ms;
        return answered && *ok;
    }

    // A flushing seek in PLAYING: the output stays open and the pipeline
    // prerolls at the new place by itself; nothing waits for that.
    void seekPlaying(int32_t ms) {
        ms = clampToLength(ms);
        rateApplied = true;
        atEnd = false;
        lastPosition = ms;
        seekPending = true;
        seekSettles.setRemainingTime(kSeekSettleMs);
        const double r = rate;
        const SeekStop stop = stopFor(ms);
        auto ok = std::make_shared<bool>(false);
        if (!bounded([ok, ms, r, stop](GstElement* bin) {
                *ok = gst_element_seek(bin, r, GST_FORMAT_TIME,
                                       GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                       GST_SEEK_TYPE_SET, gint64(ms) * GST_MSECOND, stop.type,
                                       stop.at);
            }) ||
            !*ok)
            seekPending = false;
    }

    // Counted frames win; a frame count in the file's header or a file that is
    // not MPEG audio leaves the length to GStreamer's own idea of it (reported,
    // -1 when GStreamer was not asked or did not know).
    static int32_t lengthFrom(int64_t mpeg, bool fromHeader, int32_t reported) {
        if (mpeg >= 0 && !fromHeader) return int32_t(std::min<int64_t>(mpeg, INT32_MAX));
        return reported >= 0 ? reported : int32_t(std::clamp<int64_t>(mpeg, 0, INT32_MAX));
    }

    void dropWalk() {
        if (walk) walk->release();
        walk.reset();
    }

    int32_t queryDuration() {
        gint64 ns = -1;
        // Some demuxers learn the duration a moment after preroll.
        for (int i = 0; i < 10 && playbin; ++i) {
            if (gst_element_query_duration(playbin, GST_FORMAT_TIME, &ns) && ns >= 0) break;
            ns = -1;
            g_usleep(20000);
        }
        return ns < 0 ? -1 : int32_t(std::min<gint64>(ns / GST_MSECOND, INT32_MAX));
    }
};

TMediaPlayer::TMediaPlayer(QObject* parent) : TPlayerDevice(parent), d(std::make_unique<Impl>()) {
    d->q = this;
    pipelines::Init();
    WarmUpOnce();
    d->stallWatch = new QTimer(this);
    d->stallWatch->setInterval(kStallLookMs);
    connect(d->stallWatch, &QTimer::timeout, this, &TMediaPlayer::watchStall);
}

TMediaPlayer::~TMediaPlayer() {
    d->dropWalk();
    d->letGo();
    // Pipelines of this player still stopping are waited for a while, so
    // that players made one after another do not pile them up.
    pipelines::Drain(kDrainMs);
}

void TMediaPlayer::SetFileName(const QString& path) {
    // A file the program renamed keeps its counted length, and a count of it
    // under way goes on: the next jump reopens it by its new name.
    if (!d->fileName.isEmpty() && !path.isEmpty() && path != d->fileName) {
        const QString oldAbs = QFileInfo(d->fileName).absoluteFilePath();
        const QString newAbs = QFileInfo(path).absoluteFilePath();
        MoveCachedLength(oldAbs, newAbs);
        if (d->walk && d->walk->name == oldAbs &&
            RenamedTo(oldAbs, newAbs, d->walk->size, d->walk->modified))
            d->walk->name = newAbs;
    }
    d->fileName = path;
}
QString TMediaPlayer::FileName() const {
    return d->fileName;
}
bool TMediaPlayer::IsOpen() const {
    return d->open;
}
QString TMediaPlayer::LastError() const {
    return d->lastError;
}

void TMediaPlayer::requireOpen() const {
    if (!d->open) throw NarrabelError(QString::fromLatin1(kNoDevice));
}

void TMediaPlayer::Open() {
    try {
        openFile();
    } catch (...) {
        // Nothing was opened to start there: the next file plays from its own start.
        d->hasStartPos = false;
        throw;
    }
}

void TMediaPlayer::openFile() {
    Close();
    if (d->fileName.isEmpty()) throw NarrabelError(QStringLiteral("No file name given."));
    {
        QMutexLocker lock(&d->errorLock);
        d->openError.clear();
    }
    d->lastError.clear();
    const QString abs = QFileInfo(d->fileName).absoluteFilePath();
    QString why;
    const QByteArray uri = FileUri(abs, &why);
    if (uri.isEmpty()) throw NarrabelError(why);
    if (pipelines::SoundServerStuck(kServerAnswerMs))
        throw NarrabelError(QStringLiteral("The sound server does not answer."));
    pipelines::KeepSoundOutput(kServerAnswerMs);
    d->letGo();
    d->makePlaybin();
    if (!d->playbin)
        throw NarrabelError(QStringLiteral("GStreamer's playbin element is not installed."));
    d->clearNext();
    g_object_set(d->playbin, "uri", uri.constData(), nullptr);

    const GstStateChangeReturn ret = d->preroll();
    QString failure;
    {
        QMutexLocker lock(&d->errorLock);
        failure = d->openError;
    }
    if (ret != GST_STATE_CHANGE_SUCCESS && ret != GST_STATE_CHANGE_NO_PREROLL) {
        if (failure.isEmpty())
            failure = ret == GST_STATE_CHANGE_ASYNC ? QStringLiteral("Timed out opening the file.")
                                                    : QStringLiteral("Cannot open the file.");
        d->letGo();
        throw NarrabelError(failure);
    }
    if (!failure.isEmpty()) {
        d->letGo();
        throw NarrabelError(failure);
    }
    // A file whose streams hold no sound would "play" in silence for ever.
    if (d->audioStreams() <= 0) {
        d->letGo();
        throw NarrabelError(QStringLiteral("The file holds no sound."));
    }
    d->applyVolume();

    d->open = true;
    d->mode = mpStopped;
    d->atEnd = false;
    d->forgetStop();
    d->lastPosition = 0;
    d->rateApplied = d->rate == 1.0;
    d->stallWatch->start();

    measureLength(abs);
}

void TMediaPlayer::measureLength(const QString& abs) {
    // GStreamer only estimates an MP3 without a frame count from its first
    // frames' bit rate; the frames are counted instead, off this thread, as a
    // long book takes a while (more on a network share). Such an estimate
    // stands in until then.
    bool fromHeader = false;
    int64_t estimate = 0;
    d->lengthPending = false;
    const int64_t mpeg = MeasureMpegLength(abs, &fromHeader, nullptr, &estimate);
    if (mpeg != kNeedsCount) {
        const int32_t reported = mpeg >= 0 && !fromHeader ? -1 : d->queryDuration();
        d->length = Impl::lengthFrom(mpeg, fromHeader, reported);
        if (d->walk && d->walk->name != abs) d->dropWalk();
        emit LengthKnown(d->length);
    } else {
        d->length = int32_t(std::clamp<int64_t>(estimate, 0, INT32_MAX));
        d->lengthPending = true;
        startLengthWalk(abs);
    }
}

void TMediaPlayer::SetNextFile(const QString& path) {
    const QByteArray uri = path.isEmpty() ? QByteArray() : FileUri(path);
    QMutexLocker lock(&d->nextLock);
    d->nextUri = uri;
    d->nextPath = uri.isEmpty() ? QString() : path;
}

void TMediaPlayer::onMovedOn(quint64 generation, const QString& path) {
    if (generation != d->generation.load() || !d->open) return;
    const QString previous = d->fileName;
    d->fileName = path;
    d->atEnd = false;
    d->forgetStop(); // it was the file before's
    d->lastPosition = 0;
    d->lastError.clear();
    // A next file without sound stops here, as an open of it would have failed.
    if (d->audioStreams() <= 0) {
        d->lastError = QStringLiteral("The file holds no sound.");
        d->setState(GST_STATE_PAUSED);
        d->mode = mpStopped;
        return;
    }
    // The new file's own segment runs at 1.0: the listening speed is set again.
    if (d->rate != 1.0 && d->mode == mpPlaying) d->seekPlaying(0);
    measureLength(QFileInfo(path).absoluteFilePath());
    emit MovedOn(previous, path);
}

void TMediaPlayer::startLengthWalk(const QString& path) {
    // Every jump reopens the file: a count of this file that is under way goes on.
    if (d->walk && d->walk->name == path && !d->walk->finished) return;
    d->dropWalk();
    auto walk = std::make_shared<LengthWalk>();
    walk->path = path;
    walk->name = path;
    const QFileInfo fi(path);
    walk->size = fi.size();
    walk->modified = fi.lastModified();
    walk->owner = this;
    d->walk = walk;
    QThreadPool::globalInstance()->start([walk] {
        bool fromHeader = false;
        const int64_t ms = MeasureMpegLength(walk->path, &fromHeader, &walk->cancel);
        walk->finished = true;
        if (ms == kCancelled) return;
        QMutexLocker lock(&walk->lock);
        if (TMediaPlayer* q = walk->owner)
            QMetaObject::invokeMethod(
                q, [q, walk, ms, fromHeader] { q->onLengthWalked(walk.get(), ms, fromHeader); },
                Qt::QueuedConnection);
    });
}

void TMediaPlayer::onLengthWalked(const LengthWalk* walk, int64_t ms, bool fromHeader) {
    // Renamed while it was counted: the count is kept under the new name.
    if (walk->name != walk->path) MoveCachedLength(walk->path, walk->name);
    // A file closed or replaced meanwhile keeps what it has.
    if (walk != d->walk.get() || !d->open || !d->lengthPending) return;
    d->lengthPending = false;
    // GStreamer's idea of such a file is only its estimate: it is not asked.
    d->length = Impl::lengthFrom(ms, fromHeader, -1);
    emit LengthKnown(d->length);
}

void TMediaPlayer::Close() {
    if (!d->open) return;
    d->stallWatch->stop();
    d->letGo();
    d->clearNext();
    d->lengthPending = false;
    d->forgetStop();
    d->open = false;
    d->mode = mpNotReady;
    d->atEnd = false;
    d->length = 0;
    d->lastPosition = 0;
}

void TMediaPlayer::Play() {
    requireOpen();
    if (d->hasStartPos) {
        d->hasStartPos = false;
        d->seekTo(d->startPos);
    } else if (d->atEnd) {
        return; // nothing left to play until the position moves
    } else if (!d->rateApplied || d->atStop || d->stopPending) {
        d->seekTo(Position()); // also clears the stop point's end of stream
    }
    if (!d->playbin) // the output stopped answering
        throw NarrabelError(d->lastError.isEmpty() ? QStringLiteral("Cannot play the file.")
                                                   : d->lastError);
    if (d->setState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        QString text;
        {
            QMutexLocker lock(&d->errorLock);
            text = d->openError;
        }
        if (text.isEmpty()) text = d->lastError;
        throw NarrabelError(text.isEmpty() ? QStringLiteral("Cannot play the file.") : text);
    }
    d->mode = mpPlaying;
}

void TMediaPlayer::Pause() {
    requireOpen();
    if (d->mode == mpPlaying) {
        d->lastPosition = Position();
        if (d->setState(GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) d->mode = mpPaused;
    } else if (d->mode == mpPaused) {
        if (d->stopPending) d->seekTo(Position());
        if (d->setState(GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) d->mode = mpPlaying;
    }
}

void TMediaPlayer::Resume() {
    requireOpen();
    if (d->mode == mpPaused) {
        if (d->stopPending) d->seekTo(Position());
        if (d->setState(GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) d->mode = mpPlaying;
    } else {
        Play();
    }
}

int32_t TMediaPlayer::Position() const {
    if (!d->open) return 0;
    if (d->atEnd) return d->length;
    if (d->atStop) return d->lastPosition;
    if (d->seekPending) {
        if (!d->seekSettles.hasExpired()) return d->lastPosition;
        d->seekPending = false;
    }
    gint64 ns = -1;
    if (d->playbin && gst_element_query_position(d->playbin, GST_FORMAT_TIME, &ns) && ns >= 0) {
        int32_t ms = int32_t(std::min<gint64>(ns / GST_MSECOND, INT32_MAX));
        if (d->length > 0 && !d->lengthPending) ms = std::min(ms, d->length);
        d->lastPosition = ms;
    }
    return d->lastPosition;
}

void TMediaPlayer::SetPosition(int32_t ms) {
    requireOpen();
    d->seekTo(ms, d->mode == mpPlaying);
    d->mode = mpStopped;
}

void TMediaPlayer::Seek(int32_t ms) {
    requireOpen();
    if (d->mode == mpPlaying)
        d->seekPlaying(ms);
    else
        SetPosition(ms);
}

void TMediaPlayer::SetStartPos(int32_t ms) {
    d->hasStartPos = true;
    d->startPos = ms;
}

int32_t TMediaPlayer::Length() const {
    requireOpen();
    return d->length;
}

bool TMediaPlayer::LengthPending() const {
    return d->open && d->lengthPending;
}

int TMediaPlayer::Mode() const {
    return d->open ? d->mode : int(mpNotReady);
}

void TMediaPlayer::onEndOfStream(quint64 generation) {
    if (generation != d->generation.load() || !d->open) return;
    if (d->segmentStops) {
        // The stop point, not the end of the file: stopped there, and it is
        // forgotten (the segment still ends there: the next seek says none).
        const int32_t at = d->stopAt;
        d->stopAt = -1;
        d->stopPending = false;
        d->setState(GST_STATE_PAUSED);
        d->mode = mpStopped;
        d->lastPosition = at;
        d->atStop = true;
        emit StopPointReached(at);
        return;
    }
    // Stay prerolled at the end, like a stopped device, without holding the
    // sound output running.
    if (d->length <= 0) d->length = Position();
    d->setState(GST_STATE_PAUSED);
    d->mode = mpStopped;
    d->atEnd = true;
    emit Finished();
}

void TMediaPlayer::onStreamError(quint64 generation, const QString& message) {
    if (generation != d->generation.load() || !d->open) return;
    {
        // The file it was going on into is the one that failed.
        QMutexLocker lock(&d->nextLock);
        if (!d->switchingTo.isEmpty()) {
            d->fileName = d->switchingTo;
            d->switchingTo.clear();
        }
    }
    d->lastPosition = Position();
    d->setState(GST_STATE_PAUSED);
    d->lastError = message;
    d->mode = mpStopped;
}

// The sound output can be left playing in silence with its clock standing
// still: under load, a pause that lands while the output is starting up gets
// a wild time from the PulseAudio stream, and the stream never plays again.
// Only a fresh pipeline mends it: the file is opened in one and plays on from
// its place, once per stall.
void TMediaPlayer::watchStall() {
    if (d->mode != mpPlaying || d->atEnd) {
        d->watchedPosition = -1;
        d->stillLooks = 0;
        return;
    }
    const int32_t at = Position();
    if (at != d->watchedPosition) {
        d->watchedPosition = at;
        d->stillLooks = 0;
        d->restartedHere = false;
    } else {
        ++d->stillLooks;
    }
    if (d->restartedHere) return;
    // The wild clock is this fault for certain and never mends: it is met at
    // the first look (seen after quick flushing seeks on a loaded machine). A
    // machine too busy to feed the sound stalls it for a moment, and a slow
    // network share, so a place that merely stands still is a stuck pipeline
    // only after longer. A sound server that does not answer stalls every
    // output alike.
    if (!d->clockGoneWild() && d->stillLooks < kStuckLooks) return;
    d->stillLooks = 0;
    d->restartedHere = true; // once per stall: the server is asked once too
    if (pipelines::SoundServerStuck(kServerAnswerMs)) return;
    restartAt(at);
}

void TMediaPlayer::restartAt(int32_t at) {
    {
        // The file playing is the one to open again, not one it was about to go on into.
        QMutexLocker lock(&d->nextLock);
        d->switchingTo.clear();
        d->haveGroup = false;
    }
    // The wild time stays with the output's clock for the pipeline's life.
    d->letGo();
    d->makePlaybin();
    if (!d->playbin) {
        d->open = false;
        d->mode = mpNotReady;
        d->lastError = QStringLiteral("GStreamer's playbin element is not installed.");
        return;
    }
    g_object_set(d->playbin, "uri", FileUri(d->fileName).constData(), nullptr);
    const GstStateChangeReturn ret = d->preroll();
    if (ret != GST_STATE_CHANGE_SUCCESS && ret != GST_STATE_CHANGE_NO_PREROLL) {
        d->lastError = QStringLiteral("The sound output stopped and could not be restarted.");
        d->lastPosition = at;
        d->mode = mpStopped;
        return;
    }
    d->seekTo(at);
    if (d->playbin) d->setState(GST_STATE_PLAYING);
}

void TMediaPlayer::SetRate(double rate) {
    rate = std::clamp(rate, MinRate, MaxRate);
    if (rate == d->rate) return;
    d->rate = rate;
    d->rateApplied = false;
    // A playing or paused file changes speed where it stands; a stopped one
    // when it next plays. A playing one is not paused for it.
    if (!d->open || d->atEnd || (d->mode != mpPlaying && d->mode != mpPaused)) return;
    const int32_t at = Position();
    if (d->mode == mpPlaying)
        d->seekPlaying(at);
    else
        d->seekTo(at);
}

double TMediaPlayer::Rate() const {
    return d->rate;
}

void TMediaPlayer::SetBoost(double db) {
    d->boostDb = std::isfinite(db) ? std::max(db, 0.0) : 0.0;
    if (d->limiter) d->limiter->SetBoostDb(d->boostDb);
}

double TMediaPlayer::Boost() const {
    return d->boostDb;
}

void TMediaPlayer::SetStreamVolume(double level) {
    d->streamVolume = std::clamp(std::isfinite(level) ? level : 1.0, 0.0, 1.0);
    d->volumeSet = true;
    d->applyVolume();
}

double TMediaPlayer::StreamVolume() const {
    return d->streamVolume;
}

void TMediaPlayer::SetStopPoint(int32_t ms) {
    ms = std::max(ms, -1);
    if (ms == d->stopAt) return;
    d->stopAt = ms;
    if (!d->open || d->atEnd) return;
    const int32_t at = Position();
    // Nothing to change in a segment without a stop that needs none.
    if (!(ms >= 0 && ms > at) && !d->segmentStops) {
        d->stopPending = false;
        return;
    }
    // A playing file plays on from where it is, with the new stop; any other
    // gets it with the next play.
    if (d->mode == mpPlaying && !d->atStop)
        d->seekPlaying(at);
    else
        d->stopPending = true;
}

int32_t TMediaPlayer::StopPoint() const {
    return d->stopAt;
}
