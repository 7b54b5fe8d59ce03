#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRate = 48000.0;
constexpr AUAudioFrameCount kBlock = 128;

// Renders on its own thread, as a host's audio thread does, until told to stop.
class RenderThread {
public:
    explicit RenderThread(Host& host) : host_(host), thread_([this] { run(); }) {}
    ~RenderThread() { stop(); }

    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    int blocks() const { return blocks_; }
    bool clean() const { return clean_; }

private:
    void run() {
        Stereo signal = noise(kBlock, 1, 0.5f);
        const Stereo source = signal;
        while (running_ || blocks_ < 8) {
            signal = source;
            if (host_.process(signal, kBlock) != noErr || !validation::clean(signal)) clean_ = false;
            ++blocks_;
        }
    }

    Host& host_;
    std::atomic<bool> running_{true};
    std::atomic<int> blocks_{0};
    std::atomic<bool> clean_{true};
    std::thread thread_;
};

} // namespace

// The editor and the host's automation write from their own threads while
// the audio thread renders; nothing may race, tear or allocate there.
TEST(Threads, ParametersSetFromAnotherThreadWhileRendering) {
    Host host(kRate, 512);
    const auto addresses = host.writableAddresses();
    std::mt19937 random(5);
    std::uniform_int_distribution<std::size_t> pick(0, addresses.size() - 1);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    RenderThread renderer(host);
    const int changes = static_cast<int>(3000 * soakFactor());
    // Both sides keep going until each has done a fair share, however the threads are scheduled.
    for (int i = 0; i < changes || renderer.blocks() < 200; ++i) {
        const AUParameterAddress address = addresses[pick(random)];
        const auto parameter = host.unit->parameterTree()->parameterWithAddress(address);
        const float value =
            parameter->minValue() + unit(random) * (parameter->maxValue() - parameter->minValue());
        if (i % 2 == 0)
            parameter->setValue(value);
        else
            host.unit->setParameter(static_cast<std::int32_t>(address), value);
        // Reads come back from the kernel, which the render thread works with.
        EXPECT_TRUE(std::isfinite(host.unit->getParameter(static_cast<std::int32_t>(address))));
        if (i % 64 == 0) std::this_thread::yield();
    }
    renderer.stop();
    EXPECT_GE(renderer.blocks(), 200);
    EXPECT_TRUE(renderer.clean());
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// A value set while rendering is heard: the last one set wins in the kernel's objects.
TEST(Threads, TheLastValueSetWhileRenderingIsTheOneHeard) {
    Host host(kRate, 512);
    host.setThroughTree(kCurrentMode, 0.0f); // full band
    {
        RenderThread renderer(host);
        for (int i = 0; i < 200; ++i) host.setThroughTree(kReverbSize0, (i % 10) / 10.0f);
        host.setThroughTree(kReverbSize0, 0.75f);
        host.setThroughTree(kReverbPan0, 0.0f); // pan hard left
        const int seen = renderer.blocks();
        while (renderer.blocks() < seen + 4) std::this_thread::yield();
    }
    const auto& kernel = host.unit->kernelAdapter()->kernel();
    EXPECT_NEAR(host.unit->kernelAdapter()->kernel().reverbC[0].getroomsize(), 0.75f, 1e-6f);
    EXPECT_EQ(kernel.getParameter(kReverbSize0), 0.75f);
    EXPECT_EQ(host.valueInTree(kReverbPan0), 0.0f);
}
