#pragma once

#include "engine/ArchiveStream.h"
#include "engine/PageReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Settings;

// What the zip, RAR and 7z readers share: the pages of the open archive
// (stored names ending in their NUL, parallel to their global numbers), the
// book's path and password, the stream of a book on a server, the limits
// and results of extraction, and the class operations that list a book's
// inner archives or its folders alone. Those go through the reader's own
//
//   static std::optional<std::vector<std::string>> checkBookWithName(
//       name, fileInfo, includeFolder, includeArchive, isCheckEntityOnly,
//       remoteUser, remotePassword, settings, otherSetting);
//
// which is asked for folders when includeFolder is given and for inner
// archives when includeArchive is.
template <class Reader>
class PageReaderArchive : public PageReader {
public:
    // A page is read whole into memory only when it announces at most this.
    static constexpr uint64_t kMaxPageBytes = 256ull << 20;
    enum ExtractResult { kExtractDone = 0, kExtractPassword = 1, kExtractFailed = 2, kExtractNoRoom = 3 };

    // The target stays: the viewer still wants to hear of blocks that arrive.
    void cancelStreaming() override { httpStream_.cancel(); }
    std::vector<std::string> getPageNameList() const override { return pageNameList_; }
    std::optional<std::vector<int32_t>> getGlobalPageNoList() const override { return globalPageNoList_; }
    bool isStreamPage() const override { return false; }

    // ---- Class operations ---------------------------------------------------------
    // The inner archives, or the folders, of the book `name` (a path or an
    // address); with isCheckEntityOnly the walk may stop at the first find.
    using PageReader::getArchiveList;
    using PageReader::getFolderList;
    static std::optional<std::vector<std::string>> getArchiveList(
        const std::string& name, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
        const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
        const sys::PlistDictionary& otherSetting) {
        bool found = false;
        return Reader::checkBookWithName(name, fileInfo, nullptr, &found, isCheckEntityOnly, remoteUser,
                                         remotePassword, settings, otherSetting);
    }
    static std::optional<std::vector<std::string>> getFolderList(
        const std::string& name, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
        const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
        const sys::PlistDictionary& otherSetting) {
        bool found = false;
        return Reader::checkBookWithName(name, fileInfo, &found, nullptr, isCheckEntityOnly, remoteUser,
                                         remotePassword, settings, otherSetting);
    }

protected:
    // Ends the open: pages, path and password are forgotten and the stream
    // closes. The archive library must have let go of the stream before.
    void closeArchive() {
        pageNameList_.clear();
        globalPageNoList_.clear();
        targetPath_.clear();
        archivePassword_.reset();
        httpStream_.close();
        PageReader::closeFile();
    }

    std::string targetPath_;
    std::optional<std::string> archivePassword_;
    std::vector<std::string> pageNameList_;
    std::vector<int32_t> globalPageNoList_;
    ArchiveStream httpStream_;
};
