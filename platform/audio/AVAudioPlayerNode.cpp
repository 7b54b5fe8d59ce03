#include "platform/audio/AVAudioPlayerNode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/AVAudioFile.h"

AVAudioPlayerNode::AVAudioPlayerNode() : worker_([this] { work(); }) {}

AVAudioPlayerNode::~AVAudioPlayerNode() {
    // From here on nothing new is taken; what is left fires before the worker ends.
    quit_ = true;
    stop();
    wake_.release();
    worker_.join();
}

bool AVAudioPlayerNode::scheduleFile(const AVAudioFile& file, const AVAudioTime* when,
                                     Completion completion) {
    (void)when;
    // The graph runs at its engine's rate: a file at another is converted to it.
    const double rate = engine() ? engine()->outputFormat()->sampleRate() : AVAudioEngine::kDeviceSampleRate;
    std::shared_ptr<const AVAudioPCMBuffer> data;
    try {
        data = file.buffer(rate);
    } catch (const std::exception& error) {
        std::printf("AVAudioPlayerNode::ERROR: The file cannot be scheduled: %s\n", error.what());
        std::fflush(stdout);
        return false;
    }
    return scheduleBuffer(std::move(data), std::move(completion));
}

bool AVAudioPlayerNode::scheduleBuffer(std::shared_ptr<const AVAudioPCMBuffer> buffer,
                                       Completion completion) {
    if (!buffer || buffer->frameLength() == 0 || quit_) return false;
    std::lock_guard lock(scheduleMutex_);
    Slot& slot = slots_[tail_ % kCapacity];
    if (slot.state.load(std::memory_order_acquire) != vacant) {
        std::printf("AVAudioPlayerNode::ERROR: %zu segments are waiting already; this one is dropped.\n",
                    kCapacity);
        std::fflush(stdout);
        return false;
    }
    slot.data = std::move(buffer);
    slot.completion = std::move(completion);
    slot.state.store(scheduled, std::memory_order_release);
    ++tail_;
    return true;
}

void AVAudioPlayerNode::waitForCompletions() const {
    while (firedCount_.load(std::memory_order_acquire) < dueCount_.load(std::memory_order_relaxed))
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void AVAudioPlayerNode::play() { playing_ = true; }
void AVAudioPlayerNode::pause() { playing_ = false; }

void AVAudioPlayerNode::stop() {
    playing_ = false;
    std::lock_guard lock(renderMutex_);
    for (;; ++head_) {
        Slot& slot = slots_[head_ % kCapacity];
        const int state = slot.state.load(std::memory_order_acquire);
        if (state != scheduled && state != due) break;
        mark(slot, done);
    }
    position_ = 0;
}

void AVAudioPlayerNode::mark(Slot& slot, State state) {
    if (slot.state.load(std::memory_order_relaxed) == scheduled)
        dueCount_.fetch_add(1, std::memory_order_relaxed);
    slot.state.store(state, std::memory_order_release);
    wake_.release();
}

void AVAudioPlayerNode::render(const AVAudioNodeInput*, std::size_t, float* const* output,
                               AVAudioChannelCount outputChannels, AVAudioFrameCount frames) {
    AVAudioFrameCount written = 0;
    std::unique_lock lock(renderMutex_, std::try_to_lock);
    if (lock.owns_lock() && playing_.load(std::memory_order_relaxed)) {
        const AVAudioFrameCount lead = lead_.load(std::memory_order_relaxed);
        while (written < frames) {
            Slot& slot = slots_[head_ % kCapacity];
            const int state = slot.state.load(std::memory_order_acquire);
            if (state != scheduled && state != due) break;
            const AVAudioPCMBuffer& data = *slot.data;
            const AVAudioFrameCount length = data.frameLength();
            const AVAudioFrameCount n = std::min(frames - written, length - position_);
            const float* from[16];
            const AVAudioChannelCount channels =
                std::min<AVAudioChannelCount>(data.format()->channelCount(), 16);
            for (AVAudioChannelCount c = 0; c < channels; ++c) from[c] = data.channelData(c) + position_;
            float* to[16];
            const AVAudioChannelCount outputs = std::min<AVAudioChannelCount>(outputChannels, 16);
            for (AVAudioChannelCount c = 0; c < outputs; ++c) to[c] = output[c] + written;
            mixChannels({from, channels}, to, outputs, n, false);
            written += n;
            position_ += n;
            if (position_ >= length) {
                mark(slot, done);
                ++head_;
                position_ = 0;
            } else if (state == scheduled && length - position_ <= lead) {
                mark(slot, due);
            }
        }
    }
    for (AVAudioChannelCount c = 0; c < outputChannels; ++c)
        std::fill(output[c] + written, output[c] + frames, 0.0f);
}

void AVAudioPlayerNode::work() {
    std::uint64_t fire = 0, release = 0;
    for (;;) {
        // Completions in schedule order, each once; then the slots the render thread is done with.
        for (;;) {
            Slot& slot = slots_[fire % kCapacity];
            const int state = slot.state.load(std::memory_order_acquire);
            if (fire == release + kCapacity || (state != due && state != done)) break;
            if (Completion completion = std::move(slot.completion)) {
                try {
                    completion();
                } catch (const std::exception& error) {
                    std::printf("AVAudioPlayerNode::ERROR: A completion threw: %s\n", error.what());
                    std::fflush(stdout);
                }
            }
            ++fire;
            firedCount_.fetch_add(1, std::memory_order_release);
        }
        while (release < fire && slots_[release % kCapacity].state.load(std::memory_order_acquire) == done) {
            Slot& slot = slots_[release % kCapacity];
            slot.data.reset();
            slot.completion = nullptr;
            slot.state.store(vacant, std::memory_order_release);
            ++release;
        }
        if (quit_ && release == fire && slots_[fire % kCapacity].state.load() == vacant) return;
        wake_.try_acquire_for(std::chrono::milliseconds(100));
    }
}
