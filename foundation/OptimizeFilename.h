#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Shortens book titles for display: "[Group] (Vol) Name" shows as "Name".
class OptimizeFilename {
public:
    OptimizeFilename() = delete;

    // Strips leading spaces and leading bracket groups — (), （）, [], 【】,
    // ［］ — as long as the title begins with one whose closing mark occurs in
    // it. A title that would come out empty is returned unchanged.
    // `lastElement`, when given, receives the text inside the last group
    // removed (nothing when no group with text was removed).
    static std::string getOptimizedString(const std::string& title,
                                          std::optional<std::string>* lastElement = nullptr);

    // The text without the characters (code points) from `location` through
    // `location + length`, both included.
    static std::string subStringWithExcludeRange(const std::string& text, size_t location, size_t length);
};
