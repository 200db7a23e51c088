#pragma once

// The viewer, as the streaming overlay sees it.
class StreamStatusViewDelegate {
public:
    virtual ~StreamStatusViewDelegate() = default;
    // The user gave up waiting for the server.
    virtual void onCancelStreaming() = 0;
};
