#pragma once

#include "engine/RemoteAccess.h"
#include "engine/RemoteStreamRead.h"
#include "platform/core/PlistDictionary.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Settings;
class UrlListStream;

// What the reading session knows of a book format: a numbered list of pages,
// each of which it can ask for as an image. The zip, RAR, 7z and PDF readers
// derive from this class; the class itself reads books made of loose image
// files: a local folder, a list of image addresses, or a book that the
// companion server hands out page by page.
//
// Page names are raw bytes, not text: archive entries made on other systems
// keep their stored bytes (Shift-JIS and the like). Every name in
// getPageNameList() ends with one NUL byte, which is part of the name, and
// getGlobalPageNoList() is parallel to it. A global page number counts the
// pages of everything that was opened as one book (all the folders of an
// archive), a local one only the pages listed.
//
// The session calls one reader from one thread at a time (its page-reader
// lock), except cancelStreaming and the stream callbacks, which may come
// from any thread.
class PageReader : public RemoteStreamReadDelegate,
                   public RemoteAccess,
                   public std::enable_shared_from_this<PageReader> {
public:
    // Results of newLoadAndCreateImage; any other value is a failure too.
    enum Result {
        kResultImage = 0,     // a decoded image is returned
        kResultPending = 1,   // render later with newCreatePendingImage (PDF)
        kResultFailed = 3,    // no image
        kResultPassword = 4,  // a password is needed
    };

    // How long, in real time, a picture being decoded (a large page) holds
    // up virtual time, as a PDF page being drawn does.
    static constexpr double kDecodeClockHoldSeconds = 1.0;

    // Names with a dot and one of the image extensions (any case) at least 5 bytes long.
    static bool isImageFileWithFilename(const char* name);

    PageReader();
    ~PageReader() override;
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // The receiver of the stream-cache callbacks (the session); not owned.
    virtual void setTargetForOnlineStatus(std::weak_ptr<RemoteStreamReadDelegate> target);
    // Forgets the target and cancels the stream, so that a page load blocked
    // on the network returns at once. Any thread.
    virtual void cancelStreaming();

    // Opens the book `name`: a file of the image folder, an image address, or
    // (in companion-server mode) the book's address. A second open closes the
    // first. `targetFolder` picks one folder of a companion-server archive.
    virtual bool openFile(const std::string& name, const std::optional<std::string>& password,
                          const std::optional<std::string>& targetFolder, bool isOfflineMode,
                          bool isThumbsCreateMode);
    virtual void closeFile();

    // The page of the image the user opened (image folders).
    int32_t getSelectedImageNo() const { return selectedImageNo_; }
    // Other files of the book's folder given by the opener (an image address
    // book lists its pages here); empty clears them.
    void setOtherFiles(const std::vector<std::string>& files);
    // Companion-server mode: the server's page-list path.
    void setMediaServerExpandMode(const std::string& lbexpand);

    // Archives inside an archive (raw names, no NUL); nothing here.
    virtual std::optional<std::vector<std::string>> getArchiveList(bool isCheckEntityOnly);
    // Folders holding pages; nothing when the open listed none.
    virtual std::optional<std::vector<std::string>> getFolderList(bool isCheckEntityOnly);

    // The page `page` as an image, with one of the results above in `result`.
    virtual gfx::ImageRef newLoadAndCreateImage(int page, int& result);
    // Pending pages only: the size at which the page last asked for should be
    // rendered, and its rendering.
    virtual gfx::Size getPendingImageSize();
    virtual gfx::ImageRef newCreatePendingImage(int page, gfx::Size targetSize, gfx::Rect sourceRect,
                                                gfx::Rect clipRect, bool optimizeTargetSize);

    // The page picture's upright size as its header tells it, read without
    // decoding the picture, for a page at hand (a local file or archive):
    // zero for one that would have to be fetched from a server, and where
    // the header says nothing.
    virtual gfx::Size pictureSize(int page);
    // Pages whose header only decoding tells (a page inside a solid 7z
    // block, which decodes only after what comes before it in the block):
    // whether `page`, its size not at hand now, may be measured so.
    virtual bool isMeasuredByDecoding(int page);
    // Its size once decoded: waits for the decoding under way to reach the
    // page, or decodes it (a solid block whole) where the reader decodes
    // nothing else. Zero where it cannot tell now. It takes as long as that
    // decoding, which then serves the page's showing too.
    virtual gfx::Size decodedPictureSize(int page);
    // Whether the page's bytes are on this machine now (a local file, or an
    // archive read from disk whose decoding costs this page alone), so that
    // loading it to learn its size fetches nothing and decodes no more.
    virtual bool isPageAtHand(int page);

    virtual std::vector<std::string> getPageNameList() const;
    // Nothing when the format has no global numbers.
    virtual std::optional<std::vector<int32_t>> getGlobalPageNoList() const;
    // True when the stream's units are pages (a block map otherwise).
    virtual bool isStreamPage() const;
    // Solid archives decode pages only in order (RAR, 7z); false here.
    virtual bool isSolidArhive();

    // Stream progress, passed on to the target.
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override;

    // Why the last open failed (read after openFile).
    bool isUnsupportedServer() const { return isUnsupportedServer_; }
    bool isUnsupportedFtp() const { return isUnsupportedFtp_; }
    bool isServerBusy() const { return isServerBusy_; }
    // The server refused the user name or password of the book's stream.
    bool isAuthRefused() const { return isAuthRefused_; }
    // A page of a book read page by page was refused for the user name or
    // password since the open (any thread).
    bool isPageFetchRefused() const;
    // The server ("host:port") whose certificate was refused; empty when none was.
    const std::string& untrustedServer() const { return untrustedServer_; }
    bool isExpandError() const { return isExpandError_; }
    bool isErrorBecauseSolidArchive() const { return isErrorBecauseSolidArchive_; }
    bool isNoPage() const { return isNoPage_; }
    // Why the last open failed, where the reader could tell.
    enum class OpenFailure {
        None,        // opened, or no reason known
        Password,    // a password is needed (or the one given is wrong) to list the book
        Damaged,     // the file is broken or incomplete
        NotArchive,  // the file is not of the kind its name says
        Unreadable,  // the file (or the stream) could not be read
        NoReader,    // this build has no reader for such books (set by the session)
        Encrypted,   // encrypted in a way no password given here can open (PDF)
        NoMemory,    // the archive's dictionary could not be allocated
    };
    OpenFailure openFailure() const { return openFailure_; }
    // A page failed because its archive's library could not allocate what
    // decoding it takes (a dictionary larger than this machine gives):
    // every page after it in a solid archive fails the same way. Any thread.
    bool isOutOfMemory() const { return outOfMemory_.load(); }

protected:
    std::shared_ptr<RemoteStreamReadDelegate> target() const;
    // A stream (not opened) for the archive book at `url`, carrying this
    // reader's credentials and settings and reporting to it; nothing when
    // no stream reader serves the address.
    std::shared_ptr<RemoteStreamRead> newArchiveStream(const std::string& url, bool isOfflineMode,
                                                       bool isThumbsCreateMode);
    // A page's stored bytes decoded; `result` becomes kResultImage when they
    // make an image and is left alone otherwise.
    static gfx::ImageRef imageFromPageBytes(const std::string& bytes, int& result);
    // The size a picture's header tells, from its first bytes: `readMore`
    // appends the picture's next bytes to `bytes` until it holds `upTo`, and
    // answers false when it cannot (an error, or the picture has no more).
    // Only so much is read as the header needs, and never more than a few
    // megabytes.
    static gfx::Size pictureSizeFromBytes(const std::function<bool(std::string& bytes, size_t upTo)>& readMore);
    // The same from the start of a local file.
    static gfx::Size pictureSizeOfFile(const std::string& path);
    // What an archive's stream found of its server (unsupported, busy, an
    // untrusted certificate), taken when the book fails to open; cleared as
    // a book starts to open.
    void takeServerState(const RemoteStreamRead& stream);
    void clearServerState();

    bool isUnsupportedServer_ = false;
    bool isUnsupportedFtp_ = false;
    bool isServerBusy_ = false;
    bool isAuthRefused_ = false;
    std::string untrustedServer_;
    bool isExpandError_ = false;
    bool isErrorBecauseSolidArchive_ = false;
    bool isNoPage_ = false;
    OpenFailure openFailure_ = OpenFailure::None;
    std::atomic<bool> outOfMemory_{false};

private:
    bool openLocalFolder(const std::string& name);
    bool openUrlList(const std::string& name, bool isOfflineMode, bool isThumbsCreateMode);
    bool openExpand(const std::string& name, const std::optional<std::string>& targetFolder,
                    bool isOfflineMode, bool isThumbsCreateMode);
    std::shared_ptr<UrlListStream> makeStream(bool isOfflineMode, bool isThumbsCreateMode);
    std::shared_ptr<UrlListStream> stream() const;
    void setStream(std::shared_ptr<UrlListStream> s);
    void appendPage(const std::string& name, int32_t globalNo);

    int32_t selectedImageNo_ = 0;
    std::vector<std::string> fileList_;       // folder: names; URL list: addresses; expand: entry paths
    std::vector<std::string> fileListNSData_; // the same as bytes with the NUL
    std::vector<int32_t> globalPageNoList_;
    std::optional<std::vector<std::string>> folderList_;
    std::string basePath_;
    std::vector<std::string> otherFileList_;
    bool isURL_ = false;
    std::string lbexpand_;

    // The stream and the target are reached from other threads (cancel,
    // callbacks) while a page load runs.
    mutable std::mutex shareMutex_;
    std::shared_ptr<UrlListStream> stream_;
    std::weak_ptr<RemoteStreamReadDelegate> target_;
};
