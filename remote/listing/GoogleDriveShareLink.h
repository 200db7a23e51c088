#pragma once

#include "remote/listing/RemoteFileEntry.h"

#include <optional>
#include <string>

// A Google Drive folder shared by link, listed without signing in: the
// folder's public web page is fetched like an index page and its items are
// read out of it. Items become addresses on the program's own pseudo host
// "googledrive.sharelink" (folders to list again, files to fetch), with the
// Drive identifiers and the page's extra query parameters scrambled in them.
// Every piece read from the page is bounded.
class GoogleDriveShareLink {
public:
    static constexpr const char* kPseudoPrefix = "https://googledrive.sharelink/";
    static constexpr size_t kMaxTagBytes = 511;
    static constexpr size_t kMaxIdBytes = 127;
    static constexpr size_t kMaxLookupIdBytes = 100;
    static constexpr size_t kMaxQueryBytes = 256;

    // The Drive web site the folder pages come from ("https://drive.google.com").
    static std::string webBase();
    // Tests point it at a server of their own; "" puts the real one back.
    static void setWebBaseForTesting(const std::string& base);

    // Where the files of shared folders are fetched from
    // ("https://drive.usercontent.google.com").
    static std::string downloadBase();
    // Tests point it at a server of their own; "" puts the real one back.
    static void setDownloadBaseForTesting(const std::string& base);
    // Whether an address is a file on the pseudo host (a listed shared file).
    static bool isPseudoFileURL(const std::string& url);
    // The address a listed shared file is fetched from: its identifier and
    // the page's extra parameters unscrambled into the download address.
    // Nothing when the address is no pseudo file address, or what it carries
    // would not make a sound request (an identifier with other than letters,
    // digits, "-" and "_"; parameters with spaces, controls or "#").
    static std::optional<std::string> downloadURL(const std::string& pseudoFileURL);

    // The folder page to fetch for a pseudo folder address; nothing when the
    // address is not one.
    static std::optional<std::string> folderPageURL(const std::string& shareLinkURL);
    // Whether a fetched address is a Drive folder page (read here, not as an
    // index page).
    static bool isFolderPage(const std::string& url);
    // The pseudo folder address of a folder's share link
    // (".../drive/folders/ID", its query kept); nothing for other links.
    static std::optional<std::string> shareLinkAddress(const std::string& link);
    // The pseudo folder address of a share link on the Drive web site, as
    // "Copy link" gives it ("https://drive.google.com/drive/folders/ID?..."):
    // such a site is listed as the shared folder. Nothing for other addresses.
    static std::optional<std::string> siteShareLinkAddress(const std::string& url);

    // The items of a folder page; `title` gets the page title when it has one.
    static RemoteFileEntry getListFromGoogleDriveLink(const std::string& page, std::string* title);
    // The page's extra query text for an item ("&..." or ""); nothing when
    // there is none.
    static std::optional<std::string> getAppendixQueryInGDriveHtml(const std::string& page, const std::string& itemId,
                                                                  bool isFolder);
};
