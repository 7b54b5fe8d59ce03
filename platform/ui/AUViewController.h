#pragma once

#include "platform/ui/UIViewController.h"

// The view controller of an audio unit's editor: what a host embeds.
class AUViewController : public UIViewController {
public:
    using UIViewController::UIViewController;
};
