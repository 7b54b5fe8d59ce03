#include "platform/ui/UIViewController.h"

UIViewController::~UIViewController() {
    // The view may outlive its controller (a host can still hold it).
    if (view_ && view_->viewController_ == this)
        view_->viewController_ = nullptr;
}

const std::shared_ptr<UIView>& UIViewController::view() {
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_)
            setView(std::make_shared<UIView>());
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void UIViewController::loadView() { setView(std::make_shared<UIView>()); }

void UIViewController::setView(std::shared_ptr<UIView> view) {
    if (view_ && view_->viewController_ == this)
        view_->viewController_ = nullptr;
    view_ = std::move(view);
    if (view_)
        view_->viewController_ = this;
}
