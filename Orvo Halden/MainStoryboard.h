#pragma once

#include <memory>

#include "platform/ui/UIView.h"

class ViewController;

// The app's storyboard: the main screen's views, outlets, actions and segues,
// and the window it is shown in.
namespace MainStoryboard {

// The window's size in points.
inline constexpr CGSize kWindowSize{760, 720};

// Makes the main screen's views, fills its outlets and connects its buttons
// and the "ShowHelp" and "ShowInfo" segues.
void build(ViewController& screen);

// Registers the storyboard as "Main"; with `autoplay` the main screen's Play
// button is pressed once the effect's search has ended (the unit wired, or
// none to be had), with `unit` its Unit button once the screen has loaded.
void registerMain(bool autoplay, bool unit = false);

}  // namespace MainStoryboard
