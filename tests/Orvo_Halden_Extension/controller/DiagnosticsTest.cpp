#include <functional>

#include "tests/Orvo_Halden_Extension/controller/Session.h"
#include "tests/support/StdoutCapture.h"

namespace controller {
namespace {

std::shared_ptr<AUParameter> parameter(AUParameterAddress address, AudioUnitParameterUnit unit,
                                       AudioUnitParameterOptions flags,
                                       std::optional<std::vector<std::string>> strings = std::nullopt,
                                       std::optional<std::string> unitName = std::nullopt) {
    return AUParameterTree::createParameter("p" + std::to_string(address), "Param " + std::to_string(address),
                                            address, -96.0f, 12.0f, unit, std::move(unitName), flags,
                                            std::move(strings), {});
}

std::vector<std::string> listing(const std::function<void(AudioUnitViewController&)>& run) {
    const auto c = AudioUnitViewController::make();
    testkit::StdoutCapture capture;
    run(*c);
    auto lines = capture.lines();
    capture.finish();
    return lines;
}

TEST(TreeListing, PrintsEachParameterOfAGroupAsABlockWordForWord) {
    const auto a = parameter(7, 13, 0xC0000000, std::vector<std::string>{"Off", "On"}, "dB");
    const auto b = parameter(8, 27, 0);
    const auto tree = AUParameterTree::createTree({AUParameterTree::createGroup("g", "Group", {a, b})});
    std::vector<std::shared_ptr<AUParameter>> collected;
    const auto lines = listing([&](AudioUnitViewController& c) {
        c.extractParameters("parameterTree", tree.get(), 0);
        collected = c.parameters();
    });
    const std::vector<std::string> expected = {
        "",
        "\tExtensionViewController: Folllowing AU parameter was found... ",
        "\t- address:  7",
        "\t- displayName:  Param 7",
        "\t- value:  0.0",
        "\t- options:  AudioUnitParameterOptions(rawValue: 3221225472)",
        "\t- The flag value includes the following flags... ",
        "\t - flag_IsReadable",
        "\t - flag_IsWritable",
        "\t- maxValue:  12.0",
        "\t- minValue:  -96.0",
        "\t- unit: (type 13)  decibels",
        "\t- unitName:  dB",
        "\t- valueStrings:  [\"Off\", \"On\"]",
        "",
        "\tExtensionViewController: Folllowing AU parameter was found... ",
        "\t- address:  8",
        "\t- displayName:  Param 8",
        "\t- value:  0.0",
        "\t- options:  AudioUnitParameterOptions(rawValue: 0)",
        "\t- The flag value includes the following flags... ",
        "\t- maxValue:  12.0",
        "\t- minValue:  -96.0",
        "\t- unit: (type 27)  unknown parameter kind",
        "\t- unitName:  ",
        "\t- valueStrings:  []",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(collected, (std::vector<std::shared_ptr<AUParameter>>{a, b}));
}

TEST(TreeListing, NestedGroupsRepeatTheirParametersAndLooseOnesAreSkipped) {
    const auto loose = parameter(1, 0, 0);
    const auto inner = parameter(2, 0, 0);
    const auto tree = AUParameterTree::createTree(
        {loose, AUParameterTree::createGroup("outer", "Outer",
                                             {AUParameterTree::createGroup("inner", "Inner", {inner})})});
    std::vector<std::shared_ptr<AUParameter>> collected;
    const auto lines = listing([&](AudioUnitViewController& c) {
        c.extractParameters("parameterTree", tree.get(), 0);
        collected = c.parameters();
    });
    EXPECT_EQ(countOf(lines, "\t- address:  2"), 1u);
    EXPECT_EQ(countOf(lines, "\t\t- address:  2"), 1u);
    EXPECT_EQ(countOf(lines, "\t- address:  1"), 0u);
    EXPECT_EQ(collected.size(), 2u);

    EXPECT_EQ(listing([](AudioUnitViewController& c) { c.extractParameters("none", nullptr, 0); }),
              std::vector<std::string>{"ExtensionViewController: The parameter group has no children."});
}

TEST(TreeListing, FlagsAreListedByMaskInTableOrder) {
    struct Case {
        AudioUnitParameterOptions flags;
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {0, {}},
        {0x30000, {" - flag_DisplaySquareRoot", " - flag_DisplaySquared", " - flag_DisplayCubed"}},
        {0x50000, {" - flag_DisplaySquareRoot", " - flag_DisplayCubeRoot", " - flag_DisplayExponential"}},
        {0x470000,
         {" - flag_DisplayMask", " - flag_DisplaySquareRoot", " - flag_DisplaySquared", " - flag_DisplayCubed",
          " - flag_DisplayCubeRoot", " - flag_DisplayExponential", " - flag_DisplayLogarithmic"}},
        {0x10 | 0x2000000, {" - flag_CFNameRelease", " - flag_CanRamp"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected{"- The flag value includes the following flags... "};
        expected.insert(expected.end(), c.listed.begin(), c.listed.end());
        EXPECT_EQ(listing([&](AudioUnitViewController& vc) { vc.verboseFlags(c.flags, 0); }), expected) << c.flags;
    }
}

TEST(TreeListing, UnitNamesAndFloatTexts) {
    EXPECT_EQ(AudioUnitViewController::verboseParameterKind(26), "customUnit");
    EXPECT_EQ(AudioUnitViewController::verboseParameterKind(27), "unknown parameter kind");

    const auto p = AUParameterTree::createParameter("x", "X", 3, 0.1f, 120.0f, 22, std::nullopt, 0, std::nullopt, {});
    p->setValue(1e-05f);
    const auto lines = listing([&](AudioUnitViewController& c) { c.printParameter(*p, 0); });
    EXPECT_EQ(countOf(lines, "- value:  1e-05"), 1u);
    EXPECT_EQ(countOf(lines, "- maxValue:  120.0"), 1u);
    EXPECT_EQ(countOf(lines, "- minValue:  0.1"), 1u);
}

}  // namespace
}  // namespace controller
