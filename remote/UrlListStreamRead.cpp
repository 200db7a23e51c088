#include "remote/UrlListStreamRead.h"

UrlListStreamRead::~UrlListStreamRead() { closeUrls(); }

void UrlListStreamRead::registerWithEngine() {
    UrlListStream::registerMaker([] { return std::make_shared<UrlListStreamRead>(); });
}

std::optional<std::vector<std::string>> UrlListStreamRead::getIndex(const std::string& /*indexUrl*/) {
    return std::nullopt;
}

bool UrlListStreamRead::openUrls(const std::vector<std::string>& /*urls*/,
                                 const std::optional<std::vector<int32_t>>& /*globalPageNoList*/,
                                 int64_t /*totalPage*/, const std::string& /*infoURL*/, bool /*isLbExpand*/) {
    isCancelled_ = false;
    isOpen_ = false;
    return false;
}

std::optional<std::string> UrlListStreamRead::getLocalCachePath(int64_t /*index*/) { return std::nullopt; }

void UrlListStreamRead::closeUrls() { isOpen_ = false; }

void UrlListStreamRead::cancelStreaming() { isCancelled_ = true; }
