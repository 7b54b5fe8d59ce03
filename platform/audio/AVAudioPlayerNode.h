#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

#include "platform/audio/AVAudioNode.h"
#include "platform/audio/AVAudioPCMBuffer.h"

class AVAudioFile;
struct AVAudioTime;

// Plays scheduled files and buffers one after another. A completion fires
// exactly once per schedule, on the node's own worker thread: when the node
// has taken in the segment's data (`completionLeadFrames` before its last
// frame plays, so a completion that schedules the next one leaves no gap), or
// when stop() flushes it. Scheduling is safe from any thread while it plays;
// the render thread never waits for it.
class AVAudioPlayerNode : public AVAudioNode {
public:
    using Completion = std::function<void()>;
    static constexpr AVAudioFrameCount kDefaultCompletionLead = 8192;
    // Segments scheduled and not yet completed, at most.
    static constexpr std::size_t kCapacity = 32;

    AVAudioPlayerNode();
    ~AVAudioPlayerNode() override;
    std::size_t numberOfInputs() const override { return 0; }

    // The whole file after what is scheduled, converted to the engine's sample
    // rate. `when` must be null (as soon as possible). False (and no
    // completion) when the file is empty, cannot be converted or the queue is full.
    bool scheduleFile(const AVAudioFile& file, const AVAudioTime* when, Completion completion);
    bool scheduleBuffer(std::shared_ptr<const AVAudioPCMBuffer> buffer, Completion completion);

    void play();
    // Halts where it is; the schedule stays.
    void pause();
    // Halts, drops everything scheduled and fires those completions.
    void stop();
    bool isPlaying() const { return playing_.load(std::memory_order_relaxed); }

    // Waits until every completion that has come due has run (for hosts
    // rendering offline, which need loop ends handled before the next block).
    void waitForCompletions() const;

    void setCompletionLeadFrames(AVAudioFrameCount frames) { lead_.store(frames, std::memory_order_relaxed); }
    AVAudioFrameCount completionLeadFrames() const { return lead_.load(std::memory_order_relaxed); }

protected:
    void render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                AVAudioChannelCount outputChannels, AVAudioFrameCount frames) override;

private:
    // vacant -> scheduled (producer) -> due (completion may fire, data still
    // playing) -> done (render finished with it) -> vacant (worker).
    enum State : int { vacant, scheduled, due, done };
    struct Slot {
        std::shared_ptr<const AVAudioPCMBuffer> data;
        Completion completion;
        std::atomic<int> state{vacant};
    };

    void work();
    void mark(Slot& slot, State state);

    std::array<Slot, kCapacity> slots_;
    std::mutex scheduleMutex_; // between producers
    std::uint64_t tail_ = 0;   // next slot to fill, under scheduleMutex_
    std::mutex renderMutex_;   // render tries it; stop() takes it to flush
    std::uint64_t head_ = 0;   // the slot playing, under renderMutex_
    AVAudioFrameCount position_ = 0;
    std::atomic<bool> playing_{false};
    std::atomic<AVAudioFrameCount> lead_{kDefaultCompletionLead};
    std::atomic<bool> quit_{false};
    std::atomic<std::uint64_t> dueCount_{0}, firedCount_{0};
    std::counting_semaphore<> wake_{0};
    std::thread worker_;
};
