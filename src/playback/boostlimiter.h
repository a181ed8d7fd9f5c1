#pragma once
// A volume boost with a limiter behind it, on interleaved samples. The boost raises the sound by
// its gain; wherever the boosted sound would pass full scale, the limiter lowers that gain at once,
// for all channels alike, so that no sample ever passes it. The lowered gain is held while peaks
// keep coming (a steady sound keeps one gain, undistorted) and comes back at a slow, steady rate
// once they stop, so that speech does not pump. Nothing looks ahead: the sound is not delayed.

#include <atomic>
#include <cstddef>
#include <cstdint>

class TBoostLimiter {
public:
    // No sample leaves louder than this.
    static constexpr float Ceiling = 1.0f;
    // How long a lowered gain is held after its last peak, and how fast it
    // then comes back.
    static constexpr double HoldMs = 50.0;
    static constexpr double ReleaseDbPerSecond = 20.0;
    // A new boost glides in over about this long (no click).
    static constexpr double GlideMs = 20.0;

    TBoostLimiter() { setTimes(); }

    // May be called from any thread; the next block processed glides to it.
    void SetBoostDb(double db);
    double BoostDb() const { return boostDb.load(std::memory_order_relaxed); }

    // The stream's format (the streaming thread, as Process).
    void SetFormat(int rate, int channels);
    int Channels() const { return channels; }
    // Nothing to do: no boost, none gliding away, no gain held down.
    bool Idle() const;
    // Boosts and limits frames of interleaved samples in place: floats, or
    // 16-bit integers (full scale 32768).
    void Process(float* samples, size_t frames);
    void Process(int16_t* samples, size_t frames);

private:
    void setTimes();
    template <typename Sample> void process(Sample* samples, size_t frames);

    std::atomic<double> boostDb{0.0};
    std::atomic<float> target{1.0f};
    int rate = 44100;
    int channels = 2;
    float gain = 1.0f;  // the boost's gain now, gliding to target
    float limit = 1.0f; // the limiter's gain, at most 1
    long holdLeft = 0;  // frames the limit is still held
    long holdFrames = 0;
    float release = 1.0f; // the limit's rise per frame, as a factor
    float glide = 1.0f;   // the part of the way to target gone each frame
};
