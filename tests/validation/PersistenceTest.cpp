#include <gtest/gtest.h>

#include <map>

#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

using Values = std::map<AUParameterAddress, AUValue>;

Values treeValues(const Host& host) {
    Values values;
    for (const AUParameterAddress address : host.addresses()) values[address] = host.valueInTree(address);
    return values;
}

Values editorValues(Host& host) {
    Values values;
    for (const AUParameterAddress address : host.addresses())
        values[address] = host.unit->getParameter(static_cast<std::int32_t>(address));
    return values;
}

} // namespace

TEST(Persistence, ParametersKeepTheirValuesAcrossResetDeallocationAndReallocation) {
    Host host(48000.0, 512);
    host.randomise(31);
    const Values set = treeValues(host);
    EXPECT_EQ(editorValues(host), set);

    Stereo signal = noise(4096, 1, 0.5f);
    ASSERT_EQ(host.process(signal, 512), noErr);
    host.unit->reset();
    EXPECT_EQ(treeValues(host), set) << "after reset";
    host.unit->deallocateRenderResources();
    EXPECT_EQ(treeValues(host), set) << "after deallocation";
    host.configure(96000.0, 1024);
    EXPECT_EQ(treeValues(host), set) << "after reallocation at another rate";
    EXPECT_EQ(editorValues(host), set);
    host.unit->setShouldBypassEffect(true);
    host.unit->setShouldBypassEffect(false);
    EXPECT_EQ(treeValues(host), set) << "after bypass";
}

// What the host sees is what is heard: a reallocated unit sounds as it did
// after a reset with the same values.
TEST(Persistence, AReallocatedUnitSoundsAsItsParametersSay) {
    Host host(44100.0, 512);
    host.randomise(47);
    host.setThroughTree(kCurrentMode, 2.0f); // three bands
    const Stereo probe = noise(framesFor(0.5, 44100.0), 3, 0.5f);
    host.unit->reset();
    const Stereo before = host.rendered(probe, 512);
    ASSERT_TRUE(allFinite(before));

    host.configure(96000.0, 256);
    Stereo elsewhere = noise(4096, 4, 0.5f);
    ASSERT_EQ(host.process(elsewhere, 256), noErr);
    host.configure(44100.0, 512);
    const Stereo after = host.rendered(probe, 512);
    EXPECT_TRUE(after.L == before.L);
    EXPECT_TRUE(after.R == before.R);
    EXPECT_EQ(host.renderAllocations(), 0u);
}
