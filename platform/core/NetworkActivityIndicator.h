#pragma once

#include <functional>

namespace sys {

// The system's "network activity" mark. The desktop shell installs a handler
// that draws it; without one only the state is kept. Main thread only.
class NetworkActivityIndicator {
public:
    NetworkActivityIndicator() = delete;

    static void setVisible(bool visible);
    static bool isVisible();
    // Told of every change of state (nullptr: none).
    static void setHandler(std::function<void(bool visible)> handler);
};

}  // namespace sys
