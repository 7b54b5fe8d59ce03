#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AUAudioUnitBusArray.h"
#include "platform/audio/AUAudioUnitPreset.h"
#include "platform/audio/AUParameterTree.h"
#include "platform/audio/AudioComponentDescription.h"
#include "platform/audio/AudioTypes.h"
#include "platform/foundation/PropertyList.h"

class AUAudioUnitFactory;
class AUViewController;

constexpr OSStatus kAudioUnitErr_FailedInitialization = -10875;
constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;

// What a host calls to render: the unit's internal render block behind the
// base's checks. Hosts hand their parameter and MIDI events in the list.
using AURenderBlock = AUInternalRenderBlock;

// A size an editor could be shown at.
struct AUAudioUnitViewConfiguration {
    double width = 0.0;
    double height = 0.0;
    bool hostHasController = false;
};

// The base of every audio unit: what a host sees of it (buses, capabilities,
// parameters, render resources, the render block) with the usual answers;
// units override what they do differently. Always held by std::shared_ptr.
class AUAudioUnit : public std::enable_shared_from_this<AUAudioUnit> {
public:
    virtual ~AUAudioUnit() = default;
    AUAudioUnit(const AUAudioUnit&) = delete;
    AUAudioUnit& operator=(const AUAudioUnit&) = delete;

    const AudioComponentDescription& componentDescription() const { return componentDescription_; }
    AudioComponentInstantiationOptions instantiationOptions() const { return options_; }

    // Empty arrays unless a unit has buses.
    virtual std::shared_ptr<AUAudioUnitBusArray> inputBusses();
    virtual std::shared_ptr<AUAudioUnitBusArray> outputBusses();

    // Input and output channel counts in pairs; -1 accepts any count; empty accepts all.
    virtual std::vector<int> channelCapabilities() { return {}; }
    virtual double latency() { return 0.0; }
    virtual double tailTime() { return 0.0; }
    virtual bool canPerformInput() { return false; }
    virtual bool canPerformOutput() { return false; }
    virtual bool canProcessInPlace() { return false; }
    // True for instruments and music effects.
    virtual bool isMusicDeviceOrEffect();
    virtual NSInteger virtualMIDICableCount() { return 0; }
    virtual std::vector<std::string> MIDIOutputNames() { return {}; }
    // The indices of the offered configurations the editor supports.
    virtual std::vector<std::size_t>
    supportedViewConfigurations(const std::vector<AUAudioUnitViewConfiguration>& availableViewConfigurations);
    virtual std::vector<AUParameterAddress> parametersForOverview(NSInteger count) {
        (void)count;
        return {};
    }

    virtual std::shared_ptr<AUParameterTree> parameterTree() { return parameterTree_; }
    virtual void setParameterTree(std::shared_ptr<AUParameterTree> tree) { parameterTree_ = std::move(tree); }

    // The whole state as one dictionary a host stores and hands back; none by default.
    virtual std::optional<PropertyList::Dictionary> fullState() { return std::nullopt; }
    virtual void setFullState(std::optional<PropertyList::Dictionary> state) { (void)state; }
    virtual bool supportsUserPresets() { return false; }
    // Presets numbered from 0; none by default.
    virtual std::vector<AUAudioUnitPreset> factoryPresets() { return {}; }
    virtual std::optional<AUAudioUnitPreset> currentPreset() { return currentPreset_; }
    virtual void setCurrentPreset(std::optional<AUAudioUnitPreset> preset) {
        currentPreset_ = std::move(preset);
    }
    // The state a preset stands for; throws NSError when there is none.
    virtual PropertyList::Dictionary presetState(const AUAudioUnitPreset& preset);

    // Kept while render resources are allocated: a host sets it before allocating.
    virtual AUAudioFrameCount maximumFramesToRender() { return maximumFramesToRender_; }
    virtual void setMaximumFramesToRender(AUAudioFrameCount frames);
    // Hosts set it on their own thread while the editor reads it on the main one.
    virtual bool shouldBypassEffect() { return shouldBypassEffect_.load(std::memory_order_relaxed); }
    virtual void setShouldBypassEffect(bool bypass) { shouldBypassEffect_.store(bypass, std::memory_order_relaxed); }

    // The host's blocks, set before allocation.
    AUHostMusicalContextBlock musicalContextBlock() const { return musicalContextBlock_; }
    void setMusicalContextBlock(AUHostMusicalContextBlock block) { musicalContextBlock_ = std::move(block); }
    AUHostTransportStateBlock transportStateBlock() const { return transportStateBlock_; }
    void setTransportStateBlock(AUHostTransportStateBlock block) { transportStateBlock_ = std::move(block); }
    AUScheduleMIDIEventBlock scheduleMIDIEventBlock() const { return scheduleMIDIEventBlock_; }
    void setScheduleMIDIEventBlock(AUScheduleMIDIEventBlock block) {
        scheduleMIDIEventBlock_ = std::move(block);
    }
    virtual AUMIDIOutputEventBlock midiOutputEventBlock() { return midiOutputEventBlock_; }
    virtual void setMidiOutputEventBlock(AUMIDIOutputEventBlock block) {
        midiOutputEventBlock_ = std::move(block);
    }

    // The unit's editor: its module's principal class when that is a view
    // controller, else none. The answer comes later, on the main queue.
    using ViewControllerHandler = std::function<void(std::shared_ptr<AUViewController>)>;
    void requestViewController(ViewControllerHandler completionHandler);
    // Set by the host that made the unit through a module; held weakly, since
    // the principal class owns its unit.
    void setPrincipalClass(std::weak_ptr<AUAudioUnitFactory> principal) { principal_ = std::move(principal); }

    // A host's name for where the unit runs.
    const std::optional<std::string>& contextName() const { return contextName_; }
    void setContextName(std::optional<std::string> name) { contextName_ = std::move(name); }

    // Checks the bus formats against the channel capabilities and marks the
    // resources allocated; throws NSError (its code an OSStatus) when they do not fit.
    virtual void allocateRenderResources();
    virtual void deallocateRenderResources() { renderResourcesAllocated_->store(false); }
    bool renderResourcesAllocated() const { return renderResourcesAllocated_->load(); }
    virtual void reset() {}

    // What the unit renders with; a unit without one renders nothing.
    virtual AUInternalRenderBlock internalRenderBlock() { return nullptr; }
    // The host's render block, made on first request from internalRenderBlock():
    // answers kAudioUnitErr_Uninitialized while no render resources are allocated.
    AURenderBlock renderBlock();

protected:
    // Throws NSError for a description that names no kind of component.
    AUAudioUnit(const AudioComponentDescription& description, AudioComponentInstantiationOptions options);

    // The allocation checks for the given buses and capabilities, for units
    // that answer their own; marks the resources allocated once they pass.
    void allocateRenderResourcesFor(const AUAudioUnitBusArray& inputs, const AUAudioUnitBusArray& outputs,
                                    const std::vector<int>& capabilities);

private:
    AudioComponentDescription componentDescription_;
    AudioComponentInstantiationOptions options_;
    std::shared_ptr<AUAudioUnitBusArray> inputBusses_;
    std::shared_ptr<AUAudioUnitBusArray> outputBusses_;
    std::shared_ptr<AUParameterTree> parameterTree_;
    AUAudioFrameCount maximumFramesToRender_ = 512;
    std::atomic<bool> shouldBypassEffect_{false};
    AUHostMusicalContextBlock musicalContextBlock_;
    AUHostTransportStateBlock transportStateBlock_;
    AUScheduleMIDIEventBlock scheduleMIDIEventBlock_;
    AUMIDIOutputEventBlock midiOutputEventBlock_;
    std::optional<std::string> contextName_;
    std::weak_ptr<AUAudioUnitFactory> principal_;
    std::optional<AUAudioUnitPreset> currentPreset_;
    // Shared with the render block, which may outlive the unit.
    std::shared_ptr<std::atomic<bool>> renderResourcesAllocated_ = std::make_shared<std::atomic<bool>>(false);
    AURenderBlock renderBlock_;
};
