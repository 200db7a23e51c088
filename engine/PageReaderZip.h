#pragma once

#include "engine/PageReaderArchive.h"
#include "engine/ZipArchive.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RemoteStreamRead;
class Settings;

// The reader of zip (cbz) books, local or read in place on a server through
// a RemoteStreamRead, so that a page costs only the blocks of the directory
// and of that page. Its pages are the image entries, named by their stored
// bytes (Shift-JIS names of Japanese archives stay as they are); with a
// target folder only that folder's images are pages, numbered globally
// across the whole archive. Entries are found again by their place in the
// directory, never by a search by name.
//
// Encrypted entries (the PKWARE cipher or WinZip's AES) need the password,
// given as text and used in its Shift-JIS form. Entries stored, deflated,
// in Deflate64, bzip2, LZMA or PPMd are read (ZipEntryReader); an entry in
// any other method is shown as a page saying so, not as a broken one. A
// page is read whole into memory only when it announces at most
// kMaxPageBytes.
class PageReaderZip : public PageReaderArchive<PageReaderZip> {
public:
    using PageReaderArchive::getArchiveList;
    using PageReaderArchive::getFolderList;

    PageReaderZip();
    ~PageReaderZip() override;

    bool openFile(const std::string& name, const std::optional<std::string>& password,
                  const std::optional<std::string>& targetFolder, bool isOfflineMode,
                  bool isThumbsCreateMode) override;
    void closeFile() override;
    // 0 image (for an entry in an unknown method, a page that says so), 3
    // no image (missing, corrupt, tampered, too large), 4 a password is
    // needed or the given one is wrong; 2 when nothing is open.
    gfx::ImageRef newLoadAndCreateImage(int page, int& result) override;
    // From the entry's first bytes, for an archive on this machine.
    gfx::Size pictureSize(int page) override;
    bool isPageAtHand(int page) override;
    // With isCheckEntityOnly, an empty list when the open already saw an
    // inner archive (a folder), else the first one found.
    std::optional<std::vector<std::string>> getArchiveList(bool isCheckEntityOnly) override;
    std::optional<std::vector<std::string>> getFolderList(bool isCheckEntityOnly) override;

    // The folder and archive check on the open archive.
    std::optional<std::vector<std::string>> checkBook(bool* includeFolder, bool* includeArchive,
                                                      bool isCheckEntityOnly);
    bool isIncludeFolder() const { return isIncludeFolder_; }
    bool isIncludeArchive() const { return isIncludeArchive_; }

    // ---- Class operations ---------------------------------------------------------
    // Opens a local path, or an address through `stream` (opened here with
    // openURL). Nothing on failure.
    static std::unique_ptr<ZipArchive> unzOpenUrl(const std::string& pathOrUrl,
                                                  const std::shared_ptr<RemoteStreamRead>& stream);
    // Folders holding entries (text, sorted; includeFolder given) and inner
    // zip, 7z, RAR and PDF files (raw names; includeArchive given). With
    // isCheckEntityOnly the walk stops at the first find. Nothing when the
    // list is empty or the archive cannot be walked.
    static std::optional<std::vector<std::string>> checkBookWithHandle(ZipArchive* archive, bool* includeFolder,
                                                                       bool* includeArchive, bool isCheckEntityOnly);
    // The same on an archive opened for the check (a stream for an address).
    static std::optional<std::vector<std::string>> checkBookWithName(
        const std::string& name, const sys::PlistDictionary& fileInfo, bool* includeFolder, bool* includeArchive,
        bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
        const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting);
    // Writes the entry stored as `entryName` (raw bytes) beside the local
    // archive `path`, under its decoded last name component; an existing
    // name is never replaced: "name 2.ext", "name 3.ext"... are tried
    // instead. Nothing is left behind on failure. An address has no folder
    // to write beside and fails.
    // `written`, when given, receives the path of the file made.
    static int extractFile(const std::string& path, const sys::PlistDictionary& fileInfo,
                           const std::optional<std::string>& password, const std::string& entryName,
                           const std::string& remoteUser, const std::string& remotePassword,
                           std::string* written = nullptr);

    // Names of at least 2 bytes ending in "/" or "\", but not a "\" that is
    // the second byte of a Shift-JIS character.
    static bool isDirectoryEntry(const std::string& name);
    // The same for an entry; a name the archive declares as UTF-8 ends in a
    // separator whatever byte comes before it.
    static bool isDirectoryEntry(const ZipArchive::Entry& entry);

private:
    std::vector<ZipArchive::Position> positions_;
    std::unique_ptr<ZipArchive> archive_;
    bool isOfflineMode_ = false;
    bool isIncludeFolder_ = false;
    bool isIncludeArchive_ = false;
};
