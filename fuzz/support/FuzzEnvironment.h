#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What every fuzz target shares: a private application home (nothing a
// target writes reaches a real user's files), the main loop bound to the
// fuzzing thread, and a scratch folder for parsers that read files by path.
class FuzzEnvironment {
public:
    // Once per process; later calls return at once.
    static void setUp();
    // The scratch folder (removed when the process ends).
    static const std::string& workDir();
    // Writes the input to workDir()/name and returns the path.
    static std::string writeFile(const std::string& name, std::span<const uint8_t> data);
    // Runs what the input's work posted to the main loop, so that nothing
    // piles up between inputs.
    static void settle();
    // Runs what is queued on the main loop now, without waiting for busy
    // workers: on the real clock every live worker thread counts as busy,
    // and settle() would give each input a tenth of a second of nothing.
    static void runQueued();
    // Sends what the peer takes of `data` on the connected socket `fd` (a
    // peer that stops reading ends it), then closes the sending side.
    static void sendAndShutDown(int fd, std::span<const uint8_t> data);
};
