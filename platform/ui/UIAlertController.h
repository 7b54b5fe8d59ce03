#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/DialogPanel.h"
#include "platform/ui/UIViewController.h"

enum class UIAlertControllerStyle { actionSheet, alert };
enum class UIAlertActionStyle { defaultStyle, cancel, destructive };

class UIAlertAction {
public:
    using Handler = std::function<void(UIAlertAction& action)>;

    UIAlertAction(std::string title, UIAlertActionStyle style, Handler handler = {})
        : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

    const std::string& title() const { return title_; }
    UIAlertActionStyle style() const { return style_; }

private:
    friend class UIAlertController;

    std::string title_;
    UIAlertActionStyle style_;
    Handler handler_;
};

// A dialog with a title, a message, text fields and actions. On screen it is
// drawn simply (DialogPanel); without a screen it is still presented and
// recorded, so an action can be chosen by its title.
class UIAlertController : public UIViewController {
public:
    UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                      UIAlertControllerStyle preferredStyle);

    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    UIAlertControllerStyle preferredStyle() const { return style_; }

    void addAction(std::shared_ptr<UIAlertAction> action);
    const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return actions_; }
    void addTextField(const std::function<void(UITextField& field)>& configure = {});
    const std::vector<std::shared_ptr<UITextField>>& textFields() const { return fields_; }

    // Chooses the action, as a tap on its button does: the alert is taken
    // away, then the action's handler runs. False (and nothing happens) when
    // no action has that title.
    bool pressAction(const std::string& title);

    void loadView() override;

private:
    void press(const std::shared_ptr<UIAlertAction>& action);

    std::optional<std::string> title_;
    std::optional<std::string> message_;
    UIAlertControllerStyle style_;
    std::vector<std::shared_ptr<UIAlertAction>> actions_;
    std::vector<std::shared_ptr<UITextField>> fields_;
};
