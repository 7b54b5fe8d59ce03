#include <thread>

#include "platform/foundation/NSError.h"
#include "platform/graphics/UIBezierPath.h"

#include "tests/Orvo_Halden_Extension/controller/Session.h"
#include "tests/support/StdoutCapture.h"

namespace controller {
namespace {

const std::string kDidSet = "AU Diagnostics: AUAudioUnit::didSet()";
const std::string kAboutToConnect = "AU Diagnostics: We are about to connect the audio unit to its view controller.";
const std::string kNotLoaded = "AU Diagnostics: WARNING: Plugin view is not loaded.";
const std::string kConnected = "AU Diagnostics: Connected parameters to the plugins interface.";

TEST(HandOver, UnitMadeWhileTheViewIsLoadedConnectsInOrderAndShowsTheUnitsValues) {
    Session s;
    s.show();
    testkit::StdoutCapture capture;
    const auto unit = s.createUnit();
    // Changed before the hand-over runs: only the push can bring it.
    unit->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.875f);
    s.drain();
    const auto lines = capture.lines();
    capture.finish();

    EXPECT_TRUE(inOrder(lines, {kDidSet, kAboutToConnect,
                                "Audio Unit's documents path is: " + s.documents.path().string(),
                                "AU Diagnostics: Retriving parameters from the audio unit: ",
                                "ExtensionViewController: Extracting at the parameter tree: ",
                                "\tExtensionViewController: Folllowing AU parameter was found... ", kConnected}));
    EXPECT_EQ(countOf(lines, kConnected), 1u);
    EXPECT_EQ(s.model().valueSize[2], 0.875);
    EXPECT_EQ(s.controller->parameters().size(), 111u);
}

TEST(HandOver, UnitMadeBeforeTheViewIsConnectedWhenTheViewLoads) {
    Session s;
    testkit::StdoutCapture capture;
    const auto unit = s.createUnit();
    s.drain();
    EXPECT_EQ(countOf(capture.lines(), kNotLoaded), 1u);

    s.show();
    unit->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.125f);
    s.drain();
    const auto lines = capture.lines();
    capture.finish();
    EXPECT_TRUE(inOrder(lines, {kNotLoaded, kAboutToConnect, kConnected}));
    EXPECT_EQ(s.model().valueSize[2], 0.125) << "host changes reach the editor";
}

TEST(HandOver, ViewLoadedBeforeAQueuedHandOverRunsConnectsOnce) {
    Session s;
    testkit::StdoutCapture capture;
    s.createUnit();
    s.show();
    s.drain();
    const auto lines = capture.lines();
    capture.finish();
    EXPECT_EQ(countOf(lines, kConnected), 1u);
    EXPECT_EQ(countOf(lines, kNotLoaded), 0u);
}

TEST(HandOver, AFailingUnitReachesTheHostAsItsErrorAndKeepsTheUnitThereWas) {
    Session s;
    const auto unit = s.createUnit();
    s.drain();
    testkit::StdoutCapture capture;
    EXPECT_THROW(s.controller->createAudioUnit(AudioComponentDescription{}), NSError);
    const auto lines = capture.lines();
    capture.finish();
    EXPECT_EQ(countOf(lines, kDidSet), 0u);
    EXPECT_EQ(s.controller->audioUnit(), unit);
    EXPECT_EQ(s.drain(), 0u);
}

TEST(HandOver, AnAbsentUnitLeavesTheConnectionAsItWas) {
    Session s;
    s.show();
    const auto unit = s.createUnit();
    s.drain();
    testkit::StdoutCapture capture;
    s.controller->setAudioUnit(nullptr);
    s.drain();
    const auto lines = capture.lines();
    capture.finish();
    EXPECT_EQ(lines, (std::vector<std::string>{kDidSet, kAboutToConnect,
                                               "Error: could not set paths, audio unit is nil.",
                                               "AU Diagnostics: WARNING: The audio unit is nil."}));
    EXPECT_EQ(s.controller->parameters().size(), 111u);
    // The old tree is still observed.
    unit->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.25f);
    EXPECT_EQ(s.drain(), 1u);
}

TEST(HandOver, AccessByAddressNeedsAConnectedTree) {
    Session s;
    testkit::StdoutCapture capture;
    s.controller->setParameter(kSizeBP, 0.5f);
    EXPECT_EQ(s.controller->getParameter(kSizeBP), 0.0f);
    s.show();
    s.createUnit();
    s.drain();
    s.controller->setParameter(kSizeBP, 0.625f);
    EXPECT_EQ(s.controller->getParameter(kSizeBP), 0.625f);
    EXPECT_EQ(s.controller->getParameter(200), 0.0f);
    s.controller->setParameter(-1, 0.5f);
    const auto lines = capture.lines();
    capture.finish();
    for (const char* address : {"28", "200", "-1"})
        EXPECT_EQ(countOf(lines, std::string("AudioUnitViewController: ERROR: The parameter address ") + address +
                                     " is not available."),
                  1u)
            << address;
}

// ---- Round trips with the real unit ------------------------------------------------------

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        s.show();
        unit = s.createUnit();
        s.drain();
    }
    AUParameter& size() { return *unit->parameterTree()->parameterWithAddress(kSizeBP); }

    Session s;
    std::shared_ptr<Unit> unit;
};

TEST_F(RoundTrip, AnEditorDragReachesTheUnitAndComesBackOnce) {
    // A display pass lays the canvas out; the size knob then sits where we put it.
    s.controller->view()->displayIfNeeded();
    s.model().hotspotSizePath = UIBezierPath::rect({300, 400, 40, 40});
    const float before = size().value();

    const auto touch = s.window->touchDown({320, 420});
    EXPECT_TRUE(s.controller->touchesLocked());
    s.window->touchMove(touch, {320, 360});
    const float dragged = size().value();
    EXPECT_NE(dragged, before);
    EXPECT_FLOAT_EQ(s.model().valueSize[2], dragged);

    s.model().valueSize[2] = -1;  // what the echo must overwrite
    EXPECT_EQ(s.drain(), 1u);
    EXPECT_EQ(s.model().valueSize[2], dragged);
    s.window->touchUp(touch);
    EXPECT_FALSE(s.controller->touchesLocked());

    // The same value again changes nothing in the tree, so nothing comes back.
    s.controller->onOrvoHaldenViewParameter(kSizeBP, dragged);
    EXPECT_EQ(s.drain(), 0u);
}

TEST_F(RoundTrip, AHostChangeFromAnotherThreadIsMirroredOnceOnTheMainThread) {
    std::thread host([this] { size().setValue(0.3125f); });
    host.join();
    EXPECT_NE(s.model().valueSize[2], 0.3125) << "not before the main queue runs";
    EXPECT_EQ(s.drain(), 1u);
    EXPECT_EQ(s.model().valueSize[2], 0.3125);
}

TEST_F(RoundTrip, AssigningAUnitAgainKeepsOneObserver) {
    s.controller->setAudioUnit(unit);
    s.drain();
    size().setValue(0.5625f);
    EXPECT_EQ(s.drain(), 1u);

    const auto old = unit;
    unit = s.createUnit();
    s.drain();
    old->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.0625f);
    EXPECT_EQ(s.drain(), 0u) << "the old tree is no longer observed";
    size().setValue(0.4375f);
    EXPECT_EQ(s.drain(), 1u);
    EXPECT_EQ(s.model().valueSize[2], 0.4375);
}

}  // namespace
}  // namespace controller
