#include "platform/audio/AVAudioSession.h"

#include "platform/foundation/NSError.h"

AVAudioSession& AVAudioSession::sharedInstance() {
    static AVAudioSession session;
    return session;
}

void AVAudioSession::failIfAsked() const {
    if (failure_) throw NSError(561017449, *failure_); // the platform's "session busy" code
}

void AVAudioSession::setCategory(const std::string& category, const std::string& mode, unsigned) {
    std::lock_guard lock(mutex_);
    failIfAsked();
    category_ = category;
    mode_ = mode;
}

void AVAudioSession::setActive(bool active, unsigned) {
    std::lock_guard lock(mutex_);
    failIfAsked();
    active_ = active;
}

std::string AVAudioSession::category() const {
    std::lock_guard lock(mutex_);
    return category_;
}

std::string AVAudioSession::mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

bool AVAudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void AVAudioSession::setFailureForTesting(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(description);
}
