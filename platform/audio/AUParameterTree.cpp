#include "platform/audio/AUParameterTree.h"

#include <algorithm>
#include <cstdio>

AUParameter::AUParameter(Key, Description description)
    : AUParameterNode(description.identifier, description.name), d_(std::move(description)) {}

AUValue AUParameter::value() const {
    if (const auto tree = tree_.lock(); tree && tree->implementorValueProvider_)
        return tree->implementorValueProvider_(*this);
    return value_.load(std::memory_order_relaxed);
}

void AUParameter::setValue(AUValue value, AUParameterObserverToken originator) {
    value_.store(value, std::memory_order_relaxed);
    if (const auto tree = tree_.lock()) tree->valueDidChange(*this, value, originator);
}

std::string AUParameter::stringFromValue(const AUValue* value) const {
    if (const auto tree = tree_.lock(); tree && tree->implementorStringFromValueCallback_)
        return tree->implementorStringFromValueCallback_(*this, value);
    return defaultString(value != nullptr ? *value : this->value());
}

std::string AUParameter::defaultString(AUValue value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

AUParameterGroup::AUParameterGroup(std::string identifier, std::string displayName, Children children)
    : AUParameterNode(std::move(identifier), std::move(displayName)), children_(std::move(children)) {
    std::erase(children_, nullptr);
    for (const auto& child : children_) {
        if (auto parameter = std::dynamic_pointer_cast<AUParameter>(child))
            allParameters_.push_back(std::move(parameter));
        else if (const auto* group = dynamic_cast<const AUParameterGroup*>(child.get()))
            allParameters_.insert(allParameters_.end(), group->allParameters_.begin(),
                                  group->allParameters_.end());
    }
}

std::shared_ptr<AUParameter>
AUParameterTree::createParameter(std::string identifier, std::string name, AUParameterAddress address,
                                 AUValue min, AUValue max, AudioUnitParameterUnit unit,
                                 std::optional<std::string> unitName, AudioUnitParameterOptions flags,
                                 std::optional<std::vector<std::string>> valueStrings,
                                 std::vector<AUParameterAddress> dependentParameters) {
    return std::make_shared<AUParameter>(
        AUParameter::Key{},
        AUParameter::Description{std::move(identifier), std::move(name), address, min, max, unit,
                                 std::move(unitName), flags, std::move(valueStrings),
                                 std::move(dependentParameters)});
}

std::shared_ptr<AUParameterGroup> AUParameterTree::createGroup(std::string identifier, std::string name,
                                                               Children children) {
    return std::make_shared<AUParameterGroup>(AUParameterGroup::Key{}, std::move(identifier), std::move(name),
                                              std::move(children));
}

std::shared_ptr<AUParameterTree> AUParameterTree::createTree(Children children) {
    auto tree = std::make_shared<AUParameterTree>(Key{}, std::move(children));
    for (const auto& parameter : tree->allParameters()) {
        parameter->tree_ = tree;
        tree->byAddress_.try_emplace(parameter->address(), parameter);
    }
    return tree;
}

std::shared_ptr<AUParameter> AUParameterTree::parameterWithAddress(AUParameterAddress address) const {
    const auto found = byAddress_.find(address);
    return found != byAddress_.end() ? found->second : nullptr;
}

AUParameterObserverToken AUParameterTree::tokenByAddingParameterObserver(AUParameterObserver observer) {
    const AUParameterObserverToken token = nextToken_.fetch_add(1, std::memory_order_relaxed);
    MutexLock lock(observersLock_);
    auto list = std::make_shared<ObserverList>(*observers_);
    list->push_back({token, std::move(observer)});
    observers_ = std::move(list);
    return token;
}

void AUParameterTree::removeParameterObserver(AUParameterObserverToken token) {
    MutexLock lock(observersLock_);
    auto list = std::make_shared<ObserverList>(*observers_);
    std::erase_if(*list, [token](const Observer& o) { return o.token == token; });
    observers_ = std::move(list);
}

void AUParameterTree::valueDidChange(const AUParameter& parameter, AUValue value,
                                     AUParameterObserverToken originator) const {
    if (implementorValueObserver_) implementorValueObserver_(parameter, value);
    std::shared_ptr<const ObserverList> observers;
    {
        MutexLock lock(observersLock_);
        observers = observers_;
    }
    for (const Observer& observer : *observers)
        if (observer.token != originator && observer.block) observer.block(parameter.address(), value);
}
