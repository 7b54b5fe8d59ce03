#include "platform/web/PageRenderer.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "platform/foundation/Wire.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIImage.h"
#include "platform/web/HTMLDocument.h"

namespace {

constexpr std::uint8_t kNoBudget = 0xff;

void putState(WireWriter& out, const PageRenderer::State& state) {
    out.put(state.refused ? std::uint8_t(*state.refused) : kNoBudget)
        .put(double(state.height))
        .put(state.title)
        .put(std::uint32_t(state.wantedPictures.size()));
    for (const URL& url : state.wantedPictures)
        out.put(url.absoluteString());
}

std::optional<PageRenderer::State> getState(WireReader& in) {
    PageRenderer::State state;
    if (const auto budget = in.get<std::uint8_t>(); budget != kNoBudget) {
        if (budget > std::uint8_t(PageBudget::memory))
            return std::nullopt;
        state.refused = PageBudget(budget);
    }
    state.height = in.get<double>();
    state.title = in.text();
    const auto count = in.get<std::uint32_t>();
    if (count > kMostPagePictures)
        return std::nullopt;
    for (auto left = count; in.ok() && left > 0; --left)
        if (const std::optional<URL> url = URL::string(std::string(in.text())))
            state.wantedPictures.push_back(*url);
    if (!in.ok() || !std::isfinite(state.height))
        return std::nullopt;
    return state;
}

}  // namespace

void PageRenderer::putPictureSides(WireWriter& out, std::int32_t pixelWidth, std::int32_t pixelHeight) {
    out.put(pixelWidth).put(pixelHeight).pad(kPixelAlignment);
}

std::string PageRenderer::layoutRequest(int width) {
    return WireWriter().put(std::uint8_t(Request::layout)).put(std::int32_t(width)).take();
}

std::string PageRenderer::drawRequest(int width, CGRect area, CGFloat scale) {
    return WireWriter()
        .put(std::uint8_t(Request::draw))
        .put(std::int32_t(width))
        .put(double(area.minY()))
        .put(double(area.height()))
        .put(double(scale))
        .take();
}

std::string PageRenderer::tapRequest(int width, CGPoint point) {
    return WireWriter().put(std::uint8_t(Request::tap)).put(std::int32_t(width)).put(double(point.x)).put(double(point.y)).take();
}

std::string PageRenderer::pictureRequest(const URL& url, std::string_view bytes) {
    return WireWriter().put(std::uint8_t(Request::picture)).put(url.absoluteString()).rest(bytes).take();
}

bool PageRenderer::pictureFits(const URL& url, std::size_t bytes, std::uint64_t most) {
    // The kind, the address and its length before the picture's bytes.
    const std::uint64_t before = 1 + sizeof(std::uint64_t) + url.absoluteString().size();
    return before <= most && bytes <= most - before;
}

std::optional<PageRenderer::Answer> PageRenderer::readAnswer(Request request, std::string_view bytes) {
    WireReader in(bytes);
    Answer answer;
    std::optional<State> state = getState(in);
    if (!state)
        return std::nullopt;
    answer.state = std::move(*state);
    if (request == Request::draw && !answer.state.refused) {
        Picture picture;
        picture.pixelWidth = in.get<std::int32_t>();
        picture.pixelHeight = in.get<std::int32_t>();
        in.skipPadding(kPixelAlignment);
        const std::string_view pixels = in.rest();
        if (!in.ok() || picture.pixelWidth < 0 || picture.pixelHeight < 0 ||
            pixels.size() != std::size_t(picture.pixelWidth) * std::size_t(picture.pixelHeight) * 4)
            return std::nullopt;
        picture.pixels = pixels;
        answer.picture = std::move(picture);
    } else if (request == Request::tap && !answer.state.refused) {
        if (in.get<std::uint8_t>()) {
            Link link;
            link.address = in.text();
            link.newWindow = in.get<std::uint8_t>() != 0;
            answer.link = std::move(link);
        }
        if (!in.ok())
            return std::nullopt;
    }
    return answer;
}

PageRenderer::PageRenderer(std::string html, std::optional<URL> baseURL)
    : html_(std::move(html)), baseURL_(std::move(baseURL)) {}

PageRenderer::~PageRenderer() = default;

std::string PageRenderer::stateAnswer(int width) {
    if (width > 0)
        width_ = width;
    // Built at the first request that names a width, for that width.
    if (!document_) {
        document_ = std::make_unique<HTMLDocument>(
            html_, std::move(baseURL_), true, [this](const URL& url) { wanted_.push_back(url); }, CGFloat(width_));
        html_ = std::string();
    }
    if (width_ > 0 && !document_->overBudget())
        document_->layout(CGFloat(width_));
    State state;
    state.refused = document_->overBudget();
    state.height = document_->height();
    state.title = document_->title();
    state.wantedPictures = std::exchange(wanted_, {});
    WireWriter out;
    putState(out, state);
    return out.take();
}

PageRenderer::Reply PageRenderer::answer(std::string_view request) {
    WireReader in(request);
    const auto kind = Request(in.get<std::uint8_t>());
    switch (kind) {
    case Request::layout: {
        const int width = in.get<std::int32_t>();
        return {in.ok() ? stateAnswer(width) : std::string(), {}};
    }
    case Request::draw: {
        const int width = in.get<std::int32_t>();
        const double top = in.get<double>(), height = in.get<double>(), scale = in.get<double>();
        if (!in.ok() || !std::isfinite(top) || !(height > 0) || !(scale > 0))
            return {};
        std::string answer = stateAnswer(width);
        if (document_->overBudget())
            return {std::move(answer), {}};
        const int pixelWidth = HTMLDocument::layoutWidth(width);
        const double bytes = std::ceil(pixelWidth * scale) * std::ceil(height * scale) * 4;
        if (!(bytes <= double(kLargestPicture)))
            return {};
        const CGSize size{CGFloat(pixelWidth), height};
        if (!picture_ || picture_->scale() != scale || picture_->pixelWidth() != int(std::ceil(size.width * scale)) ||
            picture_->pixelHeight() != int(std::ceil(size.height * scale))) {
            picture_.reset();
            picture_ = std::make_unique<ImageSurface>(size, scale);
            if (picture_->pixelWidth() == 0)
                throw std::bad_alloc();  // Cairo had no memory for it
        }
        picture_->fill(UIColor::white());
        picture_->draw([&](CGContext& context) { document_->draw(context, top, size); });
        WireWriter out;
        out.rest(answer);
        putPictureSides(out, picture_->pixelWidth(), picture_->pixelHeight());
        return {out.take(), picture_->bytes()};
    }
    case Request::tap: {
        const int width = in.get<std::int32_t>();
        const double x = in.get<double>(), y = in.get<double>();
        if (!in.ok())
            return {};
        std::string answer = stateAnswer(width);
        if (document_->overBudget())
            return {std::move(answer), {}};
        const std::optional<HTMLDocument::Link> link = document_->linkAt({x, y});
        WireWriter out;
        out.rest(answer).put(std::uint8_t(link ? 1 : 0));
        if (link)
            out.put(link->address).put(std::uint8_t(link->newWindow ? 1 : 0));
        return {out.take(), {}};
    }
    case Request::picture: {
        const std::optional<URL> url = URL::string(std::string(in.text()));
        const std::string_view bytes = in.rest();
        if (!in.ok() || !url || !document_)
            return {};
        const std::span data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        const std::uint64_t pixels = UIImage::pixelCount(data);
        if (pixels > 0 && pixels <= kPagePixels - pixels_) {
            if (std::shared_ptr<UIImage> image = UIImage::withData(data)) {
                pixels_ += pixels;
                document_->setImage(*url, std::move(image));
            }
        }
        return {stateAnswer(0), {}};  // at the width laid out last
    }
    }
    return {};
}
