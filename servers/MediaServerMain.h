#pragma once

#include <memory>

// The on-device HTTP media server's shared object. The server itself is
// not part of this build: the object is made on request and released at
// termination, so the shell's life cycle is already right when it comes.
class MediaServerMain {
public:
    static std::shared_ptr<MediaServerMain> sharedMediaServer();
    static bool hasSharedMediaServer();
    // Releases the shared object (termination).
    static void releaseMediaServer();

    // Whether the server is serving (never, in this build).
    bool isRunning() const { return false; }
};
