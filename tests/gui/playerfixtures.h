#pragma once
// Sound files made at test time with GStreamer's own encoders, and the true
// decoded length of a file, measured by decoding all of it.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <gst/gst.h>
#include <vector>

namespace playerfixtures {

inline void InitGst() {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
}

// 16-bit stereo PCM: a quiet tone for the first third, loud noise after it,
// so that a VBR encoder's bit rate changes a lot along the file.
inline bool WriteWav(const QString& path, double seconds, int rate = 44100) {
    const int n = int(seconds * rate);
    std::vector<int16_t> s(size_t(n) * 2);
    uint32_t rng = 12345;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        double v;
        if (t < seconds / 3) {
            v = 0.05 * std::sin(2 * M_PI * 440 * t);
        } else {
            rng = rng * 1664525u + 1013904223u;
            v = 0.5 * (double(rng >> 16) / 32768.0 - 1.0);
        }
        s[size_t(i) * 2] = s[size_t(i) * 2 + 1] = int16_t(v * 32000);
    }
    QByteArray out;
    auto u32 = [&out](uint32_t x) { out.append(reinterpret_cast<const char*>(&x), 4); };
    auto u16 = [&out](uint16_t x) { out.append(reinterpret_cast<const char*>(&x), 2); };
    const uint32_t bytes = uint32_t(n) * 4;
    out.append("RIFF");
    u32(36 + bytes);
    out.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(2);
    u32(uint32_t(rate));
    u32(uint32_t(rate) * 4);
    u16(4);
    u16(16);
    out.append("data");
    u32(bytes);
    out.append(reinterpret_cast<const char*>(s.data()), int(bytes));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

// Runs a gst-launch style pipeline to its end; false on error.
inline bool RunPipeline(const QString& description, QString* error = nullptr) {
    InitGst();
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(description.toUtf8().constData(), &err);
    if (!p || err) {
        if (error) *error = QString::fromUtf8(err ? err->message : "parse failed");
        if (err) g_error_free(err);
        if (p) gst_object_unref(p);
        return false;
    }
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                               GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m && !ok && error) {
        GError* e = nullptr;
        gst_message_parse_error(m, &e, nullptr);
        *error = QString::fromUtf8(e ? e->message : "error");
        if (e) g_error_free(e);
    }
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return ok;
}

enum class Mp3Kind { Cbr64, VbrXing, VbrBare };

inline const char* KindName(Mp3Kind k) {
    switch (k) {
    case Mp3Kind::Cbr64:
        return "CBR 64 kbit/s";
    case Mp3Kind::VbrXing:
        return "VBR with Xing";
    case Mp3Kind::VbrBare:
        return "VBR without Xing";
    }
    return "";
}

// Encodes a WAV file into an MP3 of the given kind.
inline bool EncodeMp3(const QString& wav, const QString& mp3, Mp3Kind kind,
                      QString* error = nullptr) {
    QString enc;
    switch (kind) {
    case Mp3Kind::Cbr64:
        enc = "lamemp3enc target=bitrate bitrate=64 cbr=true";
        break;
    case Mp3Kind::VbrXing:
        enc = "lamemp3enc target=quality quality=4 ! xingmux";
        break;
    case Mp3Kind::VbrBare:
        enc = "lamemp3enc target=quality quality=4";
        break;
    }
    return RunPipeline(QStringLiteral("filesrc location=\"%1\" ! wavparse ! audioconvert ! %2 ! "
                                      "filesink location=\"%3\"")
                           .arg(wav, enc, mp3),
                       error);
}

namespace detail {
struct DecodeProbe {
    GstClockTime end = 0;
};
inline GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
    if (b && GST_BUFFER_PTS_IS_VALID(b) && GST_BUFFER_DURATION_IS_VALID(b))
        static_cast<DecodeProbe*>(data)->end = GST_BUFFER_PTS(b) + GST_BUFFER_DURATION(b);
    return GST_PAD_PROBE_OK;
}
} // namespace detail

// Where the last decoded sample of the file ends, in milliseconds; -1 on error.
inline double DecodedLengthMs(const QString& path) {
    InitGst();
    const QString desc = QStringLiteral("filesrc location=\"%1\" ! decodebin ! audioconvert ! "
                                        "fakesink name=out sync=false")
                             .arg(path);
    GstElement* p = gst_parse_launch(desc.toUtf8().constData(), nullptr);
    if (!p) return -1;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(p), "out");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    detail::DecodeProbe probe;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, detail::OnBuffer, &probe, nullptr);
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                               GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_object_unref(p);
    return ok ? double(probe.end) / GST_MSECOND : -1;
}

// A small type-0 Standard MIDI File: four piano notes of a second each.
inline bool WriteMidi(const QString& path) {
    QByteArray track;
    auto ev = [&track](std::initializer_list<int> bytes) {
        for (int b : bytes)
            track.append(char(b));
    };
    ev({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}); // 500000 us per quarter note
    ev({0x00, 0xC0, 0x00});                         // piano
    const int notes[] = {60, 64, 67, 72};
    for (int n : notes) {
        ev({0x00, 0x90, n, 100});
        ev({0x87, 0x40, 0x80, n, 0}); // 960 ticks later: one second at 480 per quarter
    }
    ev({0x00, 0xFF, 0x2F, 0x00});
    QByteArray out("MThd");
    const char hdr[] = {0, 0, 0, 6, 0, 0, 0, 1, 0x01, char(0xE0)};
    out.append(hdr, sizeof hdr);
    out.append("MTrk");
    const int len = track.size();
    const char l[] = {char(len >> 24), char(len >> 16), char(len >> 8), char(len)};
    out.append(l, 4);
    out.append(track);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

// An M4B of ffmpeg's (AAC, both kinds of MP4 chapter list; or an MP3 with
// ID3v2 chapter frames, by the name's extension): chapters of
// chapterMs each, titled by titles (an empty one has none); the second
// chapter holds a loud tone, the others silence. false when ffmpeg fails.
inline bool MakeChapterBook(const QString& path, const QStringList& titles, int chapterMs,
                            QString* error = nullptr) {
    QByteArray meta = ";FFMETADATA1\ntitle=Chapter Book\n";
    for (int i = 0; i < titles.size(); ++i)
        meta += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n")
                    .arg(i * chapterMs)
                    .arg((i + 1) * chapterMs)
                    .arg(titles[i])
                    .toUtf8();
    const QString metaPath = path + QStringLiteral(".txt");
    QFile m(metaPath);
    if (!m.open(QIODevice::WriteOnly) || m.write(meta) != meta.size()) return false;
    m.close();
    const double from = chapterMs / 1000.0, to = 2 * chapterMs / 1000.0;
    const QString sound =
        QStringLiteral("aevalsrc=if(between(t\\,%1\\,%2)\\,0.5*sin(2*PI*440*t)\\,0)"
                       ":s=44100:c=stereo:d=%3")
            .arg(from)
            .arg(to)
            .arg(titles.size() * chapterMs / 1000.0);
    // An .mp3 gets ID3v2 chapter frames instead.
    const QStringList codec = path.endsWith(QLatin1String(".mp3"))
                                  ? QStringList{"-c:a", "libmp3lame", "-id3v2_version", "3"}
                                  : QStringList{"-c:a", "aac"};
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i", sound, "-i", metaPath,
                        "-map", "0", "-map_chapters", "1"} +
                codec + QStringList{"-b:a", "96k", path});
    const bool ok =
        p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error) *error = QString::fromUtf8(p.readAllStandardError()) + p.errorString();
    QFile::remove(metaPath);
    return ok;
}

} // namespace playerfixtures
