#include "Orvo_Halden_Extension/AudioUnitViewController.h"

#include <limits>

#include "Orvo_Halden_Extension/Extensions.h"
#include "Orvo_Halden_Extension/MainInterface.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UISlider.h"

namespace {

constexpr TimeInterval kRedrawInterval = 0.04;

// Addresses reach the tree as unsigned 64-bit numbers; a negative one names no parameter.
std::shared_ptr<AUParameter> parameterAt(const AUParameterTree& tree, NSInteger address) {
    if (address < 0)
        return nullptr;
    return tree.parameterWithAddress(static_cast<AUParameterAddress>(address));
}

void printUnavailable(NSInteger address) {
    printLine("AudioUnitViewController: ERROR: The parameter address " + std::to_string(address) +
              " is not available.");
}

std::int32_t narrowAddress(NSInteger address) {
    // Out of range is out of the table too; the unit ignores it with a warning.
    if (address < std::numeric_limits<std::int32_t>::min() || address > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(address);
}

}  // namespace

std::shared_ptr<AudioUnitViewController> AudioUnitViewController::make() {
    return std::make_shared<AudioUnitViewController>();
}

AudioUnitViewController::~AudioUnitViewController() {
    // Nothing may call back into a controller that is gone.
    if (timer_)
        timer_->invalidate();
    stopObserving();
}

// None for a controller that no std::shared_ptr holds: it reaches nothing later.
std::shared_ptr<AudioUnitViewController> AudioUnitViewController::self() {
    return std::static_pointer_cast<AudioUnitViewController>(weak_from_this().lock());
}

std::weak_ptr<AudioUnitViewController> AudioUnitViewController::weakSelf() { return self(); }

// ---- The unit -------------------------------------------------------------------

std::shared_ptr<AUAudioUnit> AudioUnitViewController::createAudioUnit(
    const AudioComponentDescription& componentDescription) {
    setAudioUnit(Orvo_Halden_Extension_AudioUnit::make(componentDescription, 0));
    return audioUnit();
}

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> AudioUnitViewController::audioUnit() const {
    std::lock_guard lock(unitLock_);
    return audioUnit_;
}

void AudioUnitViewController::setAudioUnit(std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit) {
    {
        std::lock_guard lock(unitLock_);
        audioUnit_ = std::move(unit);
    }
    printLine("AU Diagnostics: AUAudioUnit::didSet()");
    auto controller = self();
    if (!controller)
        return;
    ++pendingHandOvers_;
    DispatchQueue::main().async([controller = std::move(controller)] {
        --controller->pendingHandOvers_;
        if (controller->isViewLoaded())
            controller->connectToView();
        else
            printLine("AU Diagnostics: WARNING: Plugin view is not loaded.");
    });
}

void AudioUnitViewController::connectToView() {
    printLine("AU Diagnostics: We are about to connect the audio unit to its view controller.");
    mainView->setViewController(weakSelf());
    setPaths();
    connectParameters();
    updateView();
}

bool AudioUnitViewController::isConnected(Orvo_Halden_Extension_AudioUnit& unit) const {
    return parameterObserverToken_ != 0 && parameterTree_ && observedTree_.lock() == parameterTree_ &&
           parameterTree_ == unit.parameterTree();
}

void AudioUnitViewController::setPaths() {
    if (!audioUnit()) {
        printLine("Error: could not set paths, audio unit is nil.");
        return;
    }
    const auto documents = FileManager::defaultManager().urls(SearchPathDirectory::documentDirectory,
                                                              SearchPathDomainMask::userDomainMask);
    printLine("Audio Unit's documents path is: " + (documents.empty() ? std::string() : documents.front().path()));
    const auto resources = Bundle::main().resourceURL();
    printLine("Audio Unit's resources path is: " + (resources ? resources->path() : std::string()));
}

void AudioUnitViewController::stopObserving() {
    if (const auto tree = observedTree_.lock(); tree && parameterObserverToken_ != 0)
        tree->removeParameterObserver(parameterObserverToken_);
    parameterObserverToken_ = 0;
    observedTree_.reset();
}

void AudioUnitViewController::connectParameters() {
    const auto unit = audioUnit();
    if (!unit) {
        printLine("AU Diagnostics: WARNING: The audio unit is nil.");
        return;
    }
    printLine("AU Diagnostics: Retriving parameters from the audio unit: ");
    parameterTree_ = unit->parameterTree();
    if (!parameterTree_) {
        printLine("AU Diagnostics: Retriving the parameter tree from the audio unit failed.");
        return;
    }
    printLine("ExtensionViewController: Extracting at the parameter tree: ");
    extractParameters("parameterTree", parameterTree_.get(), 0);
    parameters_ = parameterTree_->allParameters();

    // One observer per controller: a second one would mirror every change twice.
    stopObserving();
    parameterObserverToken_ = parameterTree_->tokenByAddingParameterObserver(
        [weak = weakSelf()](AUParameterAddress address, AUValue value) {
            auto controller = weak.lock();
            if (!controller) {
                printLine("AU Diagnostics: The strong self shit is nil.");
                return;
            }
            DispatchQueue::main().async([controller = std::move(controller), address, value] {
                if (controller->mainView)
                    controller->mainView->setParameter(static_cast<NSInteger>(address), value);
            });
        });
    if (parameterObserverToken_ == 0) {
        printLine("ERROR: Could not initialize parameter observer.");
        return;
    }
    observedTree_ = parameterTree_;
    printLine("AU Diagnostics: Connected parameters to the plugins interface.");
}

void AudioUnitViewController::updateView() {
    if (!audioUnit() || !mainView)
        return;
    for (const auto& parameter : parameters_)
        mainView->setParameter(static_cast<NSInteger>(parameter->address()), parameter->value());
}

void AudioUnitViewController::setParameter(NSInteger address, float value) {
    const auto parameter = parameterTree_ ? parameterAt(*parameterTree_, address) : nullptr;
    if (!parameter) {
        printUnavailable(address);
        return;
    }
    parameter->setValue(value);
}

float AudioUnitViewController::getParameter(NSInteger address) {
    if (!parameterTree_)
        return 0;
    const auto parameter = parameterAt(*parameterTree_, address);
    if (!parameter) {
        printUnavailable(address);
        return 0;
    }
    return parameter->value();
}

// ---- The editor's reports -------------------------------------------------------------

void AudioUnitViewController::onOrvoHaldenViewParameter(NSInteger address, float value) {
    if (const auto unit = audioUnit())
        unit->setParameter(narrowAddress(address), value);
}

void AudioUnitViewController::onOrvoHaldenViewOption(NSInteger, float) {}

void AudioUnitViewController::onOrvoTemplateViewParameter(NSInteger address, float value) {
    onOrvoHaldenViewParameter(address, value);
}

void AudioUnitViewController::onOrvoTemplateViewOption(NSInteger, float) {}

// ---- View lifecycle and timer -----------------------------------------------------------

void AudioUnitViewController::loadView() { setView(MainInterface::build(*this)); }

void AudioUnitViewController::viewDidLoad() {
    AUViewController::viewDidLoad();
    mainView->setDelegate(weakSelf());
    mainView->setViewController(weakSelf());
    spectroView->setViewController(weakSelf());
    currentView_ = pluginView;
    currentView_->setHidden(false);
    onBrightnessSlider(*brightnessSlider);
    onFreezeButton(*freezeButton);

    // The timer holds the controller weakly and goes when the controller goes.
    timer_ = Timer::scheduledTimer(kRedrawInterval, true, [weak = weakSelf()](Timer& timer) {
        if (const auto controller = weak.lock())
            controller->onTimer(timer);
        else
            timer.invalidate();
    });

    const auto unit = audioUnit();
    if (!unit) {
        printLine("AudioUnitViewController: WARNING: The audio unit plugin is nil (yet?).");
        return;
    }
    // A unit made before the view loaded, whose hand-over found no view: connect
    // it now. A hand-over still queued connects it itself.
    if (pendingHandOvers_ == 0 && !isConnected(*unit))
        connectToView();
}

void AudioUnitViewController::onTimer(Timer&) {
    const auto unit = audioUnit();
    if (!unit || unit->shouldBypassEffect() || !spectroView)
        return;
    if (isViewVisible(*spectroView))
        spectroView->setNeedsDisplay();
}

bool AudioUnitViewController::isViewVisible(const UIView& view) {
    if (!view.window())
        return false;
    for (const UIView* current = &view;;) {
        const UIView* superview = current->superview();
        if (!superview)
            return true;
        if (!superview->bounds().intersects(current->frame()) || current->isHidden())
            return false;
        current = superview;
    }
}

// ---- Brightness, contrast and freeze -----------------------------------------------------

void AudioUnitViewController::onContrastButton(UIButton& sender) {
    brightnessSlider->setHidden(!brightnessSlider->isHidden());
    const bool hidden = brightnessSlider->isHidden();
    sender.setAlpha(hidden ? 0.5 : 1.0);
    touchesLocked_ = !hidden;
}

void AudioUnitViewController::onBrightnessSlider(UISlider& sender) {
    touchesLocked_ = true;
    pluginFrame->contrast = sender.value();
    pluginFrame->setNeedsDisplay();
    mainView->setContrast(static_cast<CGFloat>(sender.value()));
}

void AudioUnitViewController::onFreezeButton(UIButton& sender) {
    isSizeable_ = !isSizeable_;
    sender.setAlpha(isSizeable_ ? 0.5 : 1.0);
}
