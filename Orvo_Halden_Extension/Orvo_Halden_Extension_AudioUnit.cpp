#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"

#include <cstdio>
#include <exception>

#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/NSError.h"

namespace {

const std::vector<int> kChannelCapabilities = {2, 2};
const std::vector<std::string> kMIDIOutputNames = {"Orvo Halden MIDI Out"};

void writeLine(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The list as text, the way the log shows lists: ["a", "b"].
std::string describe(const std::vector<std::string>& names) {
    std::string text = "[";
    for (const auto& name : names) text += (text.size() > 1 ? ", \"" : "\"") + name + "\"";
    return text + "]";
}

const char* word(bool value) { return value ? "true" : "false"; }

} // namespace

std::shared_ptr<Orvo_Halden_Extension_AudioUnit>
Orvo_Halden_Extension_AudioUnit::make(const AudioComponentDescription& componentDescription,
                                      AudioComponentInstantiationOptions) {
    writeLine("AUExtension::init()");
    writeLine(stringValue(componentDescription.componentManufacturer) + " : " +
              stringValue(componentDescription.componentSubType));
    writeLine("AUExtension: We will prepare required resources now...");
    std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> adapter =
        Orvo_Halden_ExtensionDSPKernelAdapter::make();
    auto parameters = std::make_shared<Orvo_Halden_Extension_Parameters>(adapter);
    return std::make_shared<Orvo_Halden_Extension_AudioUnit>(Key{}, componentDescription, std::move(adapter),
                                                             std::move(parameters));
}

Orvo_Halden_Extension_AudioUnit::Orvo_Halden_Extension_AudioUnit(
    Key, const AudioComponentDescription& componentDescription,
    std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> kernelAdapter,
    std::shared_ptr<Orvo_Halden_Extension_Parameters> parameters)
    : AUAudioUnit(componentDescription, 0), kernelAdapter_(std::move(kernelAdapter)),
      parameters_(std::move(parameters)) {}

void Orvo_Halden_Extension_AudioUnit::debugprint(const std::string& text) { writeLine(text); }

const std::shared_ptr<AUAudioUnitBusArray>& Orvo_Halden_Extension_AudioUnit::inputBusArray() {
    if (!inputBusArray_)
        inputBusArray_ =
            std::make_shared<AUAudioUnitBusArray>(weak_from_this(), AUAudioUnitBusType::Input,
                                                  AUAudioUnitBusArray::Busses{kernelAdapter_->inputBus()});
    return inputBusArray_;
}

const std::shared_ptr<AUAudioUnitBusArray>& Orvo_Halden_Extension_AudioUnit::outputBusArray() {
    if (!outputBusArray_)
        outputBusArray_ =
            std::make_shared<AUAudioUnitBusArray>(weak_from_this(), AUAudioUnitBusType::Output,
                                                  AUAudioUnitBusArray::Busses{kernelAdapter_->outputBus()});
    return outputBusArray_;
}

std::shared_ptr<AUAudioUnitBusArray> Orvo_Halden_Extension_AudioUnit::inputBusses() {
    debugprint("AUExtension::inputBusses: " + std::to_string(inputBusArray()->count()));
    return inputBusArray();
}

std::shared_ptr<AUAudioUnitBusArray> Orvo_Halden_Extension_AudioUnit::outputBusses() {
    debugprint("AUExtension::outputBusses: " + std::to_string(outputBusArray()->count()));
    return outputBusArray();
}

std::vector<int> Orvo_Halden_Extension_AudioUnit::channelCapabilities() {
    debugprint("AUExtension::channelCapabilities");
    return kChannelCapabilities;
}

double Orvo_Halden_Extension_AudioUnit::latency() {
    debugprint("AUExtension::latency: 0");
    return 0.0;
}

double Orvo_Halden_Extension_AudioUnit::tailTime() {
    debugprint("AUExtension::tailTime: 4.0");
    return 4.0;
}

bool Orvo_Halden_Extension_AudioUnit::canPerformInput() {
    debugprint(std::string("AUExtension::canPerformInput: ") + word(true));
    return true;
}

bool Orvo_Halden_Extension_AudioUnit::canPerformOutput() {
    debugprint(std::string("AUExtension::canPerformOutput: ") + word(true));
    return true;
}

bool Orvo_Halden_Extension_AudioUnit::canProcessInPlace() {
    debugprint(std::string("AUExtension::canProcessInPlace() ") + word(true));
    return true;
}

bool Orvo_Halden_Extension_AudioUnit::isMusicDeviceOrEffect() {
    debugprint(std::string("AUExtension::isMusicDeviceOrEffect: ") + word(true));
    return true;
}

NSInteger Orvo_Halden_Extension_AudioUnit::virtualMIDICableCount() {
    debugprint("AUExtension::virtualMIDICableCount: 1");
    return 1;
}

std::vector<std::string> Orvo_Halden_Extension_AudioUnit::MIDIOutputNames() {
    debugprint("AUExtension::midiOutputNames: " + describe(kMIDIOutputNames));
    return kMIDIOutputNames;
}

std::vector<std::size_t> Orvo_Halden_Extension_AudioUnit::supportedViewConfigurations(
    const std::vector<AUAudioUnitViewConfiguration>&) {
    debugprint("AUExtension::supportedViewConfigurations()");
    return {};
}

std::vector<AUParameterAddress> Orvo_Halden_Extension_AudioUnit::parametersForOverview(NSInteger) {
    debugprint("AUExtension::parametersForOverview()");
    return {};
}

void Orvo_Halden_Extension_AudioUnit::setParameterTree(std::shared_ptr<AUParameterTree>) {
    debugprint("AUExtension::parameterTree (set) !!!");
}

void Orvo_Halden_Extension_AudioUnit::setMaximumFramesToRender(AUAudioFrameCount frames) {
    AUAudioUnit::setMaximumFramesToRender(frames);
    const AUAudioFrameCount stored = maximumFramesToRender();
    debugprint("AUExtension::maximumFramesToRender (set): " + std::to_string(stored));
    kernelAdapter_->setMaximumFramesToRender(stored);
}

void Orvo_Halden_Extension_AudioUnit::setShouldBypassEffect(bool bypass) {
    AUAudioUnit::setShouldBypassEffect(bypass);
    debugprint("AUExtension::shouldBypassEffect (did set)");
    kernelAdapter_->setBypass(shouldBypassEffect());
}

AUMIDIOutputEventBlock Orvo_Halden_Extension_AudioUnit::midiOutputEventBlock() {
    debugprint("AUExtension::midiOutputEventBlock (get) ");
    return midiOutputEventBlock_;
}

void Orvo_Halden_Extension_AudioUnit::setMidiOutputEventBlock(AUMIDIOutputEventBlock block) {
    debugprint("AUExtension::midiOutputEventBlock (set) ");
    midiOutputEventBlock_ = std::move(block);
}

void Orvo_Halden_Extension_AudioUnit::allocateRenderResources() {
    debugprint("AUExtension::allocateRenderResources()");
    const std::size_t outputs = outputBusses()->count();
    for (std::size_t i = 0; i < outputs; ++i) (*outputBusses())[i]->setShouldAllocateBuffer(true);
    try {
        allocateRenderResourcesFor(*inputBusArray(), *outputBusArray(), kChannelCapabilities);
        kernelAdapter_->allocateRenderResources();
    } catch (const std::exception& error) {
        // Nothing half-made may render.
        kernelAdapter_->deallocateRenderResources();
        AUAudioUnit::deallocateRenderResources();
        debugprint(std::string("AUExtension::allocateRenderResources() : ERROR: ") + error.what());
        if (const auto* nsError = dynamic_cast<const NSError*>(&error)) throw *nsError;
        throw NSError(kAudioUnitErr_FailedInitialization, "The render buffers could not be allocated.");
    }
    handOverHostBlocks();
}

void Orvo_Halden_Extension_AudioUnit::handOverHostBlocks() {
    // A block the host left out keeps what the adapter had.
    auto handOver = [this](const char* property, auto read, auto send) {
        if (read()) {
            debugprint(std::string("AUExtension: The property '") + property + "' is defined.");
            send(read());
        } else {
            debugprint(std::string("AUExtension: WARNING: The property '") + property + "' is NOT defined.");
        }
    };
    auto& adapter = *kernelAdapter_;
    handOver(
        "musicalContextBlock", [this] { return musicalContextBlock(); },
        [&adapter](AUHostMusicalContextBlock block) {
            adapter.setAUHostMusicalContextBlock(std::move(block));
        });
    handOver(
        "transportStateBlock", [this] { return transportStateBlock(); },
        [&adapter](AUHostTransportStateBlock block) {
            adapter.setAUHostTransportStateBlock(std::move(block));
        });
    handOver(
        "scheduleMIDIEventBlock", [this] { return scheduleMIDIEventBlock(); },
        [&adapter](AUScheduleMIDIEventBlock block) {
            adapter.setAUScheduleMIDIEventBlock(std::move(block));
        });
    handOver(
        "midiOutputEventBlock", [this] { return midiOutputEventBlock(); },
        [&adapter](AUMIDIOutputEventBlock block) { adapter.setAUMIDIOutputEventBlock(std::move(block)); });
}

void Orvo_Halden_Extension_AudioUnit::deallocateRenderResources() {
    debugprint("AUExtension::deallocateRenderResources()");
    kernelAdapter_->deallocateRenderResources();
    AUAudioUnit::deallocateRenderResources();
}

void Orvo_Halden_Extension_AudioUnit::reset() {
    debugprint("AUExtension::reset()");
    kernelAdapter_->reset();
}

AUInternalRenderBlock Orvo_Halden_Extension_AudioUnit::internalRenderBlock() {
    return [adapter = kernelAdapter_, midiOut = midiOutputEventBlock()](
               AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
               AUAudioFrameCount frameCount, NSInteger outputBusNumber, AudioBufferList* outputData,
               const AURenderEvent* realtimeEventListHead,
               const AURenderPullInputBlock& pullInputBlock) -> AUAudioUnitStatus {
        if (midiOut) adapter->setAUMIDIOutputEventBlock(midiOut);
        const AUAudioUnitStatus status = adapter->render(actionFlags, timestamp, frameCount, outputBusNumber,
                                                         outputData, realtimeEventListHead, pullInputBlock);
        if (status != noErr) {
            std::printf("AUExtension::ERROR: We have a problem with the kernel! %d\n",
                        static_cast<int>(status));
            std::fflush(stdout);
        }
        return status;
    };
}

bool Orvo_Halden_Extension_AudioUnit::acceptsAddress(std::int32_t address, const char* operation) {
    if (address >= 0 &&
        static_cast<AUParameterAddress>(address) <= Orvo_Halden_Extension_DSPKernel::kLastAddress)
        return true;
    debugprint(std::string("AUExtension::") + operation + "() : WARNING: The address " +
               std::to_string(address) + " is invalid.");
    return false;
}

void Orvo_Halden_Extension_AudioUnit::setParameter(std::int32_t address, AUValue value) {
    const auto tree = parameterTree();
    if (!tree || !acceptsAddress(address, "setParameter")) return;
    const auto parameter = tree->parameterWithAddress(static_cast<AUParameterAddress>(address));
    if (!parameter) return;
    if (parameter->value() != value) parameter->setValue(value);
    kernelAdapter_->setParameter(*parameter, value);
}

AUValue Orvo_Halden_Extension_AudioUnit::getParameter(std::int32_t address) {
    const auto tree = parameterTree();
    if (!tree || !acceptsAddress(address, "getParameter")) return 0.0f;
    const auto parameter = tree->parameterWithAddress(static_cast<AUParameterAddress>(address));
    return parameter ? kernelAdapter_->valueForParameter(*parameter) : 0.0f;
}

void Orvo_Halden_Extension_AudioUnit::dumpParameters(const std::string& name, const AUParameterGroup* tree,
                                                     int level) {
    (void)name;
    if (tree == nullptr) return;
    const std::string indent(static_cast<std::size_t>(std::max(level, 0)), ' ');
    for (const auto& child : tree->children()) {
        debugprint(indent + child->displayName());
        if (const auto* group = dynamic_cast<const AUParameterGroup*>(child.get()))
            dumpParameters(child->displayName(), group, level + 1);
    }
}
