#pragma once

#include <atomic>
#include <cmath>
#include <memory>

#include "dsp/Denormal.h"
#include "dsp/DynaBuffer.h"
#include "dsp/Phaser.h"

// Ring over a DynaBuffer whose whole length is the period.
class CircularBuffer : public DynaBuffer {
public:
    CircularBuffer() = default;

    // Zeroes the ring; the next sample starts a new turn.
    virtual void reset() noexcept;
    // The first turn ends after d samples; ignored unless 0 <= d <= length.
    virtual void setInitialDelay(int d);
    // Stores the block in the ring.
    virtual void processBuffer(float* buf, int n) noexcept;
    // Exchanges the block with the ring: it comes back one length later.
    virtual void processBufferEx(float* buf, int n) noexcept;
    // Called at the start of every turn.
    virtual void onBufferReady() {}

    int pos = 0;

protected:
    // Starts a new turn when pos has run past `length`.
    void wrap(int length) {
        if (pos >= length) {
            pos = 0;
            onBufferReady();
        }
    }
};

// A delay of lSize samples; a new length takes effect at the next turn.
class Latency : public CircularBuffer {
public:
    Latency();

    int getSize() const override { return lNewSize; }
    void processBuffer(float* buf, int n) noexcept override;
    void processBufferEx(float* buf, int n) noexcept override;
    // At least 1.
    virtual void setSize(int n);

    float processSampleEx(float x) noexcept { return exchange(x, x); }

    int lSize = 1024;
    int lNewSize = 1024;

private:
    // New turn; a pending length is taken with `first` in slot 0.
    void startTurn(float first);
    // Swaps x into the ring; `first` goes to slot 0 if a new length starts here.
    float exchange(float x, float first) {
        if (pos >= lSize) startTurn(first);
        if (data == nullptr) return x; // the ring could not be had
        const float y = data[pos];
        data[pos++] = x;
        return y;
    }
    bool ready() const { return data != nullptr && lSize > 0; }
};

namespace PSOLA {

// Pitch shifting by two delay lines whose read delays sweep at 1 - ratio,
// crossfaded by a raised-cosine window half a sweep apart.
class PitchShift {
public:
    // Fractional delay line with feedback.
    class PitchShiftDelay {
    public:
        PitchShiftDelay(float delay, int maxDelay);

        void setMaximumDelay(int n);
        void setFeedback(float f) noexcept { feedback_ = f; }
        void clear() noexcept { buffer.clear(); }

        // Ignored unless d is finite; any finite d lands inside the line.
        void setDelay(float d) noexcept {
            if (!std::isfinite(d) || size_ <= 0) return;
            delay_ = d;
            const float p = wrapPosition(static_cast<float>(inPoint_) - d, static_cast<float>(size_));
            outPoint_ = static_cast<int>(p);
            alpha_ = p - static_cast<float>(outPoint_);
            omAlpha_ = 1.0f - alpha_;
        }

        float processSample(float x) noexcept {
            if (size_ <= 0) return 0.0f; // the line could not be had
            buffer[inPoint_] = flushDenormal(buffer[inPoint_] * feedback_ + x);
            if (++inPoint_ >= size_) inPoint_ = 0;
            const float y = nextOut();
            doNextOut_ = true;
            if (++outPoint_ >= size_) outPoint_ = 0;
            return y;
        }

        float nextOut() {
            if (doNextOut_) {
                const int next = outPoint_ + 1 < size_ ? outPoint_ + 1 : 0;
                nextOutput_ = buffer[outPoint_] * omAlpha_ + buffer[next] * alpha_;
                doNextOut_ = false;
            }
            return nextOutput_;
        }

        DynaBuffer buffer;
        float delay_ = 0.0f;
        float alpha_ = 0.0f;
        float omAlpha_ = 1.0f;
        float nextOutput_ = 0.0f;
        float feedback_ = 0.0f;
        int size_ = 0;
        int inPoint_ = 0;
        int outPoint_ = 0;
        bool doNextOut_ = true;

    private:
        // p taken into [0, length); a value that rounds up to length is slot 0.
        static float wrapPosition(float p, float length) {
            if (p < 0.0f) p += length;
            if (p < 0.0f || p >= length) {
                p = std::fmod(p, length);
                if (p < 0.0f) p += length;
                if (p >= length) p = 0.0f;
            }
            return p;
        }
    };

    // Bounds of the window length in samples.
    static constexpr int kMinWindow = 2;
    static constexpr int kMaxWindow = 1 << 20;

    PitchShift(float lowestFreq, float samplerate);
    ~PitchShift() { finit(); }
    PitchShift(const PitchShift&) = delete;
    PitchShift& operator=(const PitchShift&) = delete;

    // Below 20 Hz counts as 20; a non-finite value keeps the old one.
    void setLowestFreq(float f, float fs);
    // Below 12000 Hz counts as 12000; a non-finite value keeps the old one.
    void setSamplerate(float fs);
    // Rebuilds the window and lines for a window of n samples (limited to
    // kMinWindow ... kMaxWindow); nothing happens when n is the current size.
    void init(int n);
    // Ignored unless ratio is finite.
    void setShift(float ratio) noexcept;
    // Ignored unless f is finite.
    void setFeedback(float f) noexcept;
    // Silences every line, the latency ring and the phaser state.
    void clear() noexcept;
    void suspend() noexcept { clear(); }
    void finit() { window.reset(); }

    void processBuffer(float* buffer, int n) noexcept;
    float processSample(float x) noexcept;

    Latency latency;
    PitchShiftDelay delayLine_[2] = {PitchShiftDelay(0.0f, 2048), PitchShiftDelay(0.0f, 2048)};
    CPhaser dephaser;
    std::unique_ptr<float[]> window;
    float fLowestFreq = 20.0f;
    float fSamplerate = 48000.0f;
    float fFeedback = 0.1f;
    float delay_[2] = {0.0f, 0.0f};
    std::atomic<float> rate_{0.0f}; // set from the parameter thread
    int delayLength_ = 0;
    int halfLength_ = 0;
    int size = 0;
    int period = 0;
    bool useLatency = true;
    bool usePhaser = false;

private:
    // Brings d back into [period, size - period] by whole sweeps.
    float wrapDelay(float d) const;
    int windowIndex(float d) const;
};

} // namespace PSOLA
