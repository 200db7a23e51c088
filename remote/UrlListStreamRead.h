#pragma once

#include "engine/UrlListStream.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The remote sources' page-by-page fetcher behind the engine's UrlListStream:
// a list of page addresses (a folder of images on a server, a companion-
// server book, or a remote PDF as a one-page list) fetched into a per-page
// cache for the image-folder and PDF readers.
//
// The protocol loaders arrive with the remote sources. Until then a fetcher
// cannot start streaming: openUrls answers false and no page is fetched, so
// a reader reports the book as unreadable instead of waiting.
class UrlListStreamRead : public UrlListStream {
public:
    UrlListStreamRead() = default;
    ~UrlListStreamRead() override;

    // Makes this class the engine's fetcher (at start-up).
    static void registerWithEngine();

    std::optional<std::vector<std::string>> getIndex(const std::string& indexUrl) override;
    bool openUrls(const std::vector<std::string>& urls, const std::optional<std::vector<int32_t>>& globalPageNoList,
                  int64_t totalPage, const std::string& infoURL, bool isLbExpand) override;
    std::optional<std::string> getLocalCachePath(int64_t index) override;
    void closeUrls() override;
    void cancelStreaming() override;

    bool isOpen() const { return isOpen_; }
    bool isCancelled() const { return isCancelled_.load(); }

private:
    bool isOpen_ = false;
    std::atomic<bool> isCancelled_{false};
};
