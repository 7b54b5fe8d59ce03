#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "platform/audio/AVAudioFile.h"
#include "resources/LoopRecipe.h"

namespace {

// Every demo loop the build made: 48 kHz stereo, as long as its recipe, loud
// but unclipped (about -3 dBFS), its own, and seamless where it wraps around.
TEST(DemoLoopsTest, AllEightyDecodeAsDistinctSeamlessLoops) {
    std::set<std::pair<AVAudioFrameCount, float>> signatures;
    for (int number = 1; number <= loops::kCount; ++number) {
        SCOPED_TRACE(number);
        const AVAudioFile file(
            URL::fileURLWithPath(std::string(ORVO_DEMO_LOOPS_DIR) + "/" + std::to_string(number) + ".m4a"));
        ASSERT_EQ(file.processingFormat()->sampleRate(), 48000.0);
        ASSERT_EQ(file.processingFormat()->channelCount(), 2u);
        const auto frames = static_cast<AVAudioFrameCount>(file.length());
        EXPECT_EQ(frames, loops::recipe(number).frames);
        EXPECT_GE(frames, 48000u * 3);
        float peak = 0.0f, biggestStep = 0.0f, seam = 0.0f, edge = 0.0f;
        for (AVAudioChannelCount c = 0; c < 2; ++c) {
            const float* s = file.buffer()->channelData(c);
            for (AVAudioFrameCount i = 0; i < frames; ++i) {
                peak = std::max(peak, std::fabs(s[i]));
                if (i > 0) biggestStep = std::max(biggestStep, std::fabs(s[i] - s[i - 1]));
            }
            seam = std::max(seam, std::fabs(s[0] - s[frames - 1]));
            for (AVAudioFrameCount i = 0; i < 480; ++i)
                edge = std::max({edge, std::fabs(s[i]), std::fabs(s[frames - 1 - i])});
        }
        EXPECT_NEAR(20.0f * std::log10(peak), -3.0f, 0.05f);
        EXPECT_LE(seam, biggestStep) << "the wrap-around jumps";
        EXPECT_GT(edge, 1e-4f) << "silence at the loop point";
        signatures.insert({frames, file.buffer()->channelData(0)[frames / 3]});
    }
    EXPECT_EQ(signatures.size(), static_cast<std::size_t>(loops::kCount));
}

} // namespace
