#pragma once

#include "platform/ui/UIApplication.h"

// The application's delegate: launching succeeds and nothing else is done
// at any step of the application's life.
class AppDelegate : public UIApplicationDelegate {
public:
    bool application(UIApplication&, const LaunchOptions&) override { return true; }
    void applicationWillResignActive(UIApplication&) override {}
    void applicationDidEnterBackground(UIApplication&) override {}
    void applicationWillEnterForeground(UIApplication&) override {}
    void applicationDidBecomeActive(UIApplication&) override {}
    void applicationWillTerminate(UIApplication&) override {}
};
