#include "Orvo_Halden_Extension/MainInterface.h"

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"

namespace {

const CGRect kEditor{0, 0, 680, 600};
// The spectrum sits in the display box, behind the editor's readout.
const CGRect kSpectrum{20, 182, 640, 188};
constexpr float kInitialBrightness = 0.25f;

// A control's action that reaches the controller only while it lives.
template <class Control>
void connect(UIControl& control, const std::weak_ptr<AudioUnitViewController>& weak,
             void (AudioUnitViewController::*action)(Control&), UIControlEvents events) {
    control.addTarget(
        weak.lock().get(),
        [weak, action](UIControl& sender, UIControlEvents) {
            if (const auto controller = weak.lock())
                (controller.get()->*action)(static_cast<Control&>(sender));
        },
        events);
}

// A recogniser on the view whose action reaches the controller only while it lives.
template <class Recognizer>
std::shared_ptr<Recognizer> attach(UIView& view, const std::weak_ptr<AudioUnitViewController>& weak,
                                   void (AudioUnitViewController::*action)(Recognizer&)) {
    auto recognizer = std::make_shared<Recognizer>();
    view.addGestureRecognizer(recognizer);
    recognizer->addTarget(weak.lock().get(), [weak, action](UIGestureRecognizer& sender) {
        if (const auto controller = weak.lock())
            (controller.get()->*action)(static_cast<Recognizer&>(sender));
    });
    return recognizer;
}

}  // namespace

namespace MainInterface {

std::shared_ptr<UIView> build(AudioUnitViewController& c) {
    const std::weak_ptr<AudioUnitViewController> weak =
        std::static_pointer_cast<AudioUnitViewController>(c.shared_from_this());

    auto root = std::make_shared<UIView>(kEditor);
    root->setBackgroundColor(UIColor::black());

    c.pluginView = std::make_shared<UIView>(kEditor);
    c.pluginFrame = std::make_shared<PluginFrameEx>(kEditor);
    c.spectroView = std::make_shared<SpectroView>(kSpectrum);
    c.mainView = std::make_shared<OrvoHaldenView>(kEditor);
    c.pluginView->addSubview(c.pluginFrame);
    c.pluginView->addSubview(c.spectroView);
    c.pluginView->addSubview(c.mainView);
    root->addSubview(c.pluginView);

    // The controls float over the editor; a long press shows the buttons.
    c.contrastButton = std::make_shared<UIButton>(CGRect{12, 12, 88, 28});
    c.contrastButton->setTitle("Contrast");
    c.contrastButton->setHidden(true);
    c.contrastButton->setAlpha(0.5);
    c.freezeButton = std::make_shared<UIButton>(CGRect{108, 12, 88, 28});
    c.freezeButton->setTitle("Freeze");
    c.freezeButton->setHidden(true);
    c.brightnessSlider = std::make_shared<UISlider>(CGRect{204, 12, 240, 28});
    c.brightnessSlider->setRange(0, 1);
    c.brightnessSlider->setValue(kInitialBrightness);
    c.brightnessSlider->setHidden(true);
    root->addSubview(c.contrastButton);
    root->addSubview(c.freezeButton);
    root->addSubview(c.brightnessSlider);

    c.infoView = std::make_shared<UIView>(CGRect{190, 260, 300, 80});
    c.infoView->setBackgroundColor(UIColor{0, 0, 0, 0.75});
    c.infoView->setHidden(true);
    c.infoMessage = std::make_shared<UILabel>(CGRect{10, 10, 280, 60});
    c.infoMessage->setNumberOfLines(0);
    c.infoMessage->attributes.foregroundColor = UIColor::white();
    c.infoMessage->attributes.paragraphStyle.alignment = NSTextAlignment::center;
    c.infoView->addSubview(c.infoMessage);
    root->addSubview(c.infoView);

    connect(*c.contrastButton, weak, &AudioUnitViewController::onContrastButton, UIControlEvent::touchUpInside);
    connect(*c.brightnessSlider, weak, &AudioUnitViewController::onBrightnessSlider, UIControlEvent::valueChanged);
    connect(*c.freezeButton, weak, &AudioUnitViewController::onFreezeButton, UIControlEvent::touchUpInside);

    c.panGesture = attach(*root, weak, &AudioUnitViewController::onPanGesture);
    c.pinchGesture = attach(*root, weak, &AudioUnitViewController::onPinchGesture);
    c.doubleTapGesture = attach(*root, weak, &AudioUnitViewController::onDoubleTapGesture);
    c.doubleTapGesture->numberOfTapsRequired = 2;
    c.tapGesture = attach(*root, weak, &AudioUnitViewController::onTapGesture);
    // A single tap is told only once no second tap has come in time.
    c.tapGesture->requireToFail(c.doubleTapGesture);
    c.longPressGesture = attach(*root, weak, &AudioUnitViewController::onlongPressGesture);
    return root;
}

}  // namespace MainInterface
