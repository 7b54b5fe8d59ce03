#include "Orvo Halden/AUExtensionManager.h"

#include <cstdio>

#include "Orvo Halden/Console.h"
#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ProcessInfo.h"

namespace {
// The description as the platform prints a structure.
std::string describe(const AudioComponentDescription& d) {
    return "AudioComponentDescription(componentType: " + std::to_string(d.componentType) +
           ", componentSubType: " + std::to_string(d.componentSubType) +
           ", componentManufacturer: " + std::to_string(d.componentManufacturer) +
           ", componentFlags: " + std::to_string(d.componentFlags) +
           ", componentFlagsMask: " + std::to_string(d.componentFlagsMask) + ")";
}
} // namespace

std::shared_ptr<AUExtensionManager>
AUExtensionManager::make(const std::shared_ptr<AUExtensionManagerDelegate>& delegate) {
    auto manager = std::make_shared<AUExtensionManager>(Key{}, delegate);
    manager->loadForRelease();
    return manager;
}

AUExtensionManager::AUExtensionManager(Key, const std::shared_ptr<AUExtensionManagerDelegate>& delegate)
    : delegate_(delegate) {}

std::vector<Preset> AUExtensionManager::presets() const {
    std::vector<Preset> list;
    if (audioUnit_)
        for (const auto& preset : audioUnit_->factoryPresets()) list.push_back({preset});
    return list;
}

std::optional<Preset> AUExtensionManager::currentPreset() const {
    if (!audioUnit_) return std::nullopt;
    const auto preset = audioUnit_->currentPreset();
    return preset ? std::optional<Preset>(Preset{*preset}) : std::nullopt;
}

void AUExtensionManager::setCurrentPreset(const std::optional<Preset>& preset) {
    if (audioUnit_)
        audioUnit_->setCurrentPreset(preset ? std::optional(preset->audioUnitPreset) : std::nullopt);
}

bool AUExtensionManager::togglePlayback() { return auEngine_->toggle(); }

void AUExtensionManager::cleanup() { auEngine_->finalize(); }

void AUExtensionManager::loadForRelease() {
    print("NOTE: WE ARE IN AUDIO UNIT RELEASE MODE. ENSURE THE STORYBOARD CONNECTIONS ARE VALID!");
    DispatchQueue::global().async([self = shared_from_this()] {
        self->availableAudioUnits_ =
            AVAudioUnitComponentManager::sharedAudioUnitComponentManager().components(
                self->componentDescription_, self->searchEnvironment_);
        if (self->availableAudioUnits_.empty()) {
            print("ERROR: There were no audio units found.");
            self->searchEnded();
            return;
        }
        self->selectfoundComponent(self->availableAudioUnits_.front(), [self] {
            self->onFoundComponent();
            self->searchEnded();
        });
    });
}

void AUExtensionManager::selectfoundComponent(const std::shared_ptr<AVAudioUnitComponent>& component,
                                              const std::function<void()>& completionHandler) {
    if (!component) {
        print("ERROR: Component is nil.");
        searchEnded();
        return;
    }
    print("AUExtensionManager: Loaded component has following properties.");
    log(component->audioComponentDescription());
    selectAudioUnitWithComponentDescription(component->audioComponentDescription(), completionHandler);
}

void AUExtensionManager::log(const AudioComponentDescription& description) {
    print("\nProcess Name: " + ProcessInfo::processInfo().processName() +
          " PID: " + std::to_string(ProcessInfo::processInfo().processIdentifier()) + "\n");
    char flags[16];
    std::snprintf(flags, sizeof flags, "%#010x", description.componentFlags);
    print("AUExtension (\ntype: " + stringValue(description.componentType) +
          "\nsubtype: " + stringValue(description.componentSubType) +
          "\nmanufacturer: " + stringValue(description.componentManufacturer) + "\nflags: " + flags + "\n)");
}

void AUExtensionManager::selectAudioUnitWithComponentDescription(
    const std::optional<AudioComponentDescription>& description,
    const std::function<void()>& completionHandler) {
    if (!description) {
        print("Error: Component description is nil.");
        searchEnded();
        return;
    }
    // The platform hands the result to the main queue, where the graph and the delegate live.
    AVAudioUnit::instantiate(*description, 0,
                             [self = shared_from_this(), description = *description,
                              completionHandler](std::shared_ptr<AVAudioUnit> unit, std::optional<NSError>) {
                                 if (!unit) {
                                     print(describe(description));
                                     print("Error: Could not instantiate audio unit.");
                                     self->searchEnded();
                                     return;
                                 }
                                 print(
                                     "AUExtensionManager: Audio unit was found, making connections now ...");
                                 unit->auAudioUnit()->setContextName("running in distribution host");
                                 self->auEngine_->connect(unit, [self, unit, completionHandler] {
                                     print("AUExtensionManager: Performed audio unit connection.");
                                     if (const auto delegate = self->delegate_.lock())
                                         delegate->onFoundComponent(unit);
                                     if (completionHandler) completionHandler();
                                 });
                             },
                             searchEnvironment_);
}

void AUExtensionManager::whenSearchEnds(std::function<void()> then) {
    {
        MutexLock lock(searchMutex_);
        if (!searchEnded_) {
            waiting_.push_back(std::move(then));
            return;
        }
    }
    DispatchQueue::main().async(std::move(then));
}

void AUExtensionManager::searchEnded() {
    std::vector<std::function<void()>> ready;
    {
        MutexLock lock(searchMutex_);
        searchEnded_ = true;
        ready.swap(waiting_);
    }
    for (auto& then : ready)
        DispatchQueue::main().async(std::move(then));
}

void AUExtensionManager::onFoundComponent() {
    connectParametersToControls();
    if (const auto delegate = delegate_.lock()) delegate->onEngineInitialized();
}
