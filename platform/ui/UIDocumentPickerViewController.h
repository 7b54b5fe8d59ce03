#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/UIViewController.h"

class UIDocumentPickerViewController;

// Hears how a document picker ended. The platform reports a pick through
// the list entry; the single entry is there for delegates that take one.
class UIDocumentPickerDelegate {
public:
    virtual ~UIDocumentPickerDelegate() = default;
    virtual void documentPicker(UIDocumentPickerViewController& controller, const std::vector<URL>& urls);
    virtual void documentPicker(UIDocumentPickerViewController& controller, const URL& url);
    virtual void documentPickerWasCancelled(UIDocumentPickerViewController& controller);
};

enum class UIDocumentPickerMode { import, open };

// Lets the user choose files of the given content types. On screen it lists
// the files of the documents folder; without a screen it is presented and
// recorded, and pick() or cancel() ends it as the user would.
class UIDocumentPickerViewController : public UIViewController {
public:
    UIDocumentPickerViewController(std::vector<std::string> documentTypes, UIDocumentPickerMode mode);

    const std::vector<std::string>& documentTypes() const { return types_; }
    UIDocumentPickerMode mode() const { return mode_; }
    bool allowsMultipleSelection = false;
    std::weak_ptr<UIDocumentPickerDelegate> delegate;

    // The picker goes away, then the delegate hears of the files (only the
    // first one unless several may be chosen; an empty list is a cancel).
    void pick(std::vector<URL> urls);
    void cancel();

    void loadView() override;

private:
    std::vector<std::string> types_;
    UIDocumentPickerMode mode_;
    std::vector<URL> candidates_;
};
