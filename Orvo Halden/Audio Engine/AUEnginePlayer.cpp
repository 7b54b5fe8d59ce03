#include "Orvo Halden/Audio Engine/AUEnginePlayer.h"

#include <algorithm>
#include <array>
#include <random>

#include "Orvo Halden/Console.h"
#include "Orvo_Halden_Extension/RenderReports.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"

namespace {

constexpr int kLoopCount = 80;

// Seconds between two passes of the main loop over the MIDI reports.
constexpr TimeInterval kMIDIPrintInterval = 0.05;

struct MIDIReport {
    AUEventSampleTime time;
    NSInteger length;
    std::array<std::uint8_t, 3> bytes;
};
using MIDIReports = RenderReports<MIDIReport, 256>;

AUMIDIOutputEventBlock makeMIDILogger(std::shared_ptr<MIDIReports> reports) {
    return [reports = std::move(reports)](AUEventSampleTime time, std::uint8_t, NSInteger length,
                                           const std::uint8_t* bytes) -> OSStatus {
        // The bytes are the caller's only during the call: at most three are copied.
        MIDIReport report{time, length, {}};
        const NSInteger n = bytes ? std::clamp<NSInteger>(length, 0, 3) : 0;
        std::copy_n(bytes, n, report.bytes.begin());
        reports->record(report);
        return noErr;
    };
}

std::string pathOrNone(const std::optional<URL>& url) {
    return url && !url->path().empty() ? url->path() : "(none)";
}

} // namespace

struct AUEnginePlayer::MIDILog : MIDIReports {
    static void print(MIDIReports& reports) {
        const std::size_t dropped = reports.drain([](const MIDIReport& report) {
            if (report.length != 3) ::print("AUEnginePlayer::WARNING: The MIDI data length is not as expected.");
            std::string data;
            for (NSInteger i = 0; i < std::clamp<NSInteger>(report.length, 0, 3); ++i)
                data += (i ? ", " : "") + std::to_string(report.bytes[static_cast<std::size_t>(i)]);
            ::print("AUEnginePlayer: MIDI event from audio unit at: " + std::to_string(report.time) +
                    ", data: " + data);
        });
        if (dropped > 0)
            ::print("AUEnginePlayer::WARNING: " + std::to_string(dropped) +
                    " more MIDI events from the audio unit came too fast to be shown.");
    }
};

AUEnginePlayer::AUEnginePlayer()
    : midiLog_(std::make_shared<MIDILog>()), midiOutBlock_(makeMIDILogger(midiLog_)),
      midiPrinter_(printOnMainLoop<MIDIReports>(midiLog_, kMIDIPrintInterval, MIDILog::print)) {
    gate_->owner = this;
    engine_.attach(player_);
}

AUEnginePlayer::~AUEnginePlayer() {
    {
        std::lock_guard lock(gate_->mutex);
        gate_->owner = nullptr;
    }
    stateChangeQueue_.sync([this] {
        if (isPlaying_) stopPlayingInternal();
    });
    engine_.stop();
    // What the unit sent up to the stop.
    midiPrinter_->invalidate();
    MIDILog::print(*midiLog_);
}

std::shared_ptr<AUEnginePlayerDelegate> AUEnginePlayer::delegate() const {
    std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

void AUEnginePlayer::setDelegate(const std::shared_ptr<AUEnginePlayerDelegate>& delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = delegate;
}

void AUEnginePlayer::announce(std::string line, std::function<void(AUEnginePlayerDelegate&)> call,
                              Order order) {
    std::weak_ptr<AUEnginePlayerDelegate> listener;
    {
        std::lock_guard lock(delegateMutex_);
        listener = delegate_;
    }
    DispatchQueue::main().async([listener, order, line = std::move(line), call = std::move(call)] {
        if (order == Order::lineFirst) print(line);
        if (const auto delegate = listener.lock()) call(*delegate);
        if (order == Order::delegateFirst) print(line);
    });
}

std::shared_ptr<AVAudioFile> AUEnginePlayer::file() const {
    std::lock_guard lock(fileMutex_);
    return file_;
}

std::optional<URL> AUEnginePlayer::fileURL() const {
    std::lock_guard lock(fileMutex_);
    return fileURL_;
}

void AUEnginePlayer::finalize() {
    stop();
    disconnect();
}

void AUEnginePlayer::disconnect() {
    connect(nullptr, [] { print("AUEnginePlayer: Performed audio unit disconnection."); });
}

void AUEnginePlayer::load(const std::optional<URL>& url) {
    if (!url) {
        print("AUEnginePlayer::WARNING: There is no file to load.");
        return;
    }
    loopCount_ = 0;
    print("AUEnginePlayer: Audio file at '" + url->path() + "' was selected for loading into the player.");
    {
        std::lock_guard lock(fileMutex_);
        fileURL_ = url;
    }
    std::shared_ptr<AVAudioFile> opened;
    try {
        opened = std::make_shared<AVAudioFile>(*url);
    } catch (const std::exception& error) {
        print("AUEnginePlayer::ERROR: Could not create AVAudioFile instance for URL '" +
              url->absoluteString() + "'. error: " + error.what() + ".");
        return;
    }
    {
        std::lock_guard lock(fileMutex_);
        file_ = opened;
    }
    if (const auto listener = delegate()) listener->onFileSelect(url->path());

    const auto mixer = engine_.mainMixerNode();
    if (activeAVAudioUnit_) {
        if (isPlaying_) player_->stop();
        engine_.disconnectNodeInput(mixer);
        print("AUEnginePlayer: Player was (temporarily) disconnecting from the main mixer.");
        engine_.disconnectNodeInput(activeAVAudioUnit_);
        print("AUEnginePlayer: Audio unit was (temporarily) disconnecting from the player.");
        engine_.connect(player_, activeAVAudioUnit_, nullptr);
        print(std::to_string(opened->processingFormat()->channelCount()));
        print("AUEnginePlayer: Audio unit re-connecting to the player.");
        engine_.connect(activeAVAudioUnit_, mixer, nullptr);
        print("AUEnginePlayer: Audio unit re-connectingto the main mixer.");
        if (isPlaying_) player_->play();
    } else {
        if (isPlaying_) player_->stop();
        engine_.disconnectNodeInput(mixer);
        engine_.connect(player_, mixer, opened->processingFormat());
        print("AUEnginePlayer: The player was connected to the mainMixerNode.");
        if (isPlaying_) player_->play();
    }
}

void AUEnginePlayer::randomizeFile() {
    thread_local std::mt19937 random{std::random_device{}()};
    const int number = std::uniform_int_distribution<int>(1, kLoopCount)(random);
    const std::optional<std::string> path = Bundle::main().pathForResource(std::to_string(number), "m4a");
    {
        std::lock_guard lock(fileMutex_);
        fileURL_ = path ? std::optional<URL>(URL::fileURLWithPath(*path)) : std::nullopt;
    }
    if (!path) {
        // Something in its place that is no regular file (a pipe, a folder, a device) is named as such.
        const std::string name = std::to_string(number) + ".m4a";
        const std::optional<URL> folder = Bundle::main().resourceURL();
        if (folder && FileManager::defaultManager().fileExists(folder->appendingPathComponent(name).path()))
            print("AUEnginePlayer::ERROR: The audio file '" + name +
                  "' inside the resource folder for the app is not a regular file.");
        else
            print("AUEnginePlayer::ERROR: The audio file '" + name +
                  "' was not found inside the resource folder for the app.");
        return;
    }
    load(URL::fileURLWithPath(*path));
    print(*path);
    engine_.prepare();
}

void AUEnginePlayer::setSessionActive(bool active) {
    auto& session = AVAudioSession::sharedInstance();
    try {
        session.setCategory(AVAudioSessionCategoryPlayback, AVAudioSessionModeDefault, 0);
        session.setActive(active, 0);
        print("AUEnginePlayer: Audio session was set active.");
    } catch (const std::exception& error) {
        print(std::string("AUEnginePlayer::ERROR: Could not set audio session active ") +
              (active ? "true" : "false") + ". system error: " + error.what() + ".");
    }
}

void AUEnginePlayer::start() {
    randomizeFile();
    stateChangeQueue_.sync([this] {
        if (isPlaying_) return;
        startPlayingInternal();
        // Announced only when it really plays.
        if (isPlaying_)
            announce("AUEnginePlayer: Audio engine starting.",
                     [](AUEnginePlayerDelegate& delegate) { delegate.onPlayerStateChanged(true); });
    });
}

void AUEnginePlayer::startPlayingInternal() {
    ++run_;
    setSessionActive(true);
    // Nothing to play is no start: the buttons must not say it plays.
    if (!scheduleEffectLoop()) {
        setSessionActive(false);
        return;
    }
    engine_.connect(engine_.mainMixerNode(), engine_.outputNode(),
                    engine_.outputNode()->outputFormatForBus(0));
    try {
        engine_.start();
        player_->play();
        isPlaying_ = true;
    } catch (const std::exception& error) {
        isPlaying_ = false;
        print(std::string("AUEnginePlayer::ERROR: Could not start audio engine. error: ") + error.what() +
              ".");
        // Nothing stays half started: the schedule goes and the session closes.
        player_->stop();
        setSessionActive(false);
    }
}

bool AUEnginePlayer::scheduleEffectLoop() {
    const auto current = file();
    if (!current) {
        print("AUEnginePlayer::ERROR: `file` parameter must not be nil.");
        return false;
    }
    const bool scheduled = player_->scheduleFile(*current, nullptr, [gate = gate_, run = run_.load()] {
        std::lock_guard lock(gate->mutex);
        if (AUEnginePlayer* owner = gate->owner)
            owner->stateChangeQueue_.async([owner, run] { owner->loopEnded(run); });
    });
    if (!scheduled)
        print("AUEnginePlayer::ERROR: The player node refused the audio file '" + current->url().path() + "'.");
    return scheduled;
}

void AUEnginePlayer::loopEnded(std::uint64_t run) {
    // A loop end flushed by a stop may arrive after the next start: it belongs to the old run.
    if (!isPlaying_ || run != run_) return;
    const NSInteger count = loopCount_;
    const NSInteger counted = ++loopCount_;
    announce(
        "AUEnginePlayer: Current audio file '" + pathOrNone(fileURL()) +
            "' looped: " + std::to_string(counted) + ".",
        [count](AUEnginePlayerDelegate& delegate) { delegate.onLoop(count); }, Order::delegateFirst);
    // A loop that cannot go on ends the playing, and the buttons hear of it.
    if (!scheduleEffectLoop()) {
        stopPlayingInternal();
        announceStop();
    }
}

void AUEnginePlayer::stop() {
    stateChangeQueue_.sync([this] {
        if (!isPlaying_) return;
        stopPlayingInternal();
        announceStop();
    });
}

void AUEnginePlayer::announceStop() {
    announce("AUEnginePlayer: Audio engine stopping.",
             [](AUEnginePlayerDelegate& delegate) { delegate.onPlayerStateChanged(false); });
}

void AUEnginePlayer::stopPlayingInternal() {
    player_->stop();
    engine_.stop();
    isPlaying_ = false;
    setSessionActive(false);
}

bool AUEnginePlayer::toggle() {
    if (!isPlaying_)
        start();
    else
        stop();
    return isPlaying_;
}

void AUEnginePlayer::connect(const std::shared_ptr<AVAudioUnit>& avAudioUnit,
                             const std::function<void()>& completion) {
    print(avAudioUnit
              ? "AUEnginePlayer: A new audio unit will be connected."
              : "AUEnginePlayer::WARNING: Function connect() with argument 'nil' causes disconnection.");
    bool needsReset = true;
    const auto mixer = engine_.mainMixerNode();
    if (activeAVAudioUnit_) {
        engine_.disconnectNodeInput(activeAVAudioUnit_);
        engine_.disconnectNodeInput(mixer);
        resetAudioLoop();
        needsReset = false;
        engine_.detach(activeAVAudioUnit_);
        print("AUEnginePlayer: Audio unit was disconnecting and detaching.");
        activeAVAudioUnit_.reset();
    }
    activeAVAudioUnit_ = avAudioUnit;
    engine_.connect(mixer, engine_.outputNode(), engine_.outputNode()->outputFormatForBus(0));
    if (isPlaying_) player_->pause();
    auto rewiringComplete = [&] {
        if (isPlaying_) player_->play();
        if (completion) completion();
    };
    if (!avAudioUnit) {
        if (needsReset) resetAudioLoop();
        rewiringComplete();
        print("AUEnginePlayer: The audio unit was set to 'nil'.");
        return;
    }
    const auto& unit = avAudioUnit->auAudioUnit();
    if (!unit->MIDIOutputNames().empty()) {
        print("AUEnginePlayer: The audio unit reports MIDI output names. Assigning a handling block.");
        unit->setMidiOutputEventBlock(midiOutBlock_);
    }
    engine_.attach(avAudioUnit);
    print("AUEnginePlayer: Audio unit was attached.");
    engine_.disconnectNodeInput(mixer);
    if (const auto current = file()) {
        engine_.connect(player_, avAudioUnit, current->processingFormat());
        print("AUEnginePlayer: Audio Unit was connected to the player.");
        engine_.connect(avAudioUnit, mixer, nullptr);
        print("AUEnginePlayer: Audio Unit was connected to the main mixer.");
    } else {
        print("AUEnginePlayer::ERROR: There was a problem with the file processing format or the file is nil "
              "(yet).");
    }
    rewiringComplete();
}

void AUEnginePlayer::resetAudioLoop() {
    if (const auto current = file())
        engine_.connect(player_, engine_.mainMixerNode(), current->processingFormat());
    else
        print("AUEnginePlayer: ERROR: There is a problem with the audio file processing format.");
}
