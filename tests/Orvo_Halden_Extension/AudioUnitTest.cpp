#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSError.h"
#include "tests/Orvo_Halden_Extension/TestHost.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/RenderEvents.h"
#include "tests/support/Signals.h"
#include "tests/support/StdoutCapture.h"

namespace {

using testkit::kBlock;
using testkit::TestHost;
using Unit = Orvo_Halden_Extension_AudioUnit;
using Lines = std::vector<std::string>;

const Lines kAbsentBlocks = {
    "AUExtension: WARNING: The property 'musicalContextBlock' is NOT defined.",
    "AUExtension: WARNING: The property 'transportStateBlock' is NOT defined.",
    "AUExtension: WARNING: The property 'scheduleMIDIEventBlock' is NOT defined.",
    "AUExtension::midiOutputEventBlock (get) ",
    "AUExtension: WARNING: The property 'midiOutputEventBlock' is NOT defined.",
};

// Which thread let go of a host's block last.
struct Releases {
    std::atomic<std::thread::id> renderThread{};
    std::atomic<int> onRenderThread{0};
};

// A host's MIDI output that counts the events it is sent; the count is shared
// with the closure, so it lives exactly as long as the block does.
AUMIDIOutputEventBlock countingBlock(const std::shared_ptr<std::atomic<int>>& received,
                                     Releases* releases = nullptr) {
    struct Marker {
        Releases* releases;
        ~Marker() {
            if (releases && std::this_thread::get_id() == releases->renderThread.load()) ++releases->onRenderThread;
        }
    };
    return [received, marker = std::make_shared<Marker>(Marker{releases})](
               AUEventSampleTime, std::uint8_t, NSInteger, const std::uint8_t*) -> OSStatus {
        ++*received;
        return noErr;
    };
}

// Allocates: the status it throws (noErr when it succeeds) and the lines it logs.
std::pair<OSStatus, Lines> allocateLogged(Unit& unit) {
    testkit::StdoutCapture capture;
    OSStatus code = noErr;
    try {
        unit.allocateRenderResources();
    } catch (const NSError& error) {
        code = error.code();
    }
    return {code, testkit::splitLines(capture.finish())};
}

bool silentFrom(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    return std::all_of(samples.begin() + static_cast<std::ptrdiff_t>(from),
                       samples.begin() + static_cast<std::ptrdiff_t>(to), [](float s) { return s == 0.0f; });
}

} // namespace

TEST(AudioUnit, CreationLogsTheDescriptionItWasGiven) {
    testkit::StdoutCapture capture;
    const AudioComponentDescription other{kAudioUnitType_Effect, fourCharCode("test"), fourCharCode("ACME")};
    auto unit = Unit::make(other, 0x5);
    const Lines lines = testkit::splitLines(capture.finish());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
              (Lines{"AUExtension::init()", "ACME : test",
                     "AUExtension: We will prepare required resources now..."}));
    // Only the kernel's own construction line follows.
    for (std::size_t i = 3; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("DIAGNOSTICS: ", 0), 0u) << lines[i];
    EXPECT_EQ(unit->componentDescription(), other);
    EXPECT_EQ(unit->instantiationOptions(), 0u);

    testkit::StdoutCapture again;
    EXPECT_THROW(Unit::make(AudioComponentDescription{}), NSError);
    // The base refuses a description without a type, after the unit has logged it.
    EXPECT_EQ(testkit::splitLines(again.finish())[0], "AUExtension::init()");
}

TEST(AudioUnit, AHostSeesOneStereoBusEachWayAndTheFixedAnswers) {
    TestHost host;
    Unit& unit = *host.unit;
    testkit::StdoutCapture capture;
    const auto inputs = unit.inputBusses();
    const auto outputs = unit.outputBusses();
    const auto capabilities = unit.channelCapabilities();
    const double latency = unit.latency(), tail = unit.tailTime();
    const bool in = unit.canPerformInput(), out = unit.canPerformOutput(), inPlace = unit.canProcessInPlace();
    const bool effect = unit.isMusicDeviceOrEffect();
    const auto cables = unit.virtualMIDICableCount();
    const auto names = unit.MIDIOutputNames();
    const auto views = unit.supportedViewConfigurations({{680, 600, false}, {400, 300, true}});
    const auto overview = unit.parametersForOverview(4);
    EXPECT_TRUE(unit.inputBusses() == inputs); // built once, logged at every read
    const Lines lines = testkit::splitLines(capture.finish());

    EXPECT_EQ(lines,
              (Lines{"AUExtension::inputBusses: 1", "AUExtension::outputBusses: 1",
                     "AUExtension::channelCapabilities", "AUExtension::latency: 0",
                     "AUExtension::tailTime: 4.0", "AUExtension::canPerformInput: true",
                     "AUExtension::canPerformOutput: true", "AUExtension::canProcessInPlace() true",
                     "AUExtension::isMusicDeviceOrEffect: true", "AUExtension::virtualMIDICableCount: 1",
                     "AUExtension::midiOutputNames: [\"Orvo Halden MIDI Out\"]",
                     "AUExtension::supportedViewConfigurations()", "AUExtension::parametersForOverview()",
                     "AUExtension::inputBusses: 1"}));
    ASSERT_EQ(inputs->count(), 1u);
    ASSERT_EQ(outputs->count(), 1u);
    EXPECT_EQ(inputs->busType(), AUAudioUnitBusType::Input);
    EXPECT_EQ(outputs->ownerAudioUnit(), host.unit);
    EXPECT_TRUE((*inputs)[0] == unit.kernelAdapter()->inputBus());
    EXPECT_TRUE((*outputs)[0] == unit.kernelAdapter()->outputBus());
    for (const auto& busses : {inputs, outputs}) {
        EXPECT_EQ((*busses)[0]->format()->sampleRate(), 48000.0);
        EXPECT_EQ((*busses)[0]->format()->channelCount(), 2u);
        EXPECT_EQ((*busses)[0]->maximumChannelCount(), 2u);
    }
    EXPECT_EQ(capabilities, (std::vector<int>{2, 2}));
    EXPECT_EQ(latency, 0.0);
    EXPECT_EQ(tail, 4.0);
    EXPECT_TRUE(in && out && inPlace && effect);
    EXPECT_EQ(cables, 1);
    EXPECT_EQ(names, (std::vector<std::string>{"Orvo Halden MIDI Out"}));
    EXPECT_TRUE(views.empty());
    EXPECT_TRUE(overview.empty());

    // The tree is the builder's for good.
    const auto tree = unit.parameterTree();
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->allParameters().size(), 111u);
    testkit::StdoutCapture refused;
    unit.setParameterTree(AUParameterTree::createTree({}));
    EXPECT_EQ(testkit::splitLines(refused.finish()), Lines{"AUExtension::parameterTree (set) !!!"});
    EXPECT_EQ(unit.parameterTree(), tree);
}

TEST(AudioUnit, AllocationLogsWhichHostBlocksItGot) {
    TestHost host;
    Unit& unit = *host.unit;
    {
        testkit::StdoutCapture capture;
        unit.allocateRenderResources();
        Lines expected = {"AUExtension::allocateRenderResources()", "AUExtension::outputBusses: 1",
                          "AUExtension::outputBusses: 1"};
        expected.insert(expected.end(), kAbsentBlocks.begin(), kAbsentBlocks.end());
        EXPECT_EQ(testkit::splitLines(capture.finish()), expected);
    }
    EXPECT_TRUE(unit.renderResourcesAllocated());
    EXPECT_TRUE(unit.kernelAdapter()->outputBus()->shouldAllocateBuffer());

    unit.setMusicalContextBlock(
        [](double*, double*, NSInteger*, double*, NSInteger*, double*) { return true; });
    unit.setTransportStateBlock([](AUHostTransportStateFlags*, double*, double*, double*) { return true; });
    unit.setScheduleMIDIEventBlock([](AUEventSampleTime, std::uint8_t, NSInteger, const std::uint8_t*) {});
    testkit::StdoutCapture capture;
    unit.setMidiOutputEventBlock(
        [](AUEventSampleTime, std::uint8_t, NSInteger, const std::uint8_t*) -> OSStatus { return noErr; });
    unit.deallocateRenderResources();
    unit.allocateRenderResources();
    EXPECT_EQ(
        testkit::splitLines(capture.finish()),
        (Lines{"AUExtension::midiOutputEventBlock (set) ", "AUExtension::deallocateRenderResources()",
               "AUExtension::allocateRenderResources()", "AUExtension::outputBusses: 1",
               "AUExtension::outputBusses: 1", "AUExtension: The property 'musicalContextBlock' is defined.",
               "AUExtension: The property 'transportStateBlock' is defined.",
               "AUExtension: The property 'scheduleMIDIEventBlock' is defined.",
               "AUExtension::midiOutputEventBlock (get) ",
               "AUExtension: The property 'midiOutputEventBlock' is defined.",
               "AUExtension::midiOutputEventBlock (get) "}));
}

TEST(AudioUnit, AllocationThatCannotFitTheBusesFailsAndNothingRenders) {
    TestHost host;
    ASSERT_TRUE(host.unit->kernelAdapter()->inputBus()->setFormat(AVAudioFormat::standardFormat(48000.0, 1)));
    const auto [code, lines] = allocateLogged(*host.unit);
    EXPECT_EQ(code, kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(host.unit->renderResourcesAllocated());
    ASSERT_EQ(lines.size(), 4u); // no host blocks were handed over
    EXPECT_EQ(lines[3].rfind("AUExtension::allocateRenderResources() : ERROR: ", 0), 0u) << lines[3];

    AudioBufferListStorage out(2);
    AudioTimeStamp ts;
    EXPECT_EQ(host.unit->renderBlock()(nullptr, &ts, 64, 0, out.get(), nullptr, nullptr),
              kAudioUnitErr_Uninitialized);

    // Once the format fits again the same unit allocates and renders.
    ASSERT_TRUE(host.unit->kernelAdapter()->inputBus()->setFormat(AVAudioFormat::standardFormat(48000.0, 2)));
    host.allocate();
    EXPECT_EQ(host.renderNext(), noErr);
}

TEST(AudioUnit, MidiGoesToTheBlockSetLastAndAReplacedBlockIsFreedByTheSetter) {
    TestHost host;
    host.unit->kernelAdapter()->kernel().midiThru = true;
    auto toA = std::make_shared<std::atomic<int>>(0);
    auto toB = std::make_shared<std::atomic<int>>(0);
    const std::weak_ptr<std::atomic<int>> watchA = toA;
    host.unit->setMidiOutputEventBlock(countingBlock(toA));
    host.allocate();
    testkit::EventList events;
    const auto renderNoteOn = [&] {
        events.clear();
        events.midi(static_cast<AUEventSampleTime>(host.position()), AURenderEventType::MIDI, 3, 0x403C90);
        return host.renderNext(kBlock, events.head());
    };
    ASSERT_EQ(renderNoteOn(), noErr);
    EXPECT_EQ(*toA, 1);

    host.unit->setMidiOutputEventBlock(countingBlock(toB));
    toA.reset();
    EXPECT_TRUE(watchA.expired()) << "nothing may keep the replaced block for the render thread to free";
    ASSERT_EQ(renderNoteOn(), noErr);
    EXPECT_EQ(*toB, 1);

    host.unit->setMidiOutputEventBlock(nullptr);
    ASSERT_EQ(renderNoteOn(), noErr);
    EXPECT_EQ(*toB, 1);
}

// Blocks replaced while the render thread sends to them are let go by the
// thread that replaced them, and the render thread follows at once.
TEST(AudioUnit, BlocksReplacedWhileRenderingAreNeverFreedOnTheRenderThread) {
    TestHost host;
    host.unit->kernelAdapter()->kernel().midiThru = true;
    host.allocate();
    Releases releases;
    std::atomic<bool> running{true};
    std::atomic<int> blocks{0};
    std::thread renderer([&] {
        releases.renderThread = std::this_thread::get_id();
        const AURenderBlock render = host.unit->renderBlock();
        const AURenderPullInputBlock pull = [](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                               AUAudioFrameCount frames, NSInteger, AudioBufferList* list) {
            for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
                std::fill_n(static_cast<float*>(list->mBuffers[c].mData), frames, 0.0f);
            return noErr;
        };
        std::vector<float> left(kBlock), right(kBlock);
        AudioBufferListStorage out(2);
        testkit::EventList events;
        AudioTimeStamp ts;
        while (running || blocks < 100) {
            out.get()->mBuffers[0] = AudioBuffer{1, kBlock * sizeof(float), left.data()};
            out.get()->mBuffers[1] = AudioBuffer{1, kBlock * sizeof(float), right.data()};
            events.clear();
            events.midi(static_cast<AUEventSampleTime>(ts.mSampleTime), AURenderEventType::MIDI, 3, 0x403C90);
            if (render(nullptr, &ts, kBlock, 0, out.get(), events.head(), pull) != noErr) break;
            ts.mSampleTime += kBlock;
            ++blocks;
        }
    });
    for (int i = 0; i < 1000 || blocks < 100; ++i) {
        host.unit->setMidiOutputEventBlock(countingBlock(std::make_shared<std::atomic<int>>(0), &releases));
        if (i % 16 == 0) std::this_thread::yield();
    }
    auto last = std::make_shared<std::atomic<int>>(0);
    host.unit->setMidiOutputEventBlock(countingBlock(last, &releases));
    const int seen = blocks;
    while (blocks < seen + 4) std::this_thread::yield();
    running = false;
    renderer.join();
    EXPECT_GE(blocks, 100);
    EXPECT_GE(*last, 3);
    host.unit->setMidiOutputEventBlock(nullptr); // while `releases` lives
    EXPECT_EQ(releases.onRenderThread, 0);
}

TEST(AudioUnit, AMaximumFrameCountAboveTheLimitIsRefusedBeforeAllocating) {
    TestHost host;
    constexpr AUAudioFrameCount limit = Orvo_Halden_ExtensionDSPKernelAdapter::kMaximumFramesLimit;
    for (const AUAudioFrameCount frames : {limit + 1, 0xFFFFFFFFu}) {
        host.unit->setMaximumFramesToRender(frames);
        const auto [code, lines] = allocateLogged(*host.unit);
        EXPECT_EQ(code, kAudioUnitErr_TooManyFramesToProcess) << frames;
        EXPECT_FALSE(host.unit->renderResourcesAllocated()) << frames;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "AUExtension::allocateRenderResources() : ERROR: The maximum of " +
                                    std::to_string(frames) + " frames to render is above the limit of 65536.");
    }
    host.unit->setMaximumFramesToRender(limit);
    host.unit->allocateRenderResources();
    EXPECT_TRUE(host.unit->renderResourcesAllocated());
}

TEST(AudioUnit, RendersNoiseWithParameterEventsAtTheirFrames) {
    TestHost host;
    host.allocate();
    ASSERT_EQ(host.renderNext(), noErr);
    ASSERT_EQ(host.renderNext(), noErr);
    // All three band volumes to zero from frame 256 of the third block; one comes as a ramp.
    const auto at = static_cast<AUEventSampleTime>(host.position() + 256);
    AURenderEvent events[3] = {testkit::parameterEvent(at, 11, 0.0f), testkit::parameterEvent(at, 12, 0.0f),
                               testkit::parameterEvent(at, 13, 0.0f, AURenderEventType::ParameterRamp)};
    events[0].head.next = &events[1];
    events[1].head.next = &events[2];
    testkit::StdoutCapture capture;
    ASSERT_EQ(host.renderNext(kBlock, events), noErr);
    EXPECT_EQ(capture.finish(), "");

    ASSERT_EQ(host.outL.size(), 3 * kBlock);
    EXPECT_FALSE(silentFrom(host.outL, 2 * kBlock, 2 * kBlock + 256));
    EXPECT_TRUE(silentFrom(host.outL, 2 * kBlock + 256, 3 * kBlock));
    EXPECT_TRUE(silentFrom(host.outR, 2 * kBlock + 256, 3 * kBlock));
    EXPECT_NE(host.outL, std::vector<float>(host.inputL.begin(), host.inputL.begin() + 3 * kBlock));
    // The tree reads what the events left in the kernel.
    for (AUParameterAddress a : {kVolume1, kVolume2, kVolume3})
        EXPECT_EQ(host.unit->parameterTree()->parameterWithAddress(a)->value(), 0.0f);
}

TEST(AudioUnit, RenderingAllocatesNothing) {
    TestHost host;
    host.unit->setMidiOutputEventBlock(
        [](AUEventSampleTime, std::uint8_t, NSInteger, const std::uint8_t*) -> OSStatus { return noErr; });
    host.allocate();
    ASSERT_EQ(host.renderNext(), noErr); // the first render may build lazily made tables
    AURenderEvent events[2] = {
        testkit::parameterEvent(static_cast<AUEventSampleTime>(host.position() + 100), 26, 0.9f),
        testkit::parameterEvent(static_cast<AUEventSampleTime>(host.position() + 300), 123, 0.5f,
                                AURenderEventType::ParameterRamp)};
    events[0].head.next = &events[1];
    testkit::AllocationCounter counter;
    AUAudioUnitStatus status = host.renderNext(kBlock, events);
    for (int i = 0; i < 4; ++i) status = status == noErr ? host.renderNext() : status;
    const auto allocations = counter.count();
    EXPECT_EQ(status, noErr);
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(host.unit->kernelAdapter()->kernel().fReverbSize[0], 0.9f);
}

TEST(AudioUnit, BypassPassesTheInputThrough) {
    TestHost host;
    host.allocate();
    testkit::StdoutCapture capture;
    host.unit->setShouldBypassEffect(true);
    EXPECT_EQ(testkit::splitLines(capture.finish()), Lines{"AUExtension::shouldBypassEffect (did set)"});
    EXPECT_TRUE(host.unit->shouldBypassEffect());
    EXPECT_TRUE(host.unit->kernelAdapter()->kernel().getBypassed());
    ASSERT_EQ(host.renderNext(), noErr);
    ASSERT_EQ(host.renderNext(), noErr);
    EXPECT_EQ(host.outL, std::vector<float>(host.inputL.begin(), host.inputL.begin() + 2 * kBlock));
    EXPECT_EQ(host.outR, std::vector<float>(host.inputR.begin(), host.inputR.begin() + 2 * kBlock));
    host.unit->setShouldBypassEffect(false);
    ASSERT_EQ(host.renderNext(), noErr);
    EXPECT_NE(std::vector<float>(host.outL.end() - kBlock, host.outL.end()),
              std::vector<float>(host.inputL.begin() + 2 * kBlock, host.inputL.begin() + 3 * kBlock));
}

TEST(AudioUnit, RenderErrorsAreHandedBackAndLoggedFromTheMainLoop) {
    TestHost host;
    host.allocate();
    VirtualClock clock;
    testkit::StdoutCapture duringRender;
    EXPECT_EQ(host.renderNext(kBlock + 1), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(host.renderNext(kBlock), noErr);
    EXPECT_EQ(host.renderNext(kBlock + 2), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(testkit::splitLines(duringRender.finish()), Lines{}) << "the render thread prints nothing";

    testkit::StdoutCapture onTheMainLoop;
    clock.advance(0.5);
    EXPECT_EQ(testkit::splitLines(onTheMainLoop.finish()),
              (Lines{"AUExtension::ERROR: We have a problem with the kernel! -10874",
                     "AUExtension::ERROR: We have a problem with the kernel! -10874"}));

    // A deallocation first logs what came before it.
    testkit::StdoutCapture capture;
    EXPECT_EQ(host.renderNext(kBlock + 3), kAudioUnitErr_TooManyFramesToProcess);
    host.unit->deallocateRenderResources();
    EXPECT_EQ(host.renderNext(), kAudioUnitErr_Uninitialized);
    EXPECT_FALSE(host.unit->renderResourcesAllocated());
    EXPECT_EQ(testkit::splitLines(capture.finish()),
              (Lines{"AUExtension::ERROR: We have a problem with the kernel! -10874",
                     "AUExtension::deallocateRenderResources()"}));
}

TEST(AudioUnit, MaximumFramesAndResetReachTheAdapter) {
    TestHost host;
    testkit::StdoutCapture capture;
    host.unit->setMaximumFramesToRender(1024);
    host.unit->reset();
    EXPECT_EQ(testkit::splitLines(capture.finish()),
              (Lines{"AUExtension::maximumFramesToRender (set): 1024", "AUExtension::reset()"}));
    EXPECT_EQ(host.unit->maximumFramesToRender(), 1024u);
    EXPECT_EQ(host.unit->kernelAdapter()->maximumFramesToRender(), 1024u);

    // While allocated the buffers keep their size, and the adapter hears the kept value.
    host.unit->allocateRenderResources();
    testkit::StdoutCapture later;
    host.unit->setMaximumFramesToRender(8192);
    EXPECT_EQ(testkit::splitLines(later.finish()), Lines{"AUExtension::maximumFramesToRender (set): 1024"});
    EXPECT_EQ(host.unit->kernelAdapter()->maximumFramesToRender(), 1024u);
}

TEST(AudioUnit, EditorAddressesOutsideTheTableAreIgnoredWithAWarning) {
    TestHost host;
    Unit& unit = *host.unit;
    std::vector<AUParameterAddress> heard;
    unit.parameterTree()->tokenByAddingParameterObserver(
        [&](AUParameterAddress a, AUValue) { heard.push_back(a); });

    testkit::StdoutCapture capture;
    unit.setParameter(kReverbDamp0, 0.3f);
    unit.setParameter(kReverbDamp0, 0.3f); // same value: the tree stays quiet
    unit.setParameter(90, 0.7f); // no parameter there: silently nothing
    const float none = unit.getParameter(90);
    unit.setParameter(-1, 0.7f);
    unit.setParameter(127, 0.7f);
    const float big = unit.getParameter(std::numeric_limits<std::int32_t>::max());
    const float negative = unit.getParameter(std::numeric_limits<std::int32_t>::min());
    const Lines lines = testkit::splitLines(capture.finish());

    EXPECT_EQ(unit.getParameter(kReverbDamp0), 0.3f);
    EXPECT_EQ(heard, std::vector<AUParameterAddress>{30});
    EXPECT_EQ(none, 0.0f);
    EXPECT_EQ(big, 0.0f);
    EXPECT_EQ(negative, 0.0f);
    EXPECT_EQ(lines, (Lines{"AUExtension::setParameter() : WARNING: The address -1 is invalid.",
                            "AUExtension::setParameter() : WARNING: The address 127 is invalid.",
                            "AUExtension::getParameter() : WARNING: The address 2147483647 is invalid.",
                            "AUExtension::getParameter() : WARNING: The address -2147483648 is invalid."}));
}

TEST(AudioUnit, DumpsTheParameterNamesIndentedByLevel) {
    TestHost host;
    testkit::StdoutCapture capture;
    host.unit->dumpParameters("tree", host.unit->parameterTree().get(), 0);
    host.unit->dumpParameters("none", nullptr, 0);
    const Lines lines = testkit::splitLines(capture.finish());
    ASSERT_EQ(lines.size(), 112u);
    EXPECT_EQ(lines[0], "Orvo Halden Global");
    EXPECT_EQ(lines[1], " Input Volume");
    EXPECT_EQ(lines[111], " Dynamics Release");
}

TEST(AudioUnit, ReleasingTheUnitFreesItAndItsKernel) {
    std::weak_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> adapter;
    std::weak_ptr<AUAudioUnit> unit;
    {
        TestHost host;
        host.allocate();
        ASSERT_EQ(host.renderNext(), noErr);
        host.unit->inputBusses();
        adapter = host.unit->kernelAdapter();
        unit = host.unit;
    }
    EXPECT_TRUE(unit.expired());
    EXPECT_TRUE(adapter.expired());
}
