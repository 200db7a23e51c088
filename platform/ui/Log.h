#pragma once

#include <functional>
#include <string>

namespace ui {

// Warnings of the UI layer (unknown image or colour names and the like). They
// go to standard error; a test or the program may catch them instead.
void logWarning(const std::string& message);
// nullptr restores standard error. Returns the previous sink.
std::function<void(const std::string&)> setWarningSink(std::function<void(const std::string&)> sink);

}  // namespace ui
