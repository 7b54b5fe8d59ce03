#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/audio/AVAudioFormat.h"

class AVAudioEngine;

// What a node gets from one connected input bus for one render call: the
// upstream node's channels, `channelCount` of them (0 when nothing is connected).
struct AVAudioNodeInput {
    const float* const* channels = nullptr;
    AVAudioChannelCount channelCount = 0;
};

// Writes `input` into `outputChannels` buffers of `frames`, adding to them or
// replacing them: mono goes to every channel, many channels to mono are
// averaged, otherwise channels pair up and the rest of the output is silent.
void mixChannels(const AVAudioNodeInput& input, float* const* output, AVAudioChannelCount outputChannels,
                 std::size_t frames, bool add);

// A node of an engine's graph. The engine renders the graph on its render
// thread, so render() must neither allocate, lock nor block; everything it
// needs is made in prepareToRender(), which the engine calls while the render
// thread keeps out.
class AVAudioNode : public std::enable_shared_from_this<AVAudioNode> {
public:
    virtual ~AVAudioNode() = default;
    AVAudioNode(const AVAudioNode&) = delete;
    AVAudioNode& operator=(const AVAudioNode&) = delete;

    // Input buses it takes; SIZE_MAX for as many as are connected (a mixer).
    virtual std::size_t numberOfInputs() const { return 1; }
    virtual std::size_t numberOfOutputs() const { return 1; }

    // The format its output carries: that of its output connection, else its own.
    std::shared_ptr<const AVAudioFormat> outputFormatForBus(std::size_t bus) const;
    // The format arriving at an input bus; none while nothing is connected there.
    std::shared_ptr<const AVAudioFormat> inputFormatForBus(std::size_t bus) const;

    // The engine it is attached to, if any.
    AVAudioEngine* engine() const { return engine_; }

protected:
    AVAudioNode() = default;

    // What the node puts out before anything is connected: 48 kHz stereo.
    virtual std::shared_ptr<const AVAudioFormat> defaultOutputFormat() const;

    // Off the render thread: get ready to render `output` in blocks of up to
    // `maximumFrames`, from the given input formats (null where unconnected).
    virtual void prepareToRender(const std::vector<std::shared_ptr<const AVAudioFormat>>& inputs,
                                 const AVAudioFormat& output, AVAudioFrameCount maximumFrames) {
        (void)inputs;
        (void)output;
        (void)maximumFrames;
    }
    // Off the render thread, after the node left a running graph.
    virtual void didLeaveRender() {}

    // On the render thread: fill `outputChannels` buffers of `frames`.
    virtual void render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                        AVAudioChannelCount outputChannels, AVAudioFrameCount frames) = 0;

private:
    friend class AVAudioEngine;
    AVAudioEngine* engine_ = nullptr;
};

// Sums every input, each brought to the output's channel count.
class AVAudioMixerNode : public AVAudioNode {
public:
    AVAudioMixerNode() = default;
    std::size_t numberOfInputs() const override;

protected:
    void render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                AVAudioChannelCount outputChannels, AVAudioFrameCount frames) override;
};

// The end of the graph: the sound card's format, or the offline format.
class AVAudioOutputNode : public AVAudioNode {
public:
    AVAudioOutputNode() = default;
    std::size_t numberOfOutputs() const override { return 0; }

protected:
    std::shared_ptr<const AVAudioFormat> defaultOutputFormat() const override;
    void render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                AVAudioChannelCount outputChannels, AVAudioFrameCount frames) override;
};
