#include "dsp/Reverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/VectorMath.h"

namespace {

constexpr float kFixedGain = 0.015f;
constexpr float kScaleRoom = 0.28f;
constexpr float kOffsetRoom = 0.7f;
constexpr float kScaleDamp = 0.4f;
constexpr float kAllpassFeedback = 0.5f;
constexpr float kSqrt2 = std::numbers::sqrt2_v<float>;

// Frames rendered per pass through the stages; small enough for the stack.
constexpr int kChunk = 128;

// Longest run from `idx` that stays clear of the line's wrap.
inline int runLength(int idx, int size, int wanted) { return std::min(wanted, size - idx); }

inline void advance(std::int32_t& idx, int size, int by) {
    idx += by;
    if (idx >= size) idx = 0;
}

using namespace VectorMath;

// The combs of one channel side by side: comb c is lane c % 4 of vector c / 4.
// Four frames at a time, line reads, sums and writes go frame-wise and the
// filter recursion goes comb-wise, with a transpose in between; every lane
// does exactly the arithmetic of comb::process.
template <std::size_t N> class CombBank {
public:
    explicit CombBank(const std::array<comb, N>& combs) {
        for (std::size_t c = 0; c < N; ++c) {
            store[c / 4][c % 4] = combs[c].filterstore;
            damp1[c / 4][c % 4] = combs[c].damp1;
            damp2[c / 4][c % 4] = combs[c].damp2;
            feedback[c] = combs[c].feedback;
        }
    }

    void save(std::array<comb, N>& combs) const {
        for (std::size_t c = 0; c < N; ++c) combs[c].filterstore = store[c / 4][c % 4];
    }

    // Frames k..k+3 of the lines starting at line[]; sum gets the comb outputs added up.
    void fourFrames(float* const* line, int k, Lanes input, float* sum) {
        Lanes v[N];
        Lanes acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) {
            v[c] = flush(load(line[c] + k));
            acc += v[c];
        }
        VectorMath::store(sum, acc);
#pragma GCC unroll 8
        for (std::size_t q = 0; q < Q; ++q) {
            Lanes* frame = v + 4 * q;
            transpose(frame);
#pragma GCC unroll 8
            for (int j = 0; j < 4; ++j) {
                store[q] = flush(frame[j] * damp2[q] + store[q] * damp1[q]);
                frame[j] = store[q];
            }
            transpose(frame);
        }
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) VectorMath::store(line[c] + k, input + v[c] * feedback[c]);
    }

    float oneFrame(float* const* line, int k, float input) {
        float acc = 0.0f;
        for (std::size_t c = 0; c < N; ++c) {
            // A lane of a vector value is not addressable everywhere: read it, write it back.
            const float output = flushDenormal(line[c][k]);
            acc += output;
            const std::size_t q = c / 4, lane = c % 4;
            const float s = flushDenormal(output * damp2[q][lane] + store[q][lane] * damp1[q][lane]);
            store[q][lane] = s;
            line[c][k] = input + s * feedback[c];
        }
        return acc;
    }

private:
    static_assert(N % 4 == 0);
    static constexpr std::size_t Q = N / 4;
    Lanes store[Q], damp1[Q], damp2[Q];
    float feedback[N];
};

// The combs of one channel over n frames, summed into out. Runs are cut where
// any line wraps, so every line is a plain array inside a run.
template <std::size_t N>
void runCombs(std::array<comb, N>& combs, const float* in, float inputGain, float* out, int n) {
    CombBank<N> bank(combs);
    for (int done = 0; done < n;) {
        int len = n - done;
        for (const comb& c : combs) len = runLength(c.bufidx, c.bufsize, len);
        float* line[N];
        for (std::size_t c = 0; c < N; ++c) line[c] = combs[c].buffer + combs[c].bufidx;
        const float* x = in + done;
        float* sum = out + done;
        int k = 0;
        for (; k + 4 <= len; k += 4) bank.fourFrames(line, k, load(x + k) * inputGain, sum + k);
        for (; k < len; ++k) sum[k] = bank.oneFrame(line, k, x[k] * inputGain);
        for (comb& c : combs) advance(c.bufidx, c.bufsize, len);
        done += len;
    }
    bank.save(combs);
}

// One all-pass over n frames in place. A run never exceeds the line length, so
// each position is read before this run writes it.
void runAllpass(allpass& ap, float* x, int n) {
    const float feedback = ap.feedback;
    for (int done = 0; done < n;) {
        const int len = runLength(ap.bufidx, ap.bufsize, n - done);
        float* line = ap.buffer + ap.bufidx;
        float* io = x + done;
        int k = 0;
        for (; k + 4 <= len; k += 4) {
            const Lanes bufout = flush(load(line + k));
            const Lanes input = load(io + k);
            store(line + k, input + bufout * feedback);
            store(io + k, bufout - input);
        }
        for (; k < len; ++k) {
            const float bufout = flushDenormal(line[k]);
            const float input = io[k];
            line[k] = input + bufout * feedback;
            io[k] = bufout - input;
        }
        advance(ap.bufidx, ap.bufsize, len);
        done += len;
    }
}

template <std::size_t N> void runAllpasses(std::array<allpass, N>& allpasses, float* x, int n) {
    for (allpass& ap : allpasses) runAllpass(ap, x, n);
}

void gather(const float* in, long skip, float* out, int n) {
    for (int k = 0; k < n; ++k) out[k] = in[k * skip];
}

bool finite(float v) { return std::isfinite(v); }

} // namespace

void comb::setbuffer(float* buf, int size) {
    buffer = buf;
    bufsize = size;
}

void comb::mute() noexcept { std::fill(buffer, buffer + bufsize, 0.0f); }

void allpass::setbuffer(float* buf, int size) {
    buffer = buf;
    bufsize = size;
}

void allpass::mute() noexcept { std::fill(buffer, buffer + bufsize, 0.0f); }

HPF::HPF() {
    setSamplerate(48000.0f);
    init();
}

void HPF::setSamplerate(float rate) {
    if (!(rate > 0.0f) || !finite(rate)) return;
    fSamplerate = rate;
    pidsr = kPi / rate;
    fMinFrequency = 80.0f / rate;
    fMaxFrequency = rate * 0.5f;
}

void HPF::init() {
    pidsr = kPi / fSamplerate;
    std::fill(std::begin(a), std::end(a), 0.0f);
    lkf = 0.0f;
    y = 0.0f;
    t = 0.0f;
}

void HPF::processParameters() {
    if (!(fCutoff >= fMinFrequency)) // a NaN cutoff falls to the minimum too
        fCutoff = fMinFrequency;
    else if (fCutoff > 0.9f)
        fCutoff = 0.9f;
    ampscaler = 1.0f + fCutoff * 6.0f;
    kfc = fCutoff * (fSamplerate * 0.4f);
    if (kfc != lkf) {
        c = std::tan(pidsr * kfc);
        a[1] = 1.0f / (1.0f + kSqrt2 * c + c * c);
        a[2] = -2.0f * a[1];
        a[3] = a[1];
        a[4] = 2.0f * (c * c - 1.0f) * a[1];
        a[5] = (1.0f - kSqrt2 * c + c * c) * a[1];
        lkf = kfc;
    }
    for (float& word : a) word = flushDenormal(word);
}

template <ReverbLengths L> ReverbModel<L>::ReverbModel() {
    float* next = lines.data();
    auto attach = [&next](auto& stage, int length) {
        stage.setbuffer(next, length);
        next += length;
    };
    for (int i = 0; i < 8; ++i) {
        attach(combL[i], L.combL[i]);
        attach(combR[i], L.combR[i]);
    }
    for (int i = 0; i < 4; ++i) {
        attach(allpassL[i], L.allpassL[i]);
        attach(allpassR[i], L.allpassR[i]);
        allpassL[i].setfeedback(kAllpassFeedback);
        allpassR[i].setfeedback(kAllpassFeedback);
    }
    setwet(1.0f);
    setroomsize(0.5f);
    setdry(0.0f);
    setdamp(0.5f);
    setwidth(1.0f);
    setmode(0.0f);
    mute();
    setfilter(0.0f);
}

template <ReverbLengths L> void ReverbModel<L>::update() {
    wet1 = wet * (width / 2.0f + 0.5f);
    wet2 = wet * ((1.0f - width) / 2.0f);
    if (frozen()) {
        roomsize1 = 1.0f;
        damp1 = 0.0f;
        gain = 0.0f;
    } else {
        roomsize1 = roomsize;
        damp1 = damp;
        gain = kFixedGain;
    }
    for (auto* bank : {&combL, &combR})
        for (comb& c : *bank) c.setfeedback(roomsize1);
    for (auto* bank : {&combL, &combR})
        for (comb& c : *bank) c.setdamp(damp1);
}

// Room and damping beyond 0..1 would take the combs' loop gain to 1 or over:
// the tail would grow without end, so both are held to the dial.
template <ReverbLengths L> void ReverbModel<L>::setroomsize(float value) noexcept {
    if (!finite(value)) return;
    roomsize = std::clamp(value, 0.0f, 1.0f) * kScaleRoom + kOffsetRoom;
    update();
}

template <ReverbLengths L> void ReverbModel<L>::setdamp(float value) noexcept {
    if (!finite(value)) return;
    damp = std::clamp(value, 0.0f, 1.0f) * kScaleDamp;
    update();
}

template <ReverbLengths L> void ReverbModel<L>::setwet(float value) noexcept {
    if (!finite(value)) return;
    wet = value;
    update();
}

template <ReverbLengths L> void ReverbModel<L>::setdry(float value) noexcept {
    if (finite(value)) dry = value;
}

template <ReverbLengths L> void ReverbModel<L>::setwidth(float value) noexcept {
    if (!finite(value)) return;
    width = value;
    update();
}

template <ReverbLengths L> void ReverbModel<L>::setmode(float value) noexcept {
    if (!finite(value)) return;
    mode = value;
    update();
}

template <ReverbLengths L> void ReverbModel<L>::setfilter(float value) {
    for (HPF& f : hpf) {
        f.fCutoff = value;
        f.processParameters();
    }
}

template <ReverbLengths L> void ReverbModel<L>::setSamplerate(float rate) {
    for (HPF& f : hpf) f.setSamplerate(rate);
}

template <ReverbLengths L> void ReverbModel<L>::mute() noexcept {
    if (frozen()) return; // a frozen tail survives
    lines.fill(0.0f);
    for (auto* bank : {&combL, &combR})
        for (comb& c : *bank) c.filterstore = 0.0f;
    for (HPF& f : hpf) f.reset();
}

template <ReverbLengths L>
template <typename ReverbModel<L>::Output kind, bool highPass>
void ReverbModel<L>::render(const float* inputL, const float* inputR, float* outputL, float* outputR,
                            long numsamples, int skip, float inputGain) {
    if constexpr (highPass)
        for (HPF& f : hpf) f.processParameters();
    const long step = skip;
    float inL[kChunk], inR[kChunk], accL[kChunk], accR[kChunk];
    for (long done = 0; done < numsamples;) {
        const int n = static_cast<int>(std::min<long>(kChunk, numsamples - done));
        gather(inputL, step, inL, n);
        gather(inputR, step, inR, n);
        runCombs(combL, inL, inputGain, accL, n);
        runCombs(combR, inR, inputGain, accR, n);
        runAllpasses(allpassL, accL, n);
        runAllpasses(allpassR, accR, n);
        if constexpr (highPass) {
            for (int k = 0; k < n; ++k) hpf[0].processSample(&accL[k]);
            for (int k = 0; k < n; ++k) hpf[1].processSample(&accR[k]);
        }
        // The reverb never hands on a subnormal.
        for (int k = 0; k < n; ++k) {
            float& outL = outputL[k * step];
            float& outR = outputR[k * step];
            const float wetL = accL[k] * wet1 + accR[k] * wet2;
            const float wetR = accR[k] * wet1 + accL[k] * wet2;
            if constexpr (kind == Output::Wet) {
                outL = flushDenormal(wetL);
                outR = flushDenormal(wetR);
            } else if constexpr (kind == Output::Replace) {
                outL = flushDenormal(wetL + inL[k] * dry);
                outR = flushDenormal(wetR + inR[k] * dry);
            } else {
                outL = flushDenormal(outL + wetL);
                outR = flushDenormal(outR + wetR);
            }
        }
        inputL += n * step;
        inputR += n * step;
        outputL += n * step;
        outputR += n * step;
        done += n;
    }
}

template <ReverbLengths L>
void ReverbModel<L>::process(const float* inputL, const float* inputR, float* outputL, float* outputR,
                             long numsamples, float inputGain, int skip) noexcept {
    // Wet and dry belong to the caller here; only the width shapes the mix.
    wet1 = width / 2.0f + 0.5f;
    wet2 = (1.0f - width) / 2.0f;
    render<Output::Wet, false>(inputL, inputR, outputL, outputR, numsamples, skip, gain * inputGain);
}

template <ReverbLengths L>
void ReverbModel<L>::processreplace(const float* inputL, const float* inputR, float* outputL, float* outputR,
                                    long numsamples, int skip) noexcept {
    render<Output::Replace, false>(inputL, inputR, outputL, outputR, numsamples, skip, gain);
}

template <ReverbLengths L>
void ReverbModel<L>::processmix(const float* inputL, const float* inputR, float* outputL, float* outputR,
                                long numsamples, int skip) noexcept {
    render<Output::Mix, false>(inputL, inputR, outputL, outputR, numsamples, skip, gain);
}

template <ReverbLengths L>
void ReverbModel<L>::processreplaceHP(const float* inputL, const float* inputR, float* outputL,
                                      float* outputR, long numsamples, int skip) noexcept {
    render<Output::Replace, true>(inputL, inputR, outputL, outputR, numsamples, skip, gain);
}

template <ReverbLengths L>
void ReverbModel<L>::processmixHP(const float* inputL, const float* inputR, float* outputL, float* outputR,
                                  long numsamples, int skip) noexcept {
    render<Output::Mix, true>(inputL, inputR, outputL, outputR, numsamples, skip, gain);
}

template class ReverbModel<reverbLengths(1, 4)>;
template class ReverbModel<reverbLengths(1, 2)>;
template class ReverbModel<reverbLengths(1, 1)>;
template class ReverbModel<reverbLengths(2, 1)>;
template class ReverbModel<reverbLengths(4, 1)>;
