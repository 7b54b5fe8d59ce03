#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "EditorFixture.h"

namespace {

using Model = OrvoHaldenViewBase;
using Snapshot = std::map<std::string, double>;

// Every field a parameter could reach, by name.
Snapshot snapshot(const Model& m) {
    Snapshot s{{"currentMode", double(m.currentMode)}, {"isAllpass", m.isAllpass},
               {"valueSplit1", m.valueSplit1},         {"valueSplit2", m.valueSplit2},
               {"currentView", m.currentView},         {"valueHorizontal", m.valueHorizontal},
               {"valueVertical", m.valueVertical},     {"labelDisplay", double(std::hash<std::string>{}(m.labelDisplay))},
               {"isSplit1Active", m.isSplit1Active},   {"isSplit2Active", m.isSplit2Active}};
    const std::pair<const char*, decltype(Model::valueSize) Model::*> arrays[] = {
        {"valueInput", &Model::valueInput}, {"valueDry", &Model::valueDry}, {"valueWet", &Model::valueWet},
        {"valueSize", &Model::valueSize}, {"valueDamp", &Model::valueDamp}, {"valueWidth", &Model::valueWidth},
        {"valueFreeze", &Model::valueFreeze}, {"valueOutput", &Model::valueOutput}, {"valueModel", &Model::valueModel},
        {"valuePan", &Model::valuePan}, {"valuePreDelayOn", &Model::valuePreDelayOn},
        {"valuePreDelayTempo", &Model::valuePreDelayTempo}, {"valuePreDelayDivision", &Model::valuePreDelayDivision},
        {"valuePreDelayFeedback", &Model::valuePreDelayFeedback}, {"valuePostDelayOn", &Model::valuePostDelayOn},
        {"valuePostDelayTempo", &Model::valuePostDelayTempo},
        {"valuePostDelayDivision", &Model::valuePostDelayDivision},
        {"valuePostDelayFeedback", &Model::valuePostDelayFeedback}, {"valueShifterOn", &Model::valueShifterOn},
        {"valueShifterConnection", &Model::valueShifterConnection},
        {"valueShifterAmount", &Model::valueShifterAmount}, {"valueShifterMix", &Model::valueShifterMix},
        {"valueShifterMode", &Model::valueShifterMode}};
    for (const auto& [name, field] : arrays)
        for (int i = 0; i < 4; ++i)
            s[std::string(name) + "[" + std::to_string(i) + "]"] = (m.*field)[i];
    for (int i = 0; i < 4; ++i) {
        s["isRangeActive[" + std::to_string(i) + "]"] = m.isRangeActive[i];
        s["isRangeSelected[" + std::to_string(i) + "]"] = m.isRangeSelected[i];
    }
    return s;
}

// The parameter blocks the editor shows, four bands each.
const std::map<int, std::string> kBlocks = {
    {14, "valueInput"},          {18, "valueDry"},
    {22, "valueWet"},            {26, "valueSize"},
    {30, "valueDamp"},           {34, "valueWidth"},
    {38, "valueFreeze"},         {42, "valueOutput"},
    {46, "valueModel"},          {50, "valuePan"},
    {54, "valuePreDelayOn"},     {58, "valuePreDelayTempo"},
    {62, "valuePreDelayDivision"}, {66, "valuePreDelayFeedback"},
    {70, "valuePostDelayOn"},    {74, "valuePostDelayTempo"},
    {78, "valuePostDelayDivision"}, {82, "valuePostDelayFeedback"},
    {102, "valueShifterOn"},     {106, "valueShifterConnection"},
    {110, "valueShifterAmount"}, {114, "valueShifterMix"},
    {118, "valueShifterMode"},
};

// What one value sent to `address` should change, and nothing else.
Snapshot expectedChange(int address, float value) {
    if (address == 2)
        return {{"currentMode", 0}};
    if (address == 3)
        return {{"valueSplit1", value}};
    if (address == 4)
        return {{"valueSplit2", value}};
    if (address >= 5 && address <= 7)
        return {{"isRangeActive[0]", 1}, {"isRangeActive[" + std::to_string(address - 4) + "]", 0}};
    for (const auto& [base, name] : kBlocks)
        if (address >= base && address < base + 4) {
            const bool tempo = base == 58 || base == 74;
            return {{name + "[" + std::to_string(address - base) + "]", tempo ? double(value / 240.0f) : value}};
        }
    return {};
}

}  // namespace

TEST(EditorMirroring, EachAddressChangesExactlyItsFieldAndAlwaysRedraws) {
    const float value = 0.375f;  // below 0.5: a lamp goes off; band 0
    for (int address = -1; address <= 127; ++address) {
        editor::Editor e;
        e.model().isRangeActive[0] = false;
        Snapshot expected = snapshot(e.model());
        for (const auto& [field, v] : expectedChange(address, value))
            expected[field] = v;
        e.view->displayIfNeeded();
        e.view->setParameter(address, value);
        EXPECT_EQ(snapshot(e.model()), expected) << "address " << address;
        EXPECT_TRUE(e.view->needsDisplay()) << "address " << address;
        EXPECT_TRUE(e.takeReports().empty());
    }
}

TEST(EditorMirroring, BandSelectionAndIndexesAreHeldToTheirRangeAndNotANumberIsIgnored) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float value;
        long mode;
    };
    editor::Editor e;
    for (const Case c : {Case{2.7f, 2}, {-1, 0}, {3.9f, 3}, {7, 3}, {nan, 3}, {1e30f, 3}, {-inf, 0}, {inf, 3},
                         {-0.9f, 0}}) {
        e.view->setParameter(2, c.value);
        EXPECT_EQ(e.model().currentMode, c.mode) << c.value;
        EXPECT_FALSE(e.model().isAllpass);
    }
    // Indexes: the model, divisions and shifter mode keep their value, held to their range.
    e.view->setParameter(62, 9);
    e.view->setParameter(62, nan);
    e.view->setParameter(79, 1e30f);
    e.view->setParameter(47, -5);
    e.view->setParameter(121, 2.5f);
    EXPECT_EQ(e.model().valuePreDelayDivision[0], 9);
    EXPECT_EQ(e.model().valuePostDelayDivision[1], 19);
    EXPECT_EQ(e.model().valueModel[1], 0);
    EXPECT_EQ(e.model().valueShifterMode[3], 2.5);
    // Tempos arrive in BPM; continuous values and splits are stored as they are.
    e.view->setParameter(60, 120);
    e.view->setParameter(77, 60);
    e.view->setParameter(3, 0.9f);
    EXPECT_EQ(e.model().valuePreDelayTempo[2], 0.5);
    EXPECT_EQ(e.model().valuePostDelayTempo[3], 0.25);
    EXPECT_DOUBLE_EQ(e.model().valueSplit1, 0.9f);
    e.view->setParameter(6, 0.5f);
    EXPECT_TRUE(e.model().isRangeActive[2]);
}

TEST(EditorView, ContrastFocusControllerLinkAndHiddenDraw) {
    editor::Editor e(0.5);
    e.view->setContrast(0.25);
    EXPECT_EQ(e.model().colorContrast, (UIColor{0.75, 0.75, 0.75, 1}));
    EXPECT_EQ(e.model().colorContrastInverted, (UIColor{0.25, 0.25, 0.25, 1}));
    EXPECT_EQ(e.view->displayIfNeeded(), 1u);
    e.view->setFocus(false);
    EXPECT_TRUE(e.view->needsDisplay());

    EXPECT_EQ(e.model().viewController.lock(), e.controller);
    e.view->setViewController({});
    EXPECT_EQ(e.model().viewController.lock(), nullptr);
    EXPECT_EQ(e.view->audioUnit(), nullptr);

    // A hidden editor draws nothing, so its scale stays that of the last draw.
    e.view->setFrame({0, 0, 1360, 1200});
    e.view->setHidden(true);
    e.view->draw(e.view->bounds());
    EXPECT_EQ(e.model().canvasScale(), (CGSize{0.5, 0.5}));
    e.view->setHidden(false);
    e.view->draw(e.view->bounds());
    EXPECT_EQ(e.model().canvasScale(), (CGSize{2, 2}));
}
