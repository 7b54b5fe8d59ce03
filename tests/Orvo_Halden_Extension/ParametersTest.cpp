#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_Parameters.h"
#include "kernel/ParameterAddress.h"

namespace {

using Adapter = Orvo_Halden_ExtensionDSPKernelAdapter;

constexpr AudioUnitParameterOptions kRW = 0xC0000000u;
constexpr AudioUnitParameterOptions kRO = 0x40000000u;

// What the host must see, by address: key stem, name text, range, default, unit.
struct Entry {
    AUParameterAddress first, last;
    const char* key;
    const char* text;
    float min, max, def;
    AudioUnitParameterUnit unit;
};

const std::vector<Entry> kExpected = {
    {0, 0, "kVolumeIn", "Input Volume", 0, 1, 0.5f, 0},
    {1, 1, "kVolumeOut", "Output Volume", 0, 1, 0.5f, 0},
    {2, 2, "kCurrentMode", "Processing Mode", 0, 3, 2, 1},
    {3, 3, "kSplit1", "Band Split 1", 0, 1, 0.5f, 0},
    {4, 4, "kSplit2", "Band Split 2", 0, 1, 0.75f, 0},
    {5, 7, "kActive", "Active", 0, 1, 1, 2},
    {8, 10, "kBypass", "Processing Bypass", 0, 1, 0, 2},
    {11, 13, "kVolume", "Volume", 0, 1, 0.5f, 0},
    {14, 17, "kReverbInput", "Reverb Input", 0, 1, 0.5f, 0},
    {18, 21, "kReverbDry", "Reverb Dry", 0, 1, 0.5f, 0},
    {22, 25, "kReverbWet", "Reverb Wet", 0, 1, 0.5f, 0},
    {26, 29, "kReverbSize", "Reverb Size", 0, 1, 0.5f, 0},
    {30, 33, "kReverbDamp", "Reverb Damp", 0, 1, 0.5f, 0},
    {34, 37, "kReverbWidth", "Reverb Width", 0, 1, 0.5f, 0},
    {38, 41, "kReverbFreeze", "Reverb Freeze", 0, 1, 0, 2},
    {42, 45, "kReverbOutput", "Reverb Output", 0, 1, 0.5f, 0},
    {46, 49, "kReverbModel", "Reverb Model", 0, 3, 2, 1},
    {50, 53, "kReverbPan", "Reverb Pan", 0, 1, 0.5f, 0},
    {54, 57, "kReverbPreDelay", "PreDelay On/Off", 0, 1, 0, 2},
    {58, 61, "kReverbPreDelayTempo", "PreDelay Tempo", 40, 240, 120, 22},
    {62, 65, "kReverbPreDelayDivision", "PreDelay Division", 0, 19, 9, 1},
    {66, 69, "kReverbPreDelayFeedback", "PreDelay Feedback", 0, 1, 0, 0},
    {70, 73, "kReverbPostDelay", "PostDelay On/Off", 0, 1, 0, 2},
    {74, 77, "kReverbPostDelayTempo", "PostDelay Tempo", 40, 240, 120, 22},
    {78, 81, "kReverbPostDelayDivision", "PostDelay Division", 0, 19, 9, 1},
    {82, 85, "kReverbPostDelayFeedback", "PostDelay Feedback", 0, 1, 0, 0},
    {102, 105, "kReverbShift", "Shifter On/Off", 0, 1, 0, 2},
    {106, 109, "kReverbShiftConnection", "Shifter Pre/Post", 0, 1, 1, 2},
    {110, 113, "kReverbShiftAmount", "Shifter Amount", 0, 1, 0.5f, 0},
    {114, 117, "kReverbShiftMix", "Shifter Mix", 0, 1, 0.33f, 0},
    {118, 121, "kReverbShiftMode", "Shifter Mode", 0, 3, 1, 1},
    {122, 122, "kDynamicsOn", "Limiter On", 0, 1, 1, 2},
    {123, 123, "kDynamicsMultiplier", "Compander Multiplier", -1, 1, 0, 0},
    {124, 124, "kDynamicsAttack", "Dynamics Attack", 0, 1, 0.2f, 4},
    {125, 125, "kDynamicsHold", "Dynamics Hold", 0, 1, 0.1f, 4},
    {126, 126, "kDynamicsRelease", "Dynamics Release", 0, 1, 0.4f, 4},
};

const Entry* expectedAt(AUParameterAddress address) {
    for (const Entry& e : kExpected)
        if (address >= e.first && address <= e.last) return &e;
    return nullptr;
}

std::vector<AUParameterAddress> range(AUParameterAddress from, AUParameterAddress to) {
    std::vector<AUParameterAddress> r;
    for (auto a = from; a <= to; ++a) r.push_back(a);
    return r;
}

struct Built {
    std::shared_ptr<Adapter> adapter = Adapter::make();
    Orvo_Halden_Extension_Parameters parameters{adapter};
    AUParameterTree& tree() { return *parameters.parameterTree(); }
    Orvo_Halden_Extension_DSPKernel& kernel() { return adapter->kernel(); }
};

} // namespace

TEST(Parameters, TheTreeHoldsTheTableInCreationOrder) {
    Built built;
    auto& tree = built.tree();
    ASSERT_EQ(tree.children().size(), 1u);
    EXPECT_EQ(tree.children()[0]->identifier(), "kGlobalParameters");
    EXPECT_EQ(tree.children()[0]->displayName(), "Orvo Halden Global");

    std::vector<AUParameterAddress> order = range(0, 85);
    for (auto block : {range(102, 105), range(110, 121), range(106, 109), range(122, 126)})
        order.insert(order.end(), block.begin(), block.end());
    std::vector<AUParameterAddress> actual;
    for (const auto& p : tree.allParameters()) actual.push_back(p->address());
    EXPECT_EQ(actual.size(), 111u);
    EXPECT_EQ(actual, order);
    for (AUParameterAddress a = 86; a <= 101; ++a) EXPECT_EQ(tree.parameterWithAddress(a), nullptr) << a;
    EXPECT_EQ(tree.parameterWithAddress(127), nullptr);
}

TEST(Parameters, KeysNamesRangesUnitsAndFlagsMatchTheTable) {
    Built built;
    const char* labels[] = {"AP", "LP", "BP", "HP"};
    for (const auto& p : built.tree().allParameters()) {
        const AUParameterAddress a = p->address();
        const Entry* e = expectedAt(a);
        ASSERT_NE(e, nullptr) << a;
        std::string key = e->key, name = e->text;
        if (e->first != e->last) {
            // Band-only families count their bands from 1.
            const int band = static_cast<int>(a - e->first) + (e->last - e->first == 2 ? 1 : 0);
            key += std::to_string(band);
            name = std::string(labels[band]) + " " + name;
        }
        EXPECT_EQ(p->identifier(), key) << a;
        EXPECT_EQ(p->displayName(), name) << a;
        EXPECT_EQ(p->minValue(), a == 61 ? 4.0f : e->min) << key;
        EXPECT_EQ(p->maxValue(), e->max) << key;
        EXPECT_EQ(p->unit(), e->unit) << key;
        EXPECT_EQ(p->flags(), a >= 8 && a <= 10 ? kRO : kRW) << key;
        EXPECT_FALSE(p->unitName().has_value()) << key;
        EXPECT_FALSE(p->valueStrings().has_value()) << key;
        EXPECT_TRUE(p->dependentParameters().empty()) << key;
    }
    auto& tree = built.tree();
    EXPECT_EQ(tree.parameterWithAddress(kReverbDamp2)->displayName(), "BP Reverb Damp");
    EXPECT_EQ(tree.parameterWithAddress(kReverbDamp2)->identifier(), "kReverbDamp2");
    EXPECT_EQ(tree.parameterWithAddress(kActive1)->displayName(), "LP Active");
    EXPECT_EQ(tree.parameterWithAddress(kReverbPreDelayTempo3)->identifier(), "kReverbPreDelayTempo3");
    EXPECT_EQ(tree.parameterWithAddress(kReverbPreDelayTempo3)->minValue(), 4.0f);
    EXPECT_EQ(tree.parameterWithAddress(kReverbPreDelayTempo2)->minValue(), 40.0f);
    EXPECT_FALSE(tree.parameterWithAddress(kBypass2)->flags() & kAudioUnitParameterFlag_IsWritable);
}

TEST(Parameters, TheKernelHoldsTheDefaultsAfterCreation) {
    Built built;
    for (const auto& p : built.tree().allParameters()) {
        const float def = expectedAt(p->address())->def;
        EXPECT_EQ(built.kernel().getParameter(p->address()), def) << p->identifier();
        EXPECT_EQ(p->value(), def) << p->identifier();
    }
    auto& k = built.kernel();
    EXPECT_EQ(k.fSplit1, 0.5f);
    EXPECT_EQ(k.fSplit2, 0.75f);
    for (int b = 0; b < 4; ++b) EXPECT_EQ(k.fReverbModel[b], 2.0f);
    // Reverb settings went out before the model index: they reached the kernel's own
    // default model, and reach model 2 only once changed again.
    EXPECT_NEAR(k.reverbB[0].getdamp(), 0.5f, 1e-6f);
    built.tree().parameterWithAddress(kReverbDamp0)->setValue(0.25f);
    EXPECT_NEAR(k.reverbC[0].getdamp(), 0.25f, 1e-6f);
    EXPECT_NEAR(k.reverbB[0].getdamp(), 0.5f, 1e-6f);
}

TEST(Parameters, ValuesSetOnTheTreeReachTheKernelUnclampedAndReadBackFromIt) {
    Built built;
    auto& tree = built.tree();
    auto& k = built.kernel();
    std::vector<std::pair<AUParameterAddress, AUValue>> heard;
    const auto token = tree.tokenByAddingParameterObserver([&](AUParameterAddress a, AUValue v) {
        heard.push_back({a, v});
    });

    tree.parameterWithAddress(kReverbSize2)->setValue(0.8f);
    EXPECT_EQ(k.fReverbSize[2], 0.8f);
    // Model index 4 lies outside the declared 0...3 but the kernel has it.
    tree.parameterWithAddress(kReverbModel1)->setValue(4.0f);
    EXPECT_EQ(k.fReverbModel[1], 4.0f);
    EXPECT_EQ(heard, (std::vector<std::pair<AUParameterAddress, AUValue>>{{kReverbSize2, 0.8f},
                                                                          {kReverbModel1, 4.0f}}));

    // A change that bypasses the tree is what the tree reads.
    built.adapter->setParameterEx(0, 0.125f);
    EXPECT_EQ(tree.parameterWithAddress(kVolumeIn)->value(), 0.125f);
    EXPECT_EQ(heard.size(), 2u);
    tree.removeParameterObserver(token);
    tree.parameterWithAddress(kVolumeIn)->setValue(0.5f);
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(k.fVolumeIn, 0.5f);
}

TEST(Parameters, TheTextOfAValueIsTheNumber) {
    Built built;
    const auto tempo = built.tree().parameterWithAddress(kReverbPreDelayTempo0);
    EXPECT_EQ(tempo->stringFromValue(), "120");
    const AUValue v = 0.33f;
    EXPECT_EQ(tempo->stringFromValue(&v), "0.33");
    built.adapter->setParameterEx(58, 96.5f);
    EXPECT_EQ(tempo->stringFromValue(), "96.5");
}
