#include "dsp/Reverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

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

using namespace VectorMath;

// Four consecutive positions of a line from idx on, the last ones maybe past
// the wrap. The lines are far longer than four, so the positions are distinct.
inline Lanes loadWrapped(const float* line, int idx, int size) {
    if (idx + 4 <= size) return load(line + idx);
    float v[4];
    for (int j = 0; j < 4; ++j) v[j] = line[idx + j < size ? idx + j : idx + j - size];
    return load(v);
}

inline void storeWrapped(float* line, int idx, int size, Lanes v) {
    if (idx + 4 <= size) return VectorMath::store(line + idx, v);
    float u[4];
    VectorMath::store(u, v);
    for (int j = 0; j < 4; ++j) line[idx + j < size ? idx + j : idx + j - size] = u[j];
}

// The combs of one channel side by side: comb c is lane c % 4 of vector c / 4.
// Four frames at a time, line reads, sums and writes go frame-wise and the
// filter recursion goes comb-wise, with a transpose in between; every lane
// does exactly the arithmetic of comb::process. A group that meets a line's
// wrap reads and writes that line in two pieces, so no frame takes the
// one-frame path until the last few of a chunk.
template <std::size_t N> class CombBank {
public:
    explicit CombBank(const std::array<comb, N>& combs) {
        for (std::size_t c = 0; c < N; ++c) {
            store[c / 4][c % 4] = combs[c].filterstore;
            damp1[c / 4][c % 4] = combs[c].damp1;
            damp2[c / 4][c % 4] = combs[c].damp2;
            feedback[c] = combs[c].feedback;
            line[c] = combs[c].buffer;
            idx[c] = combs[c].bufidx;
            size[c] = combs[c].bufsize;
        }
    }

    void save(std::array<comb, N>& combs) const {
        for (std::size_t c = 0; c < N; ++c) {
            combs[c].filterstore = store[c / 4][c % 4];
            combs[c].bufidx = idx[c];
        }
    }

    // The next four frames; sum gets the comb outputs added up.
    void fourFrames(Lanes input, float* sum) {
        Lanes v[N];
        Lanes acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) {
            v[c] = flush(loadWrapped(line[c], idx[c], size[c]));
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
        for (std::size_t c = 0; c < N; ++c) {
            storeWrapped(line[c], idx[c], size[c], input + v[c] * feedback[c]);
            idx[c] += 4;
            if (idx[c] >= size[c]) idx[c] -= size[c];
        }
    }

    float oneFrame(float input) {
        float acc = 0.0f;
        for (std::size_t c = 0; c < N; ++c) {
            // A lane of a vector value is not addressable everywhere: read it, write it back.
            float& cell = line[c][idx[c]];
            const float output = flushDenormal(cell);
            acc += output;
            const std::size_t q = c / 4, lane = c % 4;
            const float s = flushDenormal(output * damp2[q][lane] + store[q][lane] * damp1[q][lane]);
            store[q][lane] = s;
            cell = input + s * feedback[c];
            if (++idx[c] >= size[c]) idx[c] = 0;
        }
        return acc;
    }

private:
    static_assert(N % 4 == 0);
    static constexpr std::size_t Q = N / 4;
    Lanes store[Q], damp1[Q], damp2[Q];
    float feedback[N];
    float* line[N];
    std::int32_t idx[N], size[N];
};

// The combs of one channel over n frames, summed into out.
template <std::size_t N>
void runCombs(std::array<comb, N>& combs, const float* in, float inputGain, float* out, int n) {
    CombBank<N> bank(combs);
    int k = 0;
    for (; k + 4 <= n; k += 4) bank.fourFrames(load(in + k) * inputGain, out + k);
    for (; k < n; ++k) out[k] = bank.oneFrame(in[k] * inputGain);
    bank.save(combs);
}

// One all-pass over n frames in place.
void runAllpass(allpass& ap, float* x, int n) {
    const float feedback = ap.feedback;
    float* line = ap.buffer;
    const int size = ap.bufsize;
    int idx = ap.bufidx;
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        const Lanes bufout = flush(loadWrapped(line, idx, size));
        const Lanes input = load(x + k);
        storeWrapped(line, idx, size, input + bufout * feedback);
        store(x + k, bufout - input);
        idx += 4;
        if (idx >= size) idx -= size;
    }
    for (; k < n; ++k) {
        const float bufout = flushDenormal(line[idx]);
        const float input = x[k];
        line[idx] = input + bufout * feedback;
        x[k] = bufout - input;
        if (++idx >= size) idx = 0;
    }
    ap.bufidx = idx;
}

template <std::size_t N> void runAllpasses(std::array<allpass, N>& allpasses, float* x, int n) {
    for (allpass& ap : allpasses) runAllpass(ap, x, n);
}

void gather(const float* in, long skip, float* out, int n) {
    if (skip == 1) {
        std::copy_n(in, n, out);
        return;
    }
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

// The block renderer reads and writes four frames of a line at once.
constexpr bool linesHoldFourFrames(const ReverbLengths& l) {
    for (int i = 0; i < 8; ++i)
        if (l.combL[i] < 4 || l.combR[i] < 4) return false;
    for (int i = 0; i < 4; ++i)
        if (l.allpassL[i] < 4 || l.allpassR[i] < 4) return false;
    return true;
}

template <ReverbLengths L> ReverbModel<L>::ReverbModel() {
    static_assert(linesHoldFourFrames(L));
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
    // Locals, so that stores to the outputs cannot be taken for stores to them.
    const float wetSame = wet1, wetCross = wet2, dryLevel = dry;
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
        // The reverb never hands on a subnormal. Adjacent frames (a stride of
        // a compile-time 1) get a loop of their own, which the compiler widens.
        const auto emit = [&](auto stride) {
            for (int k = 0; k < n; ++k) {
                float& outL = outputL[k * stride];
                float& outR = outputR[k * stride];
                const float wetL = accL[k] * wetSame + accR[k] * wetCross;
                const float wetR = accR[k] * wetSame + accL[k] * wetCross;
                if constexpr (kind == Output::Wet) {
                    outL = flushDenormal(wetL);
                    outR = flushDenormal(wetR);
                } else if constexpr (kind == Output::Replace) {
                    outL = flushDenormal(wetL + inL[k] * dryLevel);
                    outR = flushDenormal(wetR + inR[k] * dryLevel);
                } else {
                    outL = flushDenormal(outL + wetL);
                    outR = flushDenormal(outR + wetR);
                }
            }
        };
        if (step == 1)
            emit(std::integral_constant<long, 1>{});
        else
            emit(step);
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
