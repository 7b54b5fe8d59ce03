#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"

namespace {

using V = OrvoHaldenViewBase;
constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();

// Stands in for the editor's controller: holds the unit once it has one.
class FakeController final : public OrvoHaldenViewControllerLink {
public:
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit;
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const override { return unit; }
};

} // namespace

TEST(NoteNames, NamesRunFromCMinusTwoToG8AndReadBackToTheirKey) {
    const NoteNames names;
    ASSERT_EQ(names.values.size(), 128u);
    const std::pair<std::int64_t, const char*> known[] = {
        {0, "C-2"}, {1, "C#-2"}, {11, "B-2"}, {12, "C-1"}, {24, "C0"},  {35, "B0"},
        {60, "C3"}, {63, "D#3"}, {69, "A3"},  {120, "C8"}, {127, "G8"},
    };
    for (const auto& [key, name] : known) {
        EXPECT_EQ(names.values[static_cast<std::size_t>(key)], name);
        EXPECT_EQ(names.name(key), name);
    }
    // Every name is distinct, so each reads back to its own key.
    for (std::int64_t key = 0; key < 128; ++key)
        EXPECT_EQ(names.getKeyNumber(names.values[static_cast<std::size_t>(key)]), key);
    for (const char* unknown : {"c3", "Db3", "", "G#8", " C3", "C3 ", "C#"})
        EXPECT_EQ(names.getKeyNumber(unknown), -1) << '"' << unknown << '"';
}

TEST(NoteNames, BlackKeysAndNamesNeverReadPastTheList) {
    NoteNames names;
    int blackKeys = 0;
    for (std::int64_t key = 0; key < 128; ++key) blackKeys += names.isBlackKey(key);
    EXPECT_EQ(blackKeys, 53); // five per octave, and C#8, D#8, F#8 of the last one
    EXPECT_TRUE(names.isBlackKey(1));
    EXPECT_FALSE(names.isBlackKey(60));
    EXPECT_TRUE(names.isBlackKey(61));
    for (std::int64_t key : {std::int64_t{-1}, std::int64_t{128}, kInt64Max, kInt64Min})
        EXPECT_FALSE(names.isBlackKey(key)) << key;
    EXPECT_EQ(names.name(-5), "C-2");
    EXPECT_EQ(names.name(kInt64Max), "G8");

    names.values.resize(11);
    EXPECT_FALSE(names.isBlackKey(61));
    EXPECT_TRUE(names.isBlackKey(10));
    EXPECT_EQ(names.name(63), "A#-2");
    names.values.clear();
    EXPECT_EQ(names.name(0), "");
    EXPECT_FALSE(names.isBlackKey(0));
}

TEST(OrvoHaldenViewBase, ANewModelShowsTheMiddleBandWithTheModelsOwnDefaults) {
    const V model;
    EXPECT_EQ(model.currentMode, 2);
    EXPECT_FALSE(model.isAllpass);
    EXPECT_EQ(model.isRangeSelected, (V::BandFlags{false, false, true, false}));
    EXPECT_EQ(model.isRangeActive, (V::BandFlags{true, true, true, true}));
    EXPECT_EQ(model.valueHorizontal, 0.5);
    EXPECT_EQ(model.valueVertical, 0.5);
    EXPECT_EQ(model.currentView, 0.0);
    EXPECT_EQ(model.labelDisplay, "display\nline\n000");
    EXPECT_EQ(model.valueSplit1, 0.25);
    EXPECT_EQ(model.valueSplit2, 0.75);
    EXPECT_EQ(model.valueWet[2], 1.0);
    EXPECT_EQ(model.valueDry[2], 0.0);
    EXPECT_EQ(model.valueModel[2], 1.0);
    EXPECT_EQ(model.valuePreDelayDivision[2], 0.0);
    EXPECT_EQ(model.valueShifterMix[2], 0.0);
    EXPECT_EQ(model.colorEmphasize, (UIColor{0.211, 0.52, 0.865, 1.0}));
    EXPECT_EQ(model.colorContrastHalf(), (UIColor{0, 0, 0, 0.5}));
    EXPECT_EQ(model.audioUnit(), nullptr);
}

TEST(OrvoHaldenViewBase, ReachesTheUnitThroughItsControllerWithoutKeepingEitherAlive) {
    V model;
    auto controller = std::make_shared<FakeController>();
    model.viewController = controller;
    EXPECT_EQ(model.audioUnit(), nullptr);

    controller->unit =
        Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
    ASSERT_NE(controller->unit, nullptr);
    EXPECT_EQ(model.audioUnit(), controller->unit);

    // Closing the editor drops the controller; the model outliving it must
    // not hold the unit and its delay lines.
    std::weak_ptr<Orvo_Halden_Extension_AudioUnit> unit = controller->unit;
    controller.reset();
    EXPECT_TRUE(unit.expired());
    EXPECT_EQ(model.audioUnit(), nullptr);
}

TEST(OrvoHaldenViewBase, AModeOutsideTheFourBandsReadsTheNearestBandAndShowsNoLabel) {
    V model;
    model.valueSize = {0.1, 0.2, 0.3, 0.4};
    struct Row {
        std::int64_t mode;
        CGFloat size;
        const char* label;
    };
    const Row rows[] = {
        {0, 0.1, "AP"}, {1, 0.2, "LP"}, {2, 0.3, "BP"},       {3, 0.4, "HP"},
        {-1, 0.1, ""},  {4, 0.4, ""},   {kInt64Min, 0.1, ""}, {kInt64Max, 0.4, ""},
    };
    for (const Row& row : rows) {
        model.currentMode = row.mode;
        EXPECT_EQ(model.valueSize[model.currentBand()], row.size) << row.mode;
        EXPECT_EQ(V::captionBand(row.mode), row.label) << row.mode;
    }
}

TEST(OrvoHaldenViewBase, CaptionsTruncateTowardZeroAndFallBackForValuesWithoutARow) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Row {
        std::string (*caption)(CGFloat);
        CGFloat value;
        const char* expected;
    };
    const Row rows[] = {
        {V::captionModel, 0, "rev. model 1 (shorter)"},
        {V::captionModel, 2.9, "rev. model 3 (medium)"},
        {V::captionModel, 3, "rev. model 4 (long)"},
        {V::captionModel, 4.7, "rev. model 4 (longer)"},
        {V::captionModel, -0.5, "rev. model 1 (shorter)"},
        {V::captionModel, 5, ""},
        {V::captionModel, -1, ""},
        {V::captionModel, NAN, ""},
        {V::captionDivision, 0, "off"},
        {V::captionDivision, 2.9, "1/96"},
        {V::captionDivision, 14, "1/1"},
        {V::captionDivision, 19, "8/1"},
        {V::captionDivision, -0.5, "off"},
        {V::captionDivision, 20, "-"},
        {V::captionDivision, -1, "-"},
        {V::captionDivision, NAN, "-"},
        {V::captionDivision, inf, "-"},
        {V::captionDivision, -inf, "-"},
        {V::captionDivision, 1e300, "-"},
        {V::captionDivision, -1e300, "-"},
        {V::captionShifterMode, 0, "no shift"},
        {V::captionShifterMode, 1.9, "freq. domain"},
        {V::captionShifterMode, 2, "time domain"},
        {V::captionShifterMode, 3, "bode"},
        {V::captionShifterMode, 4, ""},
        {V::captionShifterMode, inf, ""},
        {V::captionShifterConnection, 0.99, "pre"},
        {V::captionShifterConnection, 1, "post"},
        {V::captionShifterConnection, 2, ""},
        {V::captionShifterConnection, -1e300, ""},
    };
    for (const Row& row : rows) EXPECT_EQ(row.caption(row.value), row.expected) << row.value;
}
