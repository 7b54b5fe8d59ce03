#include "tests/validation/ValidationHost.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "tests/support/AllocationCounter.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace validation {

double soakFactor() {
    static const double factor = [] {
        const char* text = std::getenv("ORVO_SOAK");
        const double value = text != nullptr ? std::atof(text) : 1.0;
        return value >= 1.0 ? value : 1.0;
    }();
    return factor;
}

std::size_t framesFor(double seconds, double rate) {
    return static_cast<std::size_t>(seconds * soakFactor() * rate);
}

Stereo noise(std::size_t frames, std::uint32_t seed, float amplitude) {
    Stereo signal;
    signal.L = testkit::noise(frames, seed, amplitude);
    signal.R = testkit::noise(frames, seed + 7919, amplitude);
    return signal;
}

float peak(const Stereo& signal, std::size_t from) {
    float top = 0.0f;
    for (const auto* channel : {&signal.L, &signal.R})
        for (std::size_t i = from; i < channel->size(); ++i) {
            const float a = std::fabs((*channel)[i]);
            top = std::isnan(a) ? std::numeric_limits<float>::infinity() : std::max(top, a);
        }
    return top;
}

bool allFinite(const Stereo& signal) {
    return testkit::allFinite(signal.L.data(), signal.L.size()) &&
           testkit::allFinite(signal.R.data(), signal.R.size());
}

std::size_t subnormals(const Stereo& signal) {
    return testkit::countSubnormals(signal.L.data(), signal.L.size()) +
           testkit::countSubnormals(signal.R.data(), signal.R.size());
}

testing::AssertionResult clean(const Stereo& signal) {
    if (!allFinite(signal)) return testing::AssertionFailure() << "a sample is not finite";
    if (const std::size_t count = subnormals(signal); count != 0)
        return testing::AssertionFailure() << count << " subnormal samples";
    return testing::AssertionSuccess();
}

float dBFS(float magnitude) { return magnitude > 0.0f ? 20.0f * std::log10(magnitude) : -1000.0f; }

Host::Host(double sampleRate, AUAudioFrameCount maximumFrames)
    : unit(Unit::make(Unit::kComponentDescription)) {
    pull_ = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames, NSInteger,
                   AudioBufferList* list) -> AUAudioUnitStatus {
        std::copy_n(pullL_, frames, static_cast<float*>(list->mBuffers[0].mData));
        std::copy_n(pullR_, frames, static_cast<float*>(list->mBuffers[1].mData));
        return noErr;
    };
    configure(sampleRate, maximumFrames);
    render_ = unit->renderBlock();
}

Host::~Host() { unit->deallocateRenderResources(); }

void Host::configure(double sampleRate, AUAudioFrameCount maximumFrames) {
    unit->deallocateRenderResources();
    const auto format = AVAudioFormat::standardFormat(sampleRate, 2);
    EXPECT_TRUE(unit->kernelAdapter()->inputBus()->setFormat(format)) << sampleRate;
    EXPECT_TRUE(unit->kernelAdapter()->outputBus()->setFormat(format)) << sampleRate;
    unit->setMaximumFramesToRender(maximumFrames);
    unit->allocateRenderResources();
    sampleRate_ = sampleRate;
    maximumFrames_ = maximumFrames;
}

AUAudioUnitStatus Host::render(const float* inL, const float* inR, float* outL, float* outR,
                               AUAudioFrameCount frames, const AURenderEvent* events) {
    AudioBufferList* list = output_.get();
    const auto bytes = static_cast<std::uint32_t>(frames * sizeof(float));
    list->mBuffers[0] = AudioBuffer{1, bytes, outL};
    list->mBuffers[1] = AudioBuffer{1, bytes, outR};
    pullL_ = inL;
    pullR_ = inR;
    AudioTimeStamp timestamp;
    timestamp.mSampleTime = static_cast<double>(sampleTime_);
    AudioUnitRenderActionFlags flags = 0;
    static const AURenderPullInputBlock none;
    AUAudioUnitStatus status;
    {
        testkit::AllocationCounter counter;
        status = render_(&flags, &timestamp, frames, 0, list, events, inL != nullptr ? pull_ : none);
        renderAllocations_ += counter.count();
    }
    if (status == noErr) sampleTime_ += frames;
    return status;
}

AUAudioUnitStatus Host::process(Stereo& signal, AUAudioFrameCount block) {
    for (std::size_t at = 0; at < signal.frames(); at += block) {
        const auto n = static_cast<AUAudioFrameCount>(std::min<std::size_t>(block, signal.frames() - at));
        const AUAudioUnitStatus status =
            render(&signal.L[at], &signal.R[at], &signal.L[at], &signal.R[at], n);
        if (status != noErr) return status;
    }
    return noErr;
}

AUAudioUnitStatus Host::processRandomBlocks(Stereo& signal, std::mt19937& random) {
    std::uniform_int_distribution<AUAudioFrameCount> size(1, maximumFrames_);
    for (std::size_t at = 0; at < signal.frames();) {
        const auto n =
            static_cast<AUAudioFrameCount>(std::min<std::size_t>(size(random), signal.frames() - at));
        const AUAudioUnitStatus status =
            render(&signal.L[at], &signal.R[at], &signal.L[at], &signal.R[at], n);
        if (status != noErr) return status;
        at += n;
    }
    return noErr;
}

Stereo Host::rendered(const Stereo& input, AUAudioFrameCount block) {
    Stereo output = input;
    process(output, block);
    return output;
}

void Host::setThroughTree(AUParameterAddress address, AUValue value) {
    unit->parameterTree()->parameterWithAddress(address)->setValue(value);
}

AUValue Host::valueInTree(AUParameterAddress address) const {
    return unit->parameterTree()->parameterWithAddress(address)->value();
}

void Host::randomise(std::uint32_t seed, Route route) {
    const auto set = [&](AUParameterAddress address, AUValue value) {
        if (route == Route::tree)
            setThroughTree(address, value);
        else
            unit->setParameter(static_cast<std::int32_t>(address), value);
    };
    std::mt19937 random(seed);
    for (const auto& parameter : unit->parameterTree()->allParameters()) {
        if (!(parameter->flags() & kAudioUnitParameterFlag_IsWritable)) continue;
        float value =
            std::uniform_real_distribution<float>(parameter->minValue(), parameter->maxValue())(random);
        if (parameter->unit() == kAudioUnitParameterUnit_Indexed ||
            parameter->unit() == kAudioUnitParameterUnit_Boolean)
            value = std::round(value);
        set(parameter->address(), value);
    }
    set(kSplit1, 0.3f);
    set(kSplit2, 0.6f);
}

std::vector<AUParameterAddress> Host::addresses() const {
    std::vector<AUParameterAddress> all;
    for (const auto& parameter : unit->parameterTree()->allParameters()) all.push_back(parameter->address());
    return all;
}

std::vector<AUParameterAddress> Host::writableAddresses() const {
    std::vector<AUParameterAddress> writable;
    for (const auto& parameter : unit->parameterTree()->allParameters())
        if (parameter->flags() & kAudioUnitParameterFlag_IsWritable) writable.push_back(parameter->address());
    return writable;
}

} // namespace validation
