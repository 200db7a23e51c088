#pragma once

namespace ui {

// While one is alive, a key goes only to what is in front of the screens
// (a panel, a menu, an alert): commands that go back from or close a whole
// screen are not offered. The window's own state (full screen) comes between
// the two: Escape closes what is in front first, then leaves full screen,
// then goes back.
class InFrontKeyScope {
public:
    InFrontKeyScope();
    ~InFrontKeyScope();
    InFrontKeyScope(const InFrontKeyScope&) = delete;
    InFrontKeyScope& operator=(const InFrontKeyScope&) = delete;

    // Whether a key is being delivered in front only (main thread).
    static bool active();

private:
    bool was_;
};

}  // namespace ui
