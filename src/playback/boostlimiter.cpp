#include "playback/boostlimiter.h"

#include <algorithm>
#include <cmath>

namespace {

// A peak within this much of the held limit (0.1 dB) holds it longer: the
// peaks of a steady sound, sampled at slightly different places each period,
// keep one gain.
constexpr float kHoldBand = 1.0116f;

} // namespace

void TBoostLimiter::SetBoostDb(double db) {
    db = std::isfinite(db) ? std::max(db, 0.0) : 0.0;
    boostDb.store(db, std::memory_order_relaxed);
    target.store(float(std::pow(10.0, db / 20.0)), std::memory_order_relaxed);
}

void TBoostLimiter::SetFormat(int sampleRate, int channelCount) {
    rate = std::max(sampleRate, 1);
    channels = std::max(channelCount, 1);
    setTimes();
}

void TBoostLimiter::setTimes() {
    holdFrames = long(HoldMs * rate / 1000.0);
    release = float(std::pow(10.0, ReleaseDbPerSecond / 20.0 / rate));
    glide = float(1.0 - std::exp(-1000.0 / (GlideMs * rate)));
}

bool TBoostLimiter::Idle() const {
    return gain == 1.0f && limit == 1.0f && target.load(std::memory_order_relaxed) == 1.0f;
}

namespace {

// Samples as floats where 1.0 is full scale, and back.
inline float ToFloat(float s) {
    return s;
}
inline float ToFloat(int16_t s) {
    return float(s) * (1.0f / 32768.0f);
}
inline void Store(float* to, float v) {
    *to = v;
}
inline void Store(int16_t* to, float v) {
    *to = int16_t(std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
}

} // namespace

void TBoostLimiter::Process(float* samples, size_t frames) {
    process(samples, frames);
}

void TBoostLimiter::Process(int16_t* samples, size_t frames) {
    process(samples, frames);
}

template <typename Sample> void TBoostLimiter::process(Sample* samples, size_t frames) {
    const float want = target.load(std::memory_order_relaxed);
    const int n = channels;
    for (size_t f = 0; f < frames; ++f, samples += n) {
        if (gain != want) {
            gain += (want - gain) * glide;
            if (std::fabs(want - gain) < 1e-5f * want) gain = want;
        }
        float peak = 0;
        for (int c = 0; c < n; ++c)
            peak = std::max(peak, std::fabs(ToFloat(samples[c])));
        peak *= gain;
        // The limit comes back once the hold is over ...
        if (holdLeft > 0)
            --holdLeft;
        else if (limit < 1.0f)
            limit = std::min(1.0f, limit * release);
        // ... and goes down at once for a peak that would pass the ceiling; a
        // peak at (or near) the limit holds it.
        if (peak * limit * kHoldBand > Ceiling) {
            holdLeft = holdFrames;
            limit = std::min(limit, Ceiling / peak);
        }
        const float g = gain * limit;
        for (int c = 0; c < n; ++c)
            Store(samples + c, std::clamp(ToFloat(samples[c]) * g, -Ceiling, Ceiling));
    }
}
