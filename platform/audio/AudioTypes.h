#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio/Block.h"

// Render-side vocabulary of the audio-unit API: statuses, buffers, time
// stamps, render events and the host's blocks.

using OSStatus = std::int32_t;
using AUAudioUnitStatus = OSStatus;
using AUParameterAddress = std::uint64_t;
using AUValue = float;
using AUAudioFrameCount = std::uint32_t;
using AUEventSampleTime = std::int64_t;
using AVAudioFrameCount = std::uint32_t;
using AVAudioChannelCount = std::uint32_t;
using AudioUnitRenderActionFlags = std::uint32_t;
using NSInteger = std::int64_t;

constexpr OSStatus noErr = 0;
constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
constexpr OSStatus kAudioUnitErr_NoConnection = -10876;
constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;

struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

// A list of non-interleaved buffers. The buffers live elsewhere
// (AudioBufferListStorage, a PCM buffer or the host), so any count is safe.
struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer* mBuffers = nullptr;
};

// Owns the buffer descriptors of one AudioBufferList.
class AudioBufferListStorage {
public:
    explicit AudioBufferListStorage(std::uint32_t bufferCount = 0) { resize(bufferCount); }
    AudioBufferListStorage(const AudioBufferListStorage&) = delete;
    AudioBufferListStorage& operator=(const AudioBufferListStorage&) = delete;

    void resize(std::uint32_t bufferCount) {
        buffers_.assign(bufferCount, AudioBuffer{});
        list_.mNumberBuffers = bufferCount;
        list_.mBuffers = buffers_.data();
    }

    AudioBufferList* get() { return &list_; }
    const AudioBufferList* get() const { return &list_; }

private:
    std::vector<AudioBuffer> buffers_;
    AudioBufferList list_;
};

enum : std::uint32_t {
    kAudioTimeStampSampleTimeValid = 1u << 0,
    kAudioTimeStampHostTimeValid = 1u << 1,
};

struct AudioTimeStamp {
    double mSampleTime = 0.0;
    std::uint64_t mHostTime = 0;
    double mRateScalar = 1.0;
    std::uint32_t mFlags = kAudioTimeStampSampleTimeValid;
};

enum class AURenderEventType : std::uint8_t {
    Parameter = 1,
    ParameterRamp = 2,
    MIDI = 8,
    MIDISysEx = 9,
    MIDIEventList = 10,
};

union AURenderEvent;

struct AURenderEventHeader {
    AURenderEvent* next = nullptr;
    AUEventSampleTime eventSampleTime = 0;
    AURenderEventType eventType = AURenderEventType::Parameter;
    std::uint8_t reserved = 0;
};

struct AUParameterEvent {
    AURenderEvent* next = nullptr;
    AUEventSampleTime eventSampleTime = 0;
    AURenderEventType eventType = AURenderEventType::Parameter;
    std::uint8_t reserved[3] = {};
    AUAudioFrameCount rampDurationSampleFrames = 0;
    AUParameterAddress parameterAddress = 0;
    AUValue value = 0.0f;
};

struct AUMIDIEvent {
    AURenderEvent* next = nullptr;
    AUEventSampleTime eventSampleTime = 0;
    AURenderEventType eventType = AURenderEventType::MIDI;
    std::uint8_t reserved = 0;
    std::uint16_t length = 0;
    std::uint8_t cable = 0;
    std::uint8_t data[3] = {};
};

// The three forms share their leading fields, so `head` is readable
// whichever form was written.
union AURenderEvent {
    AURenderEventHeader head;
    AUParameterEvent parameter;
    AUMIDIEvent MIDI;

    AURenderEvent() : head() {}
};

using AURenderPullInputBlock = Block<AUAudioUnitStatus(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger inputBusNumber, AudioBufferList* inputData)>;

using AUInternalRenderBlock = Block<AUAudioUnitStatus(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger outputBusNumber, AudioBufferList* outputData, const AURenderEvent* realtimeEventListHead,
    const AURenderPullInputBlock& pullInputBlock)>;

using AUMIDIOutputEventBlock = Block<OSStatus(AUEventSampleTime eventSampleTime, std::uint8_t cable,
                                              NSInteger length, const std::uint8_t* midiBytes)>;

using AUScheduleMIDIEventBlock = Block<void(AUEventSampleTime eventSampleTime, std::uint8_t cable,
                                            NSInteger length, const std::uint8_t* midiBytes)>;

using AUHostMusicalContextBlock = Block<bool(
    double* currentTempo, double* timeSignatureNumerator, NSInteger* timeSignatureDenominator,
    double* currentBeatPosition, NSInteger* sampleOffsetToNextBeat, double* currentMeasureDownbeatPosition)>;

using AUHostTransportStateFlags = std::uint32_t;
using AUHostTransportStateBlock =
    Block<bool(AUHostTransportStateFlags* transportStateFlags, double* currentSamplePosition,
               double* cycleStartBeatPosition, double* cycleEndBeatPosition)>;
