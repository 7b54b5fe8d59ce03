// A page's renderer for the tests that answers as a renderer taken over by
// its page might: the page's text (after its address, on descriptor 3) says
// how. Every other answer is as the real renderer's would be, of a white page
// 1000 points tall titled "Stand-in".
//   honest         nothing else
//   wrong size     a draw's picture a pixel wider than asked
//   flood          names 200,000 picture addresses in its first answer
//   many in turns  names 100 new addresses in each answer
//   one address    names the same address in each answer
//   tall           says the page is 1e300 points tall
//   babble         answers a tap twice (nothing is asked after it)
//   telling        its title tells the requests it had: "L320" a layout at
//                  320 points, "D320@2:0+512" a draw at 320 points, 2 pixels
//                  to the point, of 512 points from the top, "T" a tap and
//                  "I" a picture, one after the other
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/Wire.h"
#include "platform/web/PageRenderer.h"

namespace {

std::string readPage() {
    std::string bytes;
    char chunk[4096];
    for (ssize_t got; (got = ::pread(PageRenderer::kPageDescriptor, chunk, sizeof chunk, off_t(bytes.size()))) > 0;)
        bytes.append(chunk, std::size_t(got));
    WireReader in(bytes);
    in.text();
    return std::string(in.rest());
}

}  // namespace

int main() {
    if (!ChildTrial::bindToParent())
        return 1;
    const std::string how = readPage();
    int answers = 0;
    std::ostringstream told;
    for (std::string request; ChildSession::nextRequest(request); ++answers) {
        WireReader in(request);
        const auto kind = PageRenderer::Request(in.get<std::uint8_t>());
        if (how == "telling") {
            WireReader fields(std::string_view(request).substr(1));
            told << (answers ? " " : "") << char(kind);
            if (kind == PageRenderer::Request::layout || kind == PageRenderer::Request::draw)
                told << fields.get<std::int32_t>();
            if (kind == PageRenderer::Request::draw) {
                const double top = fields.get<double>(), height = fields.get<double>(), scale = fields.get<double>();
                told << "@" << scale << ":" << top << "+" << height;
            }
        }
        std::vector<std::string> addresses;
        if (how == "flood" && answers == 0)
            for (int i = 0; i < 200000; ++i)
                addresses.push_back("http://127.0.0.1/flood/" + std::to_string(i) + ".png");
        if (how == "many in turns")
            for (int i = 0; i < 100; ++i)
                addresses.push_back("http://127.0.0.1/turn/" + std::to_string(answers) + "/" + std::to_string(i) + ".png");
        if (how == "one address")
            addresses.push_back("http://127.0.0.1/one.png");
        WireWriter out;
        const double pageHeight = how == "tall" ? 1e300 : 1000;
        out.put(std::uint8_t(0xff)).put(pageHeight).put(how == "telling" ? told.str() : "Stand-in").put(std::uint32_t(addresses.size()));
        for (const std::string& address : addresses)
            out.put(address);
        if (kind == PageRenderer::Request::draw) {
            const int width = in.get<std::int32_t>();
            in.get<double>();
            const double height = in.get<double>(), scale = in.get<double>();
            const auto pixelWidth = std::int32_t(std::ceil(width * scale)) + (how == "wrong size" ? 1 : 0);
            const auto pixelHeight = std::int32_t(std::ceil(height * scale));
            PageRenderer::putPictureSides(out, pixelWidth, pixelHeight);
            out.rest(std::string(std::size_t(pixelWidth) * std::size_t(pixelHeight) * 4, '\xff'));
        } else if (kind == PageRenderer::Request::tap) {
            out.put(std::uint8_t(0));
        }
        const std::string answer = out.take();
        if (!ChildSession::reply(answer) ||
            (how == "babble" && kind == PageRenderer::Request::tap && !ChildSession::reply(answer)))
            return 1;
    }
    return 0;
}
