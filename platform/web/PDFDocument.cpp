#include "platform/web/PDFDocument.h"

#include <cairo.h>
#include <poppler.h>

#include <vector>

#include "platform/graphics/CGContext.h"

struct PDFDocument::Impl {
    PopplerDocument* document = nullptr;
    std::vector<PopplerPage*> pages;

    ~Impl() {
        for (PopplerPage* page : pages)
            if (page)
                g_object_unref(page);
        if (document)
            g_object_unref(document);
    }
};

std::unique_ptr<PDFDocument> PDFDocument::open(const std::string& path, std::string& error) {
    GError* failure = nullptr;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &failure);
    auto impl = std::make_unique<Impl>();
    if (uri) {
        impl->document = poppler_document_new_from_file(uri, nullptr, &failure);
        g_free(uri);
    }
    return finish(std::move(impl), failure, error);
}

std::unique_ptr<PDFDocument> PDFDocument::fromData(const std::vector<std::uint8_t>& bytes, std::string& error) {
    GError* failure = nullptr;
    auto impl = std::make_unique<Impl>();
    GBytes* data = g_bytes_new(bytes.data(), bytes.size());
    impl->document = poppler_document_new_from_bytes(data, nullptr, &failure);
    g_bytes_unref(data);
    return finish(std::move(impl), failure, error);
}

std::unique_ptr<PDFDocument> PDFDocument::finish(std::unique_ptr<Impl> impl, GError* failure, std::string& error) {
    if (!impl->document) {
        error = failure ? failure->message : "the file cannot be read";
        if (failure)
            g_error_free(failure);
        return nullptr;
    }
    const int count = poppler_document_get_n_pages(impl->document);
    for (int i = 0; i < count; ++i)
        impl->pages.push_back(poppler_document_get_page(impl->document, i));
    return std::unique_ptr<PDFDocument>(new PDFDocument(std::move(impl)));
}

PDFDocument::PDFDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)), pages_(int(impl_->pages.size())) {}

PDFDocument::~PDFDocument() = default;

CGSize PDFDocument::pageSize(int index) const {
    if (index < 0 || index >= pages_ || !impl_->pages[size_t(index)])
        return {};
    double width = 0, height = 0;
    poppler_page_get_size(impl_->pages[size_t(index)], &width, &height);
    return {width, height};
}

void PDFDocument::drawPage(int index, CGContext& context) const {
    const CGSize size = pageSize(index);
    if (size.width <= 0 || size.height <= 0 || !context.canDraw())
        return;
    cairo_t* cr = context.cairo();
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, size.width, size.height);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    poppler_page_render(impl_->pages[size_t(index)], cr);
    cairo_restore(cr);
}

std::vector<PDFRenderer::Link> PDFDocument::links(int index) const {
    const CGSize size = pageSize(index);
    if (size.width <= 0)
        return {};
    std::vector<PDFRenderer::Link> found;
    GList* mapping = poppler_page_get_link_mapping(impl_->pages[size_t(index)]);
    for (GList* item = mapping; item; item = item->next) {
        const auto* link = static_cast<const PopplerLinkMapping*>(item->data);
        if (!link->action || link->action->type != POPPLER_ACTION_URI || !link->action->uri.uri)
            continue;
        // Link areas are in PDF space: y grows upwards from the page's bottom.
        const PopplerRectangle& a = link->area;
        found.push_back({CGRect(a.x1, size.height - a.y2, a.x2 - a.x1, a.y2 - a.y1), link->action->uri.uri});
    }
    poppler_page_free_link_mapping(mapping);
    return found;
}
