#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AUAudioUnit.h"
#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/audio/AVAudioNode.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/NSError.h"

// An audio unit as a node of an engine. The engine gives it render resources
// in the format of its output connection (input and output alike; whatever
// arrives is brought to that channel count) and pulls it on the render thread.
class AVAudioUnit : public AVAudioNode {
public:
    using Completion = std::function<void(std::shared_ptr<AVAudioUnit> unit, std::optional<NSError> error)>;

    // Finds the first registered component the description matches whose
    // module passes its trial and loads (ModuleTrial; one that does not is
    // skipped with a warning), keeps the module loaded, has its principal
    // class make the unit, and hands unit or error to `completion` on the main
    // queue. The work runs on the global queue, with `environment` (this
    // process's as the calling thread has it now, or one carried from the
    // thread that asked for the unit) for the search and the trial.
    static void instantiate(const AudioComponentDescription& description,
                            AudioComponentInstantiationOptions options, Completion completion,
                            Environment environment = Environment::current());
    // The same, on the calling thread; throws NSError.
    static std::shared_ptr<AVAudioUnit> instantiate(const AudioComponentDescription& description,
                                                    AudioComponentInstantiationOptions options);

    // A unit made in this process, with the principal class that made it, if any.
    explicit AVAudioUnit(std::shared_ptr<AUAudioUnit> unit,
                         std::shared_ptr<AUAudioUnitFactory> principal = nullptr);
    ~AVAudioUnit() override;

    const std::shared_ptr<AUAudioUnit>& auAudioUnit() const { return unit_; }
    // The module's principal class (the plug-in's view controller); null for a unit made in process.
    const std::shared_ptr<AUAudioUnitFactory>& principalClass() const { return principal_; }
    const AudioComponentDescription& audioComponentDescription() const {
        return unit_->componentDescription();
    }

protected:
    std::shared_ptr<const AVAudioFormat> defaultOutputFormat() const override;
    void prepareToRender(const std::vector<std::shared_ptr<const AVAudioFormat>>& inputs,
                         const AVAudioFormat& output, AVAudioFrameCount maximumFrames) override;
    void didLeaveRender() override;
    void render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                AVAudioChannelCount outputChannels, AVAudioFrameCount frames) override;

private:
    std::shared_ptr<AUAudioUnit> unit_;
    std::shared_ptr<AUAudioUnitFactory> principal_;
    // Ready to render in this format and block size.
    std::optional<AVAudioFormat> preparedFormat_;
    AVAudioFrameCount preparedFrames_ = 0;
    AURenderBlock renderBlock_;
    AURenderPullInputBlock pullInput_;
    AudioBufferListStorage outputList_;
    std::vector<float> inputScratch_;
    // The render thread's own: what the pull block hands the unit this cycle.
    AVAudioNodeInput currentInput_;
    AudioTimeStamp timestamp_;
};
