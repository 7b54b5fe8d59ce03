#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"
#include "kernel/ParameterAddress.h"

// Drives an adapter the way a host does: allocation, a pull block that
// serves the next input frames, and stereo output buffers of our own.
class KernelRig {
public:
    explicit KernelRig(double sampleRate = 48000.0, AUAudioFrameCount maxFrames = 4096)
        : adapter(Orvo_Halden_ExtensionDSPKernelAdapter::make()), output_(2) {
        EXPECT_TRUE(adapter->outputBus()->setFormat(AVAudioFormat::standardFormat(sampleRate, 2)));
        adapter->setMaximumFramesToRender(maxFrames);
        adapter->allocateRenderResources();
        left_.assign(maxFrames + 1, 0.0f);
        right_.assign(maxFrames + 1, 0.0f);
        pull = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames, NSInteger,
                      AudioBufferList* list) -> AUAudioUnitStatus {
            for (AUAudioFrameCount i = 0; i < frames; ++i) {
                const std::size_t k = position_ + i;
                static_cast<float*>(list->mBuffers[0].mData)[i] = k < inputL.size() ? inputL[k] : 0.0f;
                static_cast<float*>(list->mBuffers[1].mData)[i] = k < inputR.size() ? inputR[k] : 0.0f;
            }
            return noErr;
        };
    }

    Orvo_Halden_Extension_DSPKernel& kernel() { return adapter->kernel(); }

    // Renders one block of the input at the current position into outL/outR.
    AUAudioUnitStatus renderBlock(AUAudioFrameCount frames, const AURenderEvent* events = nullptr) {
        AudioBufferList* list = output_.get();
        list->mBuffers[0] =
            AudioBuffer{1, static_cast<std::uint32_t>(left_.size() * sizeof(float)), left_.data()};
        list->mBuffers[1] =
            AudioBuffer{1, static_cast<std::uint32_t>(right_.size() * sizeof(float)), right_.data()};
        AudioTimeStamp ts;
        ts.mSampleTime = static_cast<double>(position_);
        AudioUnitRenderActionFlags flags = 0;
        const AUAudioUnitStatus status = adapter->render(&flags, &ts, frames, 0, list, events, pull);
        if (status == noErr) {
            outL.insert(outL.end(), left_.begin(), left_.begin() + frames);
            outR.insert(outR.end(), right_.begin(), right_.begin() + frames);
            position_ += frames;
        }
        return status;
    }

    // Renders the whole input (and `extra` frames of silence after it).
    void renderAll(AUAudioFrameCount block = 512, std::size_t extra = 0) {
        const std::size_t total = std::max(inputL.size(), inputR.size()) + extra;
        while (position_ < total)
            renderBlock(static_cast<AUAudioFrameCount>(std::min<std::size_t>(block, total - position_)));
    }

    void setInput(std::vector<float> l, std::vector<float> r) {
        inputL = std::move(l);
        inputR = std::move(r);
    }

    std::unique_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> adapter;
    AURenderPullInputBlock pull;
    std::vector<float> inputL, inputR, outL, outR;

private:
    AudioBufferListStorage output_;
    std::vector<float> left_, right_;
    std::size_t position_ = 0;
};
