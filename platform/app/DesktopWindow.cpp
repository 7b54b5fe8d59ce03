#include "platform/app/DesktopWindow.h"

#include <SDL2/SDL.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/DialogPanel.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr CGFloat kPinchSpread = 60;      // half the distance between the two fingers at the start
constexpr CGFloat kWheelStep = 1.1;       // spread factor of one notch
constexpr CGFloat kMinimumSpread = 4;

// What the screen shows besides each view's own drawing: the tree, where
// each view sits, how see-through it is. A change of any of these (a moved
// or fading view) needs a new picture as much as a view that asked to be drawn.
void describeScene(const UIView& view, std::vector<double>& out, bool& asked) {
    const CGRect f = view.frame();
    const CGAffineTransform t = view.transform();
    out.insert(out.end(), {double(reinterpret_cast<std::uintptr_t>(&view)), f.origin.x, f.origin.y, f.size.width,
                           f.size.height, t.a, t.b, t.c, t.d, view.alpha(), view.isHidden() ? 1.0 : 0.0});
    if (view.isHidden())
        return;
    asked = asked || view.needsDisplay();
    for (const auto& v : view.subviews())
        describeScene(*v, out, asked);
}

// The last visible text field in drawing order: the one in front.
UITextField* frontmostField(UIView& view) {
    if (view.isHidden())
        return nullptr;
    UITextField* found = dynamic_cast<UITextField*>(&view);
    for (const auto& v : view.subviews())
        if (UITextField* inner = frontmostField(*v))
            found = inner;
    return found;
}

}  // namespace

std::unique_ptr<DesktopWindow> DesktopWindow::open(const std::string& title, std::shared_ptr<UIWindow> window) {
    if (!window)
        return nullptr;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::printf("DesktopWindow: ERROR: no display to open a window on: %s\n", SDL_GetError());
        std::fflush(stdout);
        return nullptr;
    }
    const CGRect b = window->bounds();
    const int w = std::max(1, int(std::lround(b.width()))), h = std::max(1, int(std::lround(b.height())));
    SDL_Window* sdl = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h,
                                       SDL_WINDOW_RESIZABLE);
    SDL_Renderer* renderer = sdl ? SDL_CreateRenderer(sdl, -1, 0) : nullptr;
    if (!renderer) {
        std::printf("DesktopWindow: ERROR: the window cannot be opened: %s\n", SDL_GetError());
        std::fflush(stdout);
        if (sdl)
            SDL_DestroyWindow(sdl);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    std::unique_ptr<DesktopWindow> desktop(new DesktopWindow(std::move(window), sdl, renderer));
    desktop->resize(w, h);
    return desktop;
}

DesktopWindow::DesktopWindow(std::shared_ptr<UIWindow> window, SDL_Window* sdl, SDL_Renderer* renderer)
    : window_(std::move(window)), sdl_(sdl), renderer_(renderer) {}

DesktopWindow::~DesktopWindow() {
    if (texture_)
        SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
    SDL_DestroyWindow(sdl_);
    // The video system stays up until the process ends: shutting it down and
    // up again for every window costs a display connection each time.
}

std::uint32_t DesktopWindow::windowID() const { return SDL_GetWindowID(sdl_); }

void DesktopWindow::run() {
    stopped_ = false;
    while (!stopped_ && runOnce(1.0 / 60))
        ;
}

bool DesktopWindow::runOnce(double wait) {
    if (closed_)
        return false;
    // The main queue and the timers that are due, then every waiting event.
    RunLoop::main().runUntil(Clock::now());
    SDL_Event event;
    const auto next = RunLoop::main().nextFireDate();
    double timeout = wait;
    if (next)
        timeout = std::clamp(*next - Clock::now(), 0.0, wait);
    if (SDL_WaitEventTimeout(&event, int(std::lround(timeout * 1000)))) {
        handle(event);
        while (SDL_PollEvent(&event))
            handle(event);
    }
    if (!pinch_.empty() && !modifierPinch_ && Clock::now() - lastWheel_ >= wheelRest)
        endPinch();
    RunLoop::main().runUntil(Clock::now());
    if (closed_)
        return false;
    window_->layoutIfNeeded();
    redraw(false);
    return !closed_;
}

void DesktopWindow::handle(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT: closed_ = true; break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
            closed_ = true;
        else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
            resize(event.window.data1, event.window.data2);
        else if (event.window.event == SDL_WINDOWEVENT_EXPOSED)
            redraw(true);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT && !finger_ && pinch_.empty()) {
            const CGPoint p{CGFloat(event.button.x), CGFloat(event.button.y)};
            if (SDL_GetModState() & (KMOD_CTRL | KMOD_SHIFT)) {
                modifierPinch_ = true;
                dragStartY_ = p.y;
                beginPinch(p, kPinchSpread);
            } else {
                finger_ = window_->touchDown(p);
            }
        }
        break;
    case SDL_MOUSEMOTION: {
        const CGPoint p{CGFloat(event.motion.x), CGFloat(event.motion.y)};
        if (finger_)
            window_->touchMove(finger_, p);
        else if (modifierPinch_)
            movePinch(std::max(kMinimumSpread, kPinchSpread + (dragStartY_ - p.y)));
        break;
    }
    case SDL_MOUSEBUTTONUP:
        if (event.button.button != SDL_BUTTON_LEFT)
            break;
        if (finger_) {
            window_->touchUp(finger_, {CGFloat(event.button.x), CGFloat(event.button.y)});
            finger_.reset();
        } else if (modifierPinch_) {
            endPinch();
        }
        break;
    case SDL_MOUSEWHEEL:
        wheel({CGFloat(event.wheel.mouseX), CGFloat(event.wheel.mouseY)},
              event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y);
        break;
    case SDL_TEXTINPUT: typed(event.text.text, false); break;
    case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_BACKSPACE)
            typed("", true);
        break;
    default: break;
    }
}

void DesktopWindow::resize(int width, int height) {
    window_->setFrame({0, 0, CGFloat(width), CGFloat(height)});
    window_->layoutIfNeeded();
    if (texture_)
        SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    picture_ = std::make_unique<ImageSurface>(CGSize{CGFloat(width), CGFloat(height)});
    redraw(true);
}

void DesktopWindow::redraw(bool force) {
    std::vector<double> scene;
    bool asked = false;
    describeScene(*window_, scene, asked);
    if (!force && !asked && scene == scene_)
        return;
    scene_ = std::move(scene);
    picture_->fill(UIColor::white());
    picture_->draw([this](CGContext& context) { window_->render(context); });
    if (!texture_ || picture_->pixelWidth() == 0)
        return;
    // Cairo's premultiplied ARGB32 is SDL's ARGB8888 on this machine's byte order.
    cairo_surface_t* s = picture_->surface();
    cairo_surface_flush(s);
    SDL_UpdateTexture(texture_, nullptr, cairo_image_surface_get_data(s), cairo_image_surface_get_stride(s));
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

void DesktopWindow::wheel(CGPoint at, int notches) {
    if (notches == 0 || finger_ || modifierPinch_)
        return;
    // A view that scrolls takes the wheel; elsewhere it pinches.
    if (pinch_.empty())
        for (UIView* view = window_->hitTest(at, nullptr); view; view = view->superview())
            if (view->scrollWheel(view->convertFrom(at, nullptr), CGFloat(notches)))
                return;
    if (pinch_.empty())
        beginPinch(at, kPinchSpread);
    movePinch(std::max(kMinimumSpread, pinchSpread_ * std::pow(kWheelStep, notches)));
    lastWheel_ = Clock::now();
}

void DesktopWindow::beginPinch(CGPoint center, CGFloat spread) {
    pinchCenter_ = center;
    pinchSpread_ = spread;
    // Two fingers for the pinch recognisers around the pointer and nothing
    // else: the wheel must never press a control under one of them.
    pinch_ = window_->recognizerTouchesDown(
        center, {{center.x - spread, center.y}, {center.x + spread, center.y}},
        [](const UIGestureRecognizer& r) { return dynamic_cast<const UIPinchGestureRecognizer*>(&r) != nullptr; });
}

void DesktopWindow::movePinch(CGFloat spread) {
    if (pinch_.size() != 2)
        return;
    pinchSpread_ = spread;
    window_->touchesMove({{pinch_[0], {pinchCenter_.x - spread, pinchCenter_.y}},
                          {pinch_[1], {pinchCenter_.x + spread, pinchCenter_.y}}});
}

void DesktopWindow::endPinch() {
    if (pinch_.size() == 2)
        window_->touchesUp({{pinch_[0], pinch_[0]->location(nullptr)}, {pinch_[1], pinch_[1]->location(nullptr)}});
    pinch_.clear();
    modifierPinch_ = false;
}

void DesktopWindow::typed(const std::string& text, bool backspace) {
    UITextField* field = frontmostField(*window_);
    if (!field)
        return;
    if (backspace)
        field->deleteBackward();
    else
        field->insertText(text);
}
