#pragma once

#include "platform/core/PlistDictionary.h"

#include <memory>
#include <mutex>
#include <string>

class RemoteStreamRead;
class Settings;

// The stream through which an archive book on a server is read. Other
// threads cancel it while a page load waits on it, so it is kept under a
// lock of its own.
class ArchiveStream {
public:
    // A stream for the protocol of `url` (not opened), or nothing when no
    // stream reader serves it.
    static std::shared_ptr<RemoteStreamRead> newForUrl(const std::string& url);
    // The same, set up for a one-off look into the archive (a check or an
    // extraction) with these credentials and settings.
    static std::shared_ptr<RemoteStreamRead> newForCheck(const std::string& url, const sys::PlistDictionary& fileInfo,
                                                         const std::string& remoteUser,
                                                         const std::string& remotePassword,
                                                         const std::shared_ptr<Settings>& settings,
                                                         const sys::PlistDictionary& otherSetting);

    std::shared_ptr<RemoteStreamRead> get() const;
    void set(std::shared_ptr<RemoteStreamRead> stream);
    // Stops the stream's waits (any thread); the stream stays.
    void cancel() const;
    // Forgets the stream and closes it.
    void close();

private:
    mutable std::mutex mutex_;
    std::shared_ptr<RemoteStreamRead> stream_;
};
