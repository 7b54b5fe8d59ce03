#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/ui/UITouch.h"

class ImageSurface;
class UIWindow;
struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

// A window of the desktop that shows a UIWindow's view tree and feeds it the
// mouse as touches, through SDL2. Its loop is the main thread's loop: every
// pass handles the waiting events, runs the main queue and the timers that
// are due, lays the tree out and draws it if anything asked.
//
// The mouse, as a finger:
// - the left button is one finger (held still, the long press follows from
//   the recognisers' own clock);
// - the wheel pinches about the pointer: two fingers come down either side
//   of it, each notch moves them apart (up) or together (down), and they lift
//   when the wheel has rested for `wheelRest` seconds;
// - Ctrl or Shift with the left button pinches about the press point: drag
//   up to spread the fingers, down to close them.
// The fingers of the wheel and of the modifier drag reach the pinch
// recognisers around the pointer and nothing else: no view, no other gesture.
// Typing goes to the frontmost text field on screen.
class DesktopWindow {
public:
    static constexpr double wheelRest = 0.25;

    // Opens a window the size of the UIWindow's bounds. None, with a log
    // line, when there is no display to open it on.
    static std::unique_ptr<DesktopWindow> open(const std::string& title, std::shared_ptr<UIWindow> window);
    ~DesktopWindow();
    DesktopWindow(const DesktopWindow&) = delete;
    DesktopWindow& operator=(const DesktopWindow&) = delete;

    // Passes until the window is closed or stop() is called.
    void run();
    // One pass, waiting at most `wait` seconds for an event or a timer when
    // nothing is due. False once the window has been closed.
    bool runOnce(double wait = 0);
    void stop() { stopped_ = true; }

    // What the window shows now, one pixel to the point.
    const ImageSurface& picture() const { return *picture_; }
    std::uint32_t windowID() const;
    const std::shared_ptr<UIWindow>& window() const { return window_; }

private:
    DesktopWindow(std::shared_ptr<UIWindow> window, SDL_Window* sdl, SDL_Renderer* renderer);

    void handle(const SDL_Event& event);
    void resize(int width, int height);
    void redraw(bool force);
    void wheel(CGPoint at, int notches);
    void beginPinch(CGPoint center, CGFloat spread);
    void movePinch(CGFloat spread);
    void endPinch();
    void typed(const std::string& text, bool backspace);

    std::shared_ptr<UIWindow> window_;
    SDL_Window* sdl_;
    SDL_Renderer* renderer_;
    SDL_Texture* texture_ = nullptr;
    std::unique_ptr<ImageSurface> picture_;
    std::vector<double> scene_;  // as last drawn
    bool stopped_ = false;
    bool closed_ = false;

    std::shared_ptr<UITouch> finger_;
    // The two fingers of a pinch made from the wheel or a modifier drag.
    std::vector<std::shared_ptr<UITouch>> pinch_;
    CGPoint pinchCenter_;
    CGFloat pinchSpread_ = 0;
    CGFloat dragStartY_ = 0;
    bool modifierPinch_ = false;
    double lastWheel_ = 0;
};
