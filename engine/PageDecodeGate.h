#pragma once

#include <atomic>
#include <string>

// One decode of a page at a time in the whole process. Sessions of the same
// book take turns at a page instead of decoding the same picture at once,
// each holding a large decoder's memory: a reading screen closed while its
// page decodes and the book opened again, the cover maker and the reading
// screen, the reading screen and the preview strip's pictures.
//
// A gate lives on the worker that decodes, for the decode's duration. Its
// wait counts as idle for the virtual clock and ends when `cancelled` turns
// true (the session is being closed): then nothing is held.
class PageDecodeGate {
public:
    PageDecodeGate(std::string key, const std::atomic<bool>& cancelled);
    ~PageDecodeGate();
    PageDecodeGate(const PageDecodeGate&) = delete;
    PageDecodeGate& operator=(const PageDecodeGate&) = delete;

    // Whether this gate holds its page (false: cancelled while waiting).
    bool held() const { return held_; }

    // The key of page `page` of the book at `book` (a path or an address)
    // read as `folder` ("" for the whole book).
    static std::string keyFor(const std::string& book, const std::string& folder, int page);
    // How many gates hold or wait for `key` now (for tests).
    static int users(const std::string& key);

private:
    std::string key_;
    bool held_ = false;
};
