#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/audio/AUParameterTree.h"

namespace {

std::shared_ptr<AUParameter> parameter(const char* key, AUParameterAddress address, AUValue min = 0.0f,
                                       AUValue max = 1.0f) {
    return AUParameterTree::createParameter(
        key, key, address, min, max, kAudioUnitParameterUnit_Generic, std::nullopt,
        kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable, std::nullopt, {});
}

struct Change {
    AUParameterAddress address;
    AUValue value;
    friend bool operator==(const Change&, const Change&) = default;
};

// Two groups, the second nested in a third, so order and lookup cross levels.
std::shared_ptr<AUParameterTree> makeTree() {
    auto inner = AUParameterTree::createGroup("inner", "Inner", {parameter("c", 30), parameter("d", 5)});
    auto first = AUParameterTree::createGroup("first", "First", {parameter("a", 10), parameter("b", 20)});
    auto outer = AUParameterTree::createGroup("outer", "Outer", {inner, parameter("e", 7)});
    return AUParameterTree::createTree({first, outer});
}

} // namespace

TEST(AUParameterTree, ListsParametersDepthFirstAndFindsThemByAddress) {
    const auto tree = makeTree();
    std::vector<AUParameterAddress> order;
    for (const auto& p : tree->allParameters()) order.push_back(p->address());
    EXPECT_EQ(order, (std::vector<AUParameterAddress>{10, 20, 30, 5, 7}));
    ASSERT_TRUE(tree->parameterWithAddress(5));
    EXPECT_EQ(tree->parameterWithAddress(5)->identifier(), "d");
    EXPECT_EQ(tree->parameterWithAddress(7)->identifier(), "e");
    EXPECT_EQ(tree->parameterWithAddress(6), nullptr);
    EXPECT_EQ(tree->parameterWithAddress(~AUParameterAddress{0}), nullptr);
    EXPECT_TRUE(AUParameterTree::createTree({})->allParameters().empty());
}

TEST(AUParameterTree, SettingAValueTellsTheImplementorThenEachObserverOnce) {
    const auto tree = makeTree();
    std::vector<Change> implementor, first, second;
    tree->setImplementorValueObserver([&](const AUParameter& p, AUValue v) {
        implementor.push_back({p.address(), v});
    });
    const auto t1 = tree->tokenByAddingParameterObserver([&](AUParameterAddress a, AUValue v) {
        first.push_back({a, v});
    });
    const auto t2 = tree->tokenByAddingParameterObserver([&](AUParameterAddress a, AUValue v) {
        second.push_back({a, v});
    });
    EXPECT_NE(t1, t2);

    // Values are stored as given, outside the declared range too.
    tree->parameterWithAddress(20)->setValue(7.5f);
    EXPECT_EQ(tree->parameterWithAddress(20)->value(), 7.5f);
    EXPECT_EQ(implementor, (std::vector<Change>{{20, 7.5f}}));
    EXPECT_EQ(first, (std::vector<Change>{{20, 7.5f}}));
    EXPECT_EQ(second, first);

    // The originator does not hear its own change; a removed observer hears nothing.
    tree->parameterWithAddress(5)->setValue(-1.0f, t1);
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(second.back(), (Change{5, -1.0f}));
    tree->removeParameterObserver(t2);
    tree->parameterWithAddress(10)->setValue(0.25f);
    EXPECT_EQ(first.back(), (Change{10, 0.25f}));
    EXPECT_EQ(second.size(), 2u);
    EXPECT_EQ(implementor.size(), 3u);
}

TEST(AUParameterTree, AnObserverMayRemoveItselfWhileBeingCalled) {
    const auto tree = makeTree();
    int calls = 0;
    AUParameterObserverToken token = 0;
    token = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) {
        ++calls;
        tree->removeParameterObserver(token);
    });
    tree->parameterWithAddress(10)->setValue(1.0f);
    tree->parameterWithAddress(10)->setValue(0.0f);
    EXPECT_EQ(calls, 1);
}

TEST(AUParameterTree, ReadsGoThroughTheProviderOnceInstalled) {
    const auto tree = makeTree();
    const auto p = tree->parameterWithAddress(30);
    p->setValue(0.5f);
    EXPECT_EQ(p->value(), 0.5f);
    tree->setImplementorValueProvider(
        [](const AUParameter& q) { return static_cast<AUValue>(q.address()) + 0.5f; });
    EXPECT_EQ(p->value(), 30.5f);
    EXPECT_EQ(tree->parameterWithAddress(5)->value(), 5.5f);
}

TEST(AUParameterTree, TextOfAValueComesFromTheCallbackOrPlainFormatting) {
    const auto tree = makeTree();
    const auto p = tree->parameterWithAddress(10);
    p->setValue(0.25f);
    EXPECT_EQ(p->stringFromValue(), "0.25");
    const AUValue v = 120.0f;
    EXPECT_EQ(p->stringFromValue(&v), "120");
    tree->setImplementorStringFromValueCallback([](const AUParameter& q, const AUValue* value) {
        return q.identifier() + "=" + AUParameter::defaultString(value ? *value : q.value());
    });
    EXPECT_EQ(p->stringFromValue(), "a=0.25");
    EXPECT_EQ(p->stringFromValue(&v), "a=120");
}

TEST(AUParameterTree, AParameterOutlivingItsTreeKeepsItsValueAlone) {
    std::vector<Change> heard;
    std::shared_ptr<AUParameter> kept;
    {
        const auto tree = makeTree();
        tree->setImplementorValueObserver([&](const AUParameter& p, AUValue v) {
            heard.push_back({p.address(), v});
        });
        kept = tree->parameterWithAddress(20);
    }
    kept->setValue(0.75f);
    EXPECT_EQ(kept->value(), 0.75f);
    EXPECT_TRUE(heard.empty());
}
