#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/audio/AUAudioUnitBus.h"

class AUAudioUnit;

enum class AUAudioUnitBusType : NSInteger { Input = 1, Output = 2 };

// The input or the output buses of one audio unit, in bus-number order.
class AUAudioUnitBusArray {
public:
    using Busses = std::vector<std::shared_ptr<AUAudioUnitBus>>;

    AUAudioUnitBusArray(std::weak_ptr<AUAudioUnit> owner, AUAudioUnitBusType busType, Busses busses)
        : owner_(std::move(owner)), busType_(busType), busses_(std::move(busses)) {}

    std::size_t count() const { return busses_.size(); }
    // The bus with that number; null past the end.
    std::shared_ptr<AUAudioUnitBus> operator[](std::size_t index) const {
        return index < busses_.size() ? busses_[index] : nullptr;
    }
    Busses::const_iterator begin() const { return busses_.begin(); }
    Busses::const_iterator end() const { return busses_.end(); }

    std::shared_ptr<AUAudioUnit> ownerAudioUnit() const { return owner_.lock(); }
    AUAudioUnitBusType busType() const { return busType_; }
    bool isCountChangeable() const { return false; }
    void replaceBusses(Busses busses) { busses_ = std::move(busses); }

private:
    std::weak_ptr<AUAudioUnit> owner_;
    AUAudioUnitBusType busType_;
    Busses busses_;
};
