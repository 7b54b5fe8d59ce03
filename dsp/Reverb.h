#pragma once

#include <array>
#include <cstdint>

#include "dsp/Denormal.h"

// Delay line with a one-pole low-pass in its feedback path. The line's storage
// belongs to the enclosing reverb.
class comb {
public:
    void setbuffer(float* buf, int size);
    void mute() noexcept;
    void setdamp(float v) noexcept {
        damp1 = v;
        damp2 = 1.0f - v;
    }
    float getdamp() const { return damp1; }
    void setfeedback(float v) noexcept { feedback = v; }
    float getfeedback() const { return feedback; }

    float process(float input) noexcept {
        const float output = flushDenormal(buffer[bufidx]);
        filterstore = flushDenormal(output * damp2 + filterstore * damp1);
        buffer[bufidx] = input + filterstore * feedback;
        if (++bufidx >= bufsize) bufidx = 0;
        return output;
    }

    float feedback = 0.0f;
    float filterstore = 0.0f;
    float damp1 = 0.0f;
    float damp2 = 1.0f;
    float* buffer = nullptr;
    std::int32_t bufsize = 0;
    std::int32_t bufidx = 0;
};

// Schroeder all-pass section; storage belongs to the enclosing reverb.
class allpass {
public:
    void setbuffer(float* buf, int size);
    void mute() noexcept;
    void setfeedback(float v) noexcept { feedback = v; }
    float getfeedback() const { return feedback; }

    float process(float input) noexcept {
        const float bufout = flushDenormal(buffer[bufidx]);
        buffer[bufidx] = input + bufout * feedback;
        if (++bufidx >= bufsize) bufidx = 0;
        return bufout - input;
    }

    float feedback = 0.0f;
    float* buffer = nullptr;
    std::int32_t bufsize = 0;
    std::int32_t bufidx = 0;
};

// Second-order Butterworth high-pass, direct form II. fCutoff is normalised:
// the corner sits at fCutoff x 0.4 x rate, held between 80 Hz and 0.36 x rate,
// and the output gain rises with it (1 + 6 x fCutoff).
class HPF {
public:
    HPF();
    // Non-positive or non-finite rates are ignored.
    void setSamplerate(float rate);
    void init();
    void reset() noexcept { init(); }
    void processParameters();
    void processSample(float* sample) noexcept {
        t = *sample - a[4] * a[6] - a[5] * a[7];
        y = t * a[1] + a[2] * a[6] + a[3] * a[7];
        a[7] = a[6];
        a[6] = flushDenormal(t);
        *sample = y * ampscaler;
    }

    float fCutoff = 0.2f;
    float fSamplerate = 48000.0f;
    float fMinFrequency = 0.0f;
    float fMaxFrequency = 0.0f;
    float a[8] = {}; // a[1]..a[5] coefficients, a[6] and a[7] the state
    float kfc = 0.0f;
    float ampscaler = 1.0f;
    float lkf = 0.0f;
    float pidsr = 0.0f;
    float c = 0.0f;
    float t = 0.0f;
    float y = 0.0f;
};

// Delay-line lengths of one reverb size, left and right.
struct ReverbLengths {
    std::array<int, 8> combL, combR;
    std::array<int, 4> allpassL, allpassR;

    constexpr int total() const {
        int sum = 0;
        for (int i = 0; i < 8; ++i) sum += combL[i] + combR[i];
        for (int i = 0; i < 4; ++i) sum += allpassL[i] + allpassR[i];
        return sum;
    }
};

// The middle size, right channel 23 samples longer; the others scale every
// length (after the spread) by num / den, rounded down.
constexpr ReverbLengths reverbLengths(int num, int den) {
    constexpr std::array<int, 8> combs = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    constexpr std::array<int, 4> allpasses = {556, 441, 341, 225};
    constexpr int spread = 23;
    ReverbLengths l{};
    for (int i = 0; i < 8; ++i) {
        l.combL[i] = combs[i] * num / den;
        l.combR[i] = (combs[i] + spread) * num / den;
    }
    for (int i = 0; i < 4; ++i) {
        l.allpassL[i] = allpasses[i] * num / den;
        l.allpassR[i] = (allpasses[i] + spread) * num / den;
    }
    return l;
}

// Frames the reverb renders per pass through its stages: no longer than any
// comb line, so that a pass never reads a cell it has written, and small
// enough for the stack. Long passes keep the per-pass setup small beside the work.
inline constexpr int kReverbPass = 256;

// Stereo reverberator: eight parallel damped combs per channel into four
// series all-passes per channel. All delay storage lives inside the object
// (hundreds of kilobytes for the largest size: hold it on the heap).
template <ReverbLengths Lengths> class ReverbModel {
public:
    ReverbModel();
    ReverbModel(const ReverbModel&) = delete; // the combs point into this object
    ReverbModel& operator=(const ReverbModel&) = delete;

    // Non-finite values are ignored by every setter.
    void setroomsize(float value) noexcept;
    void setdamp(float value) noexcept;
    void setwet(float value) noexcept;
    void setdry(float value) noexcept;
    void setwidth(float value) noexcept;
    void setmode(float value) noexcept;
    void setfilter(float value);
    void setSamplerate(float rate);

    float getroomsize() const { return (roomsize - 0.7f) / 0.28f; }
    float getdamp() const { return damp / 0.4f; }
    float getwet() const { return wet; }
    float getdry() const { return dry; }
    float getwidth() const { return width; }
    float getmode() const { return frozen() ? 1.0f : 0.0f; }
    float getfilter() const { return hpf[0].fCutoff; }

    // Clears every line and filter state, unless frozen.
    void mute() noexcept;
    void reset() noexcept { mute(); }

    // The kernel's renderer: wet signal only, at full width scaling, with an
    // extra input gain.
    void process(const float* inputL, const float* inputR, float* outputL, float* outputR, long numsamples,
                 float inputGain, int skip) noexcept;
    void processreplace(const float* inputL, const float* inputR, float* outputL, float* outputR,
                        long numsamples, int skip) noexcept;
    void processmix(const float* inputL, const float* inputR, float* outputL, float* outputR, long numsamples,
                    int skip) noexcept;
    void processreplaceHP(const float* inputL, const float* inputR, float* outputL, float* outputR,
                          long numsamples, int skip) noexcept;
    void processmixHP(const float* inputL, const float* inputR, float* outputL, float* outputR,
                      long numsamples, int skip) noexcept;
    void processHP(const float* inputL, const float* inputR, float* outputL, float* outputR, long numsamples,
                   int skip) noexcept {
        processreplaceHP(inputL, inputR, outputL, outputR, numsamples, skip);
    }

    static constexpr ReverbLengths lengths = Lengths;

    float gain = 0.0f;
    float roomsize = 0.0f;
    float roomsize1 = 0.0f;
    float damp = 0.0f;
    float damp1 = 0.0f;
    float wet = 0.0f;
    float wet1 = 0.0f;
    float wet2 = 0.0f;
    float dry = 0.0f;
    float width = 0.0f;
    float mode = 0.0f;
    std::array<comb, 8> combL, combR;
    std::array<allpass, 4> allpassL, allpassR;
    // The lines, after a pass's length of headroom: a pass counts a wrapped
    // line's cells from up to that many floats before its start.
    std::array<float, kReverbPass + Lengths.total()> lines{};
    HPF hpf[2];

private:
    enum class Output { Wet, Replace, Mix };

    bool frozen() const { return mode >= 0.5f; }
    void update();
    template <Output kind, bool highPass>
    void render(const float* inputL, const float* inputR, float* outputL, float* outputR, long numsamples,
                int skip, float inputGain);
};

using revmodelA = ReverbModel<reverbLengths(1, 4)>;
using revmodelB = ReverbModel<reverbLengths(1, 2)>;
using revmodelC = ReverbModel<reverbLengths(1, 1)>;
using revmodelD = ReverbModel<reverbLengths(2, 1)>;
using revmodelE = ReverbModel<reverbLengths(4, 1)>;
