#include "Orvo_Halden_Extension/MainInterface.h"

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"

namespace {

// Design points of the editor picture: everything inside the plug-in view
// keeps its place and size in proportion to it, whatever size the fit, a
// pinch or the window gives it.
constexpr CGSize kDesign{680, 600};
const CGRect kEditor{0, 0, kDesign.width, kDesign.height};
// The spectrum sits in the display box, behind the editor's readout.
const CGRect kSpectrum{20, 182, 640, 188};
// The overlay's controls take what the picture leaves free: the buttons the
// gap between the logo and the band-mode buttons, the slider the strip below
// the controls panel. The message shows at the top of the display box.
const CGRect kContrastButton{142, 12, 88, 22};
const CGRect kFreezeButton{142, 38, 88, 22};
const CGRect kBrightnessSlider{20, 580, 640, 17};
const CGRect kInfoBox{170, 186, 340, 44};
const CGRect kInfoText{8, 4, 324, 36};
constexpr float kInitialBrightness = 0.25f;

template <class View>
std::shared_ptr<View> placed(UIView& container, std::shared_ptr<View> view, const CGRect& design,
                             CGSize designSize = kDesign) {
    container.addSubview(view);
    NSLayoutConstraint::pinProportionally(*view, container, design, designSize);
    return view;
}

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
    root->addSubview(c.pluginView);
    UIView& plugin = *c.pluginView;
    c.pluginFrame = placed(plugin, std::make_shared<PluginFrameEx>(kEditor), kEditor);
    c.spectroView = placed(plugin, std::make_shared<SpectroView>(kSpectrum), kSpectrum);
    c.mainView = placed(plugin, std::make_shared<OrvoHaldenView>(kEditor), kEditor);

    // The controls float over the editor; a long press shows the buttons.
    c.contrastButton = placed(plugin, std::make_shared<UIButton>(kContrastButton), kContrastButton);
    c.contrastButton->setTitle("Contrast");
    c.contrastButton->setHidden(true);
    c.contrastButton->setAlpha(0.5);
    c.freezeButton = placed(plugin, std::make_shared<UIButton>(kFreezeButton), kFreezeButton);
    c.freezeButton->setTitle("Freeze");
    c.freezeButton->setHidden(true);
    c.brightnessSlider = placed(plugin, std::make_shared<UISlider>(kBrightnessSlider), kBrightnessSlider);
    c.brightnessSlider->setRange(0, 1);
    c.brightnessSlider->setValue(kInitialBrightness);
    c.brightnessSlider->setHidden(true);
    // In the editor's colours: the accent fills, the track is the plate's grey.
    const OrvoHaldenViewBase& model = c.mainView->baseClass();
    c.brightnessSlider->minimumTrackTintColor = model.colorEmphasize;
    c.brightnessSlider->maximumTrackTintColor = UIColor{0.42, 0.42, 0.44, 1.0};
    c.brightnessSlider->thumbTintColor = model.colorContrastInverted;

    // A message only shows: touches pass through it to the editor.
    c.infoView = placed(plugin, std::make_shared<UIView>(kInfoBox), kInfoBox);
    c.infoView->setBackgroundColor(UIColor{0, 0, 0, 0.75});
    c.infoView->setUserInteractionEnabled(false);
    c.infoView->setHidden(true);
    c.infoMessage = placed(*c.infoView, std::make_shared<UILabel>(kInfoText), kInfoText, kInfoBox.size);
    c.infoMessage->setNumberOfLines(0);
    c.infoMessage->attributes.font = UIFont("Helvetica", 15);
    c.infoMessage->adjustsFontSizeToFitWidth = true;
    c.infoMessage->attributes.foregroundColor = UIColor::white();
    c.infoMessage->attributes.paragraphStyle.alignment = NSTextAlignment::center;

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
