#include "platform/ui/UIViewController.h"

#include <cstdio>

#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace {

// Completions run once, later, on the main queue: never inside the call
// that asked for them.
void post(std::function<void()> completion) {
    if (completion)
        DispatchQueue::main().async(std::move(completion));
}

}  // namespace

UIViewController::~UIViewController() {
    if (view_ && view_->viewController_ == this)
        view_->viewController_ = nullptr;
    for (const auto& child : children_)
        child->parent_ = nullptr;
}

const std::shared_ptr<UIView>& UIViewController::view() {
    if (!view_) {
        loadView();
        if (!view_)
            setView(std::make_shared<UIView>());
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

UIResponder* UIViewController::nextResponder() const { return view_ ? view_->superview() : nullptr; }

void UIViewController::present(const std::shared_ptr<UIViewController>& controller, bool animated,
                               std::function<void()> completion) {
    if (!controller || controller.get() == this || !controller->presenting_.expired()) {
        std::printf("UIViewController: nothing to present, or it is already shown.\n");
        std::fflush(stdout);
        return;
    }
    if (presented_) {
        waiting_.push_back({controller, animated, std::move(completion)});
        return;
    }
    show(controller, animated, std::move(completion));
}

void UIViewController::show(const std::shared_ptr<UIViewController>& controller, bool animated,
                            std::function<void()> completion) {
    presented_ = controller;
    controller->presenting_ = weak_from_this();
    if (view_) {
        UIView* top = view_.get();
        while (top->superview())
            top = top->superview();
        const std::shared_ptr<UIView>& shown = controller->view();
        controller->viewWillAppear(animated);
        top->addSubview(shown);
        shown->setFrame(top->bounds());
        NSLayoutConstraint::pinEdges(*shown, *top);
        controller->viewDidAppear(animated);
    }
    post(std::move(completion));
}

void UIViewController::dismiss(bool animated, std::function<void()> completion) {
    if (!presented_) {
        if (const auto presenter = presenting_.lock())
            presenter->dismiss(animated, std::move(completion));
        else
            post(std::move(completion));
        return;
    }
    const std::shared_ptr<UIViewController> gone = std::move(presented_);
    presented_.reset();
    gone->presenting_.reset();
    if (gone->view_ && gone->view_->superview()) {
        gone->viewWillDisappear(animated);
        gone->view_->removeFromSuperview();
        gone->viewDidDisappear(animated);
    }
    post(std::move(completion));
    if (!waiting_.empty()) {
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        show(next.controller, next.animated, std::move(next.completion));
    }
}

void UIViewController::addChild(const std::shared_ptr<UIViewController>& child) {
    if (!child || child.get() == this || child->parent_ == this)
        return;
    child->removeFromParent();
    child->willMove(this);
    children_.push_back(child);
    child->parent_ = this;
}

void UIViewController::removeFromParent() {
    UIViewController* parent = parent_;
    if (!parent)
        return;
    // Keeps the child alive while its parent lets go of it.
    const std::shared_ptr<UIViewController> self = shared_from_this();
    std::erase(parent->children_, self);
    parent_ = nullptr;
    didMove(nullptr);
}

void UIViewController::registerSegue(const std::string& identifier, Destination destination) {
    segues_[identifier] = std::move(destination);
}

void UIViewController::performSegue(const std::string& identifier, const std::any& sender) {
    const auto it = segues_.find(identifier);
    if (it == segues_.end()) {
        std::printf("UIViewController: there is no segue with the identifier \"%s\".\n", identifier.c_str());
        std::fflush(stdout);
        return;
    }
    UIStoryboardSegue segue(identifier, this, it->second ? it->second() : nullptr);
    prepare(segue, sender);
    if (segue.destination())
        present(segue.destination(), true);
}

void UIViewController::prepare(UIStoryboardSegue&, const std::any&) {}
