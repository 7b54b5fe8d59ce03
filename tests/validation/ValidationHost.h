#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "kernel/ParameterAddress.h"
#include "tests/support/RenderEvents.h"

// A strict host for the effect: it sets the bus formats and the maximum block,
// allocates, and renders through the render block with its own output buffers,
// pulling the input from the caller's signal and counting every allocation
// made inside a render call.
namespace validation {

using Unit = Orvo_Halden_Extension_AudioUnit;

// How much longer the runs are: 1 in CI, more under `make soak` (ORVO_SOAK=n).
double soakFactor();
// Frames in `seconds` at `rate`, lengthened by the soak factor.
std::size_t framesFor(double seconds, double rate);

struct Stereo {
    std::vector<float> L, R;

    Stereo() = default;
    explicit Stereo(std::size_t frames, float value = 0.0f) : L(frames, value), R(frames, value) {}
    std::size_t frames() const { return L.size(); }
};

Stereo noise(std::size_t frames, std::uint32_t seed, float amplitude = 1.0f);
// Largest magnitude over both channels from `from` on (NaN counts as infinite).
float peak(const Stereo& signal, std::size_t from = 0);
bool allFinite(const Stereo& signal);
std::size_t subnormals(const Stereo& signal);
// What every rendered block must be: finite and never subnormal.
testing::AssertionResult clean(const Stereo& signal);
float dBFS(float magnitude);

class Host {
public:
    explicit Host(double sampleRate = 48000.0, AUAudioFrameCount maximumFrames = 4096);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Deallocates, sets both bus formats and the maximum block, allocates again.
    void configure(double sampleRate, AUAudioFrameCount maximumFrames);
    double sampleRate() const { return sampleRate_; }
    AUAudioFrameCount maximumFrames() const { return maximumFrames_; }

    // One render call: input from inL/inR (may be null for no pull block),
    // output into outL/outR, both `frames` long. Sample times run on.
    AUAudioUnitStatus render(const float* inL, const float* inR, float* outL, float* outR,
                             AUAudioFrameCount frames, const AURenderEvent* events = nullptr);
    // Renders `signal` in place in blocks of `block` frames; stops at the first error.
    AUAudioUnitStatus process(Stereo& signal, AUAudioFrameCount block);
    // The same with a block size drawn for every call from 1..maximum.
    AUAudioUnitStatus processRandomBlocks(Stereo& signal, std::mt19937& random);
    // A copy of `input` rendered through the unit.
    Stereo rendered(const Stereo& input, AUAudioFrameCount block);

    // Sets a parameter through the tree, the way a host automates.
    void setThroughTree(AUParameterAddress address, AUValue value);
    AUValue valueInTree(AUParameterAddress address) const;
    // How a test changes parameters: through the tree as a host automates, or
    // through the unit as the editor does.
    enum class Route { tree, editor };
    // Random values inside every writable parameter's declared range (whole
    // numbers for indices and switches), then the split points in order, as
    // an editor keeps them.
    void randomise(std::uint32_t seed, Route route = Route::tree);
    // Every address the tree holds, and those a host may write.
    std::vector<AUParameterAddress> addresses() const;
    std::vector<AUParameterAddress> writableAddresses() const;

    AUEventSampleTime sampleTime() const { return sampleTime_; }
    // Allocations made inside render calls so far.
    std::size_t renderAllocations() const { return renderAllocations_; }

    std::shared_ptr<Unit> unit;

private:
    AURenderBlock render_;
    AURenderPullInputBlock pull_;
    AudioBufferListStorage output_{2};
    const float* pullL_ = nullptr;
    const float* pullR_ = nullptr;
    double sampleRate_ = 0.0;
    AUAudioFrameCount maximumFrames_ = 0;
    AUEventSampleTime sampleTime_ = 0;
    std::size_t renderAllocations_ = 0;
};

using EventList = testkit::EventList;

} // namespace validation
