#include "kernel/Orvo_Halden_Extension_DSPKernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "dsp/Denormal.h"
#include "dsp/Modulator.h"

using Kernel = Orvo_Halden_Extension_DSPKernel;

namespace {

// Float to integer index, truncated toward zero, clamped in float first so
// that no value can make the conversion undefined.
int truncIndex(float v) {
    if (!(v > -1.0e6f)) return -1000000;
    if (v > 1.0e6f) return 1000000;
    return static_cast<int>(v);
}

void fill(float* dst, float value, int n) { std::fill(dst, dst + n, value); }

void copy(float* dst, const float* src, int n) {
    if (dst != src) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(float));
}

// dst = dst * a + src * b, per sample.
void blend(float* dst, float a, const float* src, float b, int n) {
    for (int i = 0; i < n; ++i) dst[i] = dst[i] * a + src[i] * b;
}

// A host's NaN or infinity would live on in every feedback path of the chain:
// it hears silence in its place, as it does for a value below the flush level
// (which would only crawl through the chain's arithmetic). Finite samples are
// held to +-1e6 (+120 dBFS), far above any real signal yet far enough below
// the float maximum that no gain, feedback sum or square inside the chain can
// overflow.
constexpr float kInputBound = 1.0e6f;

void admitInput(float* x, int n) {
    for (int i = 0; i < n; ++i)
        x[i] = std::isfinite(x[i]) ? flushDenormal(std::clamp(x[i], -kInputBound, kInputBound)) : 0.0f;
}

// Frames a buffer can hold from `offset` on, given its byte size.
AUAudioFrameCount framesFrom(const AudioBuffer& buffer, AUAudioFrameCount offset) {
    const AUAudioFrameCount capacity = buffer.mDataByteSize / sizeof(float);
    return buffer.mData != nullptr && capacity > offset ? capacity - offset : 0;
}

} // namespace

// Address table: every per-band family, and what a new value sets.
const Kernel::Family Kernel::kFamilies[] = {
    {kActive1, 1, 3, &Kernel::fActive, &Kernel::pushNothing},
    {kVolume1, 1, 3, &Kernel::fVolume, &Kernel::pushNothing, true},
    {kReverbInput0, 0, 4, &Kernel::fReverbInput, &Kernel::pushNothing, true},
    {kReverbDry0, 0, 4, &Kernel::fReverbDry, &Kernel::pushDry, true},
    {kReverbWet0, 0, 4, &Kernel::fReverbWet, &Kernel::pushWet, true},
    {kReverbSize0, 0, 4, &Kernel::fReverbSize, &Kernel::pushSize, true},
    {kReverbDamp0, 0, 4, &Kernel::fReverbDamp, &Kernel::pushDamp, true},
    {kReverbWidth0, 0, 4, &Kernel::fReverbWidth, &Kernel::pushWidth, true},
    {kReverbFreeze0, 0, 4, &Kernel::fReverbFreeze, &Kernel::pushFreeze},
    {kReverbOutput0, 0, 4, &Kernel::fReverbOutput, &Kernel::pushNothing, true},
    {kReverbModel0, 0, 4, &Kernel::fReverbModel, &Kernel::pushModel},
    {kReverbPan0, 0, 4, &Kernel::fReverbPan, &Kernel::pushPan, true},
    {kReverbPreDelay0, 0, 4, &Kernel::fReverbPreDelay, &Kernel::pushNothing},
    {kReverbPreDelayTempo0, 0, 4, &Kernel::fReverbPreDelayTempo, &Kernel::pushPreDelayTempo},
    {kReverbPreDelayDivision0, 0, 4, &Kernel::fReverbPreDelayDivision, &Kernel::pushPreDelayDivision},
    {kReverbPreDelayFeedback0, 0, 4, &Kernel::fReverbPreDelayFeedback, &Kernel::pushPreDelayFeedback},
    {kReverbPostDelay0, 0, 4, &Kernel::fReverbPostDelay, &Kernel::pushNothing},
    {kReverbPostDelayTempo0, 0, 4, &Kernel::fReverbPostDelayTempo, &Kernel::pushPostDelayTempo},
    {kReverbPostDelayDivision0, 0, 4, &Kernel::fReverbPostDelayDivision, &Kernel::pushPostDelayDivision},
    {kReverbPostDelayFeedback0, 0, 4, &Kernel::fReverbPostDelayFeedback, &Kernel::pushPostDelayFeedback},
    {kReverbShift0, 0, 4, &Kernel::fReverbShift, &Kernel::pushNothing},
    {kReverbShiftConnection0, 0, 4, &Kernel::fReverbShiftConnection, &Kernel::pushNothing},
    {kReverbShiftAmount0, 0, 4, &Kernel::fReverbShiftAmount, &Kernel::pushShiftAmount, true},
    {kReverbShiftMix0, 0, 4, &Kernel::fReverbShiftMix, &Kernel::pushNothing, true},
    {kReverbShiftMode0, 0, 4, &Kernel::fReverbShiftMode, &Kernel::pushNothing},
};

Kernel::Orvo_Halden_Extension_DSPKernel() : analyzer(kAnalysisSize, 2, 48000.0f) {
    for (int b = 0; b < kBands; ++b) {
        fActive[b] = 1.0f;
        fVolume[b] = 0.5f;
        fReverbInput[b] = 0.5f;
        fReverbDry[b] = 1.0f;
        fReverbWet[b] = 0.0f;
        fReverbSize[b] = 0.5f;
        fReverbDamp[b] = 0.5f;
        fReverbWidth[b] = 0.5f;
        fReverbFreeze[b] = 0.0f;
        fReverbOutput[b] = 0.5f;
        fReverbModel[b] = 1.0f;
        fReverbPan[b] = 0.5f;
        fReverbPreDelay[b] = 0.0f;
        fReverbPreDelayTempo[b] = 120.0f;
        fReverbPreDelayFeedback[b] = 0.0f;
        fReverbPreDelayDivision[b] = 7.0f;
        fReverbPostDelay[b] = 1.0f;
        fReverbPostDelayTempo[b] = 120.0f;
        fReverbPostDelayFeedback[b] = 0.0f;
        fReverbPostDelayDivision[b] = 7.0f;
        fReverbPhaseSpeed[b] = 0.1f;
        fReverbPhaseAmount[b] = 0.2f;
        fReverbCompress[b] = 0.0f;
        fReverbEnhance[b] = 0.0f;
        fReverbShift[b] = 0.0f;
        fReverbShiftAmount[b] = 0.0f;
        fReverbShiftMix[b] = 0.5f;
        fReverbShiftMode[b] = 0.0f;
        fReverbShiftConnection[b] = 1.0f;
    }
    clearBuffers();
}

// ---- set-up ---------------------------------------------------------------

void Kernel::init(int channelCount, double sampleRate) {
    setSamplerate(static_cast<float>(sampleRate));
    numChannels = channelCount;
    for (int b = 0; b < kBands; ++b) {
        pitch1L[b].setSize(1024);
        pitch1R[b].setSize(1024);
    }
    analyzer.setChromatic(true);
    reset();
}

void Kernel::setSamplerate(float rate) {
    if (!(rate > 0.0f) || !std::isfinite(rate)) return;
    fSamplerate = rate;
    bands.setSamplerate(rate);
    analyzer.setSamplerate(rate);
    compander.setSamplerate(rate);
    for (int b = 0; b < kBands; ++b) {
        reverbA[b].setSamplerate(rate);
        reverbB[b].setSamplerate(rate);
        reverbC[b].setSamplerate(rate);
        reverbD[b].setSamplerate(rate);
        reverbE[b].setSamplerate(rate);
        predelay[b].setSamplerate(rate);
        postdelay[b].setSamplerate(rate);
        pitch1L[b].setSamplerate(rate);
        pitch1R[b].setSamplerate(rate);
        pitch2L[b].setSamplerate(rate);
        pitch2R[b].setSamplerate(rate);
    }
}

void Kernel::reset() noexcept {
    clearBuffers();
    bands.reset();
    analyzer.reset();
    compander.reset();
    for (int b = 0; b < kBands; ++b) {
        reverbA[b].reset();
        reverbB[b].reset();
        reverbC[b].reset();
        reverbD[b].reset();
        reverbE[b].reset();
        predelay[b].reset();
        postdelay[b].reset();
        panpot[b].reset();
        stereo[b].reset();
        pitch1L[b].reset();
        pitch1R[b].reset();
        pitch2L[b].suspend();
        pitch2R[b].suspend();
    }
    peakInput = 0.0f;
    peakOutput = 0.0f;
    // The objects' own resets put tempo, pan, width, cutoffs and follower
    // times back to their defaults: apply the stored values again so that
    // what the host sees is what is heard.
    pushAll();
}

void Kernel::clearBuffers() noexcept {
    for (float* buffer : {wet0L, wet0R, wet1L, wet1R, wet2L, wet2R, wet3L, wet3R})
        fill(buffer, 0.0f, kMaxSlice);
}

// ---- parameter map --------------------------------------------------------

const Kernel::Family* Kernel::findFamily(AUParameterAddress address) {
    for (const Family& family : kFamilies)
        if (address >= family.base && address < family.base + static_cast<AUParameterAddress>(family.count))
            return &family;
    return nullptr;
}

Kernel::Param* Kernel::scalarField(AUParameterAddress address) {
    return const_cast<Param*>(static_cast<const Kernel*>(this)->scalarField(address));
}

const Kernel::Param* Kernel::scalarField(AUParameterAddress address) const {
    switch (address) {
    case kVolumeIn:
        return &fVolumeIn;
    case kVolumeOut:
        return &fVolumeOut;
    case kCurrentMode:
        return &fCurrentMode;
    case kSplit1:
        return &fSplit1;
    case kSplit2:
        return &fSplit2;
    case kDynamicsOn:
        return &fDynamicsOn;
    case kDynamicsMultiplier:
        return &fDynamicsMultiplier;
    case kDynamicsAttack:
        return &fDynamicsAttack;
    case kDynamicsHold:
        return &fDynamicsHold;
    case kDynamicsRelease:
        return &fDynamicsRelease;
    default:
        return nullptr;
    }
}

bool Kernel::storeParameter(AUParameterAddress address, AUValue value) noexcept {
    if (!std::isfinite(value)) return false;
    if (const Family* family = findFamily(address)) {
        const int band = family->firstBand + static_cast<int>(address - family->base);
        (this->*(family->field))[band] = family->dial ? std::clamp(value, 0.0f, 1.0f) : value;
        return true;
    }
    Param* field = scalarField(address);
    if (field == nullptr) return false;
    if (address == kSplit1) value = std::min(std::max(value, 0.0f), static_cast<float>(fSplit2));
    if (address == kSplit2) value = std::min(std::max(value, static_cast<float>(fSplit1)), 1.0f);
    if (address == kDynamicsMultiplier) value = std::clamp(value, -1.0f, 1.0f);
    *field = value;
    return true;
}

void Kernel::pushParameter(AUParameterAddress address) noexcept {
    if (const Family* family = findFamily(address))
        (this->*(family->push))(family->firstBand + static_cast<int>(address - family->base));
    else
        pushScalar(address);
}

void Kernel::setParameter(AUParameterAddress address, AUValue value) noexcept {
    if (storeParameter(address, value)) pushParameter(address);
}

void Kernel::setParameterFromHost(AUParameterAddress address, AUValue value) noexcept {
    if (!storeParameter(address, value)) return;
    if (!renderOwned) {
        pushParameter(address);
        return;
    }
    // Release: the render thread that sees the bit also sees the stored value.
    pendingPushes[address / 64].fetch_or(std::uint64_t{1} << (address % 64), std::memory_order_release);
}

void Kernel::applyPendingParameters() noexcept {
    for (int word = 0; word < 2; ++word) {
        std::uint64_t bits = pendingPushes[word].exchange(0, std::memory_order_acquire);
        while (bits != 0) {
            pushParameter(static_cast<AUParameterAddress>(word * 64 + std::countr_zero(bits)));
            bits &= bits - 1;
        }
    }
}

AUValue Kernel::getParameter(AUParameterAddress address) const noexcept {
    if (const Family* family = findFamily(address))
        return (this->*(family->field))[family->firstBand + static_cast<int>(address - family->base)];
    const Param* field = scalarField(address);
    return field != nullptr ? field->load() : 0.0f;
}

float Kernel::getDivision(float index) {
    static constexpr float kDivisors[20] = {0.0f,  128.0f, 96.0f,     64.0f, 48.0f,     32.0f, 24.0f,
                                            16.0f, 12.0f,  8.0f,      6.0f,  4.0f,      3.0f,  2.0f,
                                            1.0f,  0.5f,   0.333333f, 0.25f, 0.666666f, 0.125f};
    return kDivisors[std::clamp(truncIndex(index), 0, 19)];
}

void Kernel::pushScalar(AUParameterAddress address) noexcept {
    switch (address) {
    case kSplit1:
        bands.setCutoff1(fSplit1);
        break;
    case kSplit2:
        bands.setCutoff2(fSplit2);
        break;
    case kDynamicsMultiplier:
        compander.setMultiplier(fDynamicsMultiplier);
        break;
    case kDynamicsAttack:
        compander.inputFollower.setAttack(fDynamicsAttack);
        break;
    case kDynamicsHold:
        compander.inputFollower.setDecay(fDynamicsHold);
        break;
    case kDynamicsRelease:
        compander.inputFollower.setRelease(fDynamicsRelease);
        break;
    default:
        break;
    }
}

void Kernel::pushAll() noexcept {
    for (auto& word : pendingPushes) word.store(0, std::memory_order_relaxed);
    for (const Family& family : kFamilies)
        for (int i = 0; i < family.count; ++i) (this->*(family.push))(family.firstBand + i);
    // Open the upper split first so the lower one lands where it is stored.
    bands.setCutoff2(1.0f);
    for (AUParameterAddress address :
         {kSplit1, kSplit2, kDynamicsMultiplier, kDynamicsAttack, kDynamicsHold, kDynamicsRelease})
        pushScalar(address);
}

template <class F> void Kernel::withModel(int b, F&& f) {
    switch (truncIndex(fReverbModel[b])) {
    case 0:
        f(reverbA[b]);
        break;
    case 1:
        f(reverbB[b]);
        break;
    case 2:
        f(reverbC[b]);
        break;
    case 3:
        f(reverbD[b]);
        break;
    case 4:
        f(reverbE[b]);
        break;
    default:
        break;
    }
}

void Kernel::pushDry(int b) {
    withModel(b, [&](auto& model) { model.setdry(fReverbDry[b]); });
}
void Kernel::pushWet(int b) {
    withModel(b, [&](auto& model) { model.setwet(fReverbWet[b]); });
}
void Kernel::pushSize(int b) {
    withModel(b, [&](auto& model) { model.setroomsize(fReverbSize[b]); });
}
void Kernel::pushDamp(int b) {
    withModel(b, [&](auto& model) { model.setdamp(fReverbDamp[b]); });
}
void Kernel::pushWidth(int b) {
    withModel(b, [&](auto& model) { model.setwidth(fReverbWidth[b]); });
    stereo[b].setValue(fReverbWidth[b] * 2.0f - 1.0f);
}
void Kernel::pushFreeze(int b) {
    withModel(b, [&](auto& model) { model.setmode(fReverbFreeze[b]); });
}

// A newly selected model takes the band's stored settings, so it sounds as
// the parameters say.
void Kernel::pushModel(int b) {
    withModel(b, [&](auto& model) {
        model.setdry(fReverbDry[b]);
        model.setwet(fReverbWet[b]);
        model.setroomsize(fReverbSize[b]);
        model.setdamp(fReverbDamp[b]);
        model.setwidth(fReverbWidth[b]);
        model.setmode(fReverbFreeze[b]);
    });
}

void Kernel::pushPan(int b) { panpot[b].setValue(fReverbPan[b] * 2.0f - 1.0f, 0); }

void Kernel::pushShiftAmount(int b) {
    const float ratio = fReverbShiftAmount[b] * 2.0f;
    pitch1L[b].setShift(ratio);
    pitch1R[b].setShift(ratio);
    pitch2L[b].setShift(ratio);
    pitch2R[b].setShift(ratio);
}

void Kernel::handleMIDIEvent(const AUMIDIEvent& midiEvent) noexcept {
    if (midiEvent.length > 0) {
        switch (midiEvent.data[0]) {
        case 0xF8:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFF:
            return;
        default:
            break;
        }
    }
    if (midiOut && *midiOut && midiThru) {
        const std::uint16_t length = std::min<std::uint16_t>(midiEvent.length, 3);
        (*midiOut)(midiEvent.eventSampleTime, 0, length, midiEvent.data);
    }
}

// ---- processing -----------------------------------------------------------

float* Kernel::wetLeft(int b) {
    float* const buffers[kBands] = {wet0L, wet1L, wet2L, wet3L};
    return buffers[b];
}

float* Kernel::wetRight(int b) {
    float* const buffers[kBands] = {wet0R, wet1R, wet2R, wet3R};
    return buffers[b];
}

void Kernel::process(AUAudioFrameCount frameCount, AUAudioFrameCount bufferOffset) noexcept {
    applyPendingParameters();
    // Long slices run in chunks the fixed buffers can hold.
    while (frameCount > 0) {
        const AUAudioFrameCount n = std::min(frameCount, kMaxSlice);
        processSlice(n, bufferOffset);
        frameCount -= n;
        bufferOffset += n;
    }
}

void Kernel::processSlice(AUAudioFrameCount frames, AUAudioFrameCount offset) noexcept {
    if (inBufferListPtr == nullptr || outBufferListPtr == nullptr) return;
    const AudioBufferList& in = *inBufferListPtr;
    AudioBufferList& out = *outBufferListPtr;

    // Never read or write past either list or any of its buffers.
    const std::uint32_t channels = std::min(
        {static_cast<std::uint32_t>(std::max(numChannels, 0)), in.mNumberBuffers, out.mNumberBuffers});
    AUAudioFrameCount n = frames;
    for (std::uint32_t c = 0; c < channels; ++c)
        n = std::min({n, framesFrom(in.mBuffers[c], offset), framesFrom(out.mBuffers[c], offset)});
    if (n == 0) return;
    for (std::uint32_t c = 0; c < channels; ++c)
        copy(static_cast<float*>(out.mBuffers[c].mData) + offset,
             static_cast<const float*>(in.mBuffers[c].mData) + offset, static_cast<int>(n));

    if (bBypass || numChannels != 2 || channels < 2) return;

    float* L = static_cast<float*>(out.mBuffers[0].mData) + offset;
    float* R = static_cast<float*>(out.mBuffers[1].mData) + offset;
    const int count = static_cast<int>(n);
    const int mode = truncIndex(fCurrentMode);
    admitInput(L, count);
    admitInput(R, count);

    if (mode != 0) {
        bands.split(L, R, count);
        float* const bandL[kBands] = {nullptr, bands.getLPLeft(), bands.getBPLeft(), bands.getHPLeft()};
        float* const bandR[kBands] = {nullptr, bands.getLPRight(), bands.getBPRight(), bands.getHPRight()};
        for (int b = 1; b < kBands; ++b) {
            if (fReverbPreDelay[b] == 1.0f && fReverbPreDelayDivision[b] != 0.0f)
                preprocess(b, bandL[b], bandR[b], bandL[b], bandR[b], count);
            if (fReverbShift[b] == 1.0f && fReverbShiftConnection[b] == 0.0f)
                subshiftpre(b, bandL[b], bandR[b], wetLeft(b), wetRight(b), count);
            else
                subprocess(b, bandL[b], bandR[b], wetLeft(b), wetRight(b), count);
            processmix(b, bandL[b], bandR[b], wetLeft(b), wetRight(b), count);
        }
        const float g1 = fVolume[1] * 2.0f, g2 = fVolume[2] * 2.0f, g3 = fVolume[3] * 2.0f;
        for (int i = 0; i < count; ++i) {
            L[i] = wet1L[i] * g1 + wet2L[i] * g2 + wet3L[i] * g3;
            R[i] = wet1R[i] * g1 + wet2R[i] * g2 + wet3R[i] * g3;
        }
    } else {
        if (fReverbPreDelay[0] == 1.0f && fReverbPreDelayDivision[0] != 0.0f)
            preprocess(0, L, R, L, R, count);
        if (fReverbShift[0] == 1.0f && fReverbShiftConnection[0] == 0.0f)
            subshiftpre(0, L, R, wet0L, wet0R, count);
        else
            subprocess(0, L, R, wet0L, wet0R, count);
        const float dry = fReverbDry[0];
        const float wet = fReverbWet[0] * (fReverbOutput[0] * 2.0f);
        for (int i = 0; i < count; ++i) {
            L[i] = L[i] * dry + wet0L[i] * wet;
            R[i] = R[i] * dry + wet0R[i] * wet;
        }
    }

    // The analyser sees the shown band before the limiter.
    switch (mode) {
    case 0:
        analyzer.process(L, R, count);
        break;
    case 1:
        analyzer.process(wet1L, wet1R, count);
        break;
    case 2:
        analyzer.process(wet2L, wet2R, count);
        break;
    case 3:
        analyzer.process(wet3L, wet3R, count);
        break;
    default:
        break;
    }

    if (fDynamicsOn == 1.0f) compander.processBuffers(L, R, count);
    // Gains below one can take a fading tail under the flush level.
    flushDenormals(L, count);
    flushDenormals(R, count);
    peakInput = compander.inputFollower.getPeak();
    peakOutput = compander.outputFollower.getPeak();
}

void Kernel::preprocess(int b, float* inL, float* inR, float* outL, float* outR, int n) {
    if (fActive[b] == 0.0f) {
        fill(outL, 0.0f, n);
        fill(outR, 0.0f, n);
        return;
    }
    copy(tempL, inL, n);
    copy(tempR, inR, n);
    if (fReverbPreDelay[b] == 1.0f && fReverbPreDelayDivision[b] > 0.0f)
        predelay[b].processBuffer(outL, outR, outL, outR, n);
    blend(outL, 0.5f, tempL, 0.5f, n);
    blend(outR, 0.5f, tempR, 0.5f, n);
}

void Kernel::subprocess(int b, float* inL, float* inR, float* wetL, float* wetR, int n) {
    bool rendered = false;
    if (fActive[b] != 0.0f) {
        const float gain = fReverbInput[b] * 2.0f;
        withModel(b, [&](auto& model) {
            model.process(inL, inR, wetL, wetR, n, gain, 1);
            rendered = true;
        });
    }
    // An inactive band, or a model index that names no model, is silent.
    if (!rendered) {
        fill(wetL, 0.0f, n);
        fill(wetR, 0.0f, n);
        return;
    }
    postprocess(b, wetL, wetR, n);
}

void Kernel::postprocess(int b, float* L, float* R, int n) {
    if (fReverbShift[b] == 1.0f && fReverbShiftConnection[b] == 1.0f) subshiftpost(b, L, R, L, R, n);
    stereo[b].processBufferInpalce(L, R, n);
    if (fReverbPostDelay[b] == 1.0f && fReverbPostDelayDivision[b] > 0.0f)
        postdelay[b].processBuffer(L, R, L, R, n);
    panpot[b].processBuffer(L, R, n);
}

void Kernel::shiftTemp(int b, int n, int mode) {
    if (mode == 1) {
        pitch1L[b].process(tempL, n);
        pitch1R[b].process(tempR, n);
    } else if (mode == 2) {
        pitch2L[b].processBuffer(tempL, n);
        pitch2R[b].processBuffer(tempR, n);
    }
}

void Kernel::subshiftpre(int b, float* inL, float* inR, float* wetL, float* wetR, int n) {
    const int mode = truncIndex(fReverbShiftMode[b]);
    if (fReverbShiftAmount[b] == 0.0f || mode == 0) {
        subprocess(b, inL, inR, wetL, wetR, n);
        return;
    }
    if (fActive[b] == 0.0f) {
        fill(wetL, 0.0f, n);
        fill(wetR, 0.0f, n);
        return;
    }
    copy(tempL, inL, n);
    copy(tempR, inR, n);
    shiftTemp(b, n, mode);
    subprocess(b, tempL, tempR, wetL, wetR, n);
    const float mix = fReverbShiftMix[b];
    blend(wetL, 1.0f - mix, tempL, mix, n);
    blend(wetR, 1.0f - mix, tempR, mix, n);
}

void Kernel::subshiftpost(int b, float* inL, float* inR, float* outL, float* outR, int n) {
    if (fReverbShiftAmount[b] == 0.0f) return;
    if (fActive[b] == 0.0f) {
        fill(outL, 0.0f, n);
        fill(outR, 0.0f, n);
        return;
    }
    const int mode = truncIndex(fReverbShiftMode[b]);
    if (mode == 0) return;
    copy(tempL, inL, n);
    copy(tempR, inR, n);
    shiftTemp(b, n, mode);
    const float mix = fReverbShiftMix[b];
    blend(outL, 1.0f - mix, tempL, mix, n);
    blend(outR, 1.0f - mix, tempR, mix, n);
}

void Kernel::processmix(int b, float* inL, float* inR, float* wetL, float* wetR, int n) {
    const float dry = fReverbDry[b];
    const float wet = fReverbWet[b] * (fReverbOutput[b] * 2.0f);
    for (int i = 0; i < n; ++i) {
        wetL[i] = inL[i] * dry + wetL[i] * wet;
        wetR[i] = inR[i] * dry + wetR[i] * wet;
    }
}

// ---- spectrum -------------------------------------------------------------

float* Kernel::getMagnitudes() { return analyzer.scala.getChromatic(0, 137, true); }

float* Kernel::getMagnitudesScaled(int count, float scaling) {
    count = std::clamp(count, 1, static_cast<int>(kMaxSlice));
    scaleSpectrum(analyzer.getMagnitudesNormalized(), analyzer.getFrequencies(), analyzer.getSize() / 4,
                  count, scaling, scaled_magnitudes, scaled_frequencies);
    return scaled_magnitudes;
}

float Kernel::getFrequency(int note) {
    if (note < 1 || note > 127) return 0.0f;
    return analyzer.scala.getFrequency(note);
}

void Kernel::scaleSpectrum(const float* mags, const float* freqs, int bins, int count, float scaling,
                           float* scaledMagnitudes, float* scaledFrequencies) const {
    fill(scaledMagnitudes, 0.0f, count);
    fill(scaledFrequencies, 0.0f, count);
    const float top = fSamplerate / 4.0f;
    const float last = static_cast<float>(count - 1);
    const float s = scaling >= 0.0f ? std::min(scaling, 1.0f) : 0.0f;
    for (int k = 0; k < bins; ++k) {
        float x = freqs[k] / top;
        x = x >= 0.0f ? std::min(x, 1.0f) : 0.0f; // NaN lands at 0
        const float position = s == 0.0f ? x : Modulator::getValueFrequencyScaledInv(x) * s + x * (1.0f - s);
        const int j = std::clamp(truncIndex(position * last), 0, count - 1);
        scaledMagnitudes[j] += mags[k];
        scaledFrequencies[j] += freqs[k];
        scaledFrequencies[j] *= 0.5f;
    }
    for (int j = 0; j < count; ++j) scaledMagnitudes[j] = std::sqrt(std::max(scaledMagnitudes[j], 0.0f));
}
