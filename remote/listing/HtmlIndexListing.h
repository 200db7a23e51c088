#pragma once

#include "remote/listing/RemoteFileEntry.h"

#include <string>

// Reads a folder's entries from a web server's index page (nginx autoindex,
// Apache's fancy index, python's http.server, any page of links) or from
// the companion media server's page, whose links carry "booktitle",
// "lbexpand", "booksize", "passcode", "bookdate" and "bookfile" ("booksize"
// is kept as a number of bytes, as every listing keeps it). The page goes
// through libxml2's HTML parser; links back up, to the folder itself
// and a server's sort links are left out.
class HtmlIndexListing {
public:
    HtmlIndexListing() = delete;
    // downloadListType 1 names entries after their file names instead of
    // their link texts.
    // Links are read as the page goes, each handed on once it is closed;
    // mostLinksHeld, when given, tells how many were held at once waiting
    // for that (a page's links are never all held to its end).
    static RemoteFileEntry getListFromHyperHtml(const std::string& body, const std::string& baseURL,
                                                int downloadListType, size_t* mostLinksHeld = nullptr);
    // The last path component of a percent-decoded link target, at most
    // 1023 bytes, as UTF-8 ("" when it is not).
    static std::string nameFromTarget(const std::string& target);
};
