#include <cstring>
#include <memory>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "bench/BenchSupport.h"
#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/AVAudioPlayerNode.h"
#include "platform/audio/AVAudioUnit.h"

namespace {

constexpr AUAudioFrameCount kFrames = 512;

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> threeBandUnit() {
    auto unit = Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
    unit->setParameter(2, 1.0f);
    for (std::int32_t band = 0; band < 4; ++band) unit->setParameter(22 + band, 1.0f);
    return unit;
}

std::shared_ptr<AVAudioPCMBuffer> noiseLoop(AVAudioFrameCount frames) {
    auto buffer =
        std::make_shared<AVAudioPCMBuffer>(AVAudioFormat::standardFormat(bench::kSampleRate, 2), frames);
    for (AVAudioChannelCount c = 0; c < 2; ++c) {
        const auto noise = bench::noise(frames, 7 + c);
        std::memcpy(buffer->channelData(c), noise.data(), frames * sizeof(float));
    }
    buffer->setFrameLength(frames);
    return buffer;
}

// The demo host's chain rendered offline: player (looping a buffer), the unit
// if there is one, main mixer, output.
void renderHostChain(benchmark::State& state, const std::shared_ptr<AVAudioUnit>& unit) {
    AVAudioEngine engine;
    engine.enableManualRenderingMode(AVAudioFormat::standardFormat(bench::kSampleRate, 2), kFrames);
    auto player = std::make_shared<AVAudioPlayerNode>();
    engine.attach(player);
    const auto loop = noiseLoop(48000);
    if (unit) {
        engine.attach(unit);
        engine.connect(player, unit, loop->format());
        engine.connect(unit, engine.mainMixerNode(), nullptr);
    } else {
        engine.connect(player, engine.mainMixerNode(), loop->format());
    }
    for (int i = 0; i < 8; ++i) player->scheduleBuffer(loop, nullptr);
    player->play();
    engine.start();
    AVAudioPCMBuffer out(AVAudioFormat::standardFormat(bench::kSampleRate, 2), kFrames);
    std::int64_t rendered = 0;
    for (auto _ : state) {
        engine.renderOffline(kFrames, out);
        benchmark::DoNotOptimize(out.channelData(0)[0]);
        if ((rendered += kFrames) % (6 * 48000) < kFrames) player->scheduleBuffer(loop, nullptr);
    }
    bench::reportRealTime(state, kFrames);
    player->stop();
    engine.stop();
}

// With the unit in three-band mode.
void BM_HostEngineThreeBands(benchmark::State& state) {
    renderHostChain(state, std::make_shared<AVAudioUnit>(threeBandUnit()));
}
BENCHMARK(BM_HostEngineThreeBands)->Unit(benchmark::kMicrosecond);

// The engine's own share: player, main mixer and the output stage that keeps
// the sound card's samples finite and within full scale.
void BM_HostEngineWithoutAUnit(benchmark::State& state) { renderHostChain(state, nullptr); }
BENCHMARK(BM_HostEngineWithoutAUnit)->Unit(benchmark::kMicrosecond);

// The same unit alone through its render block, for comparison.
void BM_BareUnitThreeBands(benchmark::State& state) {
    auto unit = threeBandUnit();
    for (const auto& busses : {unit->inputBusses(), unit->outputBusses()})
        if (!(*busses)[0]->setFormat(AVAudioFormat::standardFormat(bench::kSampleRate, 2))) {
            state.SkipWithError("the unit refused the stereo format");
            return;
        }
    unit->setMaximumFramesToRender(kFrames);
    unit->allocateRenderResources();
    const AURenderBlock render = unit->renderBlock();
    // The same material as the host's loop, read on in the same way.
    const auto loop = noiseLoop(48000);
    AVAudioFrameCount at = 0;
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        for (std::uint32_t c = 0; c < 2; ++c) {
            float* to = static_cast<float*>(list->mBuffers[c].mData);
            for (AUAudioFrameCount i = 0; i < frames; ++i) to[i] = loop->channelData(c)[(at + i) % 48000];
        }
        at = (at + frames) % 48000;
        return noErr;
    };
    std::vector<float> left(kFrames), right(kFrames);
    AudioBufferListStorage out(2);
    AudioTimeStamp time;
    for (auto _ : state) {
        out.get()->mBuffers[0] = AudioBuffer{1, kFrames * sizeof(float), left.data()};
        out.get()->mBuffers[1] = AudioBuffer{1, kFrames * sizeof(float), right.data()};
        AudioUnitRenderActionFlags flags = 0;
        render(&flags, &time, kFrames, 0, out.get(), nullptr, pull);
        time.mSampleTime += kFrames;
        benchmark::DoNotOptimize(left[0]);
    }
    bench::reportRealTime(state, kFrames);
    unit->deallocateRenderResources();
}
BENCHMARK(BM_BareUnitThreeBands)->Unit(benchmark::kMicrosecond);

} // namespace
