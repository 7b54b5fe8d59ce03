#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/OrvoHaldenView.h"
#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/audio/AUParameterTree.h"
#include "platform/ui/AUViewController.h"
#include "platform/ui/UIDocumentPickerViewController.h"
#include "platform/ui/UIGestureRecognizer.h"

class Orvo_Halden_Extension_AudioUnit;
class PluginFrameEx;
class SpectroView;
class Timer;
class UIButton;
class UILabel;
class UISlider;

// The plug-in's principal class: makes the audio unit for hosts, connects
// its parameter tree to the editor in both directions, and runs the editor's
// controls and its spectrum redraw timer.
//
// Ownership: the controller owns its unit and its views; views, timer and
// tree observer reach the controller weakly, so dropping the controller
// frees the unit (and its delay lines). Main thread, except createAudioUnit
// and setAudioUnit, which a host may call on any thread.
class AudioUnitViewController final : public AUViewController,
                                      public AUAudioUnitFactory,
                                      public OrvoHaldenViewDelegate,
                                      public OrvoHaldenViewOwner,
                                      public UIDocumentPickerDelegate {
public:
    // Always held by a std::shared_ptr: hand-overs, views and the timer reach it through it.
    static std::shared_ptr<AudioUnitViewController> make();
    AudioUnitViewController() = default;
    ~AudioUnitViewController() override;

    // ---- The unit ----------------------------------------------------------
    // Makes a unit and hands it over; throws the unit's NSError, keeping the
    // unit there was.
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription& componentDescription) override;
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const override;
    // Every assignment (none and the same unit included) hands the unit to the
    // editor on the main queue.
    void setAudioUnit(std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit);

    void setPaths();
    // Stores the unit's tree, lists it, and observes it (instead of the tree
    // observed before).
    void connectParameters();
    // Pushes every current value into the editor.
    void updateView();

    // One parameter of the connected tree by address.
    void setParameter(NSInteger address, float value);
    float getParameter(NSInteger address);

    // ---- The editor's reports ------------------------------------------------
    void onOrvoHaldenViewParameter(NSInteger address, float value) override;
    void onOrvoHaldenViewOption(NSInteger address, float value) override;
    void onOrvoTemplateViewParameter(NSInteger address, float value);
    void onOrvoTemplateViewOption(NSInteger address, float value);

    // Whether the editor follows the unit through observers; nothing reads it.
    bool useObservers = true;

    bool touchesLocked() const { return touchesLocked_; }
    void setTouchesLocked(bool locked) override { touchesLocked_ = locked; }
    bool isSizeable() const { return isSizeable_; }

    // ---- View lifecycle and timer -------------------------------------------
    void loadView() override;
    void viewDidLoad() override;
    void onTimer(Timer& instance);
    // On screen: in a window, not hidden below the top, and inside the bounds
    // of every superview on the way up.
    static bool isViewVisible(const UIView& view);
    std::shared_ptr<UIView> currentView() const { return currentView_; }

    // ---- Brightness, contrast and freeze -------------------------------------
    void onContrastButton(UIButton& sender);
    void onBrightnessSlider(UISlider& sender);
    void onFreezeButton(UIButton& sender);

    // ---- Layout and gestures --------------------------------------------------
    // Every layout pass outside a pan or pinch fits the plug-in view again.
    void viewDidLayoutSubviews() override;
    void centerpluginView();
    void onPanGesture(UIPanGestureRecognizer& sender);
    void onPinchGesture(UIPinchGestureRecognizer& sender);
    void onDoubleTapGesture(UITapGestureRecognizer& sender);
    void onTapGesture(UITapGestureRecognizer& sender);
    void onlongPressGesture(UILongPressGestureRecognizer& sender);
    // Move and zoom any view (nothing in the editor calls them).
    void doTranslationTransform(UIView& view, const CGRect& origin, CGPoint position);
    void doScalingTransform(UIView& view, const CGRect& origin, CGFloat scaling);

    // Height over width of the plug-in view (600 / 680).
    CGFloat ratio = 15.0 / 17.0;
    // An area wider than tall takes the plug-in view at its full height.
    bool fitToHeight = true;

    // ---- Overlay, picker, dialogs ---------------------------------------------
    void showInfo(const std::string& string);
    void hideInfo();
    void openFilePicker();
    void documentPicker(UIDocumentPickerViewController& controller, const std::vector<URL>& urls) override;
    void documentPicker(UIDocumentPickerViewController& controller, const URL& url) override;
    void documentPickerWasCancelled(UIDocumentPickerViewController& controller) override;
    void alert(const std::string& caption, const std::string& message, std::function<void()> completion);
    void alertQuestion(const std::string& caption, const std::string& question, std::function<void()> completion);
    void alertFileName(const std::string& _for, const std::string& defaultName);
    void alertFileName2(const std::string& _for, const std::string& defaultName);
    void prepare(UIStoryboardSegue& segue, const std::any& sender) override;

    std::string reasonForQuestion;
    std::string reasonForImport;

    // ---- Outlets, set by the storyboard ---------------------------------------
    std::shared_ptr<PluginFrameEx> pluginFrame;
    std::shared_ptr<UIView> pluginView;
    std::shared_ptr<OrvoHaldenView> mainView;
    std::shared_ptr<SpectroView> spectroView;
    std::shared_ptr<UIView> infoView;
    std::shared_ptr<UILabel> infoMessage;
    std::shared_ptr<UIButton> contrastButton;
    std::shared_ptr<UISlider> brightnessSlider;
    std::shared_ptr<UIButton> freezeButton;
    std::shared_ptr<UIPanGestureRecognizer> panGesture;
    std::shared_ptr<UIPinchGestureRecognizer> pinchGesture;
    std::shared_ptr<UITapGestureRecognizer> doubleTapGesture;
    std::shared_ptr<UITapGestureRecognizer> tapGesture;
    std::shared_ptr<UILongPressGestureRecognizer> longPressGesture;

    // The tree's parameters as of the last connection, in the tree's order.
    const std::vector<std::shared_ptr<AUParameter>>& parameters() const { return parameters_; }

    // ---- Tree listing, printed by a connection -------------------------------------
    // Lists (and appends to parameters()) every parameter of every group below
    // `tree`, once per group level it sits under, indented by the level.
    void extractParameters(const std::string& name, const AUParameterGroup* tree, int level);
    void printParameter(const AUParameter& parameter, int level);
    void verboseFlags(AudioUnitParameterOptions flags, int level);
    static std::string verboseParameterKind(AudioUnitParameterUnit kind);

private:
    std::shared_ptr<AudioUnitViewController> self();
    std::weak_ptr<AudioUnitViewController> weakSelf();

    // The hand-over's work on the main queue, once the view is loaded.
    void connectToView();
    bool isConnected(Orvo_Halden_Extension_AudioUnit& unit) const;
    void stopObserving();

    void resetpluginView(CGFloat w, CGFloat h, CGFloat inset = 0);
    // Whether a pan or pinch call may act; see the layout file.
    static bool followGesture(UIGestureRecognizerState state, bool open, bool& accepted);
    void presentFileNamePrompt(const std::string& purpose, const std::string& defaultName,
                               const std::string& message);

    // Guards the unit only: the factory may run on a host's thread.
    mutable std::mutex unitLock_;
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit_;
    // Hand-overs posted and not yet run.
    std::atomic<int> pendingHandOvers_{0};

    // The folder a segue would start in; nothing reads it.
    std::string startFolderForSegue_ = "Orvo Halden/";
    std::shared_ptr<Timer> timer_;
    bool touchesLocked_ = false;
    bool isSizeable_ = true;
    std::shared_ptr<UIView> currentView_;
    bool lockAutoLayout_ = false;
    CGRect controlFrame_;
    bool panAccepted_ = false;
    bool pinchAccepted_ = false;

    std::shared_ptr<AUParameterTree> parameterTree_;
    std::vector<std::shared_ptr<AUParameter>> parameters_;
    // The observer added last and the tree it was added to.
    AUParameterObserverToken parameterObserverToken_ = 0;
    std::weak_ptr<AUParameterTree> observedTree_;
};
