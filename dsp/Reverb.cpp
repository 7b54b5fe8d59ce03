#include "dsp/Reverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

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

// Four consecutive positions of a line from idx on, some of them past the
// wrap. The lines are far longer than four, so the positions are distinct.
inline Lanes loadWrapped(const float* line, int idx, int size) {
    float v[4];
    for (int j = 0; j < 4; ++j) v[j] = line[idx + j < size ? idx + j : idx + j - size];
    return load(v);
}

inline void storeWrapped(float* line, int idx, int size, Lanes v) {
    float u[4];
    store(u, v);
    for (int j = 0; j < 4; ++j) line[idx + j < size ? idx + j : idx + j - size] = u[j];
}

inline void advance(std::int32_t& idx, int size, int by) {
    idx += by;
    if (idx >= size) idx -= size;
}

// Frames from here on before the first of these lines wraps.
template <class Line, std::size_t N> int framesToWrap(const std::array<Line, N>& lines, int wanted) {
    for (const Line& l : lines) wanted = std::min(wanted, l.bufsize - l.bufidx);
    return wanted;
}

#if ORVO_EIGHT_LANES
// Rows become columns: v[c] lane j goes to v[j] lane c.
ORVO_WIDE void transpose8(Lanes8* v) {
    // Pairs of rows interleaved, then pairs of pairs, then the halves swapped.
    const Lanes8 t0 = __builtin_shufflevector(v[0], v[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lanes8 t1 = __builtin_shufflevector(v[0], v[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const Lanes8 t2 = __builtin_shufflevector(v[2], v[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lanes8 t3 = __builtin_shufflevector(v[2], v[3], 2, 10, 3, 11, 6, 14, 7, 15);
    const Lanes8 t4 = __builtin_shufflevector(v[4], v[5], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lanes8 t5 = __builtin_shufflevector(v[4], v[5], 2, 10, 3, 11, 6, 14, 7, 15);
    const Lanes8 t6 = __builtin_shufflevector(v[6], v[7], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lanes8 t7 = __builtin_shufflevector(v[6], v[7], 2, 10, 3, 11, 6, 14, 7, 15);
    const Lanes8 u0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    const Lanes8 u1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    const Lanes8 u2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    const Lanes8 u3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
    const Lanes8 u4 = __builtin_shufflevector(t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
    const Lanes8 u5 = __builtin_shufflevector(t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
    const Lanes8 u6 = __builtin_shufflevector(t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
    const Lanes8 u7 = __builtin_shufflevector(t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
    v[0] = __builtin_shufflevector(u0, u4, 0, 1, 2, 3, 8, 9, 10, 11);
    v[1] = __builtin_shufflevector(u1, u5, 0, 1, 2, 3, 8, 9, 10, 11);
    v[2] = __builtin_shufflevector(u2, u6, 0, 1, 2, 3, 8, 9, 10, 11);
    v[3] = __builtin_shufflevector(u3, u7, 0, 1, 2, 3, 8, 9, 10, 11);
    v[4] = __builtin_shufflevector(u0, u4, 4, 5, 6, 7, 12, 13, 14, 15);
    v[5] = __builtin_shufflevector(u1, u5, 4, 5, 6, 7, 12, 13, 14, 15);
    v[6] = __builtin_shufflevector(u2, u6, 4, 5, 6, 7, 12, 13, 14, 15);
    v[7] = __builtin_shufflevector(u3, u7, 4, 5, 6, 7, 12, 13, 14, 15);
}
#endif

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

    // The next four frames: read(c) gives comb c's four line values, write(c, v)
    // puts the new ones; sum gets the comb outputs added up.
    template <class Read, class Write> void fourFrames(Lanes input, float* sum, Read read, Write write) {
        Lanes v[N];
        Lanes acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) {
            v[c] = flush(read(c));
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
        for (std::size_t c = 0; c < N; ++c) write(c, input + v[c] * feedback[c]);
    }

    float oneFrame(std::array<comb, N>& combs, float input) {
        float acc = 0.0f;
        for (std::size_t c = 0; c < N; ++c) {
            // A lane of a vector value is not addressable everywhere: read it, write it back.
            float& cell = combs[c].buffer[combs[c].bufidx];
            const float output = flushDenormal(cell);
            acc += output;
            const std::size_t q = c / 4, lane = c % 4;
            const float s = flushDenormal(output * damp2[q][lane] + store[q][lane] * damp1[q][lane]);
            store[q][lane] = s;
            cell = input + s * feedback[c];
        }
        return acc;
    }

private:
    static_assert(N % 4 == 0);
    static constexpr std::size_t Q = N / 4;
    Lanes store[Q], damp1[Q], damp2[Q];
    float feedback[N];
};

// The combs of one channel over n frames, summed into out. Runs go up to the
// next wrap of any line, where every line is a plain array; a group of four
// that meets a wrap reads and writes its lines in two pieces, so only the
// last frames of a chunk take the one-frame path.
template <std::size_t N>
void runCombs(std::array<comb, N>& combs, const float* in, float inputGain, float* out, int n) {
    CombBank<N> bank(combs);
    int done = 0;
    while (n - done >= 4) {
        const float* x = in + done;
        float* sum = out + done;
        int len = framesToWrap(combs, n - done);
        if (len < 4) {
            len = 4;
            bank.fourFrames(
                load(x) * inputGain, sum,
                [&](std::size_t c) {
                    return loadWrapped(combs[c].buffer, combs[c].bufidx, combs[c].bufsize);
                },
                [&](std::size_t c, Lanes v) {
                    storeWrapped(combs[c].buffer, combs[c].bufidx, combs[c].bufsize, v);
                });
        } else {
            len -= len % 4;
            float* line[N];
            for (std::size_t c = 0; c < N; ++c) line[c] = combs[c].buffer + combs[c].bufidx;
            for (int k = 0; k < len; k += 4)
                bank.fourFrames(
                    load(x + k) * inputGain, sum + k, [&](std::size_t c) { return load(line[c] + k); },
                    [&](std::size_t c, Lanes v) { store(line[c] + k, v); });
        }
        for (comb& c : combs) advance(c.bufidx, c.bufsize, len);
        done += len;
    }
    for (; done < n; ++done) {
        out[done] = bank.oneFrame(combs, in[done] * inputGain);
        for (comb& c : combs) advance(c.bufidx, c.bufsize, 1);
    }
    bank.save(combs);
}

#if ORVO_EIGHT_LANES
ORVO_WIDE Lanes8 loadWrapped8(const float* line, int idx, int size) {
    if (idx + 8 <= size) return load8(line + idx);
    float v[8];
    for (int j = 0; j < 8; ++j) v[j] = line[idx + j < size ? idx + j : idx + j - size];
    return load8(v);
}

ORVO_WIDE void storeWrapped8(float* line, int idx, int size, Lanes8 v) {
    if (idx + 8 <= size) return store8(line + idx, v);
    float u[8];
    store8(u, v);
    for (int j = 0; j < 8; ++j) line[idx + j < size ? idx + j : idx + j - size] = u[j];
}

// One channel's eight combs in one wide vector per frame, eight frames at a
// time: the same arithmetic on every lane as the four-lane bank.
class WideChannel {
public:
    ORVO_WIDE explicit WideChannel(std::array<comb, 8>& lines) : combs(lines) {
        float s[8], d1[8], d2[8];
        for (std::size_t c = 0; c < 8; ++c) {
            feedback[c] = lines[c].feedback;
            s[c] = lines[c].filterstore;
            d1[c] = lines[c].damp1;
            d2[c] = lines[c].damp2;
        }
        store = load8(s);
        damp1 = load8(d1);
        damp2 = load8(d2);
    }

    ORVO_WIDE ~WideChannel() {
        float s[8];
        store8(s, store);
        for (std::size_t c = 0; c < 8; ++c) combs[c].filterstore = s[c];
    }
    WideChannel(const WideChannel&) = delete;
    WideChannel& operator=(const WideChannel&) = delete;

    // Where each line stands now, for a run that meets no wrap.
    ORVO_WIDE void aim() {
        for (std::size_t c = 0; c < 8; ++c) line[c] = combs[c].buffer + combs[c].bufidx;
    }

    // Frames k .. k+7 (from the aimed positions, or from the lines' own across
    // a wrap) read out, summed into sum and transposed into v[frame].
    template <bool kAcrossWrap> ORVO_WIDE void read(int k, Lanes8* v, float* sum) const {
        Lanes8 acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < 8; ++c) {
            const comb& one = combs[c];
            v[c] =
                flush8(kAcrossWrap ? loadWrapped8(one.buffer, one.bufidx, one.bufsize) : load8(line[c] + k));
            acc += v[c];
        }
        store8(sum, acc);
        transpose8(v);
    }

    ORVO_WIDE void step(Lanes8& frame) {
        store = flush8(frame * damp2 + store * damp1);
        frame = store;
    }

    template <bool kAcrossWrap> ORVO_WIDE void write(int k, Lanes8* v, Lanes8 input) const {
        transpose8(v);
#pragma GCC unroll 8
        for (std::size_t c = 0; c < 8; ++c) {
            const Lanes8 x = input + v[c] * splat8(feedback[c]);
            if (kAcrossWrap)
                storeWrapped8(combs[c].buffer, combs[c].bufidx, combs[c].bufsize, x);
            else
                store8(line[c] + k, x);
        }
    }

private:
    std::array<comb, 8>& combs;
    float* line[8] = {};
    float feedback[8];
    Lanes8 store, damp1, damp2;
};

// Eight frames of both channels, the two recursions side by side so that each
// fills the other's waits.
template <bool kAcrossWrap>
ORVO_WIDE void eightStereoFrames(WideChannel& left, WideChannel& right, int k, const float* inL,
                                 const float* inR, float inputGain, float* outL, float* outR) {
    Lanes8 vL[8], vR[8];
    left.read<kAcrossWrap>(k, vL, outL);
    right.read<kAcrossWrap>(k, vR, outR);
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        left.step(vL[j]);
        right.step(vR[j]);
    }
    left.write<kAcrossWrap>(k, vL, load8(inL) * inputGain);
    right.write<kAcrossWrap>(k, vR, load8(inR) * inputGain);
}

// Both channels' combs over n frames, eight lanes wide. Runs go up to the next
// wrap of any of the sixteen lines; a group of eight that meets a wrap reads
// and writes its lines in two pieces. The last few frames go four lanes wide.
template <std::size_t N>
[[gnu::target("avx2")]] void runCombsEight(std::array<comb, N>& combL, std::array<comb, N>& combR,
                                           const float* inL, const float* inR, float inputGain, float* outL,
                                           float* outR, int n) {
    static_assert(N == 8);
    int done = 0;
    {
        WideChannel left(combL), right(combR);
        while (n - done >= 8) {
            int len = framesToWrap(combR, framesToWrap(combL, n - done));
            if (len < 8) {
                len = 8;
                eightStereoFrames<true>(left, right, 0, inL + done, inR + done, inputGain, outL + done,
                                        outR + done);
            } else {
                len -= len % 8;
                left.aim();
                right.aim();
                for (int k = 0; k < len; k += 8)
                    eightStereoFrames<false>(left, right, k, inL + done + k, inR + done + k, inputGain,
                                             outL + done + k, outR + done + k);
            }
            for (comb& c : combL) advance(c.bufidx, c.bufsize, len);
            for (comb& c : combR) advance(c.bufidx, c.bufsize, len);
            done += len;
        }
    }
    if (done < n) {
        runCombs(combL, inL + done, inputGain, outL + done, n - done);
        runCombs(combR, inR + done, inputGain, outR + done, n - done);
    }
}
#endif

// Both channels' combs over n frames, as wide as the processor allows.
template <std::size_t N>
void runStereoCombs(std::array<comb, N>& combL, std::array<comb, N>& combR, const float* inL,
                    const float* inR, float inputGain, float* outL, float* outR, int n) {
#if ORVO_EIGHT_LANES
    if (eightLanes()) return runCombsEight(combL, combR, inL, inR, inputGain, outL, outR, n);
#endif
    runCombs(combL, inL, inputGain, outL, n);
    runCombs(combR, inR, inputGain, outR, n);
}

// One all-pass over n frames in place, in runs up to the wrap; a group of four
// that meets it reads and writes the line in two pieces.
void runAllpass(allpass& ap, float* x, int n) {
    const float feedback = ap.feedback;
    const auto four = [&](float* io, Lanes bufout) {
        const Lanes input = load(io);
        store(io, bufout - input);
        return input + bufout * feedback;
    };
    int done = 0;
    while (n - done >= 4) {
        float* io = x + done;
        int len = std::min(n - done, ap.bufsize - ap.bufidx);
        if (len < 4) {
            len = 4;
            const Lanes bufout = flush(loadWrapped(ap.buffer, ap.bufidx, ap.bufsize));
            storeWrapped(ap.buffer, ap.bufidx, ap.bufsize, four(io, bufout));
        } else {
            len -= len % 4;
            float* line = ap.buffer + ap.bufidx;
            for (int k = 0; k < len; k += 4) store(line + k, four(io + k, flush(load(line + k))));
        }
        advance(ap.bufidx, ap.bufsize, len);
        done += len;
    }
    for (; done < n; ++done) x[done] = ap.process(x[done]);
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

// The block renderer reads and writes up to eight frames of a line at once.
constexpr bool linesHoldEightFrames(const ReverbLengths& l) {
    for (int i = 0; i < 8; ++i)
        if (l.combL[i] < 8 || l.combR[i] < 8) return false;
    for (int i = 0; i < 4; ++i)
        if (l.allpassL[i] < 8 || l.allpassR[i] < 8) return false;
    return true;
}

template <ReverbLengths L> ReverbModel<L>::ReverbModel() {
    static_assert(linesHoldEightFrames(L));
    // The processor check settles here, not on the first render.
    VectorMath::canRunEightLanes();
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
        runStereoCombs(combL, combR, inL, inR, inputGain, accL, accR, n);
        runAllpasses(allpassL, accL, n);
        runAllpasses(allpassR, accR, n);
        if constexpr (highPass) {
            for (int k = 0; k < n; ++k) hpf[0].processSample(&accL[k]);
            for (int k = 0; k < n; ++k) hpf[1].processSample(&accR[k]);
        }
        // The reverb never hands on a subnormal.
        const auto mix = [&](auto wetL, auto wetR, auto outL, auto outR, auto dryL, auto dryR, auto keep) {
            if constexpr (kind == Output::Wet)
                return std::pair{keep(wetL), keep(wetR)};
            else if constexpr (kind == Output::Replace)
                return std::pair{keep(wetL + dryL * dryLevel), keep(wetR + dryR * dryLevel)};
            else
                return std::pair{keep(outL + wetL), keep(outR + wetR)};
        };
        int k = 0;
        if (step == 1)
            // Adjacent frames, four at a time.
            for (; k + 4 <= n; k += 4) {
                const Lanes aL = load(accL + k), aR = load(accR + k);
                const auto [l, r] =
                    mix(aL * wetSame + aR * wetCross, aR * wetSame + aL * wetCross, load(outputL + k),
                        load(outputR + k), load(inL + k), load(inR + k), [](Lanes v) { return flush(v); });
                store(outputL + k, l);
                store(outputR + k, r);
            }
        for (; k < n; ++k) {
            float& outL = outputL[k * step];
            float& outR = outputR[k * step];
            const auto [l, r] =
                mix(accL[k] * wetSame + accR[k] * wetCross, accR[k] * wetSame + accL[k] * wetCross, outL,
                    outR, inL[k], inR[k], [](float v) { return flushDenormal(v); });
            outL = l;
            outR = r;
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
