#include "Orvo Halden/ViewController.h"

#include "Orvo Halden/Console.h"
#include "Orvo Halden/HelpViewController.h"
#include "Orvo Halden/MainStoryboard.h"
#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"

void ViewController::loadView() { MainStoryboard::build(*this); }

void ViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    print("Info: Main view controller loaded.");
    playButton->setHidden(false);
    stopButton->setHidden(true);
    audioUnitManager_ = AUExtensionManager::make(self());
    audioUnitManager_->auEngine()->setDelegate(self());
    pluginView->setHidden(true);
    getDirectories();
}

void ViewController::onFoundComponent(const std::shared_ptr<AVAudioUnit>& unit) {
    print("ViewController: Loading the audio unit's interface...");
    if (!unit) {
        print("ERROR: The audio unit is not initialized to load the user interface.");
        return;
    }
    const std::weak_ptr<ViewController> weak = self();
    unit->auAudioUnit()->requestViewController([weak](std::shared_ptr<AUViewController> controller) {
        const std::shared_ptr<ViewController> screen = weak.lock();
        if (!screen) {
            print("ERROR: Self is nil !?");
            return;
        }
        if (!controller || !controller->view()) {
            print("ERROR: Something is wrong with the view controller and view of the audio unit.");
            return;
        }
        screen->embed(controller);
        controller->view()->setNeedsDisplay();
    });
}

void ViewController::embed(const std::shared_ptr<UIViewController>& controller) {
    addChild(controller);
    const std::shared_ptr<UIView>& editor = controller->view();
    editor->setFrame(pluginView->bounds());
    pluginView->addSubview(editor);
    pinToSuperviewEdges(*editor);
    controller->didMove(this);
}

void ViewController::onPlayerStateChanged(bool playing) {
    playButton->setHidden(playing);
    stopButton->setHidden(!playing);
}

void ViewController::onButtonUnit(const std::any&) { pluginView->setHidden(!pluginView->isHidden()); }

void ViewController::onPlayButton(const std::any&) { (void)audioUnitManager_->togglePlayback(); }

void ViewController::onStopButton(const std::any&) { (void)audioUnitManager_->togglePlayback(); }

void ViewController::showHelp(const std::any&) {
    if (const std::optional<URL> page = HelpViewController::makerPageURL())
        UIApplication::shared().open(*page, {});
    else
        print("ERROR: The maker's page is missing from the app's resources.");
    performSegue("ShowHelp", self());
}

void ViewController::prepare(UIStoryboardSegue& segue, const std::any&) {
    const std::optional<std::string>& identifier = segue.identifier();
    if (!identifier)
        return;
    print(*identifier);
    if (*identifier != "ShowInfo" && *identifier != "ShowHelp")
        return;
    // A destination of another kind is logged, never forced.
    if (const auto help = std::dynamic_pointer_cast<HelpViewController>(segue.destination()))
        help->prepareInfo(*identifier);
    else
        print("ERROR: The destination of \"" + *identifier + "\" is not the help screen.");
}

void ViewController::getDirectories() {
    const std::vector<URL> documents =
        FileManager::defaultManager().urls(SearchPathDirectory::documentDirectory, SearchPathDomainMask::userDomainMask);
    if (documents.empty()) {
        print("ViewController: Documents directory is nil.");
        return;
    }
    documentsPath_ = documents.front().path();
    print("ViewController: The app's documents path is: " + documentsPath_);
    const std::optional<URL> resources = Bundle::main().resourceURL();
    if (!resources) {
        print("ViewController: Resources folder is nil.");
        return;
    }
    resourcesPath_ = resources->path();
    print("ViewController: The app's resources path is: " + resourcesPath_);
}

void ViewController::embedPlugInView() {
    const std::shared_ptr<AUViewController> controller = audioUnitManager_->viewController;
    if (!controller) {
        print("ERROR: Could not load audio unit's view controller.");
        return;
    }
    if (!controller->view())
        return;
    embed(controller);
}

void ViewController::centerPluginView() { resetPluginView(view()->bounds().width(), view()->bounds().height()); }

void ViewController::resetPluginView(CGFloat w, CGFloat h) {
    const std::shared_ptr<UIView> unitView = audioUnitView();
    if (!unitView) {
        print("WARNING: Cannot reset the pluginview (yet).");
        return;
    }
    const CGRect screen = view()->bounds();
    if (w >= h) {
        const CGFloat height = w * 0.75;
        pluginView->setFrame({0, screen.height() / 2 - height / 2, w, height});
        unitView->setFrame({0, 0, w, height});
    } else {
        const CGFloat width = h / 0.75;
        pluginView->setFrame({screen.width() / 2 - width / 2, 0, width, h});
        unitView->setFrame({0, 0, width, h});
    }
    pluginView->setNeedsDisplay();
}

void ViewController::openFilePicker() {
    auto picker = std::make_shared<UIDocumentPickerViewController>(std::vector<std::string>{"public.folder"},
                                                                   UIDocumentPickerMode::open);
    picker->delegate = std::static_pointer_cast<UIDocumentPickerDelegate>(self());
    picker->allowsMultipleSelection = false;
    present(picker, true, [] {});
}

void ViewController::documentPicker(UIDocumentPickerViewController&, const URL& url) {
    print("documentPicker (didPickDocumentAt): " + url.path());
}

void ViewController::documentPicker(UIDocumentPickerViewController&, const std::vector<URL>& urls) {
    std::string list = "[";
    for (std::size_t i = 0; i < urls.size(); ++i)
        list += (i ? ", " : "") + urls[i].absoluteString();
    print("documentPicker: " + list + "]");
    // The platform may hand over an empty list: there is no first path then.
    if (!urls.empty())
        print("documentPicker (didPickDocumentsAt): " + urls.front().path());
}

void ViewController::documentPickerWasCancelled(UIDocumentPickerViewController&) {
    print("The document picker was canceled.");
}

void ViewController::alertMessage(const std::string& title, const std::string& message) {
    print(title + ": " + message);
    auto alert = std::make_shared<UIAlertController>(title, message, UIAlertControllerStyle::alert);
    alert->addAction(std::make_shared<UIAlertAction>("OK", UIAlertActionStyle::defaultStyle,
                                                     [](UIAlertAction&) { print("Alert was confirmed."); }));
    alert->addAction(std::make_shared<UIAlertAction>("Cancel", UIAlertActionStyle::cancel,
                                                     [](UIAlertAction&) { print("Alert was canceled."); }));
    present(alert, true);
}
