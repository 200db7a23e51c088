#include "foundation/LBDebugLog.h"

#include "platform/core/Date.h"
#include "platform/core/TimeZone.h"
#include "platform/core/UserDefaults.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

bool debugLogEnabled() { return sys::UserDefaults::standard().boolForKey("enable_bookmarktest"); }

std::mutex& instanceMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<LBDebugLog>& instanceSlot() {
    static std::shared_ptr<LBDebugLog> instance;
    return instance;
}

// The trace was always read against Japan time; keep it so that lines from
// different machines compare.
std::string japanTimeNow() {
    sys::Date now = sys::Date::now();
    static const std::optional<sys::TimeZone> jst = sys::TimeZone::abbreviated("JST");
    int offset = jst ? jst->secondsFromGMT(now) : 9 * 3600;
    std::time_t t = std::time_t(std::floor(now.timeIntervalSince1970())) + offset;
    std::tm tm {};
    gmtime_r(&t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

}  // namespace

void LBDebugLog::writeDebugLog(const std::string& message, int type) { writeDebugLog(message, std::nullopt, type); }

void LBDebugLog::writeDebugLog(const std::string& message, const std::optional<std::string>& param1, int type) {
    if (!debugLogEnabled()) return;
    std::shared_ptr<LBDebugLog> inst;
    {
        std::lock_guard<std::mutex> g(instanceMutex());
        auto& slot = instanceSlot();
        if (!slot) slot = std::shared_ptr<LBDebugLog>(new LBDebugLog());
        inst = slot;
    }
    inst->addErrorLog(param1 ? message + "," + *param1 : message, type);
}

std::optional<std::string> LBDebugLog::getDebugLog() {
    if (!debugLogEnabled()) return std::string("[Debuglog is disabled]");
    std::shared_ptr<LBDebugLog> inst;
    {
        std::lock_guard<std::mutex> g(instanceMutex());
        inst = instanceSlot();
    }
    if (!inst) return std::nullopt;
    return inst->getLog();
}

void LBDebugLog::deleteInstance() {
    std::lock_guard<std::mutex> g(instanceMutex());
    instanceSlot().reset();
}

void LBDebugLog::addErrorLog(const std::string& message, int /*type: not recorded*/) {
    std::string time = japanTimeNow();
    std::lock_guard<std::mutex> g(mutex_);
    if (log_.size() >= kMaxLines) log_.pop_front();
    ++logCount_;
    log_.push_back("[" + std::to_string(logCount_) + "][" + time + "]" + message + "\n");
}

std::string LBDebugLog::getLog() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::string out;
    for (const auto& line : log_) out += line;
    return out;
}
