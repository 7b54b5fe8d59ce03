#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "Session.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIDocumentPickerViewController.h"
#include "platform/ui/UILabel.h"
#include "tests/support/StdoutCapture.h"

using controller::Session;

namespace {

const TimeInterval kTick = double(0.009f);

struct Editor : Session {
    Editor() { show(); }
    UIView& info() { return *controller->infoView; }
    const std::string& text() { return controller->infoMessage->text(); }
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            clock.advance(kTick);
    }
    std::shared_ptr<UIAlertController> shownAlert() const {
        return std::dynamic_pointer_cast<UIAlertController>(controller->presentedViewController());
    }
};

}  // namespace

TEST(InfoOverlay, FadesInOver320TicksThenOutOver120AndEndsHiddenAndEmpty) {
    Editor e;
    e.controller->showInfo("Preset saved");
    EXPECT_FALSE(e.info().isHidden());
    EXPECT_EQ(e.info().alpha(), 0);
    EXPECT_EQ(e.text(), "Preset saved");
    // Tick n shows frame n - 1 of the fade-in: 1 - 2^(-10 k / 320).
    int done = 0;
    for (int k : {0, 1, 32, 160, 319}) {
        e.ticks(k + 1 - done);
        done = k + 1;
        const double want = 1 - std::pow(2.0, -10.0 * k / 320);
        EXPECT_NEAR(e.info().alpha(), want, 1e-6) << "frame " << k;
        EXPECT_NEAR(e.info().transform().a, want, 1e-6);
        EXPECT_NEAR(e.info().transform().d, want, 1e-6);
    }
    const double top = e.info().alpha();
    e.ticks(1);  // the fade-in ends, the fade-out starts from where it got to
    e.ticks(1);
    EXPECT_NEAR(e.info().alpha(), top, 1e-6);
    e.ticks(119);
    EXPECT_NEAR(e.info().alpha(), top * (1 - std::pow(2.0, 10.0 * (119.0 / 120 - 1))), 1e-6);
    EXPECT_FALSE(e.info().isHidden());
    e.ticks(1);
    EXPECT_TRUE(e.info().isHidden());
    EXPECT_EQ(e.text(), "");
    e.ticks(50);  // nothing is left running
    EXPECT_TRUE(e.info().isHidden());
}

TEST(InfoOverlay, OverlappingMessagesRunSideBySideAndTheFirstFadeOutHidesTheLaterOne) {
    Editor e;
    e.controller->showInfo("first");
    e.ticks(100);
    e.controller->showInfo("second");
    EXPECT_EQ(e.info().alpha(), 0);
    EXPECT_EQ(e.text(), "second");
    e.ticks(221 + 121);  // the first message's whole run
    EXPECT_TRUE(e.info().isHidden());
    EXPECT_EQ(e.text(), "");  // by design: the later message goes with it
    e.ticks(400);
    EXPECT_TRUE(e.info().isHidden());
}

// Laying out a long unbroken word takes minutes: only the start reaches the label.
TEST(InfoOverlay, ALongMessageIsCutAtACharacterWithAnEllipsis) {
    const std::string ellipsis = "\u2026";
    struct Case {
        std::string message;
        std::size_t shownBytes;  // without the ellipsis; all of it when none is added
    } cases[] = {
        {std::string(100000, 'x'), 500},
        {"a" + std::string(300 * 2, '\0'), 499},  // two-byte characters: never half of one
        {std::string(500, 'y'), 500},
    };
    for (std::size_t i = 0; i < 300; ++i)
        cases[1].message.replace(1 + 2 * i, 2, "\u00e9");
    Editor e;
    for (const auto& c : cases) {
        e.controller->showInfo(c.message);
        const bool cut = c.shownBytes < c.message.size();
        EXPECT_TRUE(e.text() == c.message.substr(0, c.shownBytes) + (cut ? ellipsis : ""))
            << c.message.size() << " bytes shown as " << e.text().size();
    }
}

TEST(InfoOverlay, HidingAnOverlayThatIsAlreadyTransparentTakesOneTick) {
    Editor e;
    e.controller->infoMessage->setText("left over");
    e.info().setHidden(false);
    e.info().setAlpha(0);
    e.controller->hideInfo();
    e.ticks(1);
    EXPECT_TRUE(e.info().isHidden());
    EXPECT_EQ(e.text(), "");
}

TEST(Dialogs, TheMessageAlertRunsItsCompletionOnceWhenShownAndReportsItsAnswer) {
    Editor e;
    testkit::StdoutCapture capture;
    int shown = 0;
    e.controller->alert("Caption", "Message", [&] { ++shown; });
    e.drain();
    e.drain();
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(e.shownAlert());
    EXPECT_EQ(e.shownAlert()->title(), "Caption");
    e.shownAlert()->pressAction("OK");
    e.controller->alertQuestion("Q", "Sure?", nullptr);
    e.shownAlert()->pressAction("Yes");
    e.controller->alertQuestion("Q", "Really?", nullptr);
    ASSERT_EQ(e.shownAlert()->actions().size(), 2u);
    EXPECT_EQ(e.shownAlert()->actions()[1]->style(), UIAlertActionStyle::cancel);
    e.shownAlert()->pressAction("No");
    e.drain();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(testkit::splitLines(capture.finish()),
              (std::vector<std::string>{"Alert: Caption : Message", "Alert was accepted.", "Alert: Q : Sure?",
                                        "Answer was YES.", "Alert: Q : Really?", "Answer was NO."}));
}

TEST(Dialogs, AFileNameThatIsTakenAsksAgainUntilAFreeOneOrCancel) {
    Editor e;
    std::ofstream(e.documents / "taken.aupreset") << "x";
    e.controller->alertFileName("save", "taken.aupreset");
    auto prompt = e.shownAlert();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->title(), "File name");
    EXPECT_EQ(prompt->message(), "Please enter the file name for the current file: ");
    ASSERT_EQ(prompt->textFields().size(), 1u);
    EXPECT_EQ(prompt->textFields()[0]->placeholder, "file name");
    prompt->textFields()[0]->text = "";  // empty: the default name, which is taken
    prompt->pressAction("OK");
    auto again = e.shownAlert();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->message(), "The file already exists. Please type in another file name: ");
    EXPECT_EQ(again->textFields()[0]->text, "taken.aupreset");
    again->textFields()[0]->text = "free.aupreset";
    again->pressAction("OK");
    EXPECT_EQ(e.shownAlert(), nullptr);
    testkit::StdoutCapture capture;
    e.controller->alertFileName2("save", "free.aupreset");
    e.shownAlert()->pressAction("Cancel");
    EXPECT_EQ(capture.finish(), "Save action was canceled.\n");
}

TEST(Dialogs, ThePickerTakesSeveralDataFilesAndPicksAreOnlyPrinted) {
    Editor e;
    e.controller->openFilePicker();
    auto picker = std::dynamic_pointer_cast<UIDocumentPickerViewController>(e.controller->presentedViewController());
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->documentTypes(), std::vector<std::string>{"public.data"});
    EXPECT_EQ(picker->mode(), UIDocumentPickerMode::import);
    EXPECT_TRUE(picker->allowsMultipleSelection);
    testkit::StdoutCapture capture;
    picker->pick({URL::fileURLWithPath("/tmp/a.wav"), URL::fileURLWithPath("/tmp/b c.wav")});
    e.controller->documentPicker(*picker, URL::fileURLWithPath("/tmp/one.wav"));
    e.controller->openFilePicker();
    std::dynamic_pointer_cast<UIDocumentPickerViewController>(e.controller->presentedViewController())->cancel();
    EXPECT_EQ(testkit::splitLines(capture.finish()),
              (std::vector<std::string>{"documentPicker: [file:///tmp/a.wav, file:///tmp/b%20c.wav]",
                                        "documentPicker: file:///tmp/one.wav",
                                        "documentPicker: [file:///tmp/one.wav]", "The document picker was canceled."}));
}

TEST(Dialogs, ASegueWithAnIdentifierPrintsIt) {
    Editor e;
    testkit::StdoutCapture capture;
    UIStoryboardSegue named("ShowHelp", e.controller.get(), nullptr);
    UIStoryboardSegue unnamed(std::nullopt, e.controller.get(), nullptr);
    e.controller->prepare(named, {});
    e.controller->prepare(unnamed, {});
    EXPECT_EQ(capture.finish(), "ShowHelp\n");
}
