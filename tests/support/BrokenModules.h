#pragma once

#include <filesystem>

namespace testkit {

// Component modules broken as a bad install or a hostile folder breaks them,
// each made in a folder of the test's own from the built test modules.
enum class BrokenModule {
    truncatedDependency,  // its own library is cut short inside its segments
    pipeDependency,       // its own library is a named pipe nobody writes to
    zeroedDynamicSegment, // sane headers, a dynamic segment of zeros
    anotherMachine,       // built, says its header, for AArch64 (for x86-64 on AArch64)
    exitingAsItLoads,     // its constructor ends the program with status 0
    exitingOnceTried,     // the same, but not in the trial program: it passes its trial
    hangingOnceTried,     // its constructor hangs any program but the trial program
    beyondAddressSpace,   // a segment larger than any address space: the loader runs out of memory
    unmappableDependency, // its own library is so, until mendDependency puts it back as built
    swellingAsItIsMade,   // its principal class takes 3 GB of memory, touches it, and returns
    peakingAsItIsMade,    // the same with the bytes ORVO_TEST_PEAK_BYTES says, given back before it returns
};

// The broken module's path in `folder`; empty when it could not be made.
std::filesystem::path brokenModule(BrokenModule kind, const std::filesystem::path& folder);

// Puts the library of a module made broken in `folder` back as it was built: false when it cannot.
bool mendDependency(const std::filesystem::path& folder);

// A sound module installed as plug-ins ship: its run path $ORIGIN, its own
// library beside it in `folder`. Its path there; empty when it could not be made.
std::filesystem::path moduleWithItsLibrary(const std::filesystem::path& folder);

} // namespace testkit
