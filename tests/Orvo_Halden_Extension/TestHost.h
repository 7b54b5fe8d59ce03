#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "kernel/ParameterAddress.h"
#include "tests/support/Signals.h"

namespace testkit {

inline constexpr AUAudioFrameCount kBlock = 512;

// Plays a host: makes the unit, pulls stereo noise into it block by block
// through the render block and keeps what comes out.
class TestHost {
public:
    explicit TestHost(
        std::shared_ptr<Orvo_Halden_Extension_AudioUnit> hosted =
            Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription))
        : unit(std::move(hosted)), output_(2) {
        inputL = testkit::noise(8 * kBlock, 1, 0.5f);
        inputR = testkit::noise(8 * kBlock, 2, 0.5f);
        outL.reserve(inputL.size());
        outR.reserve(inputR.size());
        left_.assign(kBlock, 0.0f);
        right_.assign(kBlock, 0.0f);
        pull_ = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                       NSInteger, AudioBufferList* list) -> AUAudioUnitStatus {
            std::copy_n(inputL.begin() + static_cast<std::ptrdiff_t>(position_), frames,
                        static_cast<float*>(list->mBuffers[0].mData));
            std::copy_n(inputR.begin() + static_cast<std::ptrdiff_t>(position_), frames,
                        static_cast<float*>(list->mBuffers[1].mData));
            return noErr;
        };
    }

    void allocate() {
        unit->setMaximumFramesToRender(kBlock);
        unit->allocateRenderResources();
        render_ = unit->renderBlock();
    }

    AUAudioUnitStatus renderNext(AUAudioFrameCount frames = kBlock, const AURenderEvent* events = nullptr) {
        AudioBufferList* list = output_.get();
        const auto bytes = static_cast<std::uint32_t>(kBlock * sizeof(float));
        list->mBuffers[0] = AudioBuffer{1, bytes, left_.data()};
        list->mBuffers[1] = AudioBuffer{1, bytes, right_.data()};
        AudioTimeStamp ts;
        ts.mSampleTime = static_cast<double>(position_);
        AudioUnitRenderActionFlags flags = 0;
        const AUAudioUnitStatus status = render_(&flags, &ts, frames, 0, list, events, pull_);
        if (status == noErr) {
            outL.insert(outL.end(), left_.begin(), left_.begin() + frames);
            outR.insert(outR.end(), right_.begin(), right_.begin() + frames);
            position_ += frames;
        }
        return status;
    }

    std::size_t position() const { return position_; }

    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit;
    std::vector<float> inputL, inputR, outL, outR;

private:
    AURenderBlock render_;
    AURenderPullInputBlock pull_;
    AudioBufferListStorage output_;
    std::vector<float> left_, right_;
    std::size_t position_ = 0;
};

} // namespace testkit
