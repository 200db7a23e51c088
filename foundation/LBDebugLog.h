#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

// An in-memory trace of the last 100 reading-position reads and writes,
// shown by the settings screens. Only while the user default
// "enable_bookmarktest" is on. Lines may be added from any thread.
class LBDebugLog {
public:
    static constexpr size_t kMaxLines = 100;

    static void writeDebugLog(const std::string& message, int type);
    // The line text is "message,param1" when a second part is given.
    static void writeDebugLog(const std::string& message, const std::optional<std::string>& param1, int type);
    // "[Debuglog is disabled]" when off; nothing when no line was ever
    // written; else every line in order.
    static std::optional<std::string> getDebugLog();
    static void deleteInstance();

    // "[n][yyyy/MM/dd HH:mm:ss]message\n" with the time in Japan time.
    void addErrorLog(const std::string& message, int type);
    std::string getLog() const;

private:
    LBDebugLog() = default;

    mutable std::mutex mutex_;
    std::deque<std::string> log_;
    int32_t logCount_ = 0;
};
