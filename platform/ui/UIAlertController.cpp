#include "platform/ui/UIAlertController.h"

#include <algorithm>

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                                     UIAlertControllerStyle preferredStyle)
    : title_(std::move(title)), message_(std::move(message)), style_(preferredStyle) {}

void UIAlertController::addAction(std::shared_ptr<UIAlertAction> action) {
    if (action)
        actions_.push_back(std::move(action));
}

void UIAlertController::addTextField(const std::function<void(UITextField&)>& configure) {
    auto field = std::make_shared<UITextField>();
    if (configure)
        configure(*field);
    fields_.push_back(std::move(field));
}

bool UIAlertController::pressAction(const std::string& title) {
    const auto it = std::find_if(actions_.begin(), actions_.end(), [&](const auto& a) { return a->title() == title; });
    if (it == actions_.end())
        return false;
    press(*it);
    return true;
}

void UIAlertController::press(const std::shared_ptr<UIAlertAction>& action) {
    // The dismissal may drop the last owner of this controller; the action
    // and its handler stay alive through their own reference.
    const auto keepAlive = shared_from_this();
    const std::shared_ptr<UIAlertAction> chosen = action;
    dismiss(true);
    if (chosen->handler_)
        chosen->handler_(*chosen);
}

void UIAlertController::loadView() {
    auto panel = std::make_shared<DialogPanel>();
    panel->title = title_.value_or("");
    panel->message = message_.value_or("");
    panel->fields = fields_;
    for (const auto& a : actions_)
        panel->buttons.push_back({a->title(), a->style() == UIAlertActionStyle::cancel});
    std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
    panel->onButton = [weak](std::size_t index) {
        if (const auto self = weak.lock())
            if (index < self->actions_.size())
                self->press(self->actions_[index]);
    };
    setView(std::move(panel));
}
