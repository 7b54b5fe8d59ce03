#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "Orvo_Halden_Extension/OrvoHaldenModule.h"
#include "platform/audio/AUAudioUnit.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/AUViewController.h"

namespace {

constexpr AUAudioFrameCount kFrames = 512;
constexpr AudioComponentDescription kEffect{fourCharCode("aumf"), fourCharCode("ohdn"), fourCharCode("VLMR"), 0, 0};

// Loaded once and never closed: what it made must find its code until the process ends.
AUPrincipalClassFunction entryPoint() {
    static void* module = dlopen(ORVO_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        ADD_FAILURE() << dlerror();
    return module ? reinterpret_cast<AUPrincipalClassFunction>(dlsym(module, kOrvoHaldenFactoryFunction)) : nullptr;
}

TEST(PluginModule, MakesAUnitThroughItsEntryPointAndRendersABlock) {
    const AUPrincipalClassFunction create = entryPoint();
    ASSERT_NE(create, nullptr);
    std::shared_ptr<AUAudioUnitFactory> principal;
    create(&principal);
    ASSERT_TRUE(principal);
    EXPECT_TRUE(std::dynamic_pointer_cast<AUViewController>(principal)) << "the editor's controller, for the host";

    const std::shared_ptr<AUAudioUnit> unit = principal->createAudioUnit(kEffect);
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->parameterTree()->allParameters().size(), 111u);
    unit->setMaximumFramesToRender(kFrames);
    unit->allocateRenderResources();

    std::vector<float> left(kFrames), right(kFrames);
    AudioBufferListStorage output(2);
    output.get()->mBuffers[0] = AudioBuffer{1, kFrames * sizeof(float), left.data()};
    output.get()->mBuffers[1] = AudioBuffer{1, kFrames * sizeof(float), right.data()};
    const AURenderPullInputBlock input = [](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                            AUAudioFrameCount frames, NSInteger, AudioBufferList* list) {
        for (std::uint32_t b = 0; b < list->mNumberBuffers; ++b) {
            auto* samples = static_cast<float*>(list->mBuffers[b].mData);
            for (AUAudioFrameCount i = 0; i < frames; ++i)
                samples[i] = 0.25f * std::sin(0.05f * static_cast<float>(i));
        }
        return AUAudioUnitStatus(noErr);
    };
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp time;
    EXPECT_EQ(unit->renderBlock()(&flags, &time, kFrames, 0, output.get(), nullptr, input), noErr);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](float v) { return std::isfinite(v); }));
    EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](float v) { return v != 0.0f; }));

    unit->deallocateRenderResources();
    principal.reset();
    DispatchQueue::main().drain();  // the hand-over holds the controller until it runs
}

}  // namespace
