#pragma once

// Told once when a site opening ends.
class PushToMediaServerDelegate {
public:
    virtual ~PushToMediaServerDelegate() = default;
    // The site's first list was pushed.
    virtual void didPushToMediaServer() = 0;
    // The opening failed or the user gave up (the user was told).
    virtual void didCancelByUser() = 0;
};
