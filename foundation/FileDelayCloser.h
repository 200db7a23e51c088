#pragma once

#include <cstdio>
#include <memory>

// Closes file handles on a thread of their own, so that a reader that lets a
// large archive go does not wait for the close (which can take long on a slow
// or network file system).
class FileDelayCloser {
public:
    FileDelayCloser() = delete;

    // Closes the descriptor on another thread.
    static void closeFileDelay(int fd);
    static void closeFileDelay(FILE* file);
    // Drops this reference on another thread: when it is the last one, the
    // handle's destructor (which closes it) runs there.
    static void closeFileDelay(std::shared_ptr<void> handle);

    // Returns when no close is under way.
    static void waitForCloseAll();
    // Closes under way now.
    static int closesInProgress();
};
