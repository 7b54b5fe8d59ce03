#include <gtest/gtest.h>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "kernel/DSPKernel.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/RenderEvents.h"

namespace {

// Records what the slicing hands to a kernel, in order.
class RecordingKernel : public DSPKernel {
public:
    void process(AUAudioFrameCount frameCount, AUAudioFrameCount bufferOffset) noexcept override {
        log.push_back("process " + std::to_string(frameCount) + " @" + std::to_string(bufferOffset) +
                      (hasMidiOut() ? " with MIDI out" : ""));
    }
    void setParameterAutomated(AUParameterAddress address, AUValue value,
                               AUEventSampleTime time) noexcept override {
        log.push_back("param " + std::to_string(address) + "=" + std::to_string(static_cast<int>(value)) +
                      " t" + std::to_string(time));
    }
    void handleMIDIEvent(const AUMIDIEvent& event) noexcept override {
        log.push_back("midi " + std::to_string(event.data[0]));
    }
    bool hasMidiOut() const { return midiOut != nullptr && *midiOut; }

    std::vector<std::string> log;
};

using testkit::EventList;

AudioTimeStamp at(double sampleTime) {
    AudioTimeStamp ts;
    ts.mSampleTime = sampleTime;
    return ts;
}

using Log = std::vector<std::string>;

} // namespace

TEST(DSPKernelSlicing, EmptyListRendersWholeBufferOnce) {
    RecordingKernel k;
    const auto ts = at(1000);
    k.processWithEvents(&ts, 64, nullptr, nullptr);
    EXPECT_EQ(k.log, (Log{"process 64 @0"}));
}

TEST(DSPKernelSlicing, EventSplitsBufferAtItsSampleTime) {
    RecordingKernel k;
    EventList events;
    events.parameter(1010, 3, 7);
    const auto ts = at(1000);
    k.processWithEvents(&ts, 64, events.head(), nullptr);
    EXPECT_EQ(k.log, (Log{"process 10 @0", "param 3=7 t1010", "process 54 @10"}));
}

TEST(DSPKernelSlicing, LateAndSimultaneousEventsGoFirstInListOrder) {
    RecordingKernel k;
    EventList events;
    events.parameter(990, 1, 1)
        .parameter(1000, 2, 2)
        .midi(1000, AURenderEventType::MIDI, 3, 0x90)
        .parameter(1020, 4, 4, AURenderEventType::ParameterRamp)
        .parameter(1020, 5, 5)
        .midi(1030, AURenderEventType::MIDISysEx, 3, 0xF0);
    const auto ts = at(1000);
    k.processWithEvents(&ts, 32, events.head(), nullptr);
    EXPECT_EQ(k.log, (Log{"param 1=1 t990", "param 2=2 t1000", "midi 144", "process 20 @0", "param 4=4 t1020",
                          "param 5=5 t1020", "process 10 @20", "midi 240", "process 2 @30"}));
}

TEST(DSPKernelSlicing, UnknownEventTypesAreSkipped) {
    RecordingKernel k;
    EventList events;
    events.midi(1000, AURenderEventType::MIDIEventList, 3, 0x90).parameter(1000, 9, 9);
    const auto ts = at(1000);
    k.processWithEvents(&ts, 8, events.head(), nullptr);
    EXPECT_EQ(k.log, (Log{"param 9=9 t1000", "process 8 @0"}));
}

TEST(DSPKernelSlicing, ZeroFramesDoNothing) {
    RecordingKernel k;
    EventList events;
    events.parameter(0, 1, 1);
    const auto ts = at(0);
    k.processWithEvents(&ts, 0, events.head(), nullptr);
    EXPECT_TRUE(k.log.empty());
}

TEST(DSPKernelSlicing, EventPastTheBufferIsCutAtItsEnd) {
    RecordingKernel k;
    EventList events;
    events.parameter(1000 + 500, 1, 1).parameter(1000 + 900, 2, 2);
    const auto ts = at(1000);
    k.processWithEvents(&ts, 64, events.head(), nullptr);
    // Never more frames than the buffer holds; the future event lands after the last frame.
    EXPECT_EQ(k.log, (Log{"process 64 @0", "param 1=1 t1500"}));
}

TEST(DSPKernelSlicing, NegativeAndOddTimeStampsAreSafe) {
    for (double t : {-3.7, std::numeric_limits<double>::quiet_NaN(), 1e30}) {
        RecordingKernel k;
        EventList events;
        events.parameter(5, 1, 1);
        const auto ts = at(t);
        k.processWithEvents(&ts, 16, events.head(), nullptr);
        AUAudioFrameCount total = 0;
        for (const auto& line : k.log)
            if (line.rfind("process ", 0) == 0)
                total += static_cast<AUAudioFrameCount>(std::stoul(line.substr(8)));
        EXPECT_EQ(total, 16u) << t;
    }
    RecordingKernel k;
    k.processWithEvents(nullptr, 4, nullptr, nullptr);
    EXPECT_EQ(k.log, (Log{"process 4 @0"}));
}

TEST(DSPKernelSlicing, EventsAtTheEndsOfTheTimeRangeDoNotOverflow) {
    constexpr auto lowest = std::numeric_limits<AUEventSampleTime>::min();
    constexpr auto highest = std::numeric_limits<AUEventSampleTime>::max();
    struct Case {
        double blockTime;
        AUEventSampleTime eventTime;
        Log expected;
    } cases[] = {
        {512, lowest, {"param 1=1 t" + std::to_string(lowest), "process 64 @0"}},
        {-8.0e18, highest, {"process 64 @0", "param 1=1 t" + std::to_string(highest)}},
        {8.0e18, lowest, {"param 1=1 t" + std::to_string(lowest), "process 64 @0"}},
    };
    for (const auto& c : cases) {
        RecordingKernel k;
        EventList events;
        events.parameter(c.eventTime, 1, 1);
        const auto ts = at(c.blockTime);
        k.processWithEvents(&ts, 64, events.head(), nullptr);
        EXPECT_EQ(k.log, c.expected) << c.blockTime;
    }
}

// The host's block is used during the call and never kept: once the host
// lets it go, nothing of the kernel's holds it alive.
TEST(DSPKernelSlicing, BorrowsTheMidiOutputBlockOnlyDuringTheCall) {
    RecordingKernel k;
    const auto ts = at(0);
    auto closure = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = closure;
    AUMIDIOutputEventBlock block = [closure](AUEventSampleTime, std::uint8_t, NSInteger,
                                             const std::uint8_t*) -> OSStatus { return 0; };
    closure.reset();
    k.processWithEvents(&ts, 1, nullptr, block);
    EXPECT_EQ(k.log, Log{"process 1 @0 with MIDI out"});
    EXPECT_FALSE(k.hasMidiOut());
    block = nullptr;
    EXPECT_TRUE(watch.expired());
}

TEST(DSPKernelSlicing, SlicingAllocatesNothing) {
    DSPKernel k;
    EventList events;
    events.parameter(10, 1, 1).midi(20, AURenderEventType::MIDI, 3, 0x80);
    const AURenderEvent* head = events.head();
    AUMIDIOutputEventBlock block = [](AUEventSampleTime, std::uint8_t, NSInteger,
                                      const std::uint8_t*) -> OSStatus { return 0; };
    const auto ts = at(0);
    testkit::AllocationCounter counter;
    k.processWithEvents(&ts, 64, head, block);
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}

#if defined(__SSE__)
// Inside a render call a subnormal neither comes out of an operation nor goes
// into one as anything but 0; the caller's own mode, whatever it is, is back
// on return.
TEST(DSPKernelRender, FlushesTinyValuesInsideTheCallAndRestoresTheCallersMode) {
    struct Probe : DSPKernel {
        void process(AUAudioFrameCount, AUAudioFrameCount) noexcept override {
            product = small * small; // 1e-40 in plain arithmetic
            sum = subnormal + subnormal;
        }
        volatile float small = 1e-20f, subnormal = 1e-40f;
        float product = -1.0f, sum = -1.0f;
    };
    const unsigned plain = _mm_getcsr();
    constexpr unsigned kFlushToZero = 0x8000u, kDenormalsAreZero = 0x0040u, kRoundDown = 0x2000u;
    for (const unsigned caller : {plain, plain | kFlushToZero | kDenormalsAreZero, plain | kRoundDown}) {
        SCOPED_TRACE(caller);
        Probe k;
        const auto ts = at(0);
        _mm_setcsr(caller);
        k.processWithEvents(&ts, 16, nullptr, nullptr);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(plain);
        EXPECT_EQ(k.product, 0.0f);
        EXPECT_EQ(k.sum, 0.0f);
        EXPECT_EQ(after, caller);
    }
}
#endif
