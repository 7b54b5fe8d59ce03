#include "dsp/Reverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <span>
#include <utility>

#include "dsp/VectorMath.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr float kFixedGain = 0.015f;
constexpr float kScaleRoom = 0.28f;
constexpr float kOffsetRoom = 0.7f;
constexpr float kScaleDamp = 0.4f;
constexpr float kAllpassFeedback = 0.5f;
constexpr float kSqrt2 = std::numbers::sqrt2_v<float>;

using namespace VectorMath;

inline void advance(std::int32_t& idx, int size, int by) {
    idx += by;
    if (idx >= size) idx -= size;
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

// Where a bank of combs' lines stand over a run of n frames: line c wraps at
// frame wrap[c], and at[c] + f is frame f's cell on whichever side of the wrap
// the last rebase or turn stood. A run is never longer than a line, so its
// cells are distinct and no frame of it reads what another writes. A turned
// line counts from up to n floats before its start: the storage's headroom.
template <std::size_t N> class CombRun {
public:
    CombRun(std::array<comb, N>& bank, int frames) : lines(bank), n(frames) {
        for (std::size_t c = 0; c < N; ++c) {
            at[c] = lines[c].buffer + lines[c].bufidx;
            wrap[c] = lines[c].bufsize - lines[c].bufidx;
        }
    }
    ~CombRun() {
        for (comb& l : lines) advance(l.bufidx, l.bufsize, n);
    }
    CombRun(const CombRun&) = delete;
    CombRun& operator=(const CombRun&) = delete;

    static constexpr std::size_t size = N;

    // Cells of the lines that have wrapped by frame k now count from the start.
    void rebase(int k) {
        for (std::size_t c = 0; c < N; ++c)
            at[c] = lines[c].buffer + lines[c].bufidx - (wrap[c] <= k ? lines[c].bufsize : 0);
    }

    // Line c's cells from its wrap on.
    void turn(std::size_t c) { at[c] -= lines[c].bufsize; }
    int wrapFrame(std::size_t c) const { return wrap[c]; }
    float* start(std::size_t c) const { return lines[c].buffer; }

    bool wrapsWithin(std::size_t c, int k, int width) const { return wrap[c] > k && wrap[c] < k + width; }

    // Frame f's cell, wherever it lies.
    float& cell(std::size_t c, int f) const {
        const comb& l = lines[c];
        return l.buffer[f < wrap[c] ? l.bufidx + f : l.bufidx + f - l.bufsize];
    }

    float* at[N];

    // Frames k .. k+7 of line c, which wraps among them, lent out as a plain
    // array: the caller fills it, and takes it back when the group is done.
    float* lend(std::size_t c, int k) {
        at[c] = spare[c];
        return spare[c] + k;
    }
    const float* giveBack(std::size_t c, int k) {
        at[c] = lines[c].buffer + lines[c].bufidx;
        return spare[c] + k;
    }

private:
    std::array<comb, N>& lines;
    const int n;
    int wrap[N];
    float spare[N][kReverbPass];
};

// Frames k .. k+3 of line c, across its wrap.
template <class Run> Lanes gather(const Run& run, std::size_t c, int k) {
    return Lanes{run.cell(c, k), run.cell(c, k + 1), run.cell(c, k + 2), run.cell(c, k + 3)};
}

template <class Run> void scatter(const Run& run, std::size_t c, int k, Lanes v) {
    for (int j = 0; j < 4; ++j) run.cell(c, k + j) = v[j];
}

// Frames from k on in groups of `width`, each marked plain (no line of the
// runs wraps inside it) or across (some do), until fewer than `width` are left.
// Lines turn to their start as the groups pass their wraps.
template <int width, class Run, std::size_t M> class Groups {
public:
    Groups(int from, int frames, std::array<Run*, M> runs) : k(from), n(frames) {
        for (Run* run : runs) {
            run->rebase(k);
            for (std::size_t c = 0; c < Run::size; ++c)
                if (run->wrapFrame(c) > k && run->wrapFrame(c) < n) add({run->wrapFrame(c), run, c});
        }
    }

    // The next group's first frame and kind; false once fewer than `width` are left.
    bool next(int& frame, bool& across) {
        for (; first < count && wraps[first].frame <= k; ++first) wraps[first].run->turn(wraps[first].line);
        if (k + width > n) return false;
        frame = k;
        across = first < count && wraps[first].frame < k + width;
        k += width;
        return true;
    }

    // The first frame not yet handed out.
    int left() const { return k; }

    struct Wrap {
        int frame;
        Run* run;
        std::size_t line;
    };

    // The lines that wrap inside the group last handed out.
    std::span<const Wrap> straddlers() const {
        int end = first;
        while (end < count && wraps[end].frame < k) ++end;
        return {wraps + first, wraps + end};
    }

private:
    // In order of frame.
    void add(Wrap w) {
        int i = count++;
        for (; i > 0 && wraps[i - 1].frame > w.frame; --i) wraps[i] = wraps[i - 1];
        wraps[i] = w;
    }

    int k;
    const int n;
    Wrap wraps[Run::size * M];
    int count = 0;
    int first = 0;
};

// The combs of one channel side by side: comb c is lane c % 4 of vector c / 4.
// Four frames at a time, line reads, sums and writes go frame-wise and the
// filter recursion goes comb-wise, with a transpose in between; every lane
// gives exactly the bits of comb::process.
//
// The recursion carries held = store * damp1, and takes the flush of each new
// store as a mask on the product rather than on the sum: where the flush keeps
// the sum the two agree, and where it zeroes it +0 * damp1 is +0 as well. The
// product then need not wait for the flush.
template <std::size_t N> class CombBank {
public:
    explicit CombBank(const std::array<comb, N>& combs) {
        for (std::size_t c = 0; c < N; ++c) {
            store[c / 4][c % 4] = combs[c].filterstore;
            damp1[c / 4][c % 4] = combs[c].damp1;
            damp2[c / 4][c % 4] = combs[c].damp2;
            feedback[c] = combs[c].feedback;
        }
        for (std::size_t q = 0; q < Q; ++q) held[q] = store[q] * damp1[q];
    }

    void save(std::array<comb, N>& combs) const {
        for (std::size_t c = 0; c < N; ++c) combs[c].filterstore = store[c / 4][c % 4];
    }

    // Frames k .. k+3 of the lines, some of which wrap among them when
    // kAcross: comb outputs summed into sum.
    template <bool kAcross> void fourFrames(const CombRun<N>& line, int k, Lanes input, float* sum) {
        Lanes v[N];
        Lanes acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) {
            v[c] = flush(kAcross && line.wrapsWithin(c, k, 4) ? gather(line, c, k) : load(line.at[c] + k));
            acc += v[c];
        }
        VectorMath::store(sum, acc);
#pragma GCC unroll 8
        for (std::size_t q = 0; q < Q; ++q) {
            Lanes* frame = v + 4 * q;
            transpose(frame);
#pragma GCC unroll 8
            for (int j = 0; j < 4; ++j) {
                const Lanes next = frame[j] * damp2[q] + held[q];
                const Mask keep = keptByFlush(next);
                held[q] = keepOnly(next * damp1[q], keep);
                frame[j] = keepOnly(next, keep);
            }
            store[q] = frame[3];
            transpose(frame);
        }
#pragma GCC unroll 8
        for (std::size_t c = 0; c < N; ++c) {
            const Lanes x = input + v[c] * feedback[c];
            if (kAcross && line.wrapsWithin(c, k, 4))
                scatter(line, c, k, x);
            else
                VectorMath::store(line.at[c] + k, x);
        }
    }

    float oneFrame(const CombRun<N>& line, int k, float input) {
        float acc = 0.0f;
        for (std::size_t c = 0; c < N; ++c) {
            // A lane of a vector value is not addressable everywhere: read it, write it back.
            float& cell = line.cell(c, k);
            const float output = flushDenormal(cell);
            acc += output;
            const std::size_t q = c / 4, lane = c % 4;
            const float s = flushDenormal(output * damp2[q][lane] + store[q][lane] * damp1[q][lane]);
            store[q][lane] = s;
            held[q][lane] = s * damp1[q][lane];
            cell = input + s * feedback[c];
        }
        return acc;
    }

private:
    static_assert(N % 4 == 0);
    static constexpr std::size_t Q = N / 4;
    Lanes store[Q], held[Q], damp1[Q], damp2[Q];
    float feedback[N];
};

// Frames from .. n of one channel's combs, summed into out.
template <std::size_t N>
void runCombs(std::array<comb, N>& combs, CombRun<N>& line, const float* in, float inputGain, float* out,
              int from, int n) {
    CombBank<N> bank(combs);
    Groups<4, CombRun<N>, 1> groups(from, n, {&line});
    int k = 0;
    for (bool across = false; groups.next(k, across);) {
        const Lanes input = load(in + k) * inputGain;
        if (across)
            bank.template fourFrames<true>(line, k, input, out + k);
        else
            bank.template fourFrames<false>(line, k, input, out + k);
    }
    for (k = groups.left(); k < n; ++k) out[k] = bank.oneFrame(line, k, in[k] * inputGain);
    bank.save(combs);
}

#if ORVO_EIGHT_LANES
// Eight cells that a line's wrap splits: the last `before` of the line from
// tail on, then its first ones. Masked and permuted loads, so nothing beyond
// the line is touched and no narrow stores stall the wide load.
constexpr std::int32_t kFirstLanes[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::int32_t kLaneIndex[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0};

// Lanes 0 .. n-1 set.
ORVO_WIDE __m256i firstLanes(int n) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kFirstLanes + 8 - n));
}

// Lane j takes lane j - by (lanes below `by` are left to the caller).
ORVO_WIDE __m256i laneShift(int by) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneIndex + 8 - by));
}

ORVO_WIDE Lanes8 loadAcrossWrap8(const float* tail, int before, const float* start) {
    const __m256i head = firstLanes(before);
    const __m256 rest = _mm256_permutevar8x32_ps(_mm256_loadu_ps(start), laneShift(before));
    return _mm256_blendv_ps(rest, _mm256_maskload_ps(tail, head), _mm256_castsi256_ps(head));
}

ORVO_WIDE void storeAcrossWrap8(float* tail, int before, float* start, Lanes8 v) {
    _mm256_maskstore_ps(tail, firstLanes(before), v);
    // Lane j takes lane j + before.
    const __m256i back = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneIndex + 8 + before));
    _mm256_maskstore_ps(start, firstLanes(8 - before), _mm256_permutevar8x32_ps(v, back));
}

// A wrapping line's eight cells of frame k on, lent to the wide path.
template <class Run> ORVO_WIDE void lend8(Run& run, std::size_t c, int k) {
    const Lanes8 cells = loadAcrossWrap8(run.at[c] + k, run.wrapFrame(c) - k, run.start(c));
    store8(run.lend(c, k), cells);
}

template <class Run> ORVO_WIDE void giveBack8(Run& run, std::size_t c, int k) {
    const Lanes8 cells = load8(run.giveBack(c, k));
    storeAcrossWrap8(run.at[c] + k, run.wrapFrame(c) - k, run.start(c), cells);
}

// One channel's eight combs in one wide vector per frame, eight frames at a
// time: the same arithmetic on every lane as the four-lane bank.
class WideChannel {
public:
    ORVO_WIDE WideChannel(std::array<comb, 8>& lines, const CombRun<8>& run) : combs(lines), line(run) {
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
        held = store * damp1;
    }

    ORVO_WIDE ~WideChannel() {
        float s[8];
        store8(s, store);
        for (std::size_t c = 0; c < 8; ++c) combs[c].filterstore = s[c];
    }
    WideChannel(const WideChannel&) = delete;
    WideChannel& operator=(const WideChannel&) = delete;

    // Frames k .. k+7 read out, summed into sum and transposed into v[frame].
    ORVO_WIDE void read(int k, Lanes8* v, float* sum) const {
        Lanes8 acc = {};
#pragma GCC unroll 8
        for (std::size_t c = 0; c < 8; ++c) {
            v[c] = flush8(load8(line.at[c] + k));
            acc += v[c];
        }
        store8(sum, acc);
        transpose8(v);
    }

    // The four-lane bank's recursion, held and masked the same way.
    ORVO_WIDE void step(Lanes8& frame) {
        const Lanes8 sum = frame * damp2 + held;
        const Mask8 keep = keptByFlush8(sum);
        held = keepOnly8(sum * damp1, keep);
        frame = keepOnly8(sum, keep);
        store = frame;
    }

    ORVO_WIDE void write(int k, Lanes8* v, Lanes8 input) const {
        transpose8(v);
#pragma GCC unroll 8
        for (std::size_t c = 0; c < 8; ++c) store8(line.at[c] + k, input + v[c] * splat8(feedback[c]));
    }

private:
    std::array<comb, 8>& combs;
    const CombRun<8>& line;
    float feedback[8];
    Lanes8 store, held, damp1, damp2;
};

// Eight frames of both channels, the two recursions side by side so that each
// fills the other's waits.
ORVO_WIDE void eightStereoFrames(WideChannel& left, WideChannel& right, int k, const float* inL,
                                 const float* inR, float inputGain, float* outL, float* outR) {
    Lanes8 vL[8], vR[8];
    left.read(k, vL, outL + k);
    right.read(k, vR, outR + k);
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        left.step(vL[j]);
        right.step(vR[j]);
    }
    left.write(k, vL, load8(inL + k) * inputGain);
    right.write(k, vR, load8(inR + k) * inputGain);
}

// Both channels' combs over n frames, eight lanes wide; the last few frames go
// four lanes wide.
[[gnu::target("avx2")]] void runCombsEight(std::array<comb, 8>& combL, std::array<comb, 8>& combR,
                                           CombRun<8>& lineL, CombRun<8>& lineR, const float* inL,
                                           const float* inR, float inputGain, float* outL, float* outR,
                                           int n) {
    Groups<8, CombRun<8>, 2> groups(0, n, {&lineL, &lineR});
    {
        WideChannel left(combL, lineL), right(combR, lineR);
        int k = 0;
        for (bool across = false; groups.next(k, across);) {
            if (across)
                for (const auto& wrap : groups.straddlers()) lend8(*wrap.run, wrap.line, k);
            eightStereoFrames(left, right, k, inL, inR, inputGain, outL, outR);
            if (across)
                for (const auto& wrap : groups.straddlers()) giveBack8(*wrap.run, wrap.line, k);
        }
    }
    const int k = groups.left();
    if (k < n) {
        runCombs(combL, lineL, inL, inputGain, outL, k, n);
        runCombs(combR, lineR, inR, inputGain, outR, k, n);
    }
}
#endif

// Both channels' combs over n frames, as wide as the processor allows.
template <std::size_t N>
void runStereoCombs(std::array<comb, N>& combL, std::array<comb, N>& combR, const float* inL,
                    const float* inR, float inputGain, float* outL, float* outR, int n) {
    CombRun<N> lineL(combL, n), lineR(combR, n);
#if ORVO_EIGHT_LANES
    if constexpr (N == 8)
        if (eightLanes()) return runCombsEight(combL, combR, lineL, lineR, inL, inR, inputGain, outL, outR, n);
#endif
    runCombs(combL, lineL, inL, inputGain, outL, 0, n);
    runCombs(combR, lineR, inR, inputGain, outR, 0, n);
}

// Frames from `from` on of x through the all-pass in place, as many at a time
// as V has lanes, in runs up to the line's wrap; the group that meets the wrap
// takes its cells in two pieces. Answers the first frame left over (fewer than
// a group). Plain vector code: inlined into a caller built for wider lanes, it
// runs that wide.
template <class V> [[gnu::always_inline]] inline int allpassGroups(allpass& ap, float* x, int from, int n) {
    constexpr int width = sizeof(V) / sizeof(float);
    using Bits = decltype(V{} < V{});
    const float feedback = ap.feedback;
    int done = from;
    while (n - done >= width) {
        float* io = x + done;
        const int beforeWrap = ap.bufsize - ap.bufidx;
        int len = std::min(n - done, beforeWrap);
        float across[width];
        float* line = ap.buffer + ap.bufidx;
        if (len < width) {
            len = width;
            std::copy_n(line, beforeWrap, across);
            std::copy_n(ap.buffer, width - beforeWrap, across + beforeWrap);
            line = across;
        } else {
            len -= len % width;
        }
        for (int k = 0; k < len; k += width) {
            // By memory, never by value: a wide vector passed outside its
            // target would change the ABI.
            V bufout, input;
            Bits bits;
            std::memcpy(&bits, line + k, sizeof bits);
            bits &= (bits & kExponentLanes) > kBelowKept; // keptByFlush, as wide as V
            std::memcpy(&bufout, &bits, sizeof bufout);
            std::memcpy(&input, io + k, sizeof input);
            const V out = bufout - input, held = input + bufout * feedback;
            std::memcpy(io + k, &out, sizeof out);
            std::memcpy(line + k, &held, sizeof held);
        }
        if (line == across) {
            std::copy_n(across, beforeWrap, ap.buffer + ap.bufidx);
            std::copy_n(across + beforeWrap, width - beforeWrap, ap.buffer);
        }
        advance(ap.bufidx, ap.bufsize, len);
        done += len;
    }
    return done;
}

// One all-pass over frames from .. n of x in place, four lanes wide and the
// last few frames one by one.
void runAllpass(allpass& ap, float* x, int from, int n) {
    for (int done = allpassGroups<Lanes>(ap, x, from, n); done < n; ++done) x[done] = ap.process(x[done]);
}

#if ORVO_EIGHT_LANES
// A channel's all-passes, eight lanes wide and the rest as runAllpass.
[[gnu::target("avx2")]] void runAllpassesEight(std::array<allpass, 4>& stages, float* x, int n) {
    for (allpass& ap : stages) runAllpass(ap, x, allpassGroups<Lanes8>(ap, x, 0, n), n);
}
#endif

// A channel's all-passes in series over n frames of x, in place.
void runAllpasses(std::array<allpass, 4>& stages, float* x, int n) {
#if ORVO_EIGHT_LANES
    if (eightLanes()) return runAllpassesEight(stages, x, n);
#endif
    for (allpass& ap : stages) runAllpass(ap, x, 0, n);
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

// The block renderer takes a chunk of every comb line in one run, and reads
// and writes up to eight frames of an all-pass line at once.
constexpr bool linesHoldTheRuns(const ReverbLengths& l) {
    for (int i = 0; i < 8; ++i)
        if (l.combL[i] < kReverbPass || l.combR[i] < kReverbPass) return false;
    for (int i = 0; i < 4; ++i)
        if (l.allpassL[i] < 8 || l.allpassR[i] < 8) return false;
    return true;
}

template <ReverbLengths L> ReverbModel<L>::ReverbModel() {
    static_assert(linesHoldTheRuns(L));
    // The processor check settles here, not on the first render.
    VectorMath::canRunEightLanes();
    float* next = lines.data() + kReverbPass;
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
    float inL[kReverbPass], inR[kReverbPass], accL[kReverbPass], accR[kReverbPass];
    for (long done = 0; done < numsamples;) {
        const int n = static_cast<int>(std::min<long>(kReverbPass, numsamples - done));
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
