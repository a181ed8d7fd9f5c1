#include "playback/audiomixer.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <pulse/pulseaudio.h>
#include <string>

namespace {

// Every wait on the sound server is bounded: a slow or vanished server costs
// the window at most this long, never a freeze.
constexpr int kConnectTimeoutMs = 1000;
constexpr int kOperationTimeoutMs = 500;
// A lost server is looked for again at most this often.
constexpr qint64 kReconnectIntervalMs = 5000;

struct SinkState {
    bool done = false;
    bool found = false;
    std::string name;
    pa_cvolume volume{};
    pa_channel_map map{};
    bool mute = false;
};

bool IsLeft(pa_channel_position_t p) {
    switch (p) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
        return true;
    default:
        return false;
    }
}

bool IsRight(pa_channel_position_t p) {
    switch (p) {
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return true;
    default:
        return false;
    }
}

} // namespace

struct TAudioMixer::Impl {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    QDeadlineTimer nextReconnect{0};

    ~Impl() { disconnect(); }

    void disconnect() {
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (loop) {
            pa_mainloop_free(loop);
            loop = nullptr;
        }
    }

    // Runs the server connection's events until done() holds or the time is up.
    template <typename Done> bool runUntil(Done done, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            const qint64 left = deadline.remainingTime();
            if (left <= 0) return false;
            if (pa_mainloop_prepare(loop, int(std::min<qint64>(left, 60000) * 1000)) < 0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    }

    bool ready() const { return context && pa_context_get_state(context) == PA_CONTEXT_READY; }

    bool connect() {
        disconnect();
        nextReconnect.setRemainingTime(kReconnectIntervalMs);
        loop = pa_mainloop_new();
        if (!loop) return false;
        context = pa_context_new(pa_mainloop_get_api(loop), "Narrabel");
        if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            disconnect();
            return false;
        }
        const bool settled = runUntil(
            [this] {
                const pa_context_state_t s = pa_context_get_state(context);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            kConnectTimeoutMs);
        if (!settled || !ready()) {
            disconnect();
            return false;
        }
        return true;
    }

    // A server that went away (restarted, say) is looked for again now and then.
    bool ensureConnected() {
        if (ready()) return true;
        if (!nextReconnect.hasExpired()) return false;
        return connect();
    }

    // Waits for an operation; a late answer is given up, not waited for.
    bool wait(pa_operation* op) {
        if (!op) return false;
        const bool finished =
            runUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; },
                     kOperationTimeoutMs);
        if (!finished) pa_operation_cancel(op);
        pa_operation_unref(op);
        return finished;
    }

    // The default sink: its name, volume, channel map and mute.
    bool defaultSink(SinkState& sink) {
        std::string name;
        bool gotServer = false;
        struct ServerCtx {
            std::string* name;
            bool* done;
        } sctx{&name, &gotServer};
        pa_operation* op = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* c = static_cast<ServerCtx*>(data);
                if (info && info->default_sink_name) *c->name = info->default_sink_name;
                *c->done = true;
            },
            &sctx);
        if (!wait(op) || name.empty()) return false;
        op = pa_context_get_sink_info_by_name(
            context, name.c_str(),
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                auto* s = static_cast<SinkState*>(data);
                if (eol != 0) {
                    s->done = true;
                    return;
                }
                if (!info) return;
                s->found = true;
                s->name = info->name;
                s->volume = info->volume;
                s->map = info->channel_map;
                s->mute = info->mute != 0;
            },
            &sink);
        return wait(op) && sink.found;
    }

    static void OnSuccess(pa_context*, int, void*) {}
};

TAudioMixer::TAudioMixer(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {
    Open();
}

TAudioMixer::~TAudioMixer() = default;

bool TAudioMixer::Open() {
    return d->connect();
}

bool TAudioMixer::IsOpen() const {
    return d->ready();
}

bool TAudioMixer::GetVolume(int destination, int connection, TMixerVolume& out) {
    out = TMixerVolume();
    out.VolDisabled = true;
    out.MuteDisabled = true;
    // One destination (the default output) and no source lines of its own.
    if (destination != 0 || connection != -1 || !d->ensureConnected()) return false;
    SinkState sink;
    if (!d->defaultSink(sink)) return true; // values that cannot be read are passed over
    const pa_cvolume& v = sink.volume;
    if (v.channels > 0) {
        int left = -1, right = -1;
        for (unsigned i = 0; i < v.channels && i < sink.map.channels; ++i) {
            if (left < 0 && IsLeft(sink.map.map[i])) left = int(v.values[i]);
            if (right < 0 && IsRight(sink.map.map[i])) right = int(v.values[i]);
        }
        if (left < 0) left = int(v.values[0]);
        if (right < 0) right = v.channels >= 2 ? int(v.values[1]) : left;
        out.Left = left;
        out.Right = right;
        out.Stereo = v.channels >= 2;
        out.VolDisabled = false;
    }
    out.Mute = sink.mute ? 1 : 0;
    out.MuteDisabled = false;
    return true;
}

bool TAudioMixer::SetVolume(int destination, int connection, int left, int right, int mute) {
    if (destination != 0 || connection != -1 || !d->ensureConnected()) return false;
    SinkState sink;
    if (!d->defaultSink(sink)) return true; // write errors are ignored
    if (left != -1) {
        if (right == -1) right = left;
        auto clamp = [](int x) {
            return pa_volume_t(std::clamp<int64_t>(x, PA_VOLUME_MUTED, PA_VOLUME_MAX));
        };
        pa_cvolume cv = sink.volume;
        for (unsigned i = 0; i < cv.channels; ++i) {
            const pa_channel_position_t p =
                i < sink.map.channels ? sink.map.map[i] : PA_CHANNEL_POSITION_MONO;
            if (IsLeft(p))
                cv.values[i] = clamp(left);
            else if (IsRight(p))
                cv.values[i] = clamp(right);
            else
                cv.values[i] = clamp(std::max(left, right));
        }
        if (cv.channels == 2 && !IsLeft(sink.map.map[0]) && !IsRight(sink.map.map[1])) {
            cv.values[0] = clamp(left);
            cv.values[1] = clamp(right);
        }
        d->wait(pa_context_set_sink_volume_by_name(d->context, sink.name.c_str(), &cv,
                                                   &Impl::OnSuccess, nullptr));
    }
    if (mute != -1)
        d->wait(pa_context_set_sink_mute_by_name(d->context, sink.name.c_str(), mute != 0,
                                                 &Impl::OnSuccess, nullptr));
    return true;
}
