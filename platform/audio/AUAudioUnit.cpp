#include "platform/audio/AUAudioUnit.h"

#include <string>

#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NSError.h"
#include "platform/ui/AUViewController.h"

namespace {
[[noreturn]] void fail(OSStatus status, const std::string& reason) {
    throw NSError(status, reason + " (OSStatus error " + std::to_string(status) + ".)");
}

bool fits(int capability, std::size_t channels) {
    return capability == -1 || (capability >= 0 && static_cast<std::size_t>(capability) == channels);
}

std::size_t firstBusChannels(const AUAudioUnitBusArray& busses) {
    const auto bus = busses[0];
    return bus && bus->format() ? bus->format()->channelCount() : 0;
}
} // namespace

AUAudioUnit::AUAudioUnit(const AudioComponentDescription& description,
                         AudioComponentInstantiationOptions options)
    : componentDescription_(description), options_(options) {
    if (description.componentType == 0) fail(kAudioUnitErr_FailedInitialization, "No component type.");
}

std::shared_ptr<AUAudioUnitBusArray> AUAudioUnit::inputBusses() {
    if (!inputBusses_)
        inputBusses_ = std::make_shared<AUAudioUnitBusArray>(weak_from_this(), AUAudioUnitBusType::Input,
                                                             AUAudioUnitBusArray::Busses{});
    return inputBusses_;
}

std::shared_ptr<AUAudioUnitBusArray> AUAudioUnit::outputBusses() {
    if (!outputBusses_)
        outputBusses_ = std::make_shared<AUAudioUnitBusArray>(weak_from_this(), AUAudioUnitBusType::Output,
                                                              AUAudioUnitBusArray::Busses{});
    return outputBusses_;
}

bool AUAudioUnit::isMusicDeviceOrEffect() {
    const OSType type = componentDescription_.componentType;
    return type == kAudioUnitType_MusicEffect || type == fourCharCode("aumu");
}

std::vector<std::size_t> AUAudioUnit::supportedViewConfigurations(
    const std::vector<AUAudioUnitViewConfiguration>& availableViewConfigurations) {
    std::vector<std::size_t> all(availableViewConfigurations.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}

void AUAudioUnit::setMaximumFramesToRender(AUAudioFrameCount frames) {
    // The render buffers were sized for the old value.
    if (!renderResourcesAllocated()) maximumFramesToRender_ = frames;
}

void AUAudioUnit::allocateRenderResources() {
    allocateRenderResourcesFor(*inputBusses(), *outputBusses(), channelCapabilities());
}

void AUAudioUnit::allocateRenderResourcesFor(const AUAudioUnitBusArray& inputs,
                                             const AUAudioUnitBusArray& outputs,
                                             const std::vector<int>& capabilities) {
    double sampleRate = 0.0;
    for (const AUAudioUnitBusArray* busses : {&inputs, &outputs}) {
        for (const auto& bus : *busses) {
            if (!bus || !bus->format()) fail(kAudioUnitErr_FormatNotSupported, "A bus has no format.");
            const double rate = bus->format()->sampleRate();
            if (sampleRate != 0.0 && rate != sampleRate)
                fail(kAudioUnitErr_FormatNotSupported, "The buses run at different sample rates.");
            sampleRate = rate;
        }
    }
    if (!capabilities.empty()) {
        const std::size_t in = firstBusChannels(inputs), out = firstBusChannels(outputs);
        bool supported = false;
        for (std::size_t i = 0; i + 1 < capabilities.size(); i += 2)
            supported = supported || (fits(capabilities[i], in) && fits(capabilities[i + 1], out));
        if (!supported)
            fail(kAudioUnitErr_FormatNotSupported,
                 "The channel counts are not among the unit's capabilities.");
    }
    renderResourcesAllocated_->store(true);
}

PropertyList::Dictionary AUAudioUnit::presetState(const AUAudioUnitPreset& preset) {
    throw NSError(kAudioUnitErr_InvalidPropertyValue,
                  "The unit has no state for the preset '" + preset.name + "'.");
}

AURenderBlock AUAudioUnit::renderBlock() {
    if (renderBlock_) return renderBlock_;
    renderBlock_ = [allocated = renderResourcesAllocated_, internal = internalRenderBlock()](
                       AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
                       AUAudioFrameCount frameCount, NSInteger outputBusNumber, AudioBufferList* outputData,
                       const AURenderEvent* realtimeEventListHead,
                       const AURenderPullInputBlock& pullInputBlock) -> AUAudioUnitStatus {
        if (!internal || !allocated->load(std::memory_order_relaxed)) return kAudioUnitErr_Uninitialized;
        return internal(actionFlags, timestamp, frameCount, outputBusNumber, outputData,
                        realtimeEventListHead, pullInputBlock);
    };
    return renderBlock_;
}

void AUAudioUnit::requestViewController(ViewControllerHandler completionHandler) {
    if (!completionHandler)
        return;
    DispatchQueue::main().async([principal = principal_, completionHandler = std::move(completionHandler)] {
        completionHandler(std::dynamic_pointer_cast<AUViewController>(principal.lock()));
    });
}
