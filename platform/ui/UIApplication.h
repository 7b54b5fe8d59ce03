#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/ui/UIResponder.h"

class UIApplication;
class UIViewController;
class UIWindow;

// Hears the application's life, in this order: launched, active, then at the
// end resigning, in the background, terminating.
class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;

    using LaunchOptions = std::map<std::string, std::any>;
    virtual bool application(UIApplication&, const LaunchOptions&) { return true; }
    virtual void applicationWillResignActive(UIApplication&) {}
    virtual void applicationDidEnterBackground(UIApplication&) {}
    virtual void applicationWillEnterForeground(UIApplication&) {}
    virtual void applicationDidBecomeActive(UIApplication&) {}
    virtual void applicationWillTerminate(UIApplication&) {}

    // The window the main storyboard made, set before launch.
    std::shared_ptr<UIWindow> window;
};

// The running application, one per process. It hands URLs that the program
// cannot show itself to the desktop (xdg-open). Tests put a recorder in the
// desktop's place, so nothing is opened while they run.
class UIApplication : public UIResponder {
public:
    static UIApplication& shared();

    using OpenExternalURLOptions = std::map<std::string, std::any>;
    // Hands the URL over and returns at once; the completion, when given,
    // runs later on the main queue with whether the hand-over succeeded.
    void open(const URL& url, const OpenExternalURLOptions& options = {},
              std::function<void(bool)> completion = {});

    // What takes the URLs; answers whether it took the URL. An empty opener
    // puts the desktop back.
    using URLOpener = std::function<bool(const URL&)>;
    void setURLOpener(URLOpener opener);

    // Starts xdg-open on the URL without waiting for it; false (with a log
    // line) when there is no desktop session or the program cannot start.
    static bool openOnDesktop(const URL& url);

    // Delegate classes by name, as the application's entry names them.
    using DelegateFactory = std::function<std::shared_ptr<UIApplicationDelegate>()>;
    static void registerDelegateClass(const std::string& name, DelegateFactory factory);
    static std::shared_ptr<UIApplicationDelegate> makeDelegate(const std::string& name);

    const std::shared_ptr<UIApplicationDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

private:
    UIApplication() = default;

    URLOpener opener_;
    std::shared_ptr<UIApplicationDelegate> delegate_;
};

// The storyboards of the program by name: each makes its initial view
// controller, shown in a window of the storyboard's size.
class UIStoryboard {
public:
    using Factory = std::function<std::shared_ptr<UIViewController>()>;
    static void registerStoryboard(const std::string& name, CGSize size, Factory factory);
    static bool exists(const std::string& name);
    static CGSize size(const std::string& name);
    static std::shared_ptr<UIViewController> instantiateInitialViewController(const std::string& name);
};
