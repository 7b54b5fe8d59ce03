#pragma once

#include <any>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/UIResponder.h"

class UIView;
class UIViewController;

// A transition from one controller to another, named by its identifier.
class UIStoryboardSegue {
public:
    UIStoryboardSegue(std::optional<std::string> identifier, UIViewController* source,
                      std::shared_ptr<UIViewController> destination)
        : identifier_(std::move(identifier)), source_(source), destination_(std::move(destination)) {}

    const std::optional<std::string>& identifier() const { return identifier_; }
    UIViewController* source() const { return source_; }
    const std::shared_ptr<UIViewController>& destination() const { return destination_; }

private:
    std::optional<std::string> identifier_;
    UIViewController* source_;
    std::shared_ptr<UIViewController> destination_;
};

// Owns a view tree (its root view is made on first use) and hears about its
// life: loaded, laid out. It can show another controller over its own view.
class UIViewController : public UIResponder, public std::enable_shared_from_this<UIViewController> {
public:
    UIViewController() = default;
    ~UIViewController() override;

    // The root view, loaded (loadView, then viewDidLoad) on first use.
    const std::shared_ptr<UIView>& view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void loadViewIfNeeded() { view(); }

    // Makes the root view; the default one is an empty view. An override
    // sets its own with setView.
    virtual void loadView();
    void setView(std::shared_ptr<UIView> view);
    virtual void viewDidLoad() {}
    // After every layout pass of the root view.
    virtual void viewDidLayoutSubviews() {}
    // Around every time the view comes on screen (presented, or made the
    // window's root) and goes off it (dismissed, or replaced as the root).
    virtual void viewWillAppear(bool) {}
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}
    // Nothing here runs short of memory; kept for controllers that answer it.
    virtual void didReceiveMemoryWarning() {}

    // Child controllers: their views live inside this one's. addChild tells
    // the child willMove(this); whoever adds the child's view then calls
    // didMove(this). removeFromParent tells it didMove(nullptr).
    void addChild(const std::shared_ptr<UIViewController>& child);
    void removeFromParent();
    const std::vector<std::shared_ptr<UIViewController>>& children() const { return children_; }
    UIViewController* parent() const { return parent_; }
    virtual void willMove(UIViewController*) {}
    virtual void didMove(UIViewController*) {}

    // Shows `controller` over the topmost view around this one, filling it.
    // The completion runs once it is shown: from the main queue, once. While
    // this controller already shows one, the next waits its turn: nothing
    // presented is dropped.
    void present(const std::shared_ptr<UIViewController>& controller, bool animated,
                 std::function<void()> completion = {});
    // Takes away what this controller shows (or, on a shown controller,
    // itself); the completion runs from the main queue once it is gone.
    void dismiss(bool animated, std::function<void()> completion = {});
    const std::shared_ptr<UIViewController>& presentedViewController() const { return presented_; }
    std::shared_ptr<UIViewController> presentingViewController() const { return presenting_.lock(); }
    // Controllers waiting to be shown after the current one.
    std::size_t pendingPresentations() const { return waiting_.size(); }

    // Segues by identifier; the destination is made when the segue runs.
    using Destination = std::function<std::shared_ptr<UIViewController>()>;
    void registerSegue(const std::string& identifier, Destination destination);
    // prepare(for:sender:), then shows the destination. An identifier that
    // was never registered is logged and ignored.
    void performSegue(const std::string& identifier, const std::any& sender = {});
    virtual void prepare(UIStoryboardSegue& segue, const std::any& sender);

    UIResponder* nextResponder() const override;

private:
    struct Waiting {
        std::shared_ptr<UIViewController> controller;
        bool animated;
        std::function<void()> completion;
    };
    void show(const std::shared_ptr<UIViewController>& controller, bool animated, std::function<void()> completion);

    std::shared_ptr<UIView> view_;
    std::shared_ptr<UIViewController> presented_;
    std::weak_ptr<UIViewController> presenting_;
    std::deque<Waiting> waiting_;
    std::map<std::string, Destination> segues_;
    std::vector<std::shared_ptr<UIViewController>> children_;
    UIViewController* parent_ = nullptr;
};
