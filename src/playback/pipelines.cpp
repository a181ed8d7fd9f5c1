#include "playback/pipelines.h"

#include <QDeadlineTimer>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <set>
#include <thread>
#include <utility>

namespace pipelines {
namespace {

// Jobs not yet back (pipelines waiting to be freed, bounded jobs under way),
// by when each was handed over.
struct Count {
    std::mutex lock;
    std::condition_variable zero;
    std::multiset<qint64> started;

    static qint64 now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    qint64 add() {
        std::lock_guard<std::mutex> guard(lock);
        const qint64 t = now();
        started.insert(t);
        return t;
    }
    void done(qint64 t) {
        {
            std::lock_guard<std::mutex> guard(lock);
            started.erase(started.find(t));
        }
        zero.notify_all();
    }
};

Count& Jobs() {
    static auto* count = new Count; // never freed: a job may finish during exit
    return *count;
}

// One thread frees the pipelines let go, in order. It lives as long as the
// process: a job may still be running when the program ends.
class Janitor {
public:
    static Janitor& Get() {
        static auto* janitor = new Janitor;
        return *janitor;
    }
    void post(std::function<void()> work) {
        const qint64 t = Jobs().add();
        {
            std::lock_guard<std::mutex> guard(lock);
            queue.push_back({std::move(work), t});
        }
        wake.notify_one();
    }

private:
    Janitor() {
        std::thread([this] { run(); }).detach();
    }
    void run() {
        for (;;) {
            std::pair<std::function<void()>, qint64> job;
            {
                std::unique_lock<std::mutex> guard(lock);
                wake.wait(guard, [this] { return !queue.empty(); });
                job = std::move(queue.front());
                queue.pop_front();
            }
            job.first();
            Jobs().done(job.second);
        }
    }
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::pair<std::function<void()>, qint64>> queue;
};

// The idle output (see the header), or nullptr while none could be opened.
std::mutex keeperLock;
GstElement* keeper = nullptr;

} // namespace

void Init() {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    Janitor::Get();
}

void LetGo(GstElement* bin) {
    if (!bin) return;
    Janitor::Get().post([bin] {
        gst_element_set_state(bin, GST_STATE_NULL);
        gst_object_unref(bin);
    });
}

void Post(std::function<void()> work) {
    Janitor::Get().post(std::move(work));
}

bool RunBounded(GstElement* bin, std::function<void(GstElement*)> work, int timeoutMs) {
    struct Job {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
        bool abandoned = false;
    };
    auto job = std::make_shared<Job>();
    const qint64 started = Jobs().add();
    gst_object_ref(bin);
    std::thread([job, bin, started, work = std::move(work)] {
        work(bin);
        bool abandoned;
        {
            std::lock_guard<std::mutex> guard(job->lock);
            job->done = true;
            abandoned = job->abandoned;
        }
        job->cv.notify_all();
        // Left behind: nobody else stops it now.
        if (abandoned)
            LetGo(bin);
        else
            gst_object_unref(bin);
        Jobs().done(started);
    }).detach();

    std::unique_lock<std::mutex> guard(job->lock);
    if (job->cv.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return job->done; }))
        return true;
    job->abandoned = true;
    return false;
}

bool Drain(int ms) {
    Count& count = Jobs();
    std::unique_lock<std::mutex> guard(count.lock);
    return count.zero.wait_for(guard, std::chrono::milliseconds(ms),
                               [&] { return count.started.empty(); });
}

int Live() {
    Count& count = Jobs();
    std::lock_guard<std::mutex> guard(count.lock);
    return int(count.started.size());
}

qint64 LongestJobMs() {
    Count& count = Jobs();
    std::lock_guard<std::mutex> guard(count.lock);
    return count.started.empty() ? 0 : Count::now() - *count.started.begin();
}

void KeepSoundOutput(int timeoutMs) {
    {
        std::lock_guard<std::mutex> guard(keeperLock);
        if (keeper) return;
    }
    GstElement* sink = gst_element_factory_make("pulsesink", "narrabel-idle-output");
    if (!sink) return; // no PulseAudio plugin: nothing of it to keep alive
    gst_object_ref_sink(sink);
    // READY opens the plugin's connection (no stream, no sound); a server that
    // stalls meanwhile keeps only the job's thread.
    RunBounded(
        sink,
        [](GstElement* s) {
            if (gst_element_set_state(s, GST_STATE_READY) != GST_STATE_CHANGE_SUCCESS) {
                gst_element_set_state(s, GST_STATE_NULL);
                return;
            }
            std::lock_guard<std::mutex> guard(keeperLock);
            if (!keeper)
                keeper = GST_ELEMENT(gst_object_ref(s));
            else
                gst_element_set_state(s, GST_STATE_NULL);
        },
        timeoutMs);
    gst_object_unref(sink);
}

bool SoundServerStuck(int timeoutMs) {
    static std::mutex lock;
    static QDeadlineTimer goodUntil(0);
    constexpr qint64 kGoodForMs = 10000;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!goodUntil.hasExpired()) return false;
    }
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) return false;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Narrabel");
    bool stuck = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        QDeadlineTimer deadline(timeoutMs);
        pa_context_state_t state;
        while ((state = pa_context_get_state(context)) != PA_CONTEXT_READY &&
               PA_CONTEXT_IS_GOOD(state)) {
            const qint64 left = deadline.remainingTime();
            if (left <= 0) {
                stuck = true;
                break;
            }
            if (pa_mainloop_prepare(loop, int(left * 1000)) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
        }
        pa_context_disconnect(context);
    }
    if (context) pa_context_unref(context);
    pa_mainloop_free(loop);
    if (!stuck) {
        std::lock_guard<std::mutex> guard(lock);
        goodUntil.setRemainingTime(kGoodForMs);
    }
    return stuck;
}

} // namespace pipelines
