#pragma once

// The number on the application icon: asking for permission, and setting it
// when badges are allowed.
class QNBadge {
public:
    QNBadge() = delete;

    // Asks the user to allow badges and alerts (the answer comes later).
    static void requireBadge();
    static bool canChangeBadge();
    // Sets the icon's number when badges are allowed; otherwise nothing.
    static void changeBadge(long number);
};
