#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CGAffineTransform.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/ui/UIResponder.h"

class CGContext;
class NSLayoutConstraint;
struct NSLayoutAnchor;
enum class NSLayoutAttribute;
class UIGestureRecognizer;
class UIViewController;
class UIWindow;

// A rectangle of the screen that draws itself and takes touches. Views are
// held by std::shared_ptr: a superview owns its subviews, a subview points
// back at its superview without owning it.
//
// Geometry: `bounds` is the view's own coordinate space; `center` is where
// the middle of the bounds sits in the superview, and `transform` (about the
// middle) maps the bounds into the superview. `frame` is the bounding box of
// the mapped bounds.
class UIView : public UIResponder, public std::enable_shared_from_this<UIView> {
public:
    explicit UIView(const CGRect& frame = {});
    ~UIView() override;

    CGRect frame() const;
    // With a transform other than the identity the bounds take the frame's
    // size under the inverse transform.
    void setFrame(const CGRect& frame);
    CGRect bounds() const { return bounds_; }
    // A new size asks for a layout pass and for display: what a view draws
    // follows its size.
    void setBounds(const CGRect& bounds);
    CGPoint center() const { return center_; }
    void setCenter(CGPoint center) { center_ = center; }
    CGAffineTransform transform() const { return transform_; }
    void setTransform(const CGAffineTransform& transform) { transform_ = transform; }

    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    CGFloat alpha() const { return alpha_; }
    void setAlpha(CGFloat alpha) { alpha_ = alpha; }
    std::optional<UIColor> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<UIColor> color) { backgroundColor_ = color; }
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

    // Tree. Adding a view that has another superview moves it; adding a view
    // to itself or to one of its own subviews is refused.
    UIView* superview() const { return superview_; }
    const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
    void addSubview(const std::shared_ptr<UIView>& view);
    void removeFromSuperview();
    bool isDescendant(const UIView* ancestor) const;
    // The window the view is in, none while it is off screen.
    UIWindow* window() const;

    // Points between coordinate spaces; `nullptr` stands for the space of the
    // view's outermost superview (the window). A transform that cannot be
    // undone maps every point to one that is not a number.
    CGPoint convert(CGPoint point, const UIView* to) const;
    CGPoint convertFrom(CGPoint point, const UIView* from) const;
    CGPoint convertToSuperview(CGPoint point) const;
    CGPoint convertFromSuperview(CGPoint point) const;

    // The deepest visible, touchable view under the point (own coordinates),
    // frontmost subview first; none when the point is outside the bounds.
    virtual UIView* hitTest(CGPoint point, const UIEvent* event);
    virtual bool pointInside(CGPoint point, const UIEvent* event) const;
    // The mouse wheel over the view (own coordinates; positive notches roll
    // away from the user). True when the view scrolled; the default does not.
    virtual bool scrollWheel(CGPoint, CGFloat) { return false; }

    // Asks for the whole view to be drawn in the next display pass; any
    // number of requests before it make one draw.
    void setNeedsDisplay() { needsDisplay_ = true; }
    bool needsDisplay() const { return needsDisplay_; }

    // Draws the view's content in its own coordinates into the current
    // graphics context; the display pass always passes the whole bounds.
    virtual void draw(const CGRect& rect);

    // Runs around each draw of a display pass, with the view and the draw to
    // run: it makes a graphics context current for that view.
    using DrawWrapper = std::function<void(UIView& view, const std::function<void()>& draw)>;
    // The display pass over this view and its subviews, parents first: every
    // visible view that asked for display is drawn once. A hidden view keeps
    // its request for later. Returns how many views were drawn.
    std::size_t displayIfNeeded(const DrawWrapper& wrapper = {});
    // Draws this view and every visible subview in place (their positions,
    // transforms and alphas applied, background colours filled) into the
    // context, in this view's coordinates, whether they asked or not: what a
    // screen shows of the tree. Requests for display are taken as met.
    void render(CGContext& context);

    // Gesture recognisers watch the touches that land in this view or its
    // subviews, beside the views themselves. The view owns them.
    void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const UIGestureRecognizer* recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
    // Whether a recogniser (of this view or one around it) may watch a touch
    // that comes down in this view. Buttons and sliders keep their touches
    // from the recognisers around them, so a tap on a button is no tap gesture.
    virtual bool gestureRecognizerShouldBegin(const UIGestureRecognizer&) const { return true; }

    // Layout. A view asks for a pass when its size changes or a subview comes
    // or goes; layoutIfNeeded runs the pass down the tree, parents first: each
    // view places its subviews (layoutSubviews), then tells its controller.
    void setNeedsLayout() { needsLayout_ = true; }
    bool needsLayout() const { return needsLayout_; }
    void layoutIfNeeded();
    // Places every subview that follows constraints instead of its frame.
    virtual void layoutSubviews();

    // Constraints that place this view, relative to its superview or a
    // sibling; applied by the superview's layout pass, and only while the
    // view does not keep its own frame (translatesAutoresizingMaskIntoConstraints).
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const { return constraints_; }
    // A view not held by a std::shared_ptr gives anchors that constrain nothing.
    NSLayoutAnchor anchor(NSLayoutAttribute attribute);
    NSLayoutAnchor topAnchor();
    NSLayoutAnchor bottomAnchor();
    NSLayoutAnchor leadingAnchor();
    NSLayoutAnchor trailingAnchor();

    // The controller whose root view this is, none for other views.
    UIViewController* viewController() const { return viewController_; }

    UIResponder* nextResponder() const override;

private:
    friend class NSLayoutConstraint;
    friend class UIViewController;

    void applyConstraints();

    CGRect bounds_;
    CGPoint center_;
    CGAffineTransform transform_;
    bool hidden_ = false;
    CGFloat alpha_ = 1;
    std::optional<UIColor> backgroundColor_;
    bool userInteractionEnabled_ = true;
    bool needsDisplay_ = true;
    UIView* superview_ = nullptr;
    std::vector<std::shared_ptr<UIView>> subviews_;
    std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
    bool needsLayout_ = true;
    bool translatesMask_ = true;
    UIViewController* viewController_ = nullptr;  // set while this is a controller's root view
};
