#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>

#include "dsp/FFTBase.h"
#include "dsp/kbx/CPointerList.h"

// Pitch-class names of the chromatic scale ("C ", "C#", ... "B ").
class Names {
public:
    // Pitch class of note followed by the octave, e.g. "A 4"; empty outside notes 0..127.
    // The text lives in a buffer shared by all calls.
    const char* getName(int note, int octave);
    // 1 for the white keys, 0 for the black ones, -1 outside notes 0..127.
    static int getWhite(int note);

    char names[12][3] = {"C ", "C#", "D ", "D#", "E ", "F ", "F#", "G ", "G#", "A ", "A#", "B "};
    char result[16] = {};
};

// One analysed bin as sorted into a tone.
struct BinRecord {
    float magnitude;
    float frequency;
    float phase;
};

// One semitone slot of the scale, with the bins of the last analysed frame.
class Tone {
public:
    void clear() noexcept { bins.Clear(); }
    // Sum of the magnitudes of this tone's bins.
    float getSum();

    KBX::CPointerList bins;
    int exclusive = 0;
    int index = -1;
    int note = -1;
    int octave = -2;
    int group = -1;
    int white = -1;
    float lowerfreq = 0.0f;
    float centerfreq = 0.0f;
    float upperfreq = 0.0f;
    char name[5] = {};
};

// 140 semitones from three below MIDI note 0 up to note 136, and the per-note
// energy handed to the display. Bin records and list links come from pools sized
// once by reserve(), so sorting a frame allocates nothing.
class Scala {
public:
    static constexpr int kTones = 140;
    // Tone index of MIDI note 0.
    static constexpr int kNoteOffset = 3;

    Scala();
    // Hands every link back before the pool goes.
    ~Scala() { clear(); }
    Scala(const Scala&) = delete;
    Scala& operator=(const Scala&) = delete;

    // Centre frequency of the tone of a MIDI note, 1.0 when no tone has it.
    float getFrequency(int note);
    // Averages the summed frames over [from, to) and, if asked and needed, scales
    // them into 0..1; they then count as one frame, so a repeated read returns
    // the same values, and the next analysed frame starts the sums afresh.
    float* getChromatic(int from, int to, bool normalise);
    // The same arithmetic on a copy of the sums of `count` frames, in place,
    // leaving `count` at 1 so that reading them again changes nothing; false,
    // and nothing changed, when no frame was summed.
    static bool average(float* sums, int& count, int from, int to, bool normalise);
    // Adds each tone's sum to the notes in [from, to).
    void chromaticScaleSums(int from, int to);
    // Empties every tone; the records return to the pool.
    void clear() noexcept;

    // Makes room for n bins per frame; call outside processing.
    bool reserve(int n);
    int capacity() const { return recordCapacity; }
    // Sorts one bin into tone t; false when the pool is exhausted.
    bool addBin(int t, float magnitude, float frequency, float phase);
    // The same as clear() and then addBin() for each of n bins, bin k going to
    // tone landed[k]; false, and nothing done, when n bins do not fit or a tone
    // is out of range.
    bool replaceBins(const int* landed, const float* mags, const float* freqs, const float* phases, int n);
    // Replaces the tones' bins with one frame's: bins 0..bins-1 in ascending order
    // walk up the scale, and binToTone[k] gets the tone bin k went to. Nothing
    // happens when the pool is smaller than the frame.
    void sortBins(const float* mags, const float* freqs, const float* phases, int bins, int* binToTone);

    static Names names;

    Tone tones[kTones];
    float chromatic[kTones] = {};
    float spectrum[kTones] = {};
    // The flag may be set from a display's thread that has used a copy of the sums.
    std::atomic<bool> clearChromatic{false};
    std::atomic<int> chromaticCount{0};
    // Frames summed since construction, so that the render thread can tell a new one.
    unsigned framesSummed = 0;

private:
    // The tone of each of n bin estimates, in one walk upwards from the lowest bin.
    void walkTones(const float* freqs, int* landed, int n) const;
    // The first tone whose upper bound is at or above f; the top tone when none is.
    int toneReaching(float f) const;
    void buildCells();

    // Tone guesses by the leading bits of positive floats in [kCellLow, kCellHigh),
    // whose bit patterns ascend with their values. A cell is narrower than any
    // tone, so the guess for its lowest value is at most one tone short.
    static constexpr float kCellLow = 4.0f;
    static constexpr float kCellHigh = 32768.0f;
    static constexpr int kCellShift = 15;
    static constexpr std::uint32_t kFirstCell = std::bit_cast<std::uint32_t>(kCellLow) >> kCellShift;
    static constexpr int kCells =
        static_cast<int>((std::bit_cast<std::uint32_t>(kCellHigh) >> kCellShift) - kFirstCell);
    std::uint8_t cellTone[kCells] = {};

    KBX::CPointerList::ItemPool itemPool;
    std::unique_ptr<BinRecord[]> records;
    int recordCapacity = 0;
    int recordsUsed = 0;
};

namespace SPECTRO {

// Feeds the spectrum display: analysis only, on the sum of a stereo pair, with
// every bin sorted into a semitone of the scale when chromatic sorting is on.
class Analyzer : public FFTBase {
public:
    Analyzer(int size, int overlap, float samplerate);
    ~Analyzer() override = default;

    void setSamplerate(float fs) override;
    void process(float* buffer, int n) noexcept override;
    // Keeps the chromatic tables as large as the frame.
    void init() override;
    void clear() noexcept override;
    void onBufferReady() override;
    // Counts one frame and says whether the update rate has it analysed.
    bool nextFrameAnalysed();
    void onAnalysis(float* freqs, float* mags) override;
    // Spectrum updates per second; 0 or less analyses every frame.
    virtual void setUpdateRate(int n);
    // Sizes the chromatic tables now, so processing never has to.
    virtual void setChromatic(bool on);
    virtual void process(float* left, float* right, int n) noexcept;
    virtual void createSpectrum();

    int getUpdateRate() const { return updaterate; }
    // Tone index of bin k in the last sorted frame.
    int getChromaticIndex(int k) const { return chromaticIndex ? chromaticIndex[k] : -1; }

    Scala scala;

private:
    void updateRate();
    bool sizeChromaticTables();
    template <class Source> void feed(int n, Source source);

    std::unique_ptr<int[]> chromaticIndex;
    int chromaticIndexSize = 0;
    bool chromatic = false;
    int lUpdaterate = 0;
    int skip = 0;
    int updaterate = 0;
};

} // namespace SPECTRO
