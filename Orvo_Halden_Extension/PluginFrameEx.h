#pragma once

#include "Orvo_Halden_Extension/ResizingBehavior.h"
#include "platform/graphics/UIColor.h"
#include "platform/ui/UIControl.h"

// Factors of the plate's last full mapping; nothing reads them.
extern CGSize PluginFrameViewScale;

// The grey rounded plate behind the editor, inset 2 points on every side.
class PluginFrameBaseEx {
public:
    using ResizingBehavior = ::ResizingBehavior<&PluginFrameViewScale>;

    // Grey level of the plate, 0 black to 1 white.
    CGFloat contrast = 0.25;
    // Carried along; the plate does not use it.
    UIColor mainColor = lightGray();

    // The plate into the current graphics context; it always follows the
    // frame's own size.
    void draw(const CGRect& frame = {0, 0, 512, 384}, ResizingBehavior resizing = ResizingBehavior::fit);

    static UIColor lightGray() { return {2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 1.0}; }
};

// The editor's background frame. Its contrast comes from the brightness
// slider; the one who sets it asks for the redraw.
class PluginFrameEx : public UIControl {
public:
    explicit PluginFrameEx(const CGRect& frame = {}) : UIControl(frame) {}

    float contrast = 1.0f;
    UIColor mainColor = PluginFrameBaseEx::lightGray();

    void draw(const CGRect& rect) override;

private:
    PluginFrameBaseEx baseClass_;
};
