// Opens and draws one PDF document for the web view, in a process of its own
// held to limits from outside (a ChildSession): the document is open on
// descriptor 3, whole once "open" is asked; the requests come, and the
// replies go, on the session's channel (see PDFRenderer). Exits when the web
// view leaves the document.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/PDFDocument.h"
#include "platform/web/PDFRenderer.h"

namespace {

// The document, PDFRenderer::kMostBytes at most; none when it cannot be read.
bool readDocument(std::vector<std::uint8_t>& bytes) {
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t got =
            ::pread(PDFRenderer::kDocumentDescriptor, chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
        if (got == 0)
            return true;
        if (got < 0 || bytes.size() + std::size_t(got) > PDFRenderer::kMostBytes)
            return false;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

// The page at the size it was answered with (see PDFRenderer::pageSize):
// what lies beyond it is left out, what poppler's page leaves of it is white.
PDFRenderer::Drawn draw(const PDFDocument& document, int page, CGFloat pixelsPerPoint) {
    PDFRenderer::Drawn drawn;
    try {
        const CGSize own = document.pageSize(page), size = PDFRenderer::pageSize(own);
        drawn.picture = std::make_shared<ImageSurface>(size, pixelsPerPoint);
        if (drawn.picture->pixelWidth() > 0) {
            if (size != own)
                drawn.picture->fill({1, 1, 1, 1});
            drawn.picture->draw([&](CGContext& context) { document.drawPage(page, context); });
        } else {
            drawn.picture.reset();
        }
        for (PDFRenderer::Link& link : document.links(page))
            if (const std::optional<CGRect> area = PDFRenderer::linkArea(link.area, size))
                drawn.links.push_back({*area, std::move(link.uri)});
    } catch (const std::exception& failure) {
        // Shown blank rather than asked for again and again.
        std::fprintf(stderr, "orvo-pdf-renderer: ERROR: page %d could not be drawn: %s\n", page + 1, failure.what());
        drawn = {};
    }
    return drawn;
}

}  // namespace

int main() {
    if (!ChildTrial::bindToParent())
        return 1;
    std::unique_ptr<PDFDocument> document;
    for (std::string request; ChildSession::nextRequest(request);) {
        const std::optional<PDFRenderer::Request> asked = PDFRenderer::request(request);
        if (!asked) {
            std::fputs("orvo-pdf-renderer: ERROR: a request that is none\n", stderr);
            return 1;
        }
        std::string reply;
        PDFRenderer::Drawn drawn;
        if (asked->kind == PDFRenderer::Request::Kind::open) {
            PDFRenderer::Opened opened;
            // Poppler keeps a copy of its own: these go at once.
            if (std::vector<std::uint8_t> bytes; readDocument(bytes))
                document = PDFDocument::fromData(bytes, opened.error);
            else
                opened.error = "the document cannot be read";
            for (int i = 0; document && i < document->pageCount(); ++i)
                opened.sizes.push_back(PDFRenderer::pageSize(document->pageSize(i)));
            if (!document && opened.error.empty())
                opened.error = "the file cannot be read";
            reply = PDFRenderer::openedReply(opened);
        } else {
            if (document)
                drawn = draw(*document, asked->page, asked->pixelsPerPoint);
            reply = PDFRenderer::drawnReply(drawn);
        }
        if (!ChildSession::reply(reply, drawn.picture ? drawn.picture->bytes() : std::span<const std::uint8_t>()))
            return 1;
    }
    return 0;
}
