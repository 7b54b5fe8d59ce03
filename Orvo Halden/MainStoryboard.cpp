#include "Orvo Halden/MainStoryboard.h"

#include "Orvo Halden/HelpViewController.h"
#include "Orvo Halden/ViewController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIApplication.h"

namespace {

constexpr CGFloat kBar = 52;  // the button bar along the top
constexpr CGFloat kButtonWidth = 92, kButtonHeight = 32, kGap = 12;

std::shared_ptr<UIButton> button(UIView& root, const char* title, int slot) {
    auto b = std::make_shared<UIButton>(
        CGRect{kGap + slot * (kButtonWidth + kGap), (kBar - kButtonHeight) / 2, kButtonWidth, kButtonHeight});
    b->setTitle(title);
    root.addSubview(b);
    return b;
}

// A button's action reaches the screen only while it lives.
void connect(UIButton& b, const std::weak_ptr<ViewController>& weak, void (ViewController::*action)(const std::any&)) {
    b.addTarget(
        &b,
        [weak, action](UIControl& sender, UIControlEvents) {
            if (const auto screen = weak.lock())
                (screen.get()->*action)(&sender);
        },
        UIControlEvent::touchUpInside);
}

}  // namespace

namespace MainStoryboard {

void build(ViewController& screen) {
    const std::weak_ptr<ViewController> weak =
        std::shared_ptr<ViewController>(screen.shared_from_this(), &screen);
    auto root = std::make_shared<UIView>(CGRect{0, 0, kWindowSize.width, kWindowSize.height});
    root->setBackgroundColor(UIColor{0.12, 0.12, 0.13, 1});

    // The placeholder fills what the bar leaves.
    screen.pluginView = std::make_shared<UIView>(CGRect{0, kBar, kWindowSize.width, kWindowSize.height - kBar});
    screen.pluginView->setBackgroundColor(UIColor::black());
    root->addSubview(screen.pluginView);
    screen.pluginView->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activate({screen.pluginView->topAnchor().constraint(root->topAnchor(), kBar),
                                  screen.pluginView->leadingAnchor().constraint(root->leadingAnchor()),
                                  screen.pluginView->bottomAnchor().constraint(root->bottomAnchor()),
                                  screen.pluginView->trailingAnchor().constraint(root->trailingAnchor())});

    // Play and Stop share a place: only one of them shows at a time.
    screen.playButton = button(*root, "Play", 0);
    screen.stopButton = button(*root, "Stop", 0);
    screen.buttonUnit = button(*root, "Unit", 1);
    screen.buttonHelp = button(*root, "Help", 2);
    screen.buttonInfo = button(*root, "Info", 3);
    connect(*screen.playButton, weak, &ViewController::onPlayButton);
    connect(*screen.stopButton, weak, &ViewController::onStopButton);
    connect(*screen.buttonUnit, weak, &ViewController::onButtonUnit);
    connect(*screen.buttonHelp, weak, &ViewController::showHelp);
    screen.buttonInfo->addTarget(
        screen.buttonInfo.get(),
        [weak](UIControl&, UIControlEvents) {
            if (const auto s = weak.lock())
                s->performSegue("ShowInfo", s);
        },
        UIControlEvent::touchUpInside);

    for (const char* identifier : {"ShowHelp", "ShowInfo"})
        screen.registerSegue(identifier, [] { return std::make_shared<HelpViewController>(); });
    screen.setView(root);
}

void registerMain(bool autoplay, bool unit) {
    UIStoryboard::registerStoryboard("Main", kWindowSize, [autoplay, unit]() -> std::shared_ptr<UIViewController> {
        auto screen = std::make_shared<ViewController>();
        screen->loadViewIfNeeded();
        const std::weak_ptr<ViewController> weak = screen;
        // Play waits for the effect to be wired (or for the search to fail):
        // a loop started before would play dry, then restart through it.
        if (autoplay)
            screen->audioUnitManager()->whenSearchEnds([weak] {
                if (const auto s = weak.lock())
                    s->onPlayButton(s);
            });
        if (unit)
            DispatchQueue::main().async([weak] {
                if (const auto s = weak.lock())
                    s->onButtonUnit(s);
            });
        return screen;
    });
}

}  // namespace MainStoryboard
