#pragma once

#include <cstdint>

// Mono feedback delay whose cycle length follows a tempo and a note division.
// A new tempo, division or sample rate is picked up only when the running
// cycle ends, so the echo pattern never jumps mid-cycle.
//
// The line is held inside the object (about 6 MB): keep instances on the heap.
class Delay {
public:
    // The longest cycle: one beat at 15 BPM split in eighths, at 48 kHz.
    static constexpr std::int64_t kMaxLength = 1536000;

    Delay();

    // A rate that is not a finite positive number is ignored. The running
    // cycle becomes two seconds long (capped) until it ends.
    void setSamplerate(float rate);
    // Each clamps to its range; a NaN keeps the old value.
    void setPhase(float p);             // 0..1, where writing starts within a cycle
    void setTempo(float bpm) noexcept;  // 15..960, from the next cycle on
    void setDivision(float d) noexcept; // 0.125..128, from the next cycle on
    void setFeedback(float f) noexcept; // 0..0.98, at once

    // Starts a new cycle at the length the tempo and division give.
    void resetDelayTime();
    // Clears the line and puts phase, tempo, division and feedback back to
    // their defaults; the owner sends its own values again.
    void reset() noexcept;

    float processSample(float x) noexcept;
    // Adds the delayed signal into `out`; `in` may be `out`.
    void processBuffer(const float* in, float* out, long n) noexcept;

private:
    long wholeRun(long wanted) const noexcept;
    void runLine(const float* in, float* out, long run) noexcept;

public:
    float fSamplerate = 44100.0f;
    float fPhase = 0.0f;
    float fFeedback = 0.5f;
    float fTempo = 120.0f;
    float fTempoDivision = 1.0f;
    float delay_buffer[kMaxLength];
    float posRead = 0.0f;
    float scaler = 1.0f;
    float posWrite = 0.0f;
    std::int64_t len = 1;
};

// Two delay lines; fresh, the left one repeats at half the cycle.
class StereoDelay {
public:
    StereoDelay();

    void setSamplerate(float rate);
    // A NaN keeps the old tempo.
    void setTempo(float bpm) noexcept;
    void setDivision(float d) noexcept;
    void setFeedback(float f) noexcept;
    // Both lines back to their defaults, phase 0 included.
    void reset() noexcept;

    void processBuffer(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                       long n) noexcept;

    float fTempo = 120.0f;
    float fWidth = 1.0f;
    Delay left;
    Delay right;
};
