#pragma once

#include <memory>

#include "platform/graphics/CGGeometry.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIView.h"

// Shows an image stretched over its bounds; nothing while it has none.
class UIImageView : public UIView {
public:
    using UIView::UIView;

    const std::shared_ptr<UIImage>& image() const { return image_; }
    void setImage(std::shared_ptr<UIImage> image);

    void draw(const CGRect& rect) override;

private:
    std::shared_ptr<UIImage> image_;
};
