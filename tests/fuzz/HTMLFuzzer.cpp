// The HTML path of the web view: any bytes as a page from the network,
// through our filter, then litehtml's parsing, layout at two widths, drawing
// through our container and a tap where a link may be.
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/graphics/ImageSurface.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/HTMLFilter.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Filtering what was filtered changes nothing more that matters: it must
    // not grow without bound.
    FilteredHTML once = filterHTML(bytes);
    fuzz::check(filterHTML(once.html).html.size() <= once.html.size() + once.html.size() / 2 + 64,
                "the filter settles");

    // The page as the web view takes it, from that one filtering.
    HTMLDocument page(std::move(once), URL::string("http://127.0.0.1/dir/page.html"));
    ImageSurface picture({160, 120});
    for (const CGFloat width : {160.0, 23.0}) {
        page.layout(width);
        const CGFloat height = page.height();
        fuzz::check(height >= 0, "a page has a height");
        picture.draw([&](CGContext& context) { page.draw(context, height / 2, {160, 120}); });
        page.linkAt({width / 2, 10});
    }
    return 0;
}
