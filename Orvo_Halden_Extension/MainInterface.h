#pragma once

#include <memory>

class AudioUnitViewController;
class UIView;

// The editor's storyboard, as code: builds the controller's view tree, sets
// its outlets and connects the controls' actions to it.
namespace MainInterface {

// The root view; the controller must be held by a std::shared_ptr.
std::shared_ptr<UIView> build(AudioUnitViewController& controller);

}  // namespace MainInterface
