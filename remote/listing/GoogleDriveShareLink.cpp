#include "remote/listing/GoogleDriveShareLink.h"

#include "foundation/BookCommon.h"
#include "foundation/EncodeASCIIStringElements.h"
#include "platform/core/Path.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>
#include <vector>

namespace {

std::string& testBase() {
    static std::string base;
    return base;
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

}  // namespace

std::string GoogleDriveShareLink::webBase() {
    return testBase().empty() ? std::string("https://drive.google.com") : testBase();
}

void GoogleDriveShareLink::setWebBaseForTesting(const std::string& base) { testBase() = base; }

namespace {

std::string& testDownloadBase() {
    static std::string base;
    return base;
}

// The path components of a pseudo file address: identifier, parameters,
// name (each still scrambled or encoded); nothing for other addresses.
std::optional<std::vector<std::string>> pseudoFileParts(const std::string& url) {
    const std::string prefix = GoogleDriveShareLink::kPseudoPrefix;
    if (url.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    std::string rest = url.substr(prefix.size());
    if (rest.find_first_of("?#") != std::string::npos) return std::nullopt;
    std::vector<std::string> parts;
    for (size_t at; (at = rest.find('/')) != std::string::npos; rest.erase(0, at + 1)) parts.push_back(rest.substr(0, at));
    parts.push_back(rest);
    if (parts.size() != 3 || parts[0].empty() || parts[1].empty() || parts[2].empty()) return std::nullopt;
    return parts;
}

}  // namespace

std::string GoogleDriveShareLink::downloadBase() {
    return testDownloadBase().empty() ? std::string("https://drive.usercontent.google.com") : testDownloadBase();
}

void GoogleDriveShareLink::setDownloadBaseForTesting(const std::string& base) { testDownloadBase() = base; }

bool GoogleDriveShareLink::isPseudoFileURL(const std::string& url) { return pseudoFileParts(url).has_value(); }

std::optional<std::string> GoogleDriveShareLink::downloadURL(const std::string& pseudoFileURL) {
    const auto parts = pseudoFileParts(pseudoFileURL);
    if (!parts) return std::nullopt;
    const std::string id = EncodeASCIIStringElements::stringDecodeASCIIStringElements((*parts)[0]);
    if (id.empty() || id.size() > kMaxIdBytes) return std::nullopt;
    for (unsigned char c : id)
        if (!std::isalnum(c) && c != '-' && c != '_') return std::nullopt;
    auto query = BookCommon::PercentDecodingWithString(EncodeASCIIStringElements::stringDecodeASCIIStringElements((*parts)[1]));
    if (!query) return std::nullopt;
    if (*query == "non") query->clear();
    if (query->size() > kMaxQueryBytes) return std::nullopt;
    for (unsigned char c : *query)
        if (c <= ' ' || c == 0x7F || c == '#') return std::nullopt;
    return downloadBase() + "/download?id=" + id + *query + "&export=download&confirm=t";
}

std::optional<std::string> GoogleDriveShareLink::folderPageURL(const std::string& shareLinkURL) {
    const std::string prefix = kPseudoPrefix;
    if (shareLinkURL.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string scrambled = shareLinkURL.substr(prefix.size());
    if (scrambled.empty()) return std::nullopt;
    const std::string folder = EncodeASCIIStringElements::stringDecodeASCIIStringElements(scrambled);
    if (folder.empty()) return std::nullopt;
    return webBase() + "/drive/folders/" + folder;
}

bool GoogleDriveShareLink::isFolderPage(const std::string& url) {
    const std::string prefix = webBase() + "/";
    return url.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> GoogleDriveShareLink::shareLinkAddress(const std::string& link) {
    const std::string mark = "/drive/folders/";
    const size_t at = link.find(mark);
    if (at == std::string::npos) return std::nullopt;
    std::string rest = link.substr(at + mark.size());
    rest = rest.substr(0, rest.find('#'));
    if (rest.empty() || rest[0] == '?') return std::nullopt;
    return std::string(kPseudoPrefix) + EncodeASCIIStringElements::stringEncodeASCIIStringElements(rest);
}

std::optional<std::string> GoogleDriveShareLink::siteShareLinkAddress(const std::string& url) {
    const std::string prefix = webBase() + "/drive/folders/";
    if (url.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return shareLinkAddress(url);
}

namespace {

// The extra query text of an address on the page, from just after its "?" to
// the closing quote; nothing when unclosed or too long.
std::optional<std::string> appendixAt(const std::string& page, size_t start) {
    if (start > page.size()) return std::nullopt;
    const size_t end = std::min(page.size(), start + GoogleDriveShareLink::kMaxQueryBytes + 1);
    const size_t quote = static_cast<size_t>(std::find(page.begin() + start, page.begin() + end, '"') - page.begin());
    if (quote >= end) return std::nullopt;
    std::string query = page.substr(start, quote - start);
    replaceAll(query, "\\u003d", "=");
    replaceAll(query, "\\u0026", "&");
    replaceAll(query, "usp=drivesdk", "");
    if (query.empty() || query[0] == '&') return query;
    return "&" + query;
}

// Where the page first names each item's address: identifier up to "?" ->
// the position just after it. Read in one pass over the page.
using AddressIndex = std::map<std::string, size_t, std::less<>>;

AddressIndex indexAddresses(const std::string& page, const std::string& prefix) {
    AddressIndex index;
    for (size_t at = page.find(prefix); at != std::string::npos; at = page.find(prefix, at + 1)) {
        const size_t idStart = at + prefix.size();
        // Room for the longest identifier and a file's "/view" after it.
        const size_t end = std::min(page.size(), idStart + GoogleDriveShareLink::kMaxLookupIdBytes + 6);
        const size_t mark = static_cast<size_t>(std::find(page.begin() + idStart, page.begin() + end, '?') - page.begin());
        if (mark >= end) continue;
        index.emplace(page.substr(idStart, mark - idStart), mark + 1);
    }
    return index;
}

}  // namespace

std::optional<std::string> GoogleDriveShareLink::getAppendixQueryInGDriveHtml(const std::string& page,
                                                                             const std::string& itemId,
                                                                             bool isFolder) {
    if (itemId.size() > kMaxLookupIdBytes) return std::nullopt;
    const std::string needle =
        webBase() + (isFolder ? "/drive/folders/" + itemId + "?" : "/file/d/" + itemId + "/view?");
    const size_t at = page.find(needle);
    if (at == std::string::npos) return std::nullopt;
    return appendixAt(page, at + needle.size());
}

RemoteFileEntry GoogleDriveShareLink::getListFromGoogleDriveLink(const std::string& page, std::string* title) {
    RemoteFileEntry out;
    // The page stands for a NUL-terminated text: nothing after a NUL counts.
    const std::string text = page.substr(0, page.find('\0'));
    const size_t t0 = text.find("<title>");
    const size_t t1 = text.find("</title>");
    if (title && t0 != std::string::npos && t1 != std::string::npos && t1 >= t0 + 7 && t1 - (t0 + 7) <= kMaxTagBytes)
        *title = text.substr(t0 + 7, t1 - (t0 + 7));

    const std::string itemMark = "<div class=\"KL4NAf\"";
    const std::string folderMark = "=\"Google Drive Folder\"";
    // Every item's address is looked up in indexes made in one pass each: a
    // search from the page's start for every item grows with the square of
    // the items.
    const AddressIndex folders = indexAddresses(text, webBase() + "/drive/folders/");
    const AddressIndex files = indexAddresses(text, webBase() + "/file/d/");
    const auto appendix = [&](const std::string& id, bool isFolder) -> std::optional<std::string> {
        // An identifier holding "?" cannot be told from its address's query
        // (nor is it one Drive gives out).
        if (id.size() > kMaxLookupIdBytes || id.find('?') != std::string::npos) return std::nullopt;
        if (isFolder) {
            const auto found = folders.find(id);
            return found == folders.end() ? std::nullopt : appendixAt(text, found->second);
        }
        // A file's address is ".../file/d/ID/view?": the index has "ID/view" for it.
        const auto found = files.find(id + "/view");
        return found == files.end() ? std::nullopt : appendixAt(text, found->second);
    };
    int64_t order = 0;
    size_t p = text.find(itemMark);
    while (p != std::string::npos) {
        const size_t tagEnd = text.find('>', p);
        if (tagEnd == std::string::npos || tagEnd - p > kMaxTagBytes) break;
        // The folder mark counts only within the item's own tag.
        const size_t folderAt = std::string_view(text).substr(p, tagEnd + 1 + folderMark.size() - p).find(folderMark);
        const bool isFolder = folderAt != std::string::npos;
        const size_t nameEnd = text.find('<', tagEnd + 1);
        if (nameEnd == std::string::npos || nameEnd - (tagEnd + 1) > kMaxTagBytes) break;
        const std::string name = text.substr(tagEnd + 1, nameEnd - (tagEnd + 1));
        const size_t cdata = text.find("<c-data", nameEnd);
        if (cdata == std::string::npos) break;
        const size_t idMark = text.find("KCtMme;", cdata);
        if (idMark == std::string::npos) break;
        const size_t idStart = idMark + 7;
        const size_t idEnd = text.find(';', idStart);
        if (idEnd == std::string::npos || idEnd - idStart > kMaxIdBytes) break;
        const std::string id = text.substr(idStart, idEnd - idStart);
        const std::optional<std::string> extra = appendix(id, isFolder);

        std::string url;
        if (!isFolder) {
            std::string encoded = BookCommon::PercentEncodingWithString(extra.value_or(""));
            if (encoded.empty()) encoded = "non";
            url = std::string(kPseudoPrefix) + EncodeASCIIStringElements::stringEncodeASCIIStringElements(id) + "/" +
                  EncodeASCIIStringElements::stringEncodeASCIIStringElements(encoded) + "/" +
                  BookCommon::PercentEncodingWithString(name);
        } else {
            std::string query = extra.value_or("");
            if (!query.empty() && query[0] == '&') query.erase(0, 1);
            if (!query.empty()) query = "?" + query;
            url = std::string(kPseudoPrefix) + EncodeASCIIStringElements::stringEncodeASCIIStringElements(id + query);
        }
        sys::PlistDictionary info{{RemoteFileEntry::kOrder, sys::PlistValue(order++)},
                                  {RemoteFileEntry::kName, sys::PlistValue(name)},
                                  {RemoteFileEntry::kIsBook, sys::PlistValue(!isFolder)},
                                  {RemoteFileEntry::kExtension, sys::PlistValue(sys::Path::pathExtension(name))}};
        out.add(std::move(url), std::move(info));
        p = text.find(itemMark, idEnd + 1);
    }
    return out;
}
