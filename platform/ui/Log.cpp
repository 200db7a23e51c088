#include "platform/ui/Log.h"

#include <cstdio>
#include <mutex>

namespace ui {

namespace {
std::mutex gMutex;
std::function<void(const std::string&)> gSink;
}  // namespace

void logWarning(const std::string& message) {
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard<std::mutex> g(gMutex);
        sink = gSink;
    }
    if (sink) {
        sink(message);
        return;
    }
    std::fprintf(stderr, "leafbright ui warning: %s\n", message.c_str());
}

std::function<void(const std::string&)> setWarningSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> g(gMutex);
    auto old = std::move(gSink);
    gSink = std::move(sink);
    return old;
}

}  // namespace ui
