#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/OrvoPreset.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_Parameters.h"
#include "Orvo_Halden_Extension/RenderReports.h"
#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"
#include "platform/audio/AUAudioUnit.h"

// The effect as a host sees it: one stereo input and one stereo output bus,
// the parameter tree, render resources and the render block. Owns the kernel
// adapter (and through it the ~100 MB kernel) and the parameter builder.
// Almost every host-facing call logs one line, at once, on the calling thread.
class Orvo_Halden_Extension_AudioUnit : public AUAudioUnit, public OrvoPresetDelegate {
    struct Key {};

public:
    // The effect's own component: a music effect, 'ohdn' by 'VLMR'.
    static constexpr AudioComponentDescription kComponentDescription{
        kAudioUnitType_MusicEffect, fourCharCode("ohdn"), fourCharCode("VLMR"), 0, 0};

    // Builds the adapter, then the parameters, then the base; throws the base's
    // NSError when it refuses the description. Options are not used.
    static std::shared_ptr<Orvo_Halden_Extension_AudioUnit>
    make(const AudioComponentDescription& componentDescription,
         AudioComponentInstantiationOptions options = 0);

    Orvo_Halden_Extension_AudioUnit(Key, const AudioComponentDescription& componentDescription,
                                    std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> kernelAdapter,
                                    std::shared_ptr<Orvo_Halden_Extension_Parameters> parameters);
    // Prints the render problems not printed yet.
    ~Orvo_Halden_Extension_AudioUnit() override;

    const std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter>& kernelAdapter() const {
        return kernelAdapter_;
    }
    const std::shared_ptr<Orvo_Halden_Extension_Parameters>& parameters() const { return parameters_; }

    std::shared_ptr<AUAudioUnitBusArray> inputBusses() override;
    std::shared_ptr<AUAudioUnitBusArray> outputBusses() override;
    std::vector<int> channelCapabilities() override;
    double latency() override;
    double tailTime() override;
    bool canPerformInput() override;
    bool canPerformOutput() override;
    bool canProcessInPlace() override;
    bool isMusicDeviceOrEffect() override;
    NSInteger virtualMIDICableCount() override;
    std::vector<std::string> MIDIOutputNames() override;
    std::vector<std::size_t> supportedViewConfigurations(
        const std::vector<AUAudioUnitViewConfiguration>& availableViewConfigurations) override;
    std::vector<AUParameterAddress> parametersForOverview(NSInteger count) override;

    // Always the builder's tree; a new one is refused.
    std::shared_ptr<AUParameterTree> parameterTree() override { return parameters_->parameterTree(); }
    void setParameterTree(std::shared_ptr<AUParameterTree> tree) override;

    void setMaximumFramesToRender(AUAudioFrameCount frames) override;
    void setShouldBypassEffect(bool bypass) override;
    AUMIDIOutputEventBlock midiOutputEventBlock() override;
    void setMidiOutputEventBlock(AUMIDIOutputEventBlock block) override;

    // Throws NSError when the bus formats do not fit [2, 2] or the buffers cannot be had.
    void allocateRenderResources() override;
    void deallocateRenderResources() override;
    void reset() override;
    // Holds the adapter and the MIDI output block of the moment, not the unit.
    // A failed render is logged from the main loop while resources are
    // allocated, else at the deallocation; never on the render thread.
    AUInternalRenderBlock internalRenderBlock() override;

    // The whole state: one group of all 111 parameters. A state of another
    // component is refused whole, before anything of it is applied.
    std::optional<PropertyList::Dictionary> fullState() override;
    void setFullState(std::optional<PropertyList::Dictionary> state) override;
    bool supportsUserPresets() override;
    // The ".aupreset" files of the "Presets" folder, sorted by name, numbered from 0.
    std::vector<AUAudioUnitPreset> factoryPresets() override;
    // Applies the preset's file (a user preset's as a whole state) and makes it
    // current; a preset that cannot be applied changes nothing.
    void setCurrentPreset(std::optional<AUAudioUnitPreset> preset) override;
    // The preset file's content; applies nothing. Throws NSError when the file
    // is missing, unreadable or the name would leave the "Presets" folder.
    PropertyList::Dictionary presetState(const AUAudioUnitPreset& preset) override;

    // Applies one parameter read from a state or preset of this unit.
    void onFoundParameter(std::int64_t group, const std::string& identifier, std::uint64_t address,
                          float value) override;
    // Sends every tree value to the kernel once more.
    void updateParameters();

    // The editor's meters and spectrum, for one thread (the main one). The
    // arrays are the adapter's copies of what the render thread handed over:
    // valid while the unit lives, changing only through these calls.
    float getPeakInput();
    float getPeakOutput();
    float* getMagnitudes();
    float getChromaticFrequency(NSInteger note);
    float* getMagnitudesScaled(NSInteger count, float scaling);

    // The editor's way to a parameter by its address. Addresses outside the
    // table's 0...126 are ignored with a warning; getParameter answers 0 for them
    // and for addresses without a parameter.
    void setParameter(std::int32_t address, AUValue value);
    AUValue getParameter(std::int32_t address);

    // Prints the names below a group, indented by level.
    void dumpParameters(const std::string& name, const AUParameterGroup* tree, int level);
    // Writes one line to standard output now, on the calling thread.
    void debugprint(const std::string& text);

private:
    const std::shared_ptr<AUAudioUnitBusArray>& inputBusArray();
    const std::shared_ptr<AUAudioUnitBusArray>& outputBusArray();
    void handOverHostBlocks();
    bool acceptsAddress(std::int32_t address, const char* operation);
    std::weak_ptr<OrvoPresetDelegate> weakDelegate();
    // Runs a read that reports parameters, holding the split points back until
    // it is done so that they end as read whatever order they came in.
    bool restoring(const std::function<bool()>& read);
    void applyHeldSplits();
    // The preset's file in the "Presets" folder; none (with a line) for a name
    // that is not a plain file name or without a documents folder.
    std::optional<URL> presetFileURL(const AUAudioUnitPreset& preset);
    // Logs the missing-file line when nothing is there.
    bool presetFileExists(const AUAudioUnitPreset& preset, const URL& url);
    void selectUserPreset(const AUAudioUnitPreset& preset);
    void selectFactoryPreset(const AUAudioUnitPreset& preset);

    // Statuses of failed renders, recorded on the render thread.
    using RenderProblems = RenderReports<AUAudioUnitStatus, 64>;
    static void printRenderProblems(RenderProblems& problems);
    // Ends the main loop's printing (it runs while render resources are
    // allocated) and prints what is left.
    void stopPrintingRenderProblems();

    std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> kernelAdapter_;
    std::shared_ptr<RenderProblems> renderProblems_ = std::make_shared<RenderProblems>();
    std::shared_ptr<Timer> renderProblemPrinter_;
    std::shared_ptr<Orvo_Halden_Extension_Parameters> parameters_;
    std::shared_ptr<AUAudioUnitBusArray> inputBusArray_;
    std::shared_ptr<AUAudioUnitBusArray> outputBusArray_;
    AUMIDIOutputEventBlock midiOutputEventBlock_;

    std::optional<PropertyList::Dictionary> fullState_;
    std::vector<AUAudioUnitPreset> presets_;
    struct HeldSplits {
        bool holding = false;
        std::optional<float> split1, split2;
    } heldSplits_;
};
