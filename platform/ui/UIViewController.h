#pragma once

#include <memory>

#include "platform/ui/UIView.h"

// Manages one view tree. The root view is made on first request (loadView),
// after which viewDidLoad runs once; each layout pass of the root view ends
// with viewDidLayoutSubviews. Controllers are held by std::shared_ptr and
// live on the main thread.
class UIViewController : public std::enable_shared_from_this<UIViewController> {
public:
    UIViewController() = default;
    virtual ~UIViewController();
    UIViewController(const UIViewController&) = delete;
    UIViewController& operator=(const UIViewController&) = delete;

    // The root view, loaded first if it is not yet.
    const std::shared_ptr<UIView>& view();
    bool isViewLoaded() const { return view_ != nullptr; }
    std::shared_ptr<UIView> viewIfLoaded() const { return view_; }

    // Makes the root view; the default is an empty view. An override calls
    // setView with the tree it builds.
    virtual void loadView();
    // Once, after loadView, with the tree and its outlets in place.
    virtual void viewDidLoad() {}
    // After each layout pass of the root view.
    virtual void viewDidLayoutSubviews() {}

protected:
    void setView(std::shared_ptr<UIView> view);

private:
    std::shared_ptr<UIView> view_;
    bool loading_ = false;
};
