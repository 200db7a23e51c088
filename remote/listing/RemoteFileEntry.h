#pragma once

#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One folder listing: the entries' absolute URLs and, in the same order, a
// dictionary of what the source told about each.
struct RemoteFileEntry {
    // Keys of the info dictionaries (absent keys are simply missing).
    static constexpr const char* kName = "name";
    static constexpr const char* kBookSize = "booksize";
    static constexpr const char* kBookDate = "bookdate";
    static constexpr const char* kIsBook = "isBook";
    static constexpr const char* kIsFolder = "isFolder";
    static constexpr const char* kOrder = "order";
    static constexpr const char* kLbExpand = "lbexpand";
    static constexpr const char* kPasscode = "passcode";
    static constexpr const char* kComment = "comment";
    static constexpr const char* kExtension = "extension";

    // A folder of more entries than this is not shown, as one whose listing
    // is too large to fetch is not: each entry becomes a row of the list.
    static constexpr size_t kMaxEntries = 500'000;

    std::vector<std::string> fileList;
    std::vector<sys::PlistDictionary> infoList;
    // More than kMaxEntries were added; those past it were left out.
    bool tooMany = false;

    void add(std::string url, sys::PlistDictionary info) {
        if (fileList.size() >= kMaxEntries) {
            tooMany = true;
            return;
        }
        fileList.push_back(std::move(url));
        infoList.push_back(std::move(info));
    }
    size_t size() const { return fileList.size(); }

    // "bookdate" is one representation in every listing: a decimal string of
    // seconds since 1970. bookDate reads it back (a number, as a list saved
    // by an older version may hold, is read too); nothing when it is absent
    // or not a whole number.
    static sys::PlistValue dateValue(int64_t secondsSince1970);
    static std::optional<int64_t> bookDate(const sys::PlistDictionary& info);

    // "booksize" is one representation in every listing too: a number of
    // bytes, set only where the source told the size. bookSize reads it back
    // (a decimal string, as a companion server's entry in a list saved by an
    // older version holds, is read too); nothing when it is absent, negative
    // or not a whole number. sizeFromText reads a size written as text (the
    // companion's "booksize" attribute): decimal digits only.
    static std::optional<int64_t> bookSize(const sys::PlistDictionary& info);
    static std::optional<int64_t> sizeFromText(const std::string& text);

    // How a reader of the record tells folders: by "isFolder" or "isBook"
    // where the source set them, else by a URL that ends with "/".
    static bool isFolder(const std::string& url, const sys::PlistDictionary& info);
};
