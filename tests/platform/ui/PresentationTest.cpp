#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/URL.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIDocumentPickerViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/StdoutCapture.h"

namespace {

struct Screen {
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 400, 300));
    std::shared_ptr<UIViewController> root = std::make_shared<UIViewController>();
    std::vector<std::string> log;

    Screen() {
        window->addSubview(root->view());
        root->view()->setFrame(window->bounds());
    }
    std::shared_ptr<UIAlertController> alert(const std::string& title) {
        auto a = std::make_shared<UIAlertController>(title, "message", UIAlertControllerStyle::alert);
        for (const char* name : {"OK", "Cancel"})
            a->addAction(std::make_shared<UIAlertAction>(
                name, std::string(name) == "OK" ? UIAlertActionStyle::defaultStyle : UIAlertActionStyle::cancel,
                [this, title](UIAlertAction& action) { log.push_back(title + " " + action.title()); }));
        return a;
    }
    std::shared_ptr<UIAlertController> shownAlert() const {
        return std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    }
};

class RecordingPickerDelegate : public UIDocumentPickerDelegate {
public:
    void documentPicker(UIDocumentPickerViewController&, const std::vector<URL>& urls) override {
        calls.push_back("many " + std::to_string(urls.size()));
    }
    void documentPickerWasCancelled(UIDocumentPickerViewController&) override { calls.push_back("cancelled"); }
    std::vector<std::string> calls;
};

}  // namespace

TEST(Presentation, AnAlertIsShownOverTheScreenItsCompletionRunsOnceShownAndAnActionIsPressedByTitle) {
    Screen s;
    int completions = 0;
    s.root->present(s.alert("first"), true, [&] { ++completions; });
    auto shown = s.shownAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->view()->superview(), s.window.get());
    EXPECT_EQ(completions, 0);  // not inside the call
    DispatchQueue::main().drain();
    DispatchQueue::main().drain();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(shown->pressAction("Maybe"));
    EXPECT_TRUE(shown->pressAction("OK"));
    EXPECT_EQ(s.log, std::vector<std::string>{"first OK"});
    EXPECT_EQ(s.root->presentedViewController(), nullptr);
    EXPECT_EQ(shown->view()->superview(), nullptr);
    EXPECT_EQ(completions, 1);
}

TEST(Presentation, OverlappingAlertsWaitTheirTurnAndNoneIsLost) {
    Screen s;
    std::vector<int> completions;
    for (int i = 0; i < 3; ++i)
        s.root->present(s.alert("alert" + std::to_string(i)), true, [&, i] { completions.push_back(i); });
    EXPECT_EQ(s.root->pendingPresentations(), 2u);
    for (int i = 0; i < 3; ++i) {
        DispatchQueue::main().drain();
        ASSERT_TRUE(s.shownAlert());
        EXPECT_EQ(s.shownAlert()->title(), "alert" + std::to_string(i));
        s.shownAlert()->pressAction("Cancel");
    }
    DispatchQueue::main().drain();
    EXPECT_EQ(completions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(s.log, (std::vector<std::string>{"alert0 Cancel", "alert1 Cancel", "alert2 Cancel"}));
}

TEST(Presentation, AHandlerMayPresentTheNextDialogAndTypedTextReachesIt) {
    Screen s;
    auto prompt = std::make_shared<UIAlertController>("File name", "", UIAlertControllerStyle::alert);
    prompt->addTextField([](UITextField& f) {
        f.placeholder = "file name";
        f.text = "a";
    });
    prompt->addAction(std::make_shared<UIAlertAction>("OK", UIAlertActionStyle::defaultStyle, [&](UIAlertAction&) {
        s.root->present(s.alert(prompt->textFields()[0]->text), true);
    }));
    s.root->present(prompt, true);
    prompt->textFields()[0]->insertText("bé");
    prompt->textFields()[0]->deleteBackward();
    prompt->pressAction("OK");
    ASSERT_TRUE(s.shownAlert());
    EXPECT_EQ(s.shownAlert()->title(), "ab");
}

TEST(Presentation, ATapOnADrawnButtonPressesItsAction) {
    Screen s;
    s.root->present(s.alert("tapped"), true);
    s.window->layoutIfNeeded();
    auto panel = std::dynamic_pointer_cast<DialogPanel>(s.shownAlert()->view());
    ASSERT_TRUE(panel);
    const CGRect cancel = panel->layout().buttons[1];
    auto elsewhere = s.window->touchDown({2, 2});  // blocked, does nothing
    s.window->touchUp(elsewhere);
    auto t = s.window->touchDown({cancel.midX(), cancel.midY()});
    s.window->touchUp(t);
    EXPECT_EQ(s.log, std::vector<std::string>{"tapped Cancel"});
}

TEST(Presentation, TheDocumentPickerReportsPicksAndCancelsToItsDelegate) {
    Screen s;
    auto delegate = std::make_shared<RecordingPickerDelegate>();
    const std::vector<URL> two{URL::fileURLWithPath("/tmp/a"), URL::fileURLWithPath("/tmp/b")};
    for (bool multiple : {true, false}) {
        auto picker = std::make_shared<UIDocumentPickerViewController>(std::vector<std::string>{"public.data"},
                                                                       UIDocumentPickerMode::import);
        picker->delegate = delegate;
        picker->allowsMultipleSelection = multiple;
        s.root->present(picker, true);
        picker->pick(two);
        EXPECT_EQ(s.root->presentedViewController(), nullptr);
    }
    auto picker = std::make_shared<UIDocumentPickerViewController>(std::vector<std::string>{"public.data"},
                                                                   UIDocumentPickerMode::import);
    picker->delegate = delegate;
    s.root->present(picker, true);
    picker->cancel();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"many 2", "many 1", "cancelled"}));
}

TEST(Presentation, ASegueRunsPrepareWithItsIdentifierThenShowsItsDestination) {
    class Source : public UIViewController {
    public:
        void prepare(UIStoryboardSegue& segue, const std::any&) override {
            prepared.push_back(segue.identifier().value_or("-"));
        }
        std::vector<std::string> prepared;
    };
    auto source = std::make_shared<Source>();
    auto destination = std::make_shared<UIViewController>();
    source->registerSegue("ShowInfo", [&] { return destination; });
    testkit::StdoutCapture capture;
    source->performSegue("ShowInfo");
    source->performSegue("Nowhere");
    const std::string out = capture.finish();
    EXPECT_EQ(source->prepared, std::vector<std::string>{"ShowInfo"});
    EXPECT_EQ(source->presentedViewController(), destination);
    EXPECT_EQ(out, "UIViewController: there is no segue with the identifier \"Nowhere\".\n");
}

TEST(Presentation, AControllerHearsEachTimeItComesOnAndGoesOffScreenAndChildrenKnowTheirParent) {
    class Watched : public UIViewController {
    public:
        void viewWillAppear(bool) override { heard.push_back("will appear"); }
        void viewDidAppear(bool) override { heard.push_back("did appear"); }
        void viewWillDisappear(bool) override { heard.push_back("will disappear"); }
        void viewDidDisappear(bool) override { heard.push_back("did disappear"); }
        void willMove(UIViewController* parent) override { heard.push_back(parent ? "will move" : "will leave"); }
        void didMove(UIViewController* parent) override { heard.push_back(parent ? "did move" : "did leave"); }
        std::vector<std::string> heard;
    };
    Screen s;
    auto shown = std::make_shared<Watched>();
    for (int i = 0; i < 2; ++i) {
        s.root->present(shown, true);
        shown->dismiss(true);
    }
    const std::vector<std::string> cycle = {"will appear", "did appear", "will disappear", "did disappear"};
    std::vector<std::string> twice = cycle;
    twice.insert(twice.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(shown->heard, twice);

    auto root = std::make_shared<Watched>();
    s.window->setRootViewController(root);
    s.window->setRootViewController(nullptr);
    EXPECT_EQ(root->heard, cycle);

    auto child = std::make_shared<Watched>();
    s.root->addChild(child);
    s.root->addChild(child);
    EXPECT_EQ(s.root->children().size(), 1u);
    EXPECT_EQ(child->parent(), s.root.get());
    child->removeFromParent();
    EXPECT_TRUE(s.root->children().empty());
    EXPECT_EQ(child->parent(), nullptr);
    EXPECT_EQ(child->heard, (std::vector<std::string>{"will move", "did leave"}));
    DispatchQueue::main().drain();
}
