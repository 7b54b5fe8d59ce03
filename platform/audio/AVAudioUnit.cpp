#include "platform/audio/AVAudioUnit.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

#include "platform/audio/AVAudioUnitComponentManager.h"
#include "platform/audio/ModuleTrial.h"
#include "platform/foundation/DispatchQueue.h"

namespace {
constexpr int kAudioComponentErr_NotFound = -3000;
constexpr int kAudioComponentErr_InstanceInvalidated = -66749;
constexpr AVAudioChannelCount kMaximumChannels = 16;

// The unit from the first matching component whose module loads; a module
// that cannot be loaded (a broken file, a failed trial) is skipped for the next.
std::shared_ptr<AVAudioUnit> load(const AudioComponentDescription& description, const Environment& environment) {
    const auto components =
        AVAudioUnitComponentManager::sharedAudioUnitComponentManager().components(description, environment);
    if (components.empty())
        throw NSError(kAudioComponentErr_NotFound, "No registered component matches the description.");
    std::optional<NSError> first;
    for (const auto& component : components) {
        const std::string& path = component->moduleURL().path();
        std::string why;
        // Never closed: the unit's code and everything it hands out live in the module.
        const AUPrincipalClassFunction entry =
            ModuleTrial::load(path, component->factoryFunction(), why, environment);
        if (!entry) {
            NSError failure(kAudioComponentErr_InstanceInvalidated,
                            "The module '" + path + "' cannot be loaded: " + why + ".");
            // The first failure is the one thrown at the end; every other
            // reason is said here, so that none is lost.
            const bool last = component == components.back();
            if (!last || first) {
                std::printf("AVAudioUnit::WARNING: %s%s\n", failure.what(), last ? "" : " It is skipped.");
                std::fflush(stdout);
            }
            if (!first) first = failure;
            continue;
        }
        std::shared_ptr<AUAudioUnitFactory> principal;
        entry(&principal);
        if (!principal)
            throw NSError(kAudioComponentErr_InstanceInvalidated, "The module made no principal class.");
        std::shared_ptr<AUAudioUnit> unit = principal->createAudioUnit(description);
        if (!unit) throw NSError(kAudioComponentErr_InstanceInvalidated, "The principal class made no unit.");
        return std::make_shared<AVAudioUnit>(std::move(unit), std::move(principal));
    }
    throw *first;
}

// The unit; whatever is thrown on the way arrives as an NSError, said in an ERROR line.
std::shared_ptr<AVAudioUnit> instantiateIn(const AudioComponentDescription& description,
                                           const Environment& environment) {
    // A module may throw anything at all; it all arrives as an NSError.
    auto failed = [](const NSError& error) {
        std::printf("AVAudioUnit::ERROR: The component cannot be instantiated: %s\n", error.what());
        std::fflush(stdout);
        return error;
    };
    try {
        return load(description, environment);
    } catch (const NSError& error) {
        throw failed(error);
    } catch (const std::exception& error) {
        throw failed(NSError(kAudioUnitErr_FailedInitialization, error.what()));
    } catch (...) {
        throw failed(
            NSError(kAudioUnitErr_FailedInitialization, "The module threw something that is no exception."));
    }
}
} // namespace

std::shared_ptr<AVAudioUnit> AVAudioUnit::instantiate(const AudioComponentDescription& description,
                                                      AudioComponentInstantiationOptions) {
    return instantiateIn(description, Environment::current());
}

void AVAudioUnit::instantiate(const AudioComponentDescription& description, AudioComponentInstantiationOptions,
                              Completion completion, Environment environment) {
    DispatchQueue::global().async([description, environment = std::move(environment),
                                   completion = std::move(completion)]() mutable {
        std::shared_ptr<AVAudioUnit> unit;
        std::optional<NSError> error;
        try {
            unit = instantiateIn(description, environment);
        } catch (const NSError& failure) {
            error = failure;
        }
        // Handed on whole: what the completion holds goes on the main thread,
        // never on this one, which may still be at work as the program exits.
        DispatchQueue::main().async(
            [completion = std::move(completion), unit = std::move(unit), error = std::move(error)] {
                if (completion) completion(unit, error);
            });
    });
}

AVAudioUnit::AVAudioUnit(std::shared_ptr<AUAudioUnit> unit, std::shared_ptr<AUAudioUnitFactory> principal)
    : unit_(std::move(unit)), principal_(std::move(principal)) {
    if (unit_ && principal_) unit_->setPrincipalClass(principal_);
    pullInput_ = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                        NSInteger, AudioBufferList* list) -> AUAudioUnitStatus {
        if (!preparedFormat_ || frames > preparedFrames_) return kAudioUnitErr_TooManyFramesToProcess;
        float* channels[kMaximumChannels];
        const AVAudioChannelCount count =
            std::min<AVAudioChannelCount>(list->mNumberBuffers, kMaximumChannels);
        for (AVAudioChannelCount c = 0; c < count; ++c) {
            // A unit that leaves the memory to its host reads ours.
            if (list->mBuffers[c].mData == nullptr) {
                const std::size_t at =
                    static_cast<std::size_t>(std::min(c, preparedFormat_->channelCount() - 1));
                list->mBuffers[c].mData = inputScratch_.data() + at * preparedFrames_;
                list->mBuffers[c].mDataByteSize = static_cast<std::uint32_t>(frames * sizeof(float));
            }
            channels[c] = static_cast<float*>(list->mBuffers[c].mData);
        }
        mixChannels(currentInput_, channels, count, frames, false);
        return noErr;
    };
}

AVAudioUnit::~AVAudioUnit() { didLeaveRender(); }

std::shared_ptr<const AVAudioFormat> AVAudioUnit::defaultOutputFormat() const {
    const auto outputs = unit_->outputBusses();
    if (const auto bus = outputs ? (*outputs)[0] : nullptr; bus && bus->format()) return bus->format();
    return AVAudioNode::defaultOutputFormat();
}

void AVAudioUnit::prepareToRender(const std::vector<std::shared_ptr<const AVAudioFormat>>&,
                                  const AVAudioFormat& output, AVAudioFrameCount maximumFrames) {
    if (preparedFormat_ == output && preparedFrames_ == maximumFrames && unit_->renderResourcesAllocated())
        return;
    didLeaveRender();
    const auto format = std::make_shared<const AVAudioFormat>(output);
    try {
        for (const auto& busses : {unit_->inputBusses(), unit_->outputBusses()})
            if (const auto bus = busses ? (*busses)[0] : nullptr; bus && !bus->setFormat(format))
                throw NSError(kAudioUnitErr_FormatNotSupported, "The unit refuses the connection's format.");
        unit_->setMaximumFramesToRender(maximumFrames);
        unit_->allocateRenderResources();
    } catch (const std::exception& error) {
        std::printf("AVAudioUnit::ERROR: The unit cannot render in the engine: %s\n", error.what());
        std::fflush(stdout);
        return;
    }
    const AVAudioChannelCount channels = std::max<AVAudioChannelCount>(output.channelCount(), 1);
    inputScratch_.assign(static_cast<std::size_t>(channels) * maximumFrames, 0.0f);
    outputList_.resize(channels);
    renderBlock_ = unit_->renderBlock();
    preparedFormat_ = output;
    preparedFrames_ = maximumFrames;
}

void AVAudioUnit::didLeaveRender() {
    if (preparedFormat_ && unit_->renderResourcesAllocated()) unit_->deallocateRenderResources();
    preparedFormat_.reset();
}

void AVAudioUnit::render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                         AVAudioChannelCount outputChannels, AVAudioFrameCount frames) {
    AUAudioUnitStatus status = kAudioUnitErr_Uninitialized;
    if (preparedFormat_ && renderBlock_ && outputChannels == preparedFormat_->channelCount()) {
        currentInput_ = inputCount > 0 ? inputs[0] : AVAudioNodeInput{};
        AudioBufferList* list = outputList_.get();
        for (AVAudioChannelCount c = 0; c < outputChannels; ++c)
            list->mBuffers[c] = AudioBuffer{1, static_cast<std::uint32_t>(frames * sizeof(float)), output[c]};
        AudioUnitRenderActionFlags flags = 0;
        status = renderBlock_(&flags, &timestamp_, frames, 0, list, nullptr, pullInput_);
        timestamp_.mSampleTime += frames;
        // A unit may answer in buffers of its own.
        for (AVAudioChannelCount c = 0; status == noErr && c < outputChannels; ++c)
            if (list->mBuffers[c].mData != output[c] && list->mBuffers[c].mData != nullptr)
                std::copy_n(static_cast<const float*>(list->mBuffers[c].mData), frames, output[c]);
    }
    if (status != noErr)
        for (AVAudioChannelCount c = 0; c < outputChannels; ++c) std::fill_n(output[c], frames, 0.0f);
}
