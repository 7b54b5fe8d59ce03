#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/web/PDFRenderer.h"

class CGContext;

// A PDF file opened with poppler: page sizes in points, pages drawn through
// Cairo, and the addresses of the links on a page. Poppler works on one
// document from one thread at a time: a document is used where it is kept.
// Built into the PDF renderer only, which answers with its links (PDFRenderer::Link).
class PDFDocument {
public:
    // None, with the reason in `error`, when the file is missing or no PDF.
    static std::unique_ptr<PDFDocument> open(const std::string& path, std::string& error);
    // The same from the file's bytes (a PDF that came over the network).
    static std::unique_ptr<PDFDocument> fromData(const std::vector<std::uint8_t>& bytes, std::string& error);
    ~PDFDocument();
    PDFDocument(const PDFDocument&) = delete;
    PDFDocument& operator=(const PDFDocument&) = delete;

    int pageCount() const { return pages_; }
    // Zero for a page that does not exist.
    CGSize pageSize(int index) const;
    // Draws the page on white with its top left corner at (0, 0), one point
    // to the unit of the context; nothing for a page that does not exist.
    void drawPage(int index, CGContext& context) const;
    // The links to addresses on the page; none for a page that does not exist.
    std::vector<PDFRenderer::Link> links(int index) const;

private:
    struct Impl;
    explicit PDFDocument(std::unique_ptr<Impl> impl);
    static std::unique_ptr<PDFDocument> finish(std::unique_ptr<Impl> impl, struct _GError* failure, std::string& error);

    std::unique_ptr<Impl> impl_;
    int pages_ = 0;
};
