#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <limits>

#include "Orvo_Halden_Extension/Extensions.h"
#include "kernel/ParameterAddress.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"

namespace {

const std::vector<int> kChannelCapabilities = {2, 2};
const std::vector<std::string> kMIDIOutputNames = {"Orvo Halden MIDI Out"};

const char* word(bool value) { return value ? "true" : "false"; }

// A name that stays inside the folder it is looked up in.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool hasPresetExtension(const URL& url) {
    std::string extension = url.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return extension == "AUPRESET";
}

std::string presetName(const URL& url) { return url.deletingPathExtension().lastPathComponent(); }

std::int32_t toInt32(NSInteger value) {
    return static_cast<std::int32_t>(std::clamp<NSInteger>(value, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

// Seconds between two passes of the main loop over the render problems.
constexpr TimeInterval kRenderProblemInterval = 0.1;

} // namespace

std::shared_ptr<Orvo_Halden_Extension_AudioUnit>
Orvo_Halden_Extension_AudioUnit::make(const AudioComponentDescription& componentDescription,
                                      AudioComponentInstantiationOptions) {
    printLine("AUExtension::init()");
    printLine(stringValue(componentDescription.componentManufacturer) + " : " +
              stringValue(componentDescription.componentSubType));
    printLine("AUExtension: We will prepare required resources now...");
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

Orvo_Halden_Extension_AudioUnit::~Orvo_Halden_Extension_AudioUnit() { stopPrintingRenderProblems(); }

void Orvo_Halden_Extension_AudioUnit::stopPrintingRenderProblems() {
    if (renderProblemPrinter_) renderProblemPrinter_->invalidate();
    renderProblemPrinter_.reset();
    printRenderProblems(*renderProblems_);
}

void Orvo_Halden_Extension_AudioUnit::printRenderProblems(RenderProblems& problems) {
    const std::size_t dropped = problems.drain([](AUAudioUnitStatus status) {
        printLine("AUExtension::ERROR: We have a problem with the kernel! " + std::to_string(status));
    });
    if (dropped > 0)
        printLine("AUExtension::WARNING: " + std::to_string(dropped) +
                  " more problems with the kernel came too fast to be shown.");
}

void Orvo_Halden_Extension_AudioUnit::debugprint(const std::string& text) { printLine(text); }

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
    debugprint("AUExtension::midiOutputNames: " + describeList(kMIDIOutputNames));
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
    // Rendering sends to the block set last, from the next render call on.
    kernelAdapter_->setAUMIDIOutputEventBlock(midiOutputEventBlock_);
}

void Orvo_Halden_Extension_AudioUnit::allocateRenderResources() {
    debugprint("AUExtension::allocateRenderResources()");
    const std::size_t outputs = outputBusses()->count();
    for (std::size_t i = 0; i < outputs; ++i) (*outputBusses())[i]->setShouldAllocateBuffer(true);
    try {
        allocateRenderResourcesFor(*inputBusArray(), *outputBusArray(), kChannelCapabilities);
        kernelAdapter_->allocateRenderResources();
        if (!renderProblemPrinter_)
            renderProblemPrinter_ = printOnMainLoop(renderProblems_, kRenderProblemInterval, printRenderProblems);
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
    stopPrintingRenderProblems();
    debugprint("AUExtension::deallocateRenderResources()");
    kernelAdapter_->deallocateRenderResources();
    AUAudioUnit::deallocateRenderResources();
}

void Orvo_Halden_Extension_AudioUnit::reset() {
    debugprint("AUExtension::reset()");
    kernelAdapter_->reset();
}

AUInternalRenderBlock Orvo_Halden_Extension_AudioUnit::internalRenderBlock() {
    return [adapter = kernelAdapter_, problems = renderProblems_](
               AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
               AUAudioFrameCount frameCount, NSInteger outputBusNumber, AudioBufferList* outputData,
               const AURenderEvent* realtimeEventListHead,
               const AURenderPullInputBlock& pullInputBlock) -> AUAudioUnitStatus {
        const AUAudioUnitStatus status = adapter->render(actionFlags, timestamp, frameCount, outputBusNumber,
                                                         outputData, realtimeEventListHead, pullInputBlock);
        if (status != noErr) problems->record(status);
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

// ---------------------------------------------------------------- state and presets

std::weak_ptr<OrvoPresetDelegate> Orvo_Halden_Extension_AudioUnit::weakDelegate() {
    return std::static_pointer_cast<Orvo_Halden_Extension_AudioUnit>(shared_from_this());
}

std::optional<PropertyList::Dictionary> Orvo_Halden_Extension_AudioUnit::fullState() {
    OrvoPreset preset;
    preset.setDescription(componentDescription(), 1, "Preset");
    preset.makeFrom(parameterTree().get());
    fullState_ = preset.getDictionary();
    return fullState_;
}

void Orvo_Halden_Extension_AudioUnit::setFullState(std::optional<PropertyList::Dictionary> state) {
    // The codes first, read without a delegate: a foreign state must not reach
    // the unit, not even in part.
    PropertyList::Dictionary codes;
    if (state)
        for (const char* key : {"type", "subtype", "manufacturer"})
            if (const auto entry = state->find(key); entry != state->end()) codes.insert(*entry);
    OrvoPreset probe;
    probe.makeFrom(codes);
    if (!probe.checkDescription(componentDescription())) {
        debugprint(
            "AUExtension::fullState() : ERROR: The component description of the patch does not match.");
        updateParameters();
        return;
    }
    OrvoPreset preset(weakDelegate());
    restoring([&] {
        preset.makeFrom(state);
        return true;
    });
    fullState_ = preset.getDictionary();
}

bool Orvo_Halden_Extension_AudioUnit::supportsUserPresets() {
    debugprint("AUExtension::supportsUserPresets: true");
    return true;
}

std::vector<AUAudioUnitPreset> Orvo_Halden_Extension_AudioUnit::factoryPresets() {
    const FileManager& files = FileManager::defaultManager();
    const auto folder = files.presetsDirectory();
    if (!folder || !files.fileExists(folder->path())) return {};
    std::vector<std::string> names;
    try {
        names = files.contentsOfDirectory(*folder);
    } catch (const NSError& error) {
        debugprint("Creating factory presets failed: " + error.localizedDescription());
        return presets_;
    }
    std::vector<AUAudioUnitPreset> list;
    for (const auto& name : names) {
        const URL url = folder->appendingPathComponent(name);
        // A folder or a pipe by a preset's name is no preset.
        if (files.regularFileExists(url.path()) && hasPresetExtension(url))
            list.push_back({static_cast<NSInteger>(list.size()), presetName(url)});
    }
    presets_ = std::move(list);
    return presets_;
}

void Orvo_Halden_Extension_AudioUnit::setCurrentPreset(std::optional<AUAudioUnitPreset> preset) {
    if (!preset)
        AUAudioUnit::setCurrentPreset(std::nullopt);
    else if (preset->number < 0)
        selectUserPreset(*preset);
    else
        selectFactoryPreset(*preset);
}

void Orvo_Halden_Extension_AudioUnit::selectUserPreset(const AUAudioUnitPreset& preset) {
    PropertyList::Dictionary state;
    try {
        state = presetState(preset);
    } catch (const NSError&) {
        debugprint("AUExtension::ERROR: Unable to restore set for preset " + preset.name);
        return;
    }
    setFullState(std::move(state));
    AUAudioUnit::setCurrentPreset(preset);
}

void Orvo_Halden_Extension_AudioUnit::selectFactoryPreset(const AUAudioUnitPreset& preset) {
    if (static_cast<std::size_t>(preset.number) >= presets_.size()) {
        debugprint("AUExtension::ERROR: The preset number " + std::to_string(preset.number) + " is invalid.");
        return;
    }
    const auto url = presetFileURL(preset);
    if (!url || !presetFileExists(preset, *url)) return;
    OrvoPreset reader(weakDelegate());
    if (restoring([&] { return reader.load(*url); })) AUAudioUnit::setCurrentPreset(preset);
}

PropertyList::Dictionary Orvo_Halden_Extension_AudioUnit::presetState(const AUAudioUnitPreset& preset) {
    const auto url = presetFileURL(preset);
    if (!url)
        throw NSError(kAudioUnitErr_InvalidPropertyValue,
                      "There is no preset file for '" + preset.name + "'.");
    if (!presetFileExists(preset, *url))
        throw NSError(kAudioUnitErr_InvalidPropertyValue,
                      "The preset file '" + url->path() + "' does not exist.");
    OrvoPreset reader; // no delegate: obtaining a state applies nothing
    if (!reader.load(*url))
        throw NSError(kAudioUnitErr_InvalidPropertyValue,
                      "The preset file '" + url->path() + "' is not readable.");
    // The codes as the file gave them, not the defaults of what it lacked or
    // could not say: only then can the state's check tell a foreign preset.
    PropertyList::Dictionary state = reader.getDictionary();
    state["type"] = reader.componentDescription.componentType;
    state["subtype"] = reader.componentDescription.componentSubType;
    state["manufacturer"] = reader.componentDescription.componentManufacturer;
    return state;
}

std::optional<URL> Orvo_Halden_Extension_AudioUnit::presetFileURL(const AUAudioUnitPreset& preset) {
    if (!isPlainFileName(preset.name)) {
        std::string shown; // a NUL would end the line early
        for (char c : preset.name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
        debugprint("AUExtension::ERROR: The preset name '" + shown + "' is not a file name.");
        return std::nullopt;
    }
    const FileManager& files = FileManager::defaultManager();
    const auto folder = files.presetsDirectory();
    if (!folder) {
        debugprint("AUExtension::ERROR: There is no documents folder for the preset '" + preset.name + "'.");
        return std::nullopt;
    }
    const URL url = folder->appendingPathComponent(preset.name + ".aupreset");
    if (files.fileExists(url.path())) return url;
    // The listing takes the extension in any case; so does selecting.
    try {
        for (const auto& name : files.contentsOfDirectory(*folder)) {
            const URL listed = folder->appendingPathComponent(name);
            if (hasPresetExtension(listed) && presetName(listed) == preset.name) return listed;
        }
    } catch (const NSError&) {
        // No listing: the name as given is all there is.
    }
    return url;
}

bool Orvo_Halden_Extension_AudioUnit::presetFileExists(const AUAudioUnitPreset& preset, const URL& url) {
    if (FileManager::defaultManager().fileExists(url.path())) return true;
    debugprint("AUExtension::ERROR: The preset file '" + preset.name + ".aupreset' does not exist.");
    return false;
}

bool Orvo_Halden_Extension_AudioUnit::restoring(const std::function<bool()>& read) {
    heldSplits_ = {true, std::nullopt, std::nullopt};
    const bool done = read();
    heldSplits_.holding = false;
    applyHeldSplits();
    return done;
}

void Orvo_Halden_Extension_AudioUnit::applyHeldSplits() {
    const auto [holding, split1, split2] = std::exchange(heldSplits_, {});
    (void)holding;
    // Whichever goes first must not be clamped by the other's old value.
    if (split1 && split2 && *split1 > getParameter(kSplit2)) {
        setParameter(kSplit2, *split2);
        setParameter(kSplit1, *split1);
        return;
    }
    if (split1) setParameter(kSplit1, *split1);
    if (split2) setParameter(kSplit2, *split2);
}

void Orvo_Halden_Extension_AudioUnit::onFoundParameter(std::int64_t, const std::string&,
                                                       std::uint64_t address, float value) {
    if (address > Orvo_Halden_Extension_DSPKernel::kLastAddress) {
        debugprint("AUExtension::onFoundParameter() : WARNING: The address " + std::to_string(address) +
                   " is invalid.");
        return;
    }
    const auto editorAddress = static_cast<std::int32_t>(address);
    if (heldSplits_.holding && address == kSplit1)
        heldSplits_.split1 = value;
    else if (heldSplits_.holding && address == kSplit2)
        heldSplits_.split2 = value;
    else
        setParameter(editorAddress, value);
}

void Orvo_Halden_Extension_AudioUnit::updateParameters() {
    const auto tree = parameterTree();
    if (!tree) {
        debugprint("OrvoTamber_AudioUnit::updateParameters() : ERROR: The parameter tree is nil.");
        return;
    }
    for (const auto& parameter : tree->allParameters())
        setParameter(static_cast<std::int32_t>(parameter->address()), parameter->value());
}

// ---------------------------------------------------------------- meters and spectrum

float Orvo_Halden_Extension_AudioUnit::getPeakInput() { return kernelAdapter_->getPeakInput(); }

float Orvo_Halden_Extension_AudioUnit::getPeakOutput() { return kernelAdapter_->getPeakOutput(); }

float* Orvo_Halden_Extension_AudioUnit::getMagnitudes() { return kernelAdapter_->getMagnitutes(); }

float Orvo_Halden_Extension_AudioUnit::getChromaticFrequency(NSInteger note) {
    return kernelAdapter_->getChromaticFrequency(toInt32(note));
}

float* Orvo_Halden_Extension_AudioUnit::getMagnitudesScaled(NSInteger count, float scaling) {
    return kernelAdapter_->getMagnitutesScaled(toInt32(count), scaling);
}
