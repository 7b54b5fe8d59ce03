#pragma once

#include <any>
#include <memory>
#include <string>
#include <vector>

#include "Orvo Halden/AUExtensionManager.h"
#include "Orvo Halden/Audio Engine/AUEnginePlayer.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDocumentPickerViewController.h"
#include "platform/ui/UIViewController.h"

// The main screen: finds the effect through the host, embeds its editor in
// the placeholder (hidden until "Unit" is pressed), switches play and stop
// with the player, and leads to the help screen.
class ViewController : public UIViewController,
                       public AUExtensionManagerDelegate,
                       public AUEnginePlayerDelegate,
                       public UIDocumentPickerDelegate {
public:
    // Outlets, made by the main storyboard.
    std::shared_ptr<UIView> pluginView;
    std::shared_ptr<UIButton> buttonUnit;
    std::shared_ptr<UIButton> buttonInfo;
    std::shared_ptr<UIButton> buttonHelp;
    std::shared_ptr<UIButton> playButton;
    std::shared_ptr<UIButton> stopButton;

    const std::shared_ptr<AUExtensionManager>& audioUnitManager() const { return audioUnitManager_; }
    const std::string& documentsPath() const { return documentsPath_; }
    const std::string& sharedPath() const { return sharedPath_; }
    const std::string& resourcesPath() const { return resourcesPath_; }

    // AUExtensionManagerDelegate
    void onFoundComponent(const std::shared_ptr<AVAudioUnit>& unit) override;
    void onEngineInitialized() override {}
    // AUEnginePlayerDelegate
    void onPlayerStateChanged(bool playing) override;
    void onFileSelect(const std::string&) override {}
    void onLoop(NSInteger) override {}

    // Actions.
    void onButtonUnit(const std::any& sender);
    void onPlayButton(const std::any& sender);
    void onStopButton(const std::any& sender);
    void showHelp(const std::any& sender);

    void embedPlugInView();
    void centerPluginView();
    void resetPluginView(CGFloat w, CGFloat h);
    void getDirectories();
    void openFilePicker();
    void alertMessage(const std::string& title, const std::string& message);

    // UIDocumentPickerDelegate
    void documentPicker(UIDocumentPickerViewController& controller, const URL& url) override;
    void documentPicker(UIDocumentPickerViewController& controller, const std::vector<URL>& urls) override;
    void documentPickerWasCancelled(UIDocumentPickerViewController& controller) override;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override { UIViewController::viewWillAppear(animated); }
    void viewDidDisappear(bool animated) override { UIViewController::viewDidDisappear(animated); }
    void viewDidLayoutSubviews() override { UIViewController::viewDidLayoutSubviews(); }
    void prepare(UIStoryboardSegue& segue, const std::any& sender) override;

private:
    std::shared_ptr<ViewController> self() { return {shared_from_this(), this}; }
    // Puts the unit's editor into the placeholder, filling it.
    void embed(const std::shared_ptr<UIViewController>& controller);
    std::shared_ptr<UIView> audioUnitView() const {
        return audioUnitViewController_ ? audioUnitViewController_->view() : nullptr;
    }

    std::shared_ptr<AUExtensionManager> audioUnitManager_;
    std::string documentsPath_;
    std::string sharedPath_;
    std::string resourcesPath_;
    std::shared_ptr<UIViewController> audioUnitViewController_;
    std::shared_ptr<AVAudioUnit> avAudioUnit_;
};
