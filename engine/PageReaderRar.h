#pragma once

#include "engine/PageReaderArchive.h"
#include "engine/RarStreamShim.h"
#include "engine/UnrarArchive.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RemoteStreamRead;
class Settings;

// The reader of RAR (cbr) books: RAR 1.5 to 5, volume sets, solid archives,
// encrypted data or headers. A book on a server is read in place through a
// RemoteStreamRead that UnRAR opens by its stream path (RarStreamShim), so
// a page of a non-solid archive costs the blocks of its entry only; the
// entry listing of such a book is kept in the stream cache's
// "streaming_cache.rawindex" and spares the header walk on the next open.
// A solid archive decodes only in order and is refused from a server.
//
// Pages are the image entries, named by their stored bytes. A page is read
// whole into memory only when it announces at most kMaxPageBytes, and only
// when the library delivers exactly that many bytes without an error.
class PageReaderRar : public PageReaderArchive<PageReaderRar> {
public:
    using PageReaderArchive::getArchiveList;
    using PageReaderArchive::getFolderList;
    static constexpr const char* kIndexFileName = "streaming_cache.rawindex";

    PageReaderRar();
    ~PageReaderRar() override;

    // The password opens encrypted entries and encrypted headers. A failure
    // says why in openFailure(); a solid archive on a server sets
    // isErrorBecauseSolidArchive when opened from the main thread.
    bool openFile(const std::string& name, const std::optional<std::string>& password,
                  const std::optional<std::string>& targetFolder, bool isOfflineMode,
                  bool isThumbsCreateMode) override;
    void closeFile() override;
    // Also ends a page being decoded (a solid block walked through for it)
    // at its next read of the archive; later pages decode as ever.
    void cancelStreaming() override;
    // 0 image, 3 no image (damaged, too large, undecodable), 4 a password is
    // needed or the given one is wrong; 2 when nothing is open.
    gfx::ImageRef newLoadAndCreateImage(int page, int& result) override;
    // From the entry's first bytes, for a book on this machine that is not
    // solid (where a page is reached only by decoding those before it).
    gfx::Size pictureSize(int page) override;
    bool isPageAtHand(int page) override;
    bool isSolidArhive() override { return isSolidArchive_; }
    // Inner zip, 7z, RAR and PDF entries (raw names); with
    // isCheckEntityOnly an empty list as soon as there is one.
    std::optional<std::vector<std::string>> getArchiveList(bool isCheckEntityOnly) override;
    // The folders holding entries, in archive order; nothing when none.
    std::optional<std::vector<std::string>> getFolderList(bool isCheckEntityOnly) override;

    // The page's stored bytes, not decoded.
    UnrarArchive::Status readPage(int page, std::string& data);

    // ---- Class operations ---------------------------------------------------------
    // True for a local RAR that opens and is solid.
    static bool isSolidArchiveFile(const std::string& path);
    // Folders holding entries (text, sorted; includeFolder given) and inner
    // zip, 7z, RAR and PDF files (raw names; includeArchive given) of the
    // archive `name` (a path or an address). With isCheckEntityOnly the walk
    // stops at the first find. Nothing when the list is empty or the
    // archive cannot be listed.
    static std::optional<std::vector<std::string>> checkBookWithName(
        const std::string& name, const sys::PlistDictionary& fileInfo, bool* includeFolder, bool* includeArchive,
        bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
        const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting);
    // Writes the entry stored as `entryName` (raw bytes, a NUL ends it)
    // beside the local archive `path`, under its decoded last name
    // component; an existing name is never replaced ("name 2.ext",
    // "name 3.ext"... instead). Nothing is left behind on failure.
    // `written`, when given, receives the path of the file made.
    static int extractFile(const std::string& path, const sys::PlistDictionary& fileInfo,
                           const std::optional<std::string>& password, const std::string& entryName,
                           const std::string& remoteUser, const std::string& remotePassword,
                           std::string* written = nullptr);

    // A name of at least 2 bytes ending in "/", unless the byte before it is
    // a Shift-JIS lead byte.
    static bool isDirectoryName(const std::string& name);

private:
    bool fail(UnrarArchive::Status status);
    bool readIndex(const std::string& path, std::vector<UnrarArchive::Entry>& entries) const;
    void writeIndex(const std::string& path, const std::vector<UnrarArchive::Entry>& entries) const;

    std::vector<size_t> pageEntry_;  // per page, its index in entries_
    std::vector<UnrarArchive::Entry> entries_;
    std::optional<std::vector<std::string>> folderList_;
    bool isSolidArchive_ = false;
    bool isIncludeArchive_ = false;
    std::unique_ptr<UnrarArchive> unrar_;
    // A page's decode runs (decoding_), and has been given up (decodeCancel_).
    std::atomic<bool> decoding_{false};
    std::atomic<bool> decodeCancel_{false};
    struct Decoding {
        explicit Decoding(PageReaderRar& reader);
        ~Decoding();
        Decoding(const Decoding&) = delete;
        Decoding& operator=(const Decoding&) = delete;
        PageReaderRar& reader_;
    };
    std::unique_ptr<RarStreamShim::Registration> registration_;
};
