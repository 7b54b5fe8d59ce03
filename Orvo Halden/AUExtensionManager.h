#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Orvo Halden/Audio Engine/AUEnginePlayer.h"
#include "platform/audio/AUAudioUnitPreset.h"
#include "platform/audio/AVAudioUnit.h"
#include "platform/audio/AVAudioUnitComponentManager.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/Mutex.h"
#include "platform/ui/AUViewController.h"

// Hears when the effect is ready; both calls come on the main queue.
class AUExtensionManagerDelegate {
public:
    virtual ~AUExtensionManagerDelegate() = default;
    // A unit was instantiated and wired into the player's graph.
    virtual void onFoundComponent(const std::shared_ptr<AVAudioUnit>& unit) = 0;
    // The host has finished its own work after the connection.
    virtual void onEngineInitialized() = 0;
};

// One of the unit's presets.
struct Preset {
    AUAudioUnitPreset audioUnitPreset;

    NSInteger number() const { return audioUnitPreset.number; }
    const std::string& name() const { return audioUnitPreset.name; }
};

// The app's host for the effect: finds it in the component registry (on the
// global queue), instantiates the first match, names its context, hands it to
// the demo player and tells the delegate. Creating it starts the search.
class AUExtensionManager : public std::enable_shared_from_this<AUExtensionManager> {
    struct Key {};

public:
    // The search keeps the manager alive until it is done.
    static std::shared_ptr<AUExtensionManager>
    make(const std::shared_ptr<AUExtensionManagerDelegate>& delegate);
    AUExtensionManager(Key, const std::shared_ptr<AUExtensionManagerDelegate>& delegate);

    const std::shared_ptr<AUEnginePlayer>& auEngine() const { return auEngine_; }

    // The unit's factory presets, or none while no unit is assigned (always, as the app stands).
    std::vector<Preset> presets() const;
    std::optional<Preset> currentPreset() const;
    void setCurrentPreset(const std::optional<Preset>& preset);

    bool togglePlayback();
    void cleanup();

    // Runs `then` on the main queue once the search has ended, whichever way:
    // the unit wired and the delegate told, or nothing found or made. When it
    // has ended already, `then` is queued at once.
    void whenSearchEnds(std::function<void()> then);

    // A slot for the unit's view controller; nothing fills it as the app stands.
    std::shared_ptr<AUViewController> viewController;

    static constexpr AudioComponentDescription kComponentDescription{
        kAudioUnitType_MusicEffect, fourCharCode("ohdn"), fourCharCode("VLMR"), 2, 0};

private:
    void loadForRelease();
    void selectfoundComponent(const std::shared_ptr<AVAudioUnitComponent>& component,
                              const std::function<void()>& completionHandler);
    void log(const AudioComponentDescription& description);
    void selectAudioUnitWithComponentDescription(const std::optional<AudioComponentDescription>& description,
                                                 const std::function<void()>& completionHandler);
    void onFoundComponent();
    void connectParametersToControls() {}
    void searchEnded();

    const std::shared_ptr<AUEnginePlayer> auEngine_ = std::make_shared<AUEnginePlayer>();
    // Held weakly: the delegate (the main screen) owns the manager.
    std::weak_ptr<AUExtensionManagerDelegate> delegate_;
    std::shared_ptr<AUAudioUnit> audioUnit_;
    const std::string componentName_ = "VLMR: Orvo Halden Extension (AU)";
    AudioComponentDescription componentDescription_ = kComponentDescription;
    std::vector<std::shared_ptr<AVAudioUnitComponent>> availableAudioUnits_;
    // The environment the search was asked with: it runs on the global queue,
    // beside the thread that made the manager, and reads none of its own.
    const Environment searchEnvironment_ = Environment::current();
    Mutex searchMutex_;
    bool searchEnded_ GUARDED_BY(searchMutex_) = false;
    std::vector<std::function<void()>> waiting_ GUARDED_BY(searchMutex_);
};
