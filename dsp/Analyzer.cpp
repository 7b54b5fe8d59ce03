#include "dsp/Analyzer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "dsp/Denormal.h"
#include "dsp/kbx/CPrinTable.h"

Names Scala::names;

const char* Names::getName(int note, int octave) {
    result[0] = 0;
    if (note < 0 || note >= 128) return result;
    std::memcpy(result, names[note % 12], 3);
    KBX::itoa(octave, result + 2, static_cast<int>(sizeof result) - 2);
    return result;
}

int Names::getWhite(int note) {
    if (note < 0 || note >= 128) return -1;
    constexpr int kWhite[12] = {1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1};
    return kWhite[note % 12];
}

float Tone::getSum() {
    float sum = 0.0f;
    for (const KBX::CPointerList::Item* item = bins.first; item != nullptr; item = item->next)
        sum += static_cast<const BinRecord*>(item->pointer)->magnitude;
    // Where a walk through the list leaves the cursor.
    bins.current = nullptr;
    return sum;
}

Scala::Scala() {
    // Names of our own: the shared table's text buffer is no place for two
    // scales made at once on two threads.
    Names naming;
    int octave = -2;
    double previousUpper = 0.0;
    for (int i = 0; i < kTones; ++i) {
        Tone& tone = tones[i];
        tone.bins.setPool(&itemPool);
        tone.index = i;
        tone.note = i - kNoteOffset;
        if (tone.note % 12 == 0) ++octave;
        tone.octave = octave;
        tone.group = (tone.note % 12 + 12) % 12 + 1;
        std::snprintf(tone.name, sizeof tone.name, "%s", naming.getName(tone.note, octave));
        tone.white = Names::getWhite(tone.note);
        const double upper = 6.875 * std::pow(2.0, (i + 0.5) / 12.0);
        tone.centerfreq = static_cast<float>(6.875 * std::pow(2.0, i / 12.0));
        tone.upperfreq = static_cast<float>(upper);
        tone.lowerfreq = static_cast<float>(previousUpper);
        previousUpper = upper;
    }
    buildCells();
}

float Scala::getFrequency(int note) {
    for (const Tone& tone : tones)
        if (tone.note == note) return tone.centerfreq;
    return 1.0f;
}

float* Scala::getChromatic(int from, int to, bool normalise) {
    int count = chromaticCount.load(std::memory_order_relaxed);
    if (average(chromatic, count, from, to, normalise)) {
        chromaticCount.store(count, std::memory_order_relaxed);
        clearChromatic.store(true, std::memory_order_relaxed);
    }
    return chromatic;
}

bool Scala::average(float* sums, int& count, int from, int to, bool normalise) {
    if (count == 0) return false;
    from = from < 0 ? 0 : from;
    to = to > kTones ? kTones : to;
    float m = 0.0f;
    for (int i = from; i < to; ++i) {
        sums[i] = flushDenormal(sums[i] / static_cast<float>(count));
        if (sums[i] > m) m = sums[i];
    }
    if (normalise && m > 1.0f)
        for (int i = from; i < to; ++i) sums[i] = flushDenormal(sums[i] / m);
    // What is left is one frame's worth: a second read finds it unchanged.
    count = 1;
    return true;
}

void Scala::chromaticScaleSums(int from, int to) {
    if (clearChromatic.load(std::memory_order_relaxed)) {
        std::memset(chromatic, 0, sizeof chromatic);
        chromaticCount.store(0, std::memory_order_relaxed);
    }
    from = from < 0 ? 0 : from;
    to = to > kTones - kNoteOffset ? kTones - kNoteOffset : to;
    for (int i = from; i < to; ++i) chromatic[i] += tones[i + kNoteOffset].getSum();
    chromaticCount.fetch_add(1, std::memory_order_relaxed);
    ++framesSummed;
}

void Scala::clear() noexcept {
    for (Tone& tone : tones) tone.clear();
    recordsUsed = 0;
}

bool Scala::reserve(int n) {
    if (n <= recordCapacity) return true;
    clear();
    std::unique_ptr<BinRecord[]> fresh(new (std::nothrow) BinRecord[static_cast<std::size_t>(n)]);
    if (!fresh || !itemPool.reserve(n)) return false;
    records = std::move(fresh);
    recordCapacity = n;
    return true;
}

bool Scala::replaceBins(const int* landed, const float* mags, const float* freqs, const float* phases,
                        int n) {
    if (n > recordCapacity) return false;
    // Bins come in runs on one tone, as the walk only climbs (but at the top).
    int count[kTones] = {};
    for (int k = 0, end = 0; k < n; k = end) {
        const int t = landed[k];
        if (t < 0 || t >= kTones) return false;
        for (end = k + 1; end < n && landed[end] == t;) ++end;
        count[t] += end - k;
    }
    for (int k = 0; k < n; ++k) records[static_cast<std::size_t>(k)] = {mags[k], freqs[k], phases[k]};
    recordsUsed = n;
    // The links the lists already hold are repointed: surplus ones go back to
    // the pool first, so the new ones a tone needs can always come from it.
    KBX::CPointerList::Item* reuse[kTones];
    for (int t = 0; t < kTones; ++t) {
        KBX::CPointerList& bins = tones[t].bins;
        while (bins.Count() > count[t]) bins.Pop();
        reuse[t] = bins.first;
    }
    for (int k = 0; k < n;) {
        const int t = landed[k];
        KBX::CPointerList::Item* item = reuse[t];
        for (; k < n && landed[k] == t; ++k) {
            BinRecord* record = &records[static_cast<std::size_t>(k)];
            if (item == nullptr) {
                tones[t].bins.Push(record);
            } else {
                item->pointer = record;
                item = item->next;
            }
        }
        reuse[t] = item;
    }
    // Where the last push leaves each list's cursor.
    for (Tone& tone : tones) tone.bins.current = tone.bins.last;
    return true;
}

bool Scala::addBin(int t, float magnitude, float frequency, float phase) {
    if (recordsUsed >= recordCapacity || t < 0 || t >= kTones) return false;
    BinRecord& record = records[static_cast<std::size_t>(recordsUsed++)];
    record = {magnitude, frequency, phase};
    tones[t].bins.Push(&record);
    return true;
}

void Scala::buildCells() {
    int t = 0;
    for (int cell = 0; cell < kCells; ++cell) {
        const float lowest =
            std::bit_cast<float>((kFirstCell + static_cast<std::uint32_t>(cell)) << kCellShift);
        while (t < kTones - 1 && lowest > tones[t].upperfreq) ++t;
        cellTone[cell] = static_cast<std::uint8_t>(t);
    }
}

int Scala::toneReaching(float f) const {
    int t = kTones - 1;
    if (f < kCellLow)
        t = 0;
    else if (f < kCellHigh)
        t = cellTone[(std::bit_cast<std::uint32_t>(f) >> kCellShift) - kFirstCell];
    t += t < kTones - 1 && f > tones[t].upperfreq;
    return t;
}

// The walk's cursor stands one tone above the highest tone a bin has landed on,
// never past the top tone (at the start, on tone 0, it sorts every bin as it
// would on tone 1); a bin at or below the cursor's lower bound lands just under
// it, any other on the first tone reaching it. So each bin lands on the higher
// of that tone and the highest so far, the latter capped below the top tone.
void Scala::sortBins(const float* mags, const float* freqs, const float* phases, int bins, int* binToTone) {
    if (bins > recordCapacity) return;
    walkTones(freqs, binToTone, bins);
    replaceBins(binToTone, mags, freqs, phases, bins);
}

void Scala::walkTones(const float* freqs, int* landed, int n) const {
    int highest = 0;
    for (int k = 0; k < n; ++k) {
        const int tone = std::max(toneReaching(freqs[k]), highest);
        landed[k] = tone;
        highest = std::min(tone, kTones - 2);
    }
}

namespace SPECTRO {

Analyzer::Analyzer(int size, int overlap, float samplerate) : FFTBase(size, overlap, samplerate) {
    setChromatic(false);
    setUpdateRate(128);
    std::printf("DIAGNOSTICS: FFT Analyzer loaded. [ %p ]\n", static_cast<void*>(this));
}

void Analyzer::setSamplerate(float fs) {
    FFTBase::setSamplerate(fs);
    updateRate();
}

void Analyzer::setUpdateRate(int n) {
    lUpdaterate = n > 0 ? n : 0;
    updateRate();
    skip = 0;
}

void Analyzer::updateRate() {
    // Analysed frames per second over wanted updates per second, rounded up; never
    // below one, so a missing rate cannot stall the frame count.
    updaterate = 1;
    if (lUpdaterate <= 0 || !(fSamplerate > 0.0f) || fftFrameSize < 1) return;
    const float frames = std::ceil(fSamplerate / static_cast<float>(fftFrameSize) *
                                   static_cast<float>(osamp) / static_cast<float>(lUpdaterate));
    if (frames > 1.0f)
        updaterate = frames < static_cast<float>(INT_MAX / 2) ? static_cast<int>(frames) : INT_MAX / 2;
}

void Analyzer::init() {
    FFTBase::init();
    if (chromatic) sizeChromaticTables();
}

bool Analyzer::sizeChromaticTables() {
    const int bins = fftFrameSize2 + 1;
    if (chromaticIndexSize < bins) {
        chromaticIndex.reset(new (std::nothrow) int[static_cast<std::size_t>(bins)]());
        chromaticIndexSize = chromaticIndex ? bins : 0;
    }
    return chromaticIndex && scala.reserve(bins);
}

void Analyzer::setChromatic(bool on) {
    chromatic = on;
    chromaticIndex.reset();
    chromaticIndexSize = 0;
    if (on) sizeChromaticTables();
}

void Analyzer::clear() noexcept {
    FFTBase::clear();
    skip = 0;
}

// The streaming pattern, a run of samples at a time: the input FIFO fills up to
// the end of the frame, then the frame is handed on and the FIFO slides.
template <class Source> void Analyzer::feed(int n, Source source) {
    float* in = input.getBuffer();
    for (int done = 0; done < n;) {
        const int run = std::min(n - done, fftFrameSize - iterator);
        for (int i = 0; i < run; ++i) in[iterator + i] = source(done + i);
        done += run;
        iterator += run;
        if (iterator >= fftFrameSize) {
            iterator = inFifoLatency;
            onBufferReady();
            shiftInput(nullptr);
        }
    }
}

void Analyzer::process(float* buffer, int n) noexcept {
    if (!buffer || !canStream()) return;
    feed(n, [buffer](int i) { return buffer[i]; });
}

void Analyzer::process(float* left, float* right, int n) noexcept {
    if (!left || !right) return process(left ? left : right, n);
    if (!canStream()) return;
    feed(n, [left, right](int i) { return left[i] + right[i]; });
}

bool Analyzer::nextFrameAnalysed() {
    const int s = skip;
    // Kept below updaterate so the count cannot overflow; s % updaterate is unchanged.
    skip = (s + 1) % updaterate;
    return s % updaterate == 0;
}

void Analyzer::onBufferReady() {
    if (!nextFrameAnalysed()) return;
    buffer2complex(nullptr, nullptr);
    complex2frequencies(nullptr);
}

void Analyzer::onAnalysis(float* freqs, float* mags) {
    FFTBase::onAnalysis(freqs, mags);
    if (chromatic) createSpectrum();
}

void Analyzer::createSpectrum() {
    const float* mags = magnitudes.getBuffer();
    const float* freqs = frequencies.getBuffer();
    const float* phs = phases.getBuffer();
    const int bins = fftFrameSize2 + 1;
    if (!mags || !freqs || !phs || !chromaticIndex || chromaticIndexSize < bins || scala.capacity() < bins)
        return;
    scala.sortBins(mags, freqs, phs, bins, chromaticIndex.get());
    scala.chromaticScaleSums(0, 127);
}

} // namespace SPECTRO
