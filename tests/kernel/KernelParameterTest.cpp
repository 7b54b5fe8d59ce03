#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "tests/kernel/KernelRig.h"
#include "tests/support/Heap.h"
#include "tests/support/RenderEvents.h"

namespace {

using Kernel = Orvo_Halden_Extension_DSPKernel;

bool isUsed(AUParameterAddress a) {
    return a <= kActive3 || (a >= kVolume1 && a <= kReverbPostDelayFeedback3) ||
           (a >= kReverbShift0 && a <= kDynamicsRelease);
}

std::map<AUParameterAddress, float> snapshot(const Kernel& k) {
    std::map<AUParameterAddress, float> values;
    for (AUParameterAddress a = 0; a <= 140; ++a) values[a] = k.getParameter(a);
    return values;
}

// A value each address can store and read back unchanged (splits stay ordered).
float probeValue(AUParameterAddress a) {
    if (a == kSplit1) return 0.5f;
    if (a == kSplit2) return 0.8f;
    if ((a >= kReverbPreDelayTempo0 && a <= kReverbPreDelayTempo3) ||
        (a >= kReverbPostDelayTempo0 && a <= kReverbPostDelayTempo3))
        return 90.0f;
    if ((a >= kReverbPreDelayDivision0 && a <= kReverbPreDelayDivision3) ||
        (a >= kReverbPostDelayDivision0 && a <= kReverbPostDelayDivision3))
        return 12.0f;
    if (a >= kReverbModel0 && a <= kReverbModel3) return 3.0f;
    return 0.375f;
}

} // namespace

TEST(KernelParameters, EveryUsedAddressReadsBackAndTouchesNothingElse) {
    auto k = testkit::makeHeap<Kernel>();
    k->init(2, 48000.0);
    int used = 0;
    for (AUParameterAddress a = 0; a <= 140; ++a) {
        const auto before = snapshot(*k);
        k->setParameter(a, probeValue(a));
        const auto after = snapshot(*k);
        for (const auto& [other, value] : after) {
            if (other == a && isUsed(a)) {
                EXPECT_EQ(value, probeValue(a)) << "address " << a;
            } else {
                EXPECT_EQ(value, before.at(other)) << "setting " << a << " changed " << other;
            }
        }
        used += isUsed(a) ? 1 : 0;
    }
    // 111 parameters, of which the bypass flags hold nothing in the kernel.
    EXPECT_EQ(used, 108);
    const AUParameterAddress empty[] = {kBypass1, kBypass2, kBypass3, 86, 95, 101, 127, 1000};
    for (AUParameterAddress a : empty) EXPECT_EQ(k->getParameter(a), 0.0f) << a;
}

TEST(KernelParameters, SplitPointsStayOrderedAndInRange) {
    auto k = testkit::makeHeap<Kernel>();
    k->setParameter(kSplit1, 0.9f);
    EXPECT_EQ(k->getParameter(kSplit1), 0.75f);
    k->setParameter(kSplit2, 0.1f);
    EXPECT_EQ(k->getParameter(kSplit2), 0.75f);
    k->setParameter(kSplit1, 0.25f);
    k->setParameter(kSplit2, 0.1f);
    EXPECT_EQ(k->getParameter(kSplit2), 0.25f);
    k->setParameter(kSplit2, 1.5f);
    EXPECT_EQ(k->getParameter(kSplit2), 1.0f);
    k->setParameter(kSplit1, -2.0f);
    EXPECT_EQ(k->getParameter(kSplit1), 0.0f);
    EXPECT_EQ(k->bands.fCutoff1, 0.0f);
    EXPECT_EQ(k->bands.fCutoff2, 1.0f);
}

TEST(KernelParameters, NonFiniteValuesAreIgnored) {
    auto k = testkit::makeHeap<Kernel>();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        for (AUParameterAddress a = 0; a <= 126; ++a) {
            const float before = k->getParameter(a);
            k->setParameter(a, bad);
            EXPECT_EQ(k->getParameter(a), before) << a;
        }
    }
}

TEST(KernelParameters, DivisionTable) {
    EXPECT_EQ(Kernel::getDivision(7.0f), 16.0f);
    EXPECT_EQ(Kernel::getDivision(16.9f), 0.333333f);
    EXPECT_EQ(Kernel::getDivision(18.0f), 0.666666f);
    EXPECT_EQ(Kernel::getDivision(25.0f), 0.125f);
    EXPECT_EQ(Kernel::getDivision(-3.0f), 0.0f);
    EXPECT_EQ(Kernel::getDivision(0.9f), 0.0f);
    EXPECT_EQ(Kernel::getDivision(1e30f), 0.125f);
    EXPECT_EQ(Kernel::getDivision(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(KernelParameters, ValuesReachTheirObjects) {
    auto k = testkit::makeHeap<Kernel>();
    k->setParameter(kReverbPreDelayTempo0, 90.0f);
    EXPECT_EQ(k->predelay[0].left.fTempo, 90.0f);
    k->setParameter(kReverbPostDelayDivision3, 11.0f); // index 11 is 4 divisions
    EXPECT_EQ(k->postdelay[3].right.fTempoDivision, 4.0f);
    k->setParameter(kReverbPan2, 1.0f);
    EXPECT_EQ(k->panpot[2].fPan, 1.0f);
    k->setParameter(kReverbWidth1, 0.0f);
    EXPECT_EQ(k->stereo[1].fAdjust, -1.0f);
    k->setParameter(kReverbShiftAmount3, 0.75f);
    EXPECT_EQ(k->pitch1R[3].getShift(), 1.5f);
    k->setParameter(kDynamicsMultiplier, -0.5f);
    EXPECT_EQ(k->compander.fMultiplier, -0.5f);
    k->setParameter(kDynamicsAttack, 0.3f);
    EXPECT_EQ(k->compander.inputFollower.fAttack, 0.3f);
}

TEST(KernelParameters, OnlyTheSelectedModelTakesSettingsAndANewOneCatchesUp) {
    auto k = testkit::makeHeap<Kernel>();
    k->setParameter(kReverbSize0, 0.8f); // size of band 0 while model 1 is selected
    EXPECT_NEAR(k->reverbB[0].getroomsize(), 0.8f, 1e-6f);
    EXPECT_NEAR(k->reverbE[0].getroomsize(), 0.5f, 1e-6f);
    k->setParameter(kReverbWet0, 0.7f);
    k->setParameter(kReverbFreeze0, 1.0f);
    k->setParameter(kReverbModel0, 4.0f);
    // Selecting a model hands it the band's stored values.
    EXPECT_NEAR(k->reverbE[0].getroomsize(), 0.8f, 1e-6f);
    EXPECT_EQ(k->reverbE[0].getwet(), 0.7f);
    EXPECT_EQ(k->reverbE[0].getmode(), 1.0f);
    EXPECT_NEAR(k->reverbE[1].getroomsize(), 0.5f, 1e-6f);
    k->setParameter(kReverbModel0, 7.0f); // no such model: stored, reaches nothing
    EXPECT_EQ(k->getParameter(kReverbModel0), 7.0f);
}

TEST(KernelParameters, AllocationKeepsWhatTheHostSet) {
    KernelRig rig(48000.0);
    auto& k = rig.kernel();
    k.setParameter(kSplit1, 0.1f);
    k.setParameter(kSplit2, 0.2f);
    k.setParameter(kReverbPreDelayTempo1, 200.0f);
    k.setParameter(kReverbPreDelayDivision1, 9.0f);
    k.setParameter(kReverbPreDelayFeedback1, 0.6f);
    k.setParameter(kReverbPostDelayTempo2, 60.0f);
    k.setParameter(kReverbPan0, 0.0f);
    k.setParameter(kReverbWidth3, 1.0f);
    k.setParameter(kDynamicsAttack, 0.05f);
    k.setParameter(kDynamicsHold, 0.2f);
    k.setParameter(kDynamicsRelease, 2.0f);

    ASSERT_TRUE(rig.adapter->outputBus()->setFormat(AVAudioFormat::standardFormat(44100.0, 2)));
    rig.adapter->allocateRenderResources();

    EXPECT_EQ(k.getSamplerate(), 44100.0f);
    EXPECT_FLOAT_EQ(k.bands.fCutoff1, 0.1f);
    EXPECT_FLOAT_EQ(k.bands.fCutoff2, 0.2f);
    EXPECT_EQ(k.predelay[1].left.fTempo, 200.0f);
    EXPECT_EQ(k.predelay[1].right.fTempoDivision, 8.0f);
    EXPECT_FLOAT_EQ(k.predelay[1].left.fFeedback, 0.6f);
    EXPECT_EQ(k.postdelay[2].right.fTempo, 60.0f);
    EXPECT_EQ(k.panpot[0].fPan, -1.0f);
    EXPECT_EQ(k.stereo[3].fAdjust, 1.0f);
    EXPECT_FLOAT_EQ(k.compander.inputFollower.fAttack, 0.05f);
    EXPECT_FLOAT_EQ(k.compander.inputFollower.fDecay, 0.2f);
    EXPECT_FLOAT_EQ(k.compander.inputFollower.fRelease, 2.0f);
}

TEST(KernelParameters, MidiIsNeverForwarded) {
    auto k = testkit::makeHeap<Kernel>();
    int forwarded = 0;
    AUMIDIOutputEventBlock out = [&](AUEventSampleTime, std::uint8_t, NSInteger,
                                     const std::uint8_t*) -> OSStatus {
        ++forwarded;
        return 0;
    };
    testkit::EventList events;
    events.midi(0, AURenderEventType::MIDI, 1, 0xF8).midi(0, AURenderEventType::MIDI, 3, 0x90);
    const AURenderEvent* head = events.head();
    AudioTimeStamp ts;
    k->processWithEvents(&ts, 0, head, out);
    k->handleMIDIEvent(head->MIDI);
    k->handleMIDIEvent(head->head.next->MIDI);
    EXPECT_EQ(forwarded, 0);
}

TEST(KernelParameters, LevelsAndCoefficientsAreHeldToTheirRange) {
    auto k = testkit::makeHeap<Kernel>();
    const std::map<AUParameterAddress, float> beyond = {
        {kVolume1, 7.0f},     {kReverbInput0, 1e30f},      {kReverbDry0, -3.0f},     {kReverbWet0, 2.0f},
        {kReverbSize0, 1e6f}, {kReverbDamp0, -1.0f},       {kReverbWidth0, 9.0f},    {kReverbOutput0, -1e30f},
        {kReverbPan0, 4.0f},  {kReverbShiftAmount0, 1e9f}, {kReverbShiftMix0, -0.5f}};
    for (const auto& [address, value] : beyond) {
        k->setParameter(address, value);
        EXPECT_EQ(k->getParameter(address), std::clamp(value, 0.0f, 1.0f)) << address;
    }
    k->setParameter(kDynamicsMultiplier, 5.0f);
    EXPECT_EQ(k->getParameter(kDynamicsMultiplier), 1.0f);
    EXPECT_EQ(k->reverbB[0].getwet(), 1.0f); // the model got the held value too
    // Indices, switches, tempi and times keep what they were given.
    k->setParameter(kReverbPreDelayTempo0, 400.0f);
    k->setParameter(kDynamicsRelease, 2.0f);
    EXPECT_EQ(k->getParameter(kReverbPreDelayTempo0), 400.0f);
    EXPECT_EQ(k->getParameter(kDynamicsRelease), 2.0f);
}
