#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the page preview strip asks of the reading screen. Called on the
// main thread.
class BookPagePreViewDelegate {
public:
    virtual ~BookPagePreViewDelegate() = default;
    // A thumbnail was tapped: jump to its page.
    virtual void selectPage(int32_t page) = 0;
    // The strip now centres this page.
    virtual void previewPage(int32_t page) = 0;
    // The page's member name (raw bytes), none when it has no name.
    virtual std::optional<std::string> getNameFromPage(int32_t page) = 0;
};
