#pragma once

#include <mutex>
#include <optional>
#include <string>

// The process's audio session: a category, a mode and whether it is active.
// On Linux there is nothing to negotiate, so every call succeeds, unless a
// test has asked it to fail.
class AVAudioSession {
public:
    static AVAudioSession& sharedInstance();

    // Throw NSError while a failure is set.
    void setCategory(const std::string& category, const std::string& mode, unsigned options);
    void setActive(bool active, unsigned options);

    std::string category() const;
    std::string mode() const;
    bool isActive() const;

    // While set, every setter throws an NSError with this description.
    void setFailureForTesting(std::optional<std::string> description);

private:
    AVAudioSession() = default;
    void failIfAsked() const;

    mutable std::mutex mutex_;
    std::string category_ = "AVAudioSessionCategorySoloAmbient";
    std::string mode_ = "AVAudioSessionModeDefault";
    bool active_ = false;
    std::optional<std::string> failure_;
};

inline const std::string AVAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";
inline const std::string AVAudioSessionModeDefault = "AVAudioSessionModeDefault";
