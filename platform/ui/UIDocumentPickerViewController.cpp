#include "platform/ui/UIDocumentPickerViewController.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"
#include "platform/ui/DialogPanel.h"

void UIDocumentPickerDelegate::documentPicker(UIDocumentPickerViewController&, const std::vector<URL>&) {}
void UIDocumentPickerDelegate::documentPicker(UIDocumentPickerViewController&, const URL&) {}
void UIDocumentPickerDelegate::documentPickerWasCancelled(UIDocumentPickerViewController&) {}

UIDocumentPickerViewController::UIDocumentPickerViewController(std::vector<std::string> documentTypes,
                                                               UIDocumentPickerMode mode)
    : types_(std::move(documentTypes)), mode_(mode) {}

void UIDocumentPickerViewController::pick(std::vector<URL> urls) {
    if (urls.empty()) {
        cancel();
        return;
    }
    if (!allowsMultipleSelection)
        urls.erase(urls.begin() + 1, urls.end());
    const auto keepAlive = shared_from_this();
    dismiss(true);
    if (const auto d = delegate.lock())
        d->documentPicker(*this, urls);
}

void UIDocumentPickerViewController::cancel() {
    const auto keepAlive = shared_from_this();
    dismiss(true);
    if (const auto d = delegate.lock())
        d->documentPickerWasCancelled(*this);
}

void UIDocumentPickerViewController::loadView() {
    auto panel = std::make_shared<DialogPanel>();
    panel->title = "Choose files";
    // Every plain file of the documents folder counts as data.
    candidates_.clear();
    const FileManager& files = FileManager::defaultManager();
    for (const URL& folder : files.urls(SearchPathDirectory::documentDirectory, SearchPathDomainMask::userDomainMask)) {
        try {
            for (const std::string& name : files.contentsOfDirectory(folder)) {
                bool isFolder = false;
                const URL url = folder.appendingPathComponent(name);
                if (files.fileExists(url.path(), isFolder) && !isFolder)
                    candidates_.push_back(url);
            }
        } catch (const NSError&) {
            // No documents folder yet: nothing to list.
        }
        break;
    }
    panel->message = candidates_.empty() ? "There are no files in the documents folder." : "";
    for (const URL& url : candidates_)
        panel->rows.push_back({url.lastPathComponent(), false});
    panel->buttons = {{"Cancel", true}, {"Open", false}};
    DialogPanel* raw = panel.get();
    std::weak_ptr<UIDocumentPickerViewController> weak =
        std::static_pointer_cast<UIDocumentPickerViewController>(shared_from_this());
    panel->onRow = [weak, raw](std::size_t row) {
        const auto self = weak.lock();
        if (!self)
            return;
        if (!self->allowsMultipleSelection)
            for (auto& r : raw->rows)
                r.selected = false;
        raw->rows[row].selected = !raw->rows[row].selected;
    };
    panel->onButton = [weak, raw](std::size_t button) {
        const auto self = weak.lock();
        if (!self)
            return;
        if (button == 0) {
            self->cancel();
            return;
        }
        std::vector<URL> chosen;
        for (std::size_t i = 0; i < raw->rows.size() && i < self->candidates_.size(); ++i)
            if (raw->rows[i].selected)
                chosen.push_back(self->candidates_[i]);
        self->pick(std::move(chosen));
    };
    setView(std::move(panel));
}
