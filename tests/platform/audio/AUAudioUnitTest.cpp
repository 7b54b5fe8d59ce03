#include <gtest/gtest.h>

#include <memory>

#include "platform/audio/AUAudioUnit.h"
#include "platform/foundation/NSError.h"

namespace {

constexpr AudioComponentDescription kEffect{kAudioUnitType_Effect, fourCharCode("test"),
                                            fourCharCode("ACME")};

// A stereo unit whose internal block counts its calls and writes 1.0 into the output.
class TestUnit : public AUAudioUnit {
public:
    explicit TestUnit(const AudioComponentDescription& d = kEffect) : AUAudioUnit(d, 0) {}

    std::shared_ptr<AUAudioUnitBusArray> inputBusses() override {
        return busses(input_, AUAudioUnitBusType::Input, in);
    }
    std::shared_ptr<AUAudioUnitBusArray> outputBusses() override {
        return busses(output_, AUAudioUnitBusType::Output, out);
    }
    std::vector<int> channelCapabilities() override { return {2, 2, 1, 1}; }
    AUInternalRenderBlock internalRenderBlock() override {
        return [calls = calls](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                               NSInteger, AudioBufferList* output, const AURenderEvent*,
                               const AURenderPullInputBlock&) -> AUAudioUnitStatus {
            ++*calls;
            static_cast<float*>(output->mBuffers[0].mData)[frames - 1] = 1.0f;
            return noErr;
        };
    }

    std::shared_ptr<AUAudioUnitBus> in = AUAudioUnitBus::make(AVAudioFormat::standardFormat(48000.0, 2));
    std::shared_ptr<AUAudioUnitBus> out = AUAudioUnitBus::make(AVAudioFormat::standardFormat(48000.0, 2));
    std::shared_ptr<int> calls = std::make_shared<int>(0);

private:
    std::shared_ptr<AUAudioUnitBusArray> busses(std::shared_ptr<AUAudioUnitBusArray>& array,
                                                AUAudioUnitBusType type,
                                                const std::shared_ptr<AUAudioUnitBus>& bus) {
        if (!array)
            array = std::make_shared<AUAudioUnitBusArray>(weak_from_this(), type,
                                                          AUAudioUnitBusArray::Busses{bus});
        return array;
    }
    std::shared_ptr<AUAudioUnitBusArray> input_, output_;
};

OSStatus allocationError(AUAudioUnit& unit) {
    try {
        unit.allocateRenderResources();
    } catch (const NSError& error) {
        return error.code();
    }
    return noErr;
}

AUAudioUnitStatus renderOnce(const AURenderBlock& block, float* samples) {
    AudioBufferListStorage list(1);
    list.get()->mBuffers[0] = AudioBuffer{1, 16 * sizeof(float), samples};
    AudioTimeStamp ts;
    return block(nullptr, &ts, 16, 0, list.get(), nullptr, nullptr);
}

} // namespace

TEST(AUAudioUnit, AllocationChecksTheBusFormatsAgainstTheCapabilities) {
    auto unit = std::make_shared<TestUnit>();
    EXPECT_EQ(allocationError(*unit), noErr);
    EXPECT_TRUE(unit->renderResourcesAllocated());
    unit->deallocateRenderResources();
    EXPECT_FALSE(unit->renderResourcesAllocated());

    ASSERT_TRUE(unit->in->setFormat(AVAudioFormat::standardFormat(48000.0, 1)));
    EXPECT_EQ(allocationError(*unit), kAudioUnitErr_FormatNotSupported); // 1 in, 2 out
    EXPECT_FALSE(unit->renderResourcesAllocated());
    ASSERT_TRUE(unit->out->setFormat(AVAudioFormat::standardFormat(48000.0, 1)));
    EXPECT_EQ(allocationError(*unit), noErr); // 1 in, 1 out
    unit->deallocateRenderResources();
    ASSERT_TRUE(unit->out->setFormat(AVAudioFormat::standardFormat(44100.0, 1)));
    EXPECT_EQ(allocationError(*unit), kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(unit->renderResourcesAllocated());
}

TEST(AUAudioUnit, TheRenderBlockRendersOnlyWhileResourcesAreAllocated) {
    auto unit = std::make_shared<TestUnit>();
    const AURenderBlock block = unit->renderBlock();
    EXPECT_TRUE(unit->renderBlock() == block);
    float samples[16] = {};
    EXPECT_EQ(renderOnce(block, samples), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(*unit->calls, 0);
    unit->allocateRenderResources();
    EXPECT_EQ(renderOnce(block, samples), noErr);
    EXPECT_EQ(samples[15], 1.0f);
    unit->deallocateRenderResources();
    EXPECT_EQ(renderOnce(block, samples), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(*unit->calls, 1);

    // A host may hold the block longer than the unit.
    unit->allocateRenderResources();
    const auto calls = unit->calls;
    std::weak_ptr<AUAudioUnit> watch = unit;
    unit.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(renderOnce(block, samples), noErr);
    EXPECT_EQ(*calls, 2);
}

TEST(AUAudioUnit, MaximumFramesStayPutWhileAllocated) {
    auto unit = std::make_shared<TestUnit>();
    EXPECT_EQ(unit->maximumFramesToRender(), 512u);
    unit->setMaximumFramesToRender(1024);
    unit->allocateRenderResources();
    unit->setMaximumFramesToRender(4096);
    EXPECT_EQ(unit->maximumFramesToRender(), 1024u);
    unit->deallocateRenderResources();
    unit->setMaximumFramesToRender(4096);
    EXPECT_EQ(unit->maximumFramesToRender(), 4096u);
}

TEST(AUAudioUnit, CreationNeedsAComponentTypeAndKeepsTheDescription) {
    EXPECT_THROW(TestUnit(AudioComponentDescription{}), NSError);
    auto unit = std::make_shared<TestUnit>();
    EXPECT_EQ(unit->componentDescription(), kEffect);
    EXPECT_FALSE(unit->isMusicDeviceOrEffect());
    EXPECT_TRUE(std::make_shared<TestUnit>(AudioComponentDescription{kAudioUnitType_MusicEffect, 1, 2})
                    ->isMusicDeviceOrEffect());
    EXPECT_EQ(unit->inputBusses()->ownerAudioUnit(), unit);
    EXPECT_EQ(unit->inputBusses()->busType(), AUAudioUnitBusType::Input);
    EXPECT_EQ((*unit->outputBusses())[1], nullptr);
    EXPECT_EQ(unit->supportedViewConfigurations({{}, {}, {}}), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(fourCharCode("aumf"), 0x61756d66u);
}
