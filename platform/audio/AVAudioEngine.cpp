#include "platform/audio/AVAudioEngine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <utility>

#include "platform/audio/AudioDevice.h"
#include "platform/foundation/NSError.h"

namespace {
constexpr int kEngineError = -10867;

void logLine(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// What leaves the engine is within the sound card's full scale, and silent
// where a node put out NaN or infinity: whatever a unit does, the device and
// the speakers get no garbage. One select per sample, nothing else.
void holdToFullScale(float* const* output, AVAudioChannelCount channels, AVAudioFrameCount frames) {
    for (AVAudioChannelCount c = 0; c < channels; ++c) {
        float* samples = output[c];
        for (AVAudioFrameCount i = 0; i < frames; ++i) {
            const float x = samples[i];
            const float size = std::fabs(x);
            samples[i] = size <= 1.0f ? x : (size <= FLT_MAX ? std::copysign(1.0f, x) : 0.0f);
        }
    }
}
} // namespace

// What the render thread walks: the nodes that feed the output, sources first,
// each with its output buffers; the nodes are kept alive with it.
struct AVAudioEngine::Graph {
    struct Step {
        std::shared_ptr<AVAudioNode> node;
        AVAudioChannelCount channels = 0;
        std::vector<float> storage;
        std::vector<float*> outputs;
        std::vector<int> sources; // the step feeding each input bus, -1 for none
        std::vector<AVAudioNodeInput> inputs;
    };
    std::vector<Step> steps; // the output node's step last
    AVAudioFrameCount maximumFrames = 0;
};

namespace {
// Every engine alive, for stopAll(). Never destroyed: an engine may go on
// another thread while the program exits.
std::mutex& enginesMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<AVAudioEngine*>& engines() {
    static auto* const all = new std::vector<AVAudioEngine*>;
    return *all;
}
}  // namespace

AVAudioEngine::AVAudioEngine() : outputNode_(std::make_shared<AVAudioOutputNode>()) {
    attach(outputNode_);
    std::lock_guard lock(enginesMutex());
    engines().push_back(this);
}

AVAudioEngine::~AVAudioEngine() {
    {
        std::lock_guard lock(enginesMutex());
        std::erase(engines(), this);
    }
    stop();
    std::lock_guard edit(editMutex_);
    for (const auto& node : nodes_) node->engine_ = nullptr;
}

bool AVAudioEngine::isAttached(const AVAudioNode* node) const {
    return std::any_of(nodes_.begin(), nodes_.end(), [node](const auto& n) { return n.get() == node; });
}

void AVAudioEngine::attach(const std::shared_ptr<AVAudioNode>& node) {
    std::lock_guard edit(editMutex_);
    if (!node || isAttached(node.get())) return;
    if (node->engine_) {
        logLine("AVAudioEngine::ERROR: The node is attached to another engine.");
        return;
    }
    node->engine_ = this;
    nodes_.push_back(node);
}

void AVAudioEngine::detach(const std::shared_ptr<AVAudioNode>& node) {
    std::lock_guard edit(editMutex_);
    if (!node || !isAttached(node.get()) || node == outputNode_) return;
    std::erase_if(connections_,
                  [&](const Connection& c) { return c.from == node.get() || c.to == node.get(); });
    publish(prepared_);
    std::erase(nodes_, node);
    if (node == mainMixer_) mainMixer_.reset();
    node->engine_ = nullptr;
    node->didLeaveRender();
}

void AVAudioEngine::connect(const std::shared_ptr<AVAudioNode>& from, const std::shared_ptr<AVAudioNode>& to,
                            std::shared_ptr<const AVAudioFormat> format) {
    std::lock_guard edit(editMutex_);
    std::size_t bus = 0;
    if (to && to->numberOfInputs() > 1)
        while (inputConnection(to.get(), bus)) ++bus;
    connect(from, to, 0, bus, std::move(format));
}

void AVAudioEngine::connect(const std::shared_ptr<AVAudioNode>& from, const std::shared_ptr<AVAudioNode>& to,
                            std::size_t fromBus, std::size_t toBus,
                            std::shared_ptr<const AVAudioFormat> format) {
    std::lock_guard edit(editMutex_);
    if (!from || !to || !isAttached(from.get()) || !isAttached(to.get())) {
        logLine("AVAudioEngine::ERROR: Only attached nodes can be connected.");
        return;
    }
    if (fromBus >= from->numberOfOutputs() || toBus >= to->numberOfInputs() || from == to) {
        logLine("AVAudioEngine::ERROR: There is no such bus to connect.");
        return;
    }
    if (!format) format = from->outputFormatForBus(fromBus);
    if (format->channelCount() == 0 || format->sampleRate() <= 0.0) {
        logLine("AVAudioEngine::ERROR: A connection needs channels and a sample rate.");
        return;
    }
    // One connection per bus, either end.
    std::erase_if(connections_, [&](const Connection& c) {
        return (c.to == to.get() && c.toBus == toBus) || (c.from == from.get() && c.fromBus == fromBus);
    });
    connections_.push_back({from.get(), fromBus, to.get(), toBus, std::move(format)});
    publish(prepared_);
}

void AVAudioEngine::disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node) {
    std::lock_guard edit(editMutex_);
    if (std::erase_if(connections_, [&](const Connection& c) { return c.to == node.get(); }) > 0)
        publish(prepared_);
}

void AVAudioEngine::disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node, std::size_t bus) {
    std::lock_guard edit(editMutex_);
    if (std::erase_if(connections_,
                      [&](const Connection& c) { return c.to == node.get() && c.toBus == bus; }) > 0)
        publish(prepared_);
}

void AVAudioEngine::disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node) {
    std::lock_guard edit(editMutex_);
    if (std::erase_if(connections_, [&](const Connection& c) { return c.from == node.get(); }) > 0)
        publish(prepared_);
}

std::optional<AVAudioEngine::Connection> AVAudioEngine::inputConnection(const AVAudioNode* node,
                                                                        std::size_t bus) const {
    std::lock_guard edit(editMutex_);
    for (const auto& c : connections_)
        if (c.to == node && c.toBus == bus) return c;
    return std::nullopt;
}

std::optional<AVAudioEngine::Connection> AVAudioEngine::outputConnection(const AVAudioNode* node,
                                                                         std::size_t bus) const {
    std::lock_guard edit(editMutex_);
    for (const auto& c : connections_)
        if (c.from == node && c.fromBus == bus) return c;
    return std::nullopt;
}

std::shared_ptr<AVAudioMixerNode> AVAudioEngine::mainMixerNode() {
    std::lock_guard edit(editMutex_);
    if (!mainMixer_) {
        mainMixer_ = std::make_shared<AVAudioMixerNode>();
        attach(mainMixer_);
        connect(mainMixer_, outputNode_, outputFormat());
    }
    return mainMixer_;
}

std::shared_ptr<const AVAudioFormat> AVAudioEngine::outputFormat() const {
    std::lock_guard edit(editMutex_);
    if (manual_ && manualFormat_) return manualFormat_;
    return AVAudioFormat::standardFormat(kDeviceSampleRate, kDeviceChannels);
}

std::unique_ptr<AVAudioEngine::Graph> AVAudioEngine::build() const {
    auto graph = std::make_unique<Graph>();
    graph->maximumFrames = maximumFrames_;
    std::vector<const AVAudioNode*> visiting;
    // Depth first from the output, so every source comes before what it feeds;
    // a node met again on its own path (a cycle) feeds nothing there.
    auto visit = [&](auto&& self, const std::shared_ptr<AVAudioNode>& node) -> int {
        for (std::size_t i = 0; i < graph->steps.size(); ++i)
            if (graph->steps[i].node == node) return static_cast<int>(i);
        if (std::find(visiting.begin(), visiting.end(), node.get()) != visiting.end()) return -1;
        visiting.push_back(node.get());
        std::vector<std::pair<std::size_t, int>> sources;
        for (const auto& c : connections_) {
            if (c.to != node.get()) continue;
            const auto from =
                std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == c.from; });
            sources.emplace_back(c.toBus, self(self, *from));
        }
        visiting.pop_back();
        Graph::Step step;
        step.node = node;
        step.channels = node->outputFormatForBus(0)->channelCount();
        std::size_t buses = 0;
        for (const auto& [bus, source] : sources) buses = std::max(buses, bus + 1);
        step.sources.assign(buses, -1);
        for (const auto& [bus, source] : sources) step.sources[bus] = source;
        step.inputs.resize(buses);
        step.storage.assign(static_cast<std::size_t>(step.channels) * graph->maximumFrames, 0.0f);
        for (AVAudioChannelCount c = 0; c < step.channels; ++c)
            step.outputs.push_back(step.storage.data() + static_cast<std::size_t>(c) * graph->maximumFrames);
        graph->steps.push_back(std::move(step));
        return static_cast<int>(graph->steps.size() - 1);
    };
    visit(visit, outputNode_);
    return graph;
}

void AVAudioEngine::publish(bool prepareNodes) {
    std::unique_ptr<Graph> next = build();
    {
        std::lock_guard render(renderMutex_);
        if (prepareNodes) {
            for (const auto& step : next->steps) {
                std::vector<std::shared_ptr<const AVAudioFormat>> inputs;
                for (std::size_t bus = 0; bus < step.sources.size(); ++bus)
                    inputs.push_back(step.node->inputFormatForBus(bus));
                step.node->prepareToRender(inputs, *step.node->outputFormatForBus(0), next->maximumFrames);
            }
        }
        std::swap(graph_, next);
    }
    // `next` now holds the old graph, freed here, off the render thread.
}

void AVAudioEngine::prepare() {
    std::lock_guard edit(editMutex_);
    prepared_ = true;
    publish(true);
}

void AVAudioEngine::start() {
    std::lock_guard edit(editMutex_);
    if (running_) return;
    prepare();
    if (!manual_) {
        deviceScratch_.assign(static_cast<std::size_t>(kDeviceChannels) * maximumFrames_, 0.0f);
        device_ = std::make_unique<AudioDevice>(kDeviceSampleRate, static_cast<int>(kDeviceChannels),
                                                static_cast<int>(maximumFrames_),
                                                &AVAudioEngine::deviceCallback, this);
    }
    running_ = true;
}

void AVAudioEngine::stop() {
    std::lock_guard edit(editMutex_);
    device_.reset();
    running_ = false;
}

void AVAudioEngine::stopAll() {
    std::lock_guard lock(enginesMutex());
    for (AVAudioEngine* engine : engines())
        engine->stop();
}

bool AVAudioEngine::isRunning() const { return running_; }

void AVAudioEngine::enableManualRenderingMode(std::shared_ptr<const AVAudioFormat> format,
                                              AVAudioFrameCount maximumFrames) {
    std::lock_guard edit(editMutex_);
    if (running_) throw NSError(kEngineError, "The engine must be stopped to change its rendering mode.");
    if (!format || format->channelCount() == 0 || maximumFrames == 0)
        throw NSError(kEngineError, "Manual rendering needs a format with channels and a block size.");
    manual_ = true;
    manualFormat_ = std::move(format);
    maximumFrames_ = maximumFrames;
    for (auto& c : connections_)
        if (c.to == outputNode_.get()) c.format = manualFormat_;
    publish(prepared_);
}

void AVAudioEngine::disableManualRenderingMode() {
    std::lock_guard edit(editMutex_);
    if (running_ || !manual_) return;
    manual_ = false;
    manualFormat_.reset();
    maximumFrames_ = 512;
    for (auto& c : connections_)
        if (c.to == outputNode_.get()) c.format = outputFormat();
    publish(prepared_);
}

AVAudioEngineManualRenderingStatus AVAudioEngine::renderOffline(AVAudioFrameCount frames,
                                                                AVAudioPCMBuffer& buffer) {
    if (!manual_ || !running_) return AVAudioEngineManualRenderingStatus::cannotDoInCurrentContext;
    if (frames > maximumFrames_ || frames > buffer.frameCapacity())
        return AVAudioEngineManualRenderingStatus::error;
    float* channels[16];
    const AVAudioChannelCount count = std::min<AVAudioChannelCount>(buffer.format()->channelCount(), 16);
    for (AVAudioChannelCount c = 0; c < count; ++c) channels[c] = buffer.channelData(c);
    renderCycle(channels, count, frames);
    buffer.setFrameLength(frames);
    return AVAudioEngineManualRenderingStatus::success;
}

void AVAudioEngine::renderCycle(float* const* output, AVAudioChannelCount channels,
                                AVAudioFrameCount frames) {
    std::unique_lock render(renderMutex_, std::try_to_lock);
    if (!render.owns_lock() || !graph_ || graph_->steps.empty() || frames > graph_->maximumFrames) {
        for (AVAudioChannelCount c = 0; c < channels; ++c) std::fill_n(output[c], frames, 0.0f);
        return;
    }
    for (auto& step : graph_->steps) {
        for (std::size_t bus = 0; bus < step.sources.size(); ++bus) {
            const int source = step.sources[bus];
            step.inputs[bus] = source < 0 ? AVAudioNodeInput{}
                                          : AVAudioNodeInput{graph_->steps[source].outputs.data(),
                                                             graph_->steps[source].channels};
        }
        step.node->render(step.inputs.data(), step.inputs.size(), step.outputs.data(), step.channels, frames);
    }
    const auto& last = graph_->steps.back();
    mixChannels({last.outputs.data(), last.channels}, output, channels, frames, false);
    holdToFullScale(output, channels, frames);
}

void AVAudioEngine::deviceCallback(void* context, float* interleaved, int frames) {
    auto* engine = static_cast<AVAudioEngine*>(context);
    const auto block = static_cast<int>(engine->maximumFrames_);
    float* planar[kDeviceChannels] = {engine->deviceScratch_.data(), engine->deviceScratch_.data() + block};
    for (int done = 0; done < frames;) {
        const int n = std::min(block, frames - done);
        engine->renderCycle(planar, kDeviceChannels, static_cast<AVAudioFrameCount>(n));
        float* out = interleaved + static_cast<std::ptrdiff_t>(done) * kDeviceChannels;
        for (int i = 0; i < n; ++i)
            for (AVAudioChannelCount c = 0; c < kDeviceChannels; ++c) *out++ = planar[c][i];
        done += n;
    }
}
