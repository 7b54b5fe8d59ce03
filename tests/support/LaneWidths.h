#pragma once

#include <gtest/gtest.h>

#include <iostream>

#include "dsp/VectorMath.h"

namespace testkit {

// Runs body(width) once for each lane width this processor can run, that width
// forced; back to automatic afterwards, even when an assertion returns early.
template <class Body> void forEachLaneWidth(Body body) {
    using VectorMath::LaneWidth;
    struct Restore {
        ~Restore() { VectorMath::forceLaneWidth(LaneWidth::Automatic); }
    } restore;
    for (const LaneWidth width : {LaneWidth::Four, LaneWidth::Eight}) {
        if (width == LaneWidth::Eight && !VectorMath::canRunEightLanes()) {
            std::cout << "[ NOTE     ] no AVX2 here: the eight-lane paths are not run\n";
            continue;
        }
        SCOPED_TRACE(width == LaneWidth::Four ? "four lanes" : "eight lanes");
        VectorMath::forceLaneWidth(width);
        body(width);
    }
}

} // namespace testkit
