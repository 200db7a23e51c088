#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class RemoteStreamRead;

// UnRAR reads archives through the descriptor calls of the C library. In the
// copy of the library we link, those calls are renamed to the shim's (a build
// step rewrites its objects), so that an archive on a server can be handed
// to UnRAR as a path: "/stream/<id>", where the id names a registered stream
// (never an address). Every other path and descriptor goes to the system
// unchanged.
//
// A stream path opens as a real descriptor of /dev/null, so that its number
// can never be taken by a file UnRAR opens at the same time; reads and seeks
// on it are served from the stream. Reads of a stream that failed, was
// cancelled or is closing fail with EIO, so UnRAR stops with a read error
// rather than taking the archive for a short one.
class RarStreamShim {
public:
    // Keeps a stream reachable by its path while it lives.
    class Registration {
    public:
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
        const std::string& path() const { return path_; }

    private:
        friend class RarStreamShim;
        Registration(uint64_t id, std::string path) : id_(id), path_(std::move(path)) {}
        uint64_t id_;
        std::string path_;
    };

    static std::unique_ptr<Registration> registerStream(std::shared_ptr<RemoteStreamRead> stream);
    // True for the path of a live registration.
    static bool isStreamPath(const char* path);
    // Stream descriptors UnRAR holds open now (a leak shows here).
    static size_t openDescriptorCount();

    // While it lives, reads the library makes on this thread (of files and
    // streams alike) fail with ECANCELED once `*cancel` is set: a decode
    // given up ends at its next read, even in the middle of a solid block
    // it walks through without handing anything on.
    class ScopedReadCancel {
    public:
        explicit ScopedReadCancel(const std::atomic<bool>* cancel);
        ~ScopedReadCancel();
        ScopedReadCancel(const ScopedReadCancel&) = delete;
        ScopedReadCancel& operator=(const ScopedReadCancel&) = delete;

    private:
        const std::atomic<bool>* previous_;
    };
};
