#include "platform/ui/UIImageView.h"

#include <utility>

void UIImageView::setImage(std::shared_ptr<UIImage> image) {
    image_ = std::move(image);
    setNeedsDisplay();
}

void UIImageView::draw(const CGRect&) {
    if (image_)
        image_->draw(bounds());
}
