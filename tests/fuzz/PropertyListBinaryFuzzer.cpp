// The binary property-list reader: parse, write as XML, parse again.
#include "tests/fuzz/PropertyListRoundTrip.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Only data that claims to be binary reaches the binary reader.
    if (!std::string_view(reinterpret_cast<const char*>(data), size).starts_with("bplist")) return -1;
    fuzz::roundTrip({data, size});
    return 0;
}
