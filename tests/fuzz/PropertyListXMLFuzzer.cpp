// The XML property-list reader: parse, write, parse again.
#include "tests/fuzz/PropertyListRoundTrip.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Binary data belongs to the other target.
    if (std::string_view(reinterpret_cast<const char*>(data), size).starts_with("bplist")) return -1;
    fuzz::roundTrip({data, size});
    return 0;
}
