#include "dsp/FFTBase.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>

#include "dsp/Denormal.h"
#include "dsp/VectorMath.h"

namespace SPECTRO {
namespace {

using namespace VectorMath;

// Runs `group(first, count)` over [0, n) in groups of four, the last maybe shorter.
template <class Group> void inGroupsOfFour(int n, Group group) {
    for (int k = 0; k < n; k += 4) group(k, std::min(4, n - k));
}

constexpr int kDefaultSize = 1024;
constexpr int kDefaultOverlap = 4;
constexpr float kDefaultSamplerate = 48000.0f;

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

bool isValidSamplerate(float rate) { return std::isfinite(rate) && rate > 0.0f; }

// Takes away the whole multiples of 2 pi from a phase difference, folding it
// into about [-pi, pi].
float foldPhaseDifference(float d) {
    if (!(std::fabs(d) < 1.0e15f)) return 0.0f;
    long q = static_cast<long>(d / kPi);
    q += q >= 0 ? (q & 1) : -(q & 1);
    return d - kPi * static_cast<float>(q);
}

// foldPhaseDifference() four at a time. Differences beyond the int range, which
// phases in [-pi, pi] never give, and non-finite ones take the scalar route.
Lanes foldPhaseDifferences(Lanes d) {
    if (!allOf(absLanes(d) < splat(1.0e9f))) return eachLane(d, foldPhaseDifference);
    Mask q = __builtin_convertvector(d / kPi, Mask);
    // Made even away from zero: +1 for odd positive, -1 for odd negative.
    const Mask negative = q >> 31;
    q += ((q & 1) ^ negative) - negative;
    return d - kPi * __builtin_convertvector(q, Lanes);
}

// The largest of n values that is above 1, else 1.
float largestAboveOne(const float* v, int n) {
    Lanes top = splat(1.0f);
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        const Lanes x = load(v + k);
        top = select(x > top, x, top);
    }
    float peak = 1.0f;
    for (int i = 0; i < 4; ++i) peak = top[i] > peak ? top[i] : peak;
    for (; k < n; ++k) peak = v[k] > peak ? v[k] : peak;
    return peak;
}

// Four magnitudes over the level; each held peak takes its value or falls,
// and a fall below the flush level ends at 0.
void normaliseFour(const float* mags, float level, float* norm, float* peaks) {
    const Lanes n = load(mags) / level;
    const Lanes held = load(peaks);
    store(norm, n);
    store(peaks, select(n >= held, n, flush(held * 0.93f)));
}

struct BinScale {
    float expct;
    float freqPerBin;
    float binsPerRadian;
};

// Magnitude and true frequency of bins k .. k+3 from their interleaved values;
// last holds their previous phases and takes the new ones.
void analyseFour(const float* c, float* last, float* mags, float* freqs, int k, const BinScale& scale) {
    Lanes re, im;
    loadInterleaved(c, re, im);
    const Lanes phase = atan2Lanes(im, re);
    const Lanes bin = splat(static_cast<float>(k)) + Lanes{0.0f, 1.0f, 2.0f, 3.0f};
    const Lanes d = foldPhaseDifferences(phase - load(last) - bin * scale.expct);
    store(last, phase);
    store(mags, 2.0f * sqrtLanes(re * re + im * im));
    store(freqs, bin * scale.freqPerBin + scale.binsPerRadian * d * scale.freqPerBin);
}

// wrapPhase() four at a time, without a branch per lane. A lane beyond the
// fast range (or not finite) sends the group the scalar way.
Lanes wrapPhases(Lanes phase) {
    if (!allOf(absLanes(phase) < splat(1.0e6f))) return eachLane(phase, wrapPhase);
    constexpr float turnsPerRadian = 1.0f / kTwoPi;
    const Mask turns = __builtin_convertvector(phase * turnsPerRadian, Mask);
    Lanes r = phase - kTwoPi * __builtin_convertvector(turns, Lanes);
    r = select(r >= splat(kPi), r - kTwoPi, r);
    r = select(r < splat(-kPi), r + kTwoPi, r);
    return select(r < splat(kPi), r, splat(-kPi));
}

struct PhaseStep {
    float freqPerBin;
    float radiansPerBin;
    float expct;
};

// Bins k .. k+3: each accumulator advances by its bin's frequency and the
// magnitude and new phase go out as interleaved complex values.
void synthesiseFour(const float* mags, const float* freqs, float* acc, float* c, int k,
                    const PhaseStep& step) {
    const Lanes bin = splat(static_cast<float>(k)) + Lanes{0.0f, 1.0f, 2.0f, 3.0f};
    const Lanes advance =
        step.radiansPerBin * ((load(freqs) - bin * step.freqPerBin) / step.freqPerBin) + bin * step.expct;
    const Lanes phase = wrapPhases(load(acc) + advance);
    store(acc, phase);
    Lanes sine, cosine;
    sinCosLanes(phase, sine, cosine);
    const Lanes m = load(mags);
    storeInterleaved(c, m * cosine, m * sine);
}

} // namespace

float wrapLargePhase(float phase) {
    if (!std::isfinite(phase)) return 0.0f;
    // Reduced in double so that even a huge accumulator lands in range.
    const double turns = std::trunc(static_cast<double>(phase) / kTwoPi);
    return foldIntoRange(
        static_cast<float>(static_cast<double>(phase) - turns * static_cast<double>(kTwoPi)));
}

void phasesOf(const float* c, float* phases, int n) {
    inGroupsOfFour(n, [&](int first, int count) {
        float re[4] = {}, im[4] = {}, out[4];
        for (int i = 0; i < count; ++i) {
            re[i] = c[2 * (first + i)];
            im[i] = c[2 * (first + i) + 1];
        }
        store(out, atan2Lanes(load(im), load(re)));
        std::copy_n(out, count, phases + first);
    });
}

void polarToComplex(const float* mags, const float* phases, float* c, int n) {
    inGroupsOfFour(n, [&](int first, int count) {
        float m[4] = {}, p[4] = {}, re[4], im[4];
        std::copy_n(mags + first, count, m);
        std::copy_n(phases + first, count, p);
        Lanes sine, cosine;
        sinCosLanes(load(p), sine, cosine);
        store(re, load(m) * cosine);
        store(im, load(m) * sine);
        for (int i = 0; i < count; ++i) {
            c[2 * (first + i)] = re[i];
            c[2 * (first + i) + 1] = im[i];
        }
    });
}

bool FFTBase::isValidLayout(int size, int overlap) {
    return isPowerOfTwo(size) && size >= 2 && size <= kMaxFrameSize && overlap >= 1 && overlap <= size;
}

FFTBase::FFTBase(int size, int overlap, float samplerate)
    : lFrameSize(isValidLayout(size, 1) ? size : kDefaultSize),
      fSamplerate(isValidSamplerate(samplerate) ? samplerate : kDefaultSamplerate),
      lOverlap(isValidLayout(lFrameSize, overlap) ? overlap : std::min(kDefaultOverlap, lFrameSize)) {
    init();
}

// The true hop count per frame. Where the overlap does not divide the frame
// (1024 / 6 is a hop of 170) the overlap itself would mis-state every phase
// advance by a little, bin by bin, and bins that should stay locked drift
// apart: a steady tone would swell and fade by up to 20 dB every few seconds.
float FFTBase::hopsPerFrame() const {
    return static_cast<float>(fftFrameSize) / static_cast<float>(stepSize);
}

void FFTBase::setSamplerate(float value) {
    if (!isValidSamplerate(value)) return;
    fSamplerate = value;
    freqPerBin = value / static_cast<float>(fftFrameSize);
}

void FFTBase::setSize(int value) {
    if (!isValidLayout(value, lOverlap)) return;
    lFrameSize = value;
    init();
}

void FFTBase::setOverlap(int value) {
    if (!isValidLayout(lFrameSize, value)) return;
    lOverlap = value;
    init();
}

void FFTBase::init() {
    // The processor check settles here, not on the first frame.
    canRunEightLanes();
    const bool resized = fftFrameSize != lFrameSize;
    osamp = lOverlap;
    fftFrameSize = lFrameSize;
    fftFrameSize2 = fftFrameSize / 2;
    _2fftFrameSize = 2 * fftFrameSize;

    const int bins = fftFrameSize2 + 1;
    window.ensure(fftFrameSize);
    complex.ensure(2 * (fftFrameSize + 1));
    input.ensure(fftFrameSize);
    output.ensure(fftFrameSize);
    frequencies.ensure(bins);
    magnitudes.ensure(bins);
    magnitudes_norm.ensure(bins);
    magnitudes_peaks.ensure(bins);
    phases.ensure(bins);
    resynth.ensure(_2fftFrameSize);
    twiddles.ensure(_2fftFrameSize);
    scratch.ensure(_2fftFrameSize);
    buildTables();

    freqPerBin = fSamplerate / static_cast<float>(fftFrameSize);
    stepSize = fftFrameSize / osamp;
    expct = kTwoPi * static_cast<float>(stepSize) / static_cast<float>(fftFrameSize);
    inFifoLatency = fftFrameSize - stepSize;
    iterator = inFifoLatency;
    max = 1.0f;

    // The larger buffers kept from an earlier size still hold that layout's
    // samples, which would otherwise be replayed into the new frames.
    if (resized) {
        clear();
        magnitudes.clear();
    }
}

void FFTBase::buildTables() {
    const double n = static_cast<double>(fftFrameSize);
    if (float* w = window.getBuffer())
        for (int k = 0; k < fftFrameSize; ++k)
            w[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / n));
    // One block per pass of half-length h: h cosines, then h sines of pi j / h,
    // starting at float 2h, so each pass reads its twiddles in order.
    // Grows only: a smaller frame keeps the capacity.
    bitReversed.resize(static_cast<std::size_t>(fftFrameSize));
    for (std::uint32_t i = 0, j = 0; i < static_cast<std::uint32_t>(fftFrameSize); ++i) {
        bitReversed[i] = j;
        std::uint32_t bit = static_cast<std::uint32_t>(fftFrameSize) >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
    }
    if (float* t = twiddles.getBuffer())
        for (int half = 1; half < fftFrameSize; half *= 2) {
            float* block = t + 2 * half;
            for (int j = 0; j < half; ++j) {
                const double angle = std::numbers::pi * j / half;
                block[j] = static_cast<float>(std::cos(angle));
                block[half + j] = static_cast<float>(std::sin(angle));
            }
        }
}

void FFTBase::clear() noexcept {
    complex.clear();
    input.clear();
    output.clear();
    frequencies.clear();
    magnitudes_norm.clear();
    magnitudes_peaks.clear();
    phases.clear();
    resynth.clear();
    iterator = inFifoLatency;
}

void FFTBase::buffer2complex(float* src, float* dst) {
    if (src == nullptr) src = input.getBuffer();
    if (dst == nullptr) dst = complex.getBuffer();
    const float* w = window.getBuffer();
    if (w == nullptr || src == nullptr || dst == nullptr) return;
    // A real frame costs only a half-size complex transform.
    if (fftFrameSize >= 4 && twiddles.getBuffer() != nullptr && scratch.getBuffer() != nullptr) {
        realForward(src, dst);
        return;
    }
    for (int k = 0; k < fftFrameSize; ++k) {
        dst[2 * k] = src[k] * w[k];
        dst[2 * k + 1] = 0.0f;
    }
    fft(-1, dst);
}

void FFTBase::complex2frequencies(float* c) {
    if (c == nullptr) c = complex.getBuffer();
    float* mags = magnitudes.getBuffer();
    float* freqs = frequencies.getBuffer();
    float* last = phases.getBuffer();
    if (c == nullptr || mags == nullptr || freqs == nullptr || last == nullptr) return;
    const BinScale scale{expct, freqPerBin, hopsPerFrame() / kTwoPi};
    const int bins = fftFrameSize2 + 1;
    const int whole = bins - bins % 4;
    for (int k = 0; k < whole; k += 4) analyseFour(c + 2 * k, last + k, mags + k, freqs + k, k, scale);
    if (whole < bins) {
        // The last short group on padded copies.
        const int count = bins - whole;
        float cs[8] = {}, ls[4] = {}, ms[4], fs[4];
        std::copy_n(c + 2 * whole, 2 * count, cs);
        std::copy_n(last + whole, count, ls);
        analyseFour(cs, ls, ms, fs, whole, scale);
        std::copy_n(ls, count, last + whole);
        std::copy_n(ms, count, mags + whole);
        std::copy_n(fs, count, freqs + whole);
    }
    onAnalysis(freqs, mags);
}

void FFTBase::frequencies2complex(float* mags, float* freqs, float* phaseAcc, float* c) {
    if (mags == nullptr) mags = magnitudes.getBuffer();
    if (freqs == nullptr) freqs = frequencies.getBuffer();
    if (phaseAcc == nullptr) phaseAcc = phases.getBuffer();
    if (c == nullptr) c = complex.getBuffer();
    if (mags == nullptr || freqs == nullptr || phaseAcc == nullptr || c == nullptr) return;
    const PhaseStep step{freqPerBin, kTwoPi / hopsPerFrame(), expct};
    const int bins = fftFrameSize2 + 1;
    const int whole = bins - bins % 4;
    for (int k = 0; k < whole; k += 4) synthesiseFour(mags + k, freqs + k, phaseAcc + k, c + 2 * k, k, step);
    if (whole < bins) {
        // The last short group on padded copies.
        const int count = bins - whole;
        float ms[4] = {}, fs[4] = {}, as[4] = {}, cs[8];
        std::copy_n(mags + whole, count, ms);
        std::copy_n(freqs + whole, count, fs);
        std::copy_n(phaseAcc + whole, count, as);
        synthesiseFour(ms, fs, as, cs, whole, step);
        std::copy_n(as, count, phaseAcc + whole);
        std::copy_n(cs, 2 * count, c + 2 * whole);
    }
}

void FFTBase::complex2buffer(float* c, float* out) {
    if (c == nullptr) c = complex.getBuffer();
    const float* w = window.getBuffer();
    float* acc = resynth.getBuffer();
    if (w == nullptr || c == nullptr || acc == nullptr) return;
    onComplex(c);
    fft(1, c);
    const float norm = static_cast<float>(fftFrameSize2 * osamp);
    int k = 0;
    for (; k + 4 <= fftFrameSize; k += 4) {
        Lanes re, im;
        loadInterleaved(c + 2 * k, re, im);
        store(acc + k, load(acc + k) + 2.0f * load(w + k) * re / norm);
    }
    for (; k < fftFrameSize; ++k) acc[k] += 2.0f * w[k] * c[2 * k] / norm;
    doOutput(out);
    shiftResyn();
}

void FFTBase::doOutput(float* out) {
    if (out == nullptr) out = output.getBuffer();
    const float* acc = resynth.getBuffer();
    if (out == nullptr || acc == nullptr) return;
    std::memcpy(out, acc, static_cast<std::size_t>(stepSize) * sizeof(float));
}

void FFTBase::shiftResyn() {
    if (float* acc = resynth.getBuffer())
        std::memmove(acc, acc + stepSize, static_cast<std::size_t>(fftFrameSize) * sizeof(float));
}

void FFTBase::shiftInput(float* buf) {
    if (buf == nullptr) buf = input.getBuffer();
    if (buf != nullptr)
        std::memmove(buf, buf + stepSize, static_cast<std::size_t>(inFifoLatency) * sizeof(float));
}

void FFTBase::onAnalysis(float* /*freqs*/, float* mags) {
    float* norm = magnitudes_norm.getBuffer();
    float* peaks = magnitudes_peaks.getBuffer();
    if (mags == nullptr || norm == nullptr || peaks == nullptr) return;
    const int bins = fftFrameSize2 + 1;
    const float peak = largestAboveOne(mags, bins);
    if (peak > max) max = peak;
    const int whole = bins - bins % 4;
    for (int k = 0; k < whole; k += 4) normaliseFour(mags + k, max, norm + k, peaks + k);
    if (whole < bins) {
        // The last short group on padded copies.
        const int count = bins - whole;
        float ms[4] = {}, ns[4], ps[4] = {};
        std::copy_n(mags + whole, count, ms);
        std::copy_n(peaks + whole, count, ps);
        normaliseFour(ms, max, ns, ps);
        std::copy_n(ns, count, norm + whole);
        std::copy_n(ps, count, peaks + whole);
    }
    max -= 0.01f;
}

// Fills the rows with n values in bit-reversed order, source(i, re, im) giving
// value i of that order, and runs the passes of half-length 1 and 2 on the way
// (their twiddles are 1 and the sign times i), four values at a time.
template <class Source>
void FFTBase::gatherFirstPasses(Source source, float* re, float* im, int n, float direction) {
    if (n < 4) {
        float r[2], m[2];
        for (int j = 0; j < 2; ++j) source(j, r[j], m[j]);
        re[0] = r[0] + r[1];
        im[0] = m[0] + m[1];
        re[1] = r[0] - r[1];
        im[1] = m[0] - m[1];
        return;
    }
    for (int i = 0; i < n; i += 4) {
        float r[4], m[4];
        for (int j = 0; j < 4; ++j) source(i + j, r[j], m[j]);
        const float r0 = r[0] + r[1], i0 = m[0] + m[1], r1 = r[0] - r[1], i1 = m[0] - m[1];
        const float r2 = r[2] + r[3], i2 = m[2] + m[3], r3 = r[2] - r[3], i3 = m[2] - m[3];
        const float tr = -direction * i3, ti = direction * r3;
        re[i] = r0 + r2;
        im[i] = i0 + i2;
        re[i + 1] = r1 + tr;
        im[i + 1] = i1 + ti;
        re[i + 2] = r0 - r2;
        im[i + 2] = i0 - i2;
        re[i + 3] = r1 - tr;
        im[i + 3] = i1 - ti;
    }
}

namespace {

// The butterflies of one pass of half-length `half`, as many at a time as V
// has lanes (half must be a multiple of that).
template <class V>
[[gnu::always_inline]] inline void butterflies(float* re, float* im, int n, int half, const float* cosines,
                                               float sign) {
    constexpr int kLanes = sizeof(V) / sizeof(float);
    // By reference: a wide vector passed by value outside its target would change the ABI.
    const auto at = [](V& v, const float* p) { std::memcpy(&v, p, sizeof v); };
    const auto put = [](float* p, const V& v) { std::memcpy(p, &v, sizeof v); };
    const float* sines = cosines + half;
    for (int start = 0; start < n; start += 2 * half) {
        float* r1 = re + start;
        float* i1 = im + start;
        float* r2 = r1 + half;
        float* i2 = i1 + half;
        for (int j = 0; j < half; j += kLanes) {
            V wr, wi, xr, xi, ar, ai;
            at(wr, cosines + j);
            at(wi, sines + j);
            wi = sign * wi;
            at(xr, r2 + j);
            at(xi, i2 + j);
            at(ar, r1 + j);
            at(ai, i1 + j);
            const V tr = xr * wr - xi * wi;
            const V ti = xr * wi + xi * wr;
            put(r2 + j, ar - tr);
            put(i2 + j, ai - ti);
            put(r1 + j, ar + tr);
            put(i1 + j, ai + ti);
        }
    }
}

#if ORVO_EIGHT_LANES
[[gnu::target("avx2")]] void eightLanePass(float* re, float* im, int n, int half, const float* cosines,
                                           float sign) {
    butterflies<Lanes8>(re, im, n, half, cosines, sign);
}
#endif

} // namespace

// The passes from half-length 4 on, over n values in rows. The twiddle blocks
// depend only on the pass, so any n up to the frame size can use them.
void FFTBase::laterPasses(float* re, float* im, int n, float sign) const {
    const float* tw = twiddles.getBuffer();
    for (int half = 4; half < n; half *= 2) {
#if ORVO_EIGHT_LANES
        if (half >= 8 && eightLanes()) {
            eightLanePass(re, im, n, half, tw + 2 * half, sign);
            continue;
        }
#endif
        butterflies<Lanes>(re, im, n, half, tw + 2 * half, sign);
    }
}

void FFTBase::fft(int sign, float* buf) {
    if (buf == nullptr) buf = complex.getBuffer();
    float* re = scratch.getBuffer();
    if (buf == nullptr || twiddles.getBuffer() == nullptr || re == nullptr) return;
    float* im = re + fftFrameSize;
    const float direction = sign < 0 ? -1.0f : 1.0f;
    const std::uint32_t* from = bitReversed.data();
    gatherFirstPasses(
        [buf, from](int i, float& r, float& m) {
            r = buf[2 * from[i]];
            m = buf[2 * from[i] + 1];
        },
        re, im, fftFrameSize, direction);
    laterPasses(re, im, fftFrameSize, direction);
    int i = 0;
    for (; i + 4 <= fftFrameSize; i += 4) storeInterleaved(buf + 2 * i, load(re + i), load(im + i));
    for (; i < fftFrameSize; ++i) {
        buf[2 * i] = re[i];
        buf[2 * i + 1] = im[i];
    }
}

// The windowed frame's even and odd samples go in as the real and imaginary
// parts of a transform of half the size; the spectrum is then unpicked from it.
void FFTBase::realForward(const float* src, float* dst) {
    const int m = fftFrameSize2;
    float* re = scratch.getBuffer();
    float* im = re + m;
    const float* w = window.getBuffer();
    // Bit reversal over log2(N) bits of 2i is that of i over log2(N/2) bits.
    const std::uint32_t* from = bitReversed.data();
    gatherFirstPasses(
        [src, w, from](int i, float& r, float& odd) {
            const std::uint32_t j = 2 * from[2 * i];
            r = src[j] * w[j];
            odd = src[j + 1] * w[j + 1];
        },
        re, im, m, -1.0f);
    laterPasses(re, im, m, -1.0f);
    unpickRealSpectrum(re, im, dst);
}

// With Z the half-size transform (rows re, im of m values) and W = exp(-2 pi i / N):
// X[k] = (Z[k] + conj Z[m-k]) / 2 - i W^k (Z[k] - conj Z[m-k]) / 2 for k = 0 .. m,
// and X[N-k] = conj X[k] above, as the transform of a real frame has it.
void FFTBase::unpickRealSpectrum(const float* re, const float* im, float* dst) const {
    const int m = fftFrameSize2;
    // The twiddle block of half-length m holds cos and sin of 2 pi k / N.
    const float* cosines = twiddles.getBuffer() + 2 * m;
    const float* sines = cosines + m;
    dst[0] = re[0] + im[0];
    dst[1] = 0.0f;
    dst[2 * m] = re[0] - im[0];
    dst[2 * m + 1] = 0.0f;

    const auto four = [](Lanes ar, Lanes ai, Lanes br, Lanes bi, Lanes c, Lanes s, float* out,
                         float* mirror) {
        const Lanes evenR = (ar + br) * 0.5f, evenI = (ai - bi) * 0.5f;
        const Lanes oddR = (ai + bi) * 0.5f, oddI = (br - ar) * 0.5f;
        const Lanes xr = evenR + c * oddR + s * oddI;
        const Lanes xi = evenI + c * oddI - s * oddR;
        storeInterleaved(out, xr, xi);
        storeInterleaved(mirror, reversed(xr), -reversed(xi));
    };
    // Bins k .. k+3 pair with m-k .. m-k-3, read as one reversed group.
    int k = 1;
    for (; k + 4 <= m; k += 4)
        four(load(re + k), load(im + k), reversed(load(re + m - k - 3)), reversed(load(im + m - k - 3)),
             load(cosines + k), load(sines + k), dst + 2 * k, dst + 2 * (fftFrameSize - k - 3));
    if (k == m) return;
    // The last few bins below m, on padded copies.
    const int count = m - k;
    float ar[4] = {}, ai[4] = {}, br[4] = {}, bi[4] = {}, c[4] = {}, s[4] = {}, out[8], mirror[8];
    for (int i = 0; i < count; ++i) {
        ar[i] = re[k + i];
        ai[i] = im[k + i];
        br[i] = re[m - k - i];
        bi[i] = im[m - k - i];
        c[i] = cosines[k + i];
        s[i] = sines[k + i];
    }
    four(load(ar), load(ai), load(br), load(bi), load(c), load(s), out, mirror);
    std::copy_n(out, 2 * count, dst + 2 * k);
    // The mirrored group runs downwards, so its valid bins are the last ones.
    std::copy_n(mirror + 2 * (4 - count), 2 * count, dst + 2 * (fftFrameSize - k - count + 1));
}

} // namespace SPECTRO
