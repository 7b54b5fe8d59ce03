#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/AVAudioFile.h"
#include "platform/audio/AVAudioPlayerNode.h"
#include "platform/audio/AVAudioUnit.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/URL.h"

// Hears what the player does; every call comes on the main queue, except
// onFileSelect, which comes on the thread that loads.
class AUEnginePlayerDelegate {
public:
    virtual ~AUEnginePlayerDelegate() = default;
    virtual void onPlayerStateChanged(bool playing) = 0;
    virtual void onFileSelect(const std::string& file) = 0;
    // The number of loop ends counted before this one.
    virtual void onLoop(NSInteger count) = 0;
};

// Plays a random demo loop from the app's resources again and again through
// the effect: player node -> unit -> main mixer -> output. Start, stop and
// loop ends are serialised on a private serial queue.
class AUEnginePlayer {
public:
    AUEnginePlayer();
    // Stops the engine before anything it renders goes.
    ~AUEnginePlayer();
    AUEnginePlayer(const AUEnginePlayer&) = delete;
    AUEnginePlayer& operator=(const AUEnginePlayer&) = delete;

    std::shared_ptr<AUEnginePlayerDelegate> delegate() const;
    // Held weakly: the delegate owns (through the host) the player.
    void setDelegate(const std::shared_ptr<AUEnginePlayerDelegate>& delegate);

    // Stop, then disconnect the unit.
    void finalize();
    void disconnect();
    void load(const std::optional<URL>& url);
    void start();
    void stop();
    // Starts when stopped, stops when playing; answers whether it plays now.
    bool toggle();
    // Wires the unit between player and main mixer (none: takes the old one
    // out). `completion` has run when this returns.
    void connect(const std::shared_ptr<AVAudioUnit>& avAudioUnit,
                 const std::function<void()>& completion = {});

    bool isPlaying() const { return isPlaying_.load(); }
    NSInteger loopCount() const { return loopCount_.load(); }
    const std::shared_ptr<AVAudioUnit>& activeAVAudioUnit() const { return activeAVAudioUnit_; }
    std::shared_ptr<AVAudioFile> file() const;
    std::optional<URL> fileURL() const;
    const AUMIDIOutputEventBlock& midiOutBlock() const { return midiOutBlock_; }

    // For hosts that render offline (tests, benchmarks): the engine, its
    // player node, and a wait until the loop ends reported so far have been handled.
    AVAudioEngine& engine() { return engine_; }
    AVAudioPlayerNode& playerNode() { return *player_; }
    void waitForStateQueue() {
        player_->waitForCompletions();
        stateChangeQueue_.sync([] {});
    }

private:
    // Lets the player node's completions reach the player only while it lives.
    struct Gate {
        std::mutex mutex;
        AUEnginePlayer* owner = nullptr;
    };

    void randomizeFile();
    void setSessionActive(bool active);
    void startPlayingInternal();
    // False (with the error line) when there is no file or the node refuses it.
    bool scheduleEffectLoop();
    void loopEnded(std::uint64_t run);
    void stopPlayingInternal();
    void announceStop();
    void resetAudioLoop();
    // On the main queue: the line and the delegate's call (when there is one),
    // the line first unless asked otherwise (a loop end tells the delegate first).
    enum class Order { lineFirst, delegateFirst };
    void announce(std::string line, std::function<void(AUEnginePlayerDelegate&)> call,
                  Order order = Order::lineFirst);

    // MIDI from the unit, recorded on the render thread and printed from the main loop.
    struct MIDILog;
    std::shared_ptr<MIDILog> midiLog_;
    AUMIDIOutputEventBlock midiOutBlock_;
    std::shared_ptr<Timer> midiPrinter_;
    mutable std::mutex delegateMutex_;
    std::weak_ptr<AUEnginePlayerDelegate> delegate_;
    AVAudioEngine engine_;
    std::shared_ptr<AVAudioUnit> activeAVAudioUnit_;
    std::atomic<bool> isPlaying_{false};
    std::atomic<NSInteger> loopCount_{0};
    // Counts the starts, so that a loop end knows which run it ends.
    std::atomic<std::uint64_t> run_{0};
    std::shared_ptr<AVAudioPlayerNode> player_ = std::make_shared<AVAudioPlayerNode>();
    mutable std::mutex fileMutex_;
    std::shared_ptr<AVAudioFile> file_;
    std::optional<URL> fileURL_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    // Last, so it goes first: what is queued on it runs while the rest still stands.
    DispatchQueue stateChangeQueue_{"com.velmora.AUEnginePlayer.stateQueue"};
};
