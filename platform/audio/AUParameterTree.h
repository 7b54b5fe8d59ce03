#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/audio/AudioTypes.h"
#include "platform/foundation/Mutex.h"

// The parameters an audio unit publishes: a tree of groups whose leaves are
// parameters. The unit (the implementor) installs an observer that takes
// every value set, a provider that answers every value read, and the text of
// a value; anyone else may add observers of their own.

using AudioUnitParameterUnit = std::uint32_t;
enum : AudioUnitParameterUnit {
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_Indexed = 1,
    kAudioUnitParameterUnit_Boolean = 2,
    kAudioUnitParameterUnit_Seconds = 4,
    kAudioUnitParameterUnit_BPM = 22,
};

using AudioUnitParameterOptions = std::uint32_t;
enum : AudioUnitParameterOptions {
    kAudioUnitParameterFlag_IsReadable = 1u << 30,
    kAudioUnitParameterFlag_IsWritable = 1u << 31,
};

class AUParameter;
class AUParameterTree;

// Names one added observer; 0 names none.
using AUParameterObserverToken = std::uint64_t;
using AUParameterObserver = Block<void(AUParameterAddress address, AUValue value)>;
using AUImplementorValueObserver = Block<void(const AUParameter& parameter, AUValue value)>;
using AUImplementorValueProvider = Block<AUValue(const AUParameter& parameter)>;
using AUImplementorStringFromValueCallback =
    Block<std::string(const AUParameter& parameter, const AUValue* value)>;

class AUParameterNode {
public:
    virtual ~AUParameterNode() = default;
    AUParameterNode(const AUParameterNode&) = delete;
    AUParameterNode& operator=(const AUParameterNode&) = delete;

    const std::string& identifier() const { return identifier_; }
    const std::string& displayName() const { return displayName_; }

protected:
    AUParameterNode(std::string identifier, std::string displayName)
        : identifier_(std::move(identifier)), displayName_(std::move(displayName)) {}

private:
    std::string identifier_;
    std::string displayName_;
};

class AUParameter final : public AUParameterNode {
    struct Key {};

public:
    struct Description {
        std::string identifier;
        std::string name;
        AUParameterAddress address = 0;
        AUValue minValue = 0.0f;
        AUValue maxValue = 1.0f;
        AudioUnitParameterUnit unit = kAudioUnitParameterUnit_Generic;
        std::optional<std::string> unitName;
        AudioUnitParameterOptions flags = 0;
        std::optional<std::vector<std::string>> valueStrings;
        std::vector<AUParameterAddress> dependentParameters;
    };

    AUParameter(Key, Description description);

    AUParameterAddress address() const { return d_.address; }
    // The declared range: a hint for hosts and editors, never enforced.
    AUValue minValue() const { return d_.minValue; }
    AUValue maxValue() const { return d_.maxValue; }
    AudioUnitParameterUnit unit() const { return d_.unit; }
    const std::optional<std::string>& unitName() const { return d_.unitName; }
    AudioUnitParameterOptions flags() const { return d_.flags; }
    const std::optional<std::vector<std::string>>& valueStrings() const { return d_.valueStrings; }
    const std::vector<AUParameterAddress>& dependentParameters() const { return d_.dependentParameters; }

    // The implementor's answer once its tree has a provider, else the value last set.
    AUValue value() const;
    // Stores the value, then tells the implementor and every added observer
    // (except the originator's) on the calling thread.
    void setValue(AUValue value, AUParameterObserverToken originator = 0);
    // The text of *value, or of the current value when value is null.
    std::string stringFromValue(const AUValue* value = nullptr) const;

    // Plain text of a value, as shown without an implementor's callback.
    static std::string defaultString(AUValue value);

private:
    friend class AUParameterTree;
    friend class AUParameterGroup;

    Description d_;
    std::atomic<AUValue> value_{0.0f};
    std::weak_ptr<const AUParameterTree> tree_;
};

class AUParameterGroup : public AUParameterNode {
    struct Key {};

public:
    using Children = std::vector<std::shared_ptr<AUParameterNode>>;

    AUParameterGroup(Key, std::string identifier, std::string displayName, Children children)
        : AUParameterGroup(std::move(identifier), std::move(displayName), std::move(children)) {}

    const Children& children() const { return children_; }
    // Every parameter below, depth first in child order.
    const std::vector<std::shared_ptr<AUParameter>>& allParameters() const { return allParameters_; }

protected:
    AUParameterGroup(std::string identifier, std::string displayName, Children children);

private:
    friend class AUParameterTree;

    Children children_;
    std::vector<std::shared_ptr<AUParameter>> allParameters_;
};

class AUParameterTree final : public AUParameterGroup, public std::enable_shared_from_this<AUParameterTree> {
    struct Key {};

public:
    AUParameterTree(Key, Children children) : AUParameterGroup({}, {}, std::move(children)) {}

    static std::shared_ptr<AUParameter>
    createParameter(std::string identifier, std::string name, AUParameterAddress address, AUValue min,
                    AUValue max, AudioUnitParameterUnit unit, std::optional<std::string> unitName,
                    AudioUnitParameterOptions flags, std::optional<std::vector<std::string>> valueStrings,
                    std::vector<AUParameterAddress> dependentParameters);
    static std::shared_ptr<AUParameterGroup> createGroup(std::string identifier, std::string name,
                                                         Children children);
    // Adopts every parameter below the children; an empty list makes an empty tree.
    static std::shared_ptr<AUParameterTree> createTree(Children children);

    // The first parameter with that address, or null.
    std::shared_ptr<AUParameter> parameterWithAddress(AUParameterAddress address) const;

    // Installed by the implementor before the tree is published.
    void setImplementorValueObserver(AUImplementorValueObserver observer) {
        implementorValueObserver_ = std::move(observer);
    }
    void setImplementorValueProvider(AUImplementorValueProvider provider) {
        implementorValueProvider_ = std::move(provider);
    }
    void setImplementorStringFromValueCallback(AUImplementorStringFromValueCallback callback) {
        implementorStringFromValueCallback_ = std::move(callback);
    }
    const AUImplementorValueObserver& implementorValueObserver() const { return implementorValueObserver_; }
    const AUImplementorValueProvider& implementorValueProvider() const { return implementorValueProvider_; }
    const AUImplementorStringFromValueCallback& implementorStringFromValueCallback() const {
        return implementorStringFromValueCallback_;
    }

    // Observers may be added and removed from any thread, also from inside an
    // observer; a removed one is not called for changes that start afterwards.
    AUParameterObserverToken tokenByAddingParameterObserver(AUParameterObserver observer);
    void removeParameterObserver(AUParameterObserverToken token);

private:
    friend class AUParameter;
    struct Observer {
        AUParameterObserverToken token;
        AUParameterObserver block;
    };
    using ObserverList = std::vector<Observer>;

    void valueDidChange(const AUParameter& parameter, AUValue value,
                        AUParameterObserverToken originator) const;

    std::unordered_map<AUParameterAddress, std::shared_ptr<AUParameter>> byAddress_;
    AUImplementorValueObserver implementorValueObserver_;
    AUImplementorValueProvider implementorValueProvider_;
    AUImplementorStringFromValueCallback implementorStringFromValueCallback_;

    // Copied on change, so a notification runs over a snapshot without the lock.
    mutable Mutex observersLock_;
    std::shared_ptr<const ObserverList> observers_ GUARDED_BY(observersLock_) =
        std::make_shared<const ObserverList>();
    std::atomic<AUParameterObserverToken> nextToken_{1};
};
