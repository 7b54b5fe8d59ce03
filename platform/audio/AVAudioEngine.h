#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/audio/AVAudioNode.h"
#include "platform/audio/AVAudioPCMBuffer.h"

class AudioDevice;

enum class AVAudioEngineManualRenderingStatus : NSInteger {
    error = -1,
    success = 0,
    cannotDoInCurrentContext = 2,
};

// A graph of nodes pulled from the output node on the render thread: output
// <- main mixer <- ... . Graph edits come from any thread but the render
// thread; each one is built aside and handed over while the render thread
// keeps out (the render thread only ever tries the lock: while an edit holds
// it, that block is silent instead of waiting). The sound card is SDL's,
// float 48 kHz stereo; in manual rendering mode there is no device and the
// caller pulls blocks with renderOffline().
class AVAudioEngine {
public:
    AVAudioEngine();
    // Stops first: nothing the render thread uses goes while it runs.
    ~AVAudioEngine();
    AVAudioEngine(const AVAudioEngine&) = delete;
    AVAudioEngine& operator=(const AVAudioEngine&) = delete;

    // The device's format: 48 kHz stereo, non-interleaved float.
    static constexpr double kDeviceSampleRate = 48000.0;
    static constexpr AVAudioChannelCount kDeviceChannels = 2;

    // A node belongs to one engine; attaching it twice changes nothing.
    void attach(const std::shared_ptr<AVAudioNode>& node);
    // Disconnects the node everywhere, then lets it go.
    void detach(const std::shared_ptr<AVAudioNode>& node);
    const std::vector<std::shared_ptr<AVAudioNode>>& attachedNodes() const { return nodes_; }

    // Connects output bus 0 of `from` to the next free input bus of `to` (or
    // bus 0, replacing what was there) in `format`, none meaning `from`'s own.
    // Both must be attached; otherwise the call only logs.
    void connect(const std::shared_ptr<AVAudioNode>& from, const std::shared_ptr<AVAudioNode>& to,
                 std::shared_ptr<const AVAudioFormat> format);
    void connect(const std::shared_ptr<AVAudioNode>& from, const std::shared_ptr<AVAudioNode>& to,
                 std::size_t fromBus, std::size_t toBus, std::shared_ptr<const AVAudioFormat> format);
    void disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node);
    void disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node, std::size_t bus);
    void disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node);

    // Made, attached and connected to the output on first use.
    std::shared_ptr<AVAudioMixerNode> mainMixerNode();
    const std::shared_ptr<AVAudioOutputNode>& outputNode() const { return outputNode_; }

    // Readies every node of the graph (units get their render resources).
    void prepare();
    // Prepares and starts rendering: opens the sound card, or in manual mode
    // only allows renderOffline(). Throws NSError when the device fails.
    void start();
    // Closes the device (its thread has ended when this returns).
    void stop();
    // Stops every engine of the process: what an application does before it
    // frees what the engines render.
    static void stopAll();
    bool isRunning() const;

    // Renders without a device, `maximumFrames` at most per call, in `format`.
    // Only while stopped; throws NSError otherwise.
    void enableManualRenderingMode(std::shared_ptr<const AVAudioFormat> format,
                                   AVAudioFrameCount maximumFrames);
    void disableManualRenderingMode();
    bool isInManualRenderingMode() const { return manual_; }
    AVAudioFrameCount manualRenderingMaximumFrameCount() const { return maximumFrames_; }
    // Fills `buffer` with `frames` rendered frames on the calling thread (manual
    // mode, running, frames within the maximum and the buffer's capacity):
    // like the sound card's, finite and within full scale (-1...1).
    AVAudioEngineManualRenderingStatus renderOffline(AVAudioFrameCount frames, AVAudioPCMBuffer& buffer);

    // The format of the output node's output: the device's or the manual one.
    std::shared_ptr<const AVAudioFormat> outputFormat() const;

private:
    friend class AVAudioNode;
    struct Connection {
        AVAudioNode* from;
        std::size_t fromBus;
        AVAudioNode* to;
        std::size_t toBus;
        std::shared_ptr<const AVAudioFormat> format;
    };
    struct Graph;

    std::optional<Connection> inputConnection(const AVAudioNode* node, std::size_t bus) const;
    std::optional<Connection> outputConnection(const AVAudioNode* node, std::size_t bus) const;
    bool isAttached(const AVAudioNode* node) const;
    // Builds the render order from the connections and hands it to the render
    // thread; with `prepareNodes` every node in it is readied first.
    void publish(bool prepareNodes);
    std::unique_ptr<Graph> build() const;
    // The render entry: `frames` into `channels` buffers, within full scale
    // and finite; a silent block when an edit holds the graph.
    void renderCycle(float* const* output, AVAudioChannelCount channels, AVAudioFrameCount frames);
    static void deviceCallback(void* engine, float* interleaved, int frames);

    // Serialises edits (any thread but the render thread).
    mutable std::recursive_mutex editMutex_;
    // Held by edits while handing over; only tried by the render thread.
    std::mutex renderMutex_;
    std::vector<std::shared_ptr<AVAudioNode>> nodes_;
    std::vector<Connection> connections_;
    std::shared_ptr<AVAudioMixerNode> mainMixer_;
    std::shared_ptr<AVAudioOutputNode> outputNode_;
    std::unique_ptr<Graph> graph_; // the render thread's, under renderMutex_
    bool prepared_ = false;
    std::atomic<bool> running_{false};
    bool manual_ = false;
    std::shared_ptr<const AVAudioFormat> manualFormat_;
    AVAudioFrameCount maximumFrames_ = 512;
    std::unique_ptr<AudioDevice> device_;
    std::vector<float> deviceScratch_;
};
