#pragma once

#include <gtest/gtest.h>

namespace testkit {

// Points fontconfig at a configuration holding only the URW and DejaVu
// faces, so text metrics do not depend on what else is installed. Call it
// before the first font is used in the process; later calls do nothing.
void pinFonts();

// Pins the fonts before any test runs. Register once per program:
//   ::testing::AddGlobalTestEnvironment(new testkit::PinnedFontsEnvironment);
class PinnedFontsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { pinFonts(); }
};

}  // namespace testkit
