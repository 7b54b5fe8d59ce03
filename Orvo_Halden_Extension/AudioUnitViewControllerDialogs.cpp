// The information overlay, the document picker, the dialogs and the segue hook.

#include <string>
#include <vector>

#include "Orvo_Halden_Extension/Animator.h"
#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UILabel.h"

namespace {

constexpr float kFadeInterval = 0.009f;
constexpr Animator::Int kFadeInFrames = 320, kFadeOutFrames = 120;
// Bytes of a message the overlay lays out. Wrapping a long unbroken word
// costs far more than its length, so a longer message is cut (at a
// character's start) and marked with an ellipsis.
constexpr std::size_t kLongestInfo = 500;

std::string shownInfo(const std::string& text) {
    if (text.size() <= kLongestInfo)
        return text;
    std::size_t end = kLongestInfo;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end) + "\u2026";
}

// Alpha and a uniform scale by the same value: the overlay grows in as it appears.
void applyFade(UIView& view, float value) {
    view.setAlpha(value);
    view.setTransform(CGAffineTransform::makeScale(value, value));
}

std::shared_ptr<UIAlertAction> action(const char* title, UIAlertActionStyle style, UIAlertAction::Handler handler) {
    return std::make_shared<UIAlertAction>(title, style, std::move(handler));
}

}  // namespace

// ---- Overlay ---------------------------------------------------------------------------

// Each fade is held only by its own timer, never by the controller, so a new
// message does not stop one still running: the first fade-out to end hides
// the overlay and clears its text.
void AudioUnitViewController::showInfo(const std::string& string) {
    if (!infoView || !infoMessage)
        return;
    infoMessage->setText(shownInfo(string));
    infoView->setHidden(false);
    infoView->setAlpha(0);
    auto fade = std::make_shared<Animator>(float(infoView->alpha()), 1.0f, kFadeInFrames, kFadeInterval,
                                           EnumEasing::EASING_easeOutExpo);
    fade->onAnimation = [weak = weakSelf()](Animator&, float value) {
        if (const auto self = weak.lock())
            applyFade(*self->infoView, value);
    };
    fade->onFinished = [weak = weakSelf()](Animator&, float) {
        if (const auto self = weak.lock())
            self->hideInfo();
    };
    fade->start();
}

void AudioUnitViewController::hideInfo() {
    if (!infoView || !infoMessage)
        return;
    auto fade = std::make_shared<Animator>(float(infoView->alpha()), 0.0f, kFadeOutFrames, kFadeInterval,
                                           EnumEasing::EASING_easeInExpo);
    fade->onAnimation = [weak = weakSelf()](Animator&, float value) {
        if (const auto self = weak.lock())
            applyFade(*self->infoView, value);
    };
    fade->onFinished = [weak = weakSelf()](Animator&, float) {
        if (const auto self = weak.lock()) {
            self->infoView->setHidden(true);
            self->infoMessage->setText("");
        }
    };
    fade->start();
}

// ---- Document picker ---------------------------------------------------------------------

void AudioUnitViewController::openFilePicker() {
    auto picker = std::make_shared<UIDocumentPickerViewController>(std::vector<std::string>{"public.data"},
                                                                   UIDocumentPickerMode::import);
    picker->delegate = weakSelf();
    picker->allowsMultipleSelection = true;
    present(picker, true, [] {});
}

void AudioUnitViewController::documentPicker(UIDocumentPickerViewController&, const std::vector<URL>& urls) {
    std::string list = "[";
    for (std::size_t i = 0; i < urls.size(); ++i)
        list += (i ? ", " : "") + urls[i].absoluteString();
    printLine("documentPicker: " + list + "]");
    // A pick is only reported: nothing asks for an import yet.
    if (reasonForImport.empty())
        return;
}

void AudioUnitViewController::documentPicker(UIDocumentPickerViewController& controller, const URL& url) {
    printLine("documentPicker: " + url.absoluteString());
    documentPicker(controller, std::vector<URL>{url});
}

void AudioUnitViewController::documentPickerWasCancelled(UIDocumentPickerViewController&) {
    printLine("The document picker was canceled.");
}

// ---- Dialogs -------------------------------------------------------------------------------

void AudioUnitViewController::alert(const std::string& caption, const std::string& message,
                                    std::function<void()> completion) {
    printLine("Alert: " + caption + " : " + message);
    auto dialog = std::make_shared<UIAlertController>(caption, message, UIAlertControllerStyle::alert);
    dialog->addAction(action("OK", UIAlertActionStyle::defaultStyle, [](UIAlertAction&) {
        printLine("Alert was accepted.");
    }));
    present(dialog, true, std::move(completion));
}

void AudioUnitViewController::alertQuestion(const std::string& caption, const std::string& question,
                                            std::function<void()> completion) {
    printLine("Alert: " + caption + " : " + question);
    auto dialog = std::make_shared<UIAlertController>(caption, question, UIAlertControllerStyle::alert);
    // The answers only report themselves: nothing asks a question with a reason yet.
    dialog->addAction(action("Yes", UIAlertActionStyle::defaultStyle, [](UIAlertAction&) {
        printLine("Answer was YES.");
    }));
    dialog->addAction(action("No", UIAlertActionStyle::cancel, [](UIAlertAction&) { printLine("Answer was NO."); }));
    present(dialog, true, std::move(completion));
}

void AudioUnitViewController::alertFileName(const std::string& _for, const std::string& defaultName) {
    presentFileNamePrompt(_for, defaultName, "Please enter the file name for the current file: ");
}

void AudioUnitViewController::alertFileName2(const std::string& _for, const std::string& defaultName) {
    presentFileNamePrompt(_for, defaultName, "The file already exists. Please type in another file name: ");
}

void AudioUnitViewController::presentFileNamePrompt(const std::string& purpose, const std::string& defaultName,
                                                    const std::string& message) {
    auto dialog = std::make_shared<UIAlertController>("File name", message, UIAlertControllerStyle::alert);
    dialog->addTextField([&defaultName](UITextField& field) {
        field.placeholder = "file name";
        field.text = defaultName;
    });
    std::weak_ptr<UIAlertController> weakDialog = dialog;
    dialog->addAction(action("OK", UIAlertActionStyle::defaultStyle,
                             [weak = weakSelf(), weakDialog, purpose, defaultName](UIAlertAction&) {
                                 const auto self = weak.lock();
                                 const auto shown = weakDialog.lock();
                                 if (!self || !shown)
                                     return;
                                 std::string name = shown->textFields().front()->text;
                                 if (name.empty())
                                     name = defaultName;
                                 const auto folders = FileManager::defaultManager().urls(
                                     SearchPathDirectory::documentDirectory, SearchPathDomainMask::userDomainMask);
                                 if (folders.empty())
                                     return;
                                 const URL url = folders.front().appendingPathComponent(name);
                                 if (FileManager::defaultManager().fileExists(url.path()))
                                     self->alertFileName2(purpose, url.lastPathComponent());
                             }));
    dialog->addAction(action("Cancel", UIAlertActionStyle::cancel, [](UIAlertAction&) {
        printLine("Save action was canceled.");
    }));
    present(dialog, true);
}

// ---- Segues -------------------------------------------------------------------------------

void AudioUnitViewController::prepare(UIStoryboardSegue& segue, const std::any&) {
    if (segue.identifier())
        printLine(*segue.identifier());
}
