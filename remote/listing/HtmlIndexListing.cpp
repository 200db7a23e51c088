#include "remote/listing/HtmlIndexListing.h"

#include "cloud/HttpEasy.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "remote/listing/FolderPath.h"
#include "platform/core/Unicode.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <array>
#include <cctype>
#include <functional>

namespace {

// A server's own column-sort links, never entries.
bool isSortLink(const std::string& target) {
    static const std::array<const char*, 8> links = {"?N=D",     "?M=A",     "?S=A",     "?D=A",
                                                     "?C=N;O=D", "?C=M;O=A", "?C=S;O=A", "?C=D;O=A"};
    for (const char* l : links) {
        if (target == l) return true;
    }
    return false;
}

std::optional<std::string> attribute(xmlNode* node, const char* name) {
    xmlChar* v = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!v) return std::nullopt;
    std::string out(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
}

std::string textOf(xmlNode* node) {
    xmlChar* v = xmlNodeGetContent(node);
    if (!v) return {};
    std::string out(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string trimmed(const std::string& s) {
    // Spaces, tabs, line ends and the no-break space servers pad with.
    size_t b = 0, e = s.size();
    auto space = [&](size_t i, bool back) -> size_t {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') return 1;
        if (!back && c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xA0) return 2;
        if (back && c == 0xA0 && i > 0 && static_cast<unsigned char>(s[i - 1]) == 0xC2) return 2;
        return 0;
    };
    while (b < e) {
        size_t n = space(b, false);
        if (!n) break;
        b += n;
    }
    while (e > b) {
        size_t n = space(e - 1, true);
        if (!n) break;
        e -= n;
    }
    return s.substr(b, e - b);
}

// Apache and nginx cut long names in their index pages and end them with
// "..>": the target still names the whole file.
bool isCutShort(const std::string& text, const std::string& target) {
    if (text.size() < 4 || text.compare(text.size() - 3, 3, "..>") != 0) return false;
    const std::string whole = HtmlIndexListing::nameFromTarget(target);
    const std::string kept = text.substr(0, text.size() - 3);
    return whole.size() > kept.size() && whole.compare(0, kept.size() - std::min<size_t>(kept.size(), 3), kept, 0,
                                                       kept.size() - std::min<size_t>(kept.size(), 3)) == 0;
}

void forEachLink(xmlNode* node, const std::function<void(xmlNode*)>& fn) {
    for (xmlNode* n = node; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && n->name && xmlStrcasecmp(n->name, BAD_CAST "a") == 0) fn(n);
        if (n->children) forEachLink(n->children, fn);
    }
}

}  // namespace

std::string HtmlIndexListing::nameFromTarget(const std::string& target) {
    std::array<char, 1024> buf{};
    UrlPercent::decode(target.c_str(), buf.data(), buf.size());
    std::string decoded(buf.data());
    if (!sys::Unicode::isValidUtf8(decoded)) return {};
    return QNUrl::lastPathComponentOf(decoded);
}

RemoteFileEntry HtmlIndexListing::getListFromHyperHtml(const std::string& body, const std::string& baseURL,
                                                       int downloadListType) {
    RemoteFileEntry out;
    if (body.empty()) return out;
    htmlDocPtr doc = htmlReadMemory(body.data(), int(std::min<size_t>(body.size(), size_t(INT32_MAX))),
                                    baseURL.c_str(), "UTF-8",
                                    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc) return out;
    const std::string listed = HttpEasy::resolve(baseURL, "");
    const std::string listedPage = FolderPath::withoutQuery(listed);
    // The folder the page lists: its address up to the last "/".
    std::string folderPath = FolderPath::pathOf(listedPage);
    folderPath.resize(folderPath.rfind('/') + 1);
    forEachLink(xmlDocGetRootElement(doc), [&](xmlNode* a) {
        // Servers indent their link texts and hrefs; the spaces are not part
        // of either.
        std::optional<std::string> text = trimmed(textOf(a));
        std::optional<std::string> target = attribute(a, "href");
        if (target) target = trimmed(*target);
        if (target && isSortLink(*target)) target.reset();
        const auto bookTitle = attribute(a, "booktitle");
        const auto lbexpand = attribute(a, "lbexpand");
        const auto booksize = attribute(a, "booksize");
        const auto passcode = attribute(a, "passcode");
        const auto bookdate = attribute(a, "bookdate");
        const auto bookfile = attribute(a, "bookfile");
        const bool isBook = bookfile && equalsIgnoringCase(*bookfile, "true");
        if (text && *text == "Parent Directory") return;

        std::optional<std::string> title;
        if (bookTitle) {
            title = bookTitle;
        } else if (!target) {
            if (downloadListType != 1) title = text;
        } else if (downloadListType == 1 || !text || text->empty() || isCutShort(*text, *target)) {
            title = nameFromTarget(*target);
        } else {
            title = text;
        }
        if (title && title->empty()) title = "(root)";
        if (!target || !title) return;
        // "./Name/" is a relative name; what is left must not start with a
        // dot: links up ("../"), to the folder itself ("./") and hidden names.
        std::string relative = *target;
        while (relative.compare(0, 2, "./") == 0) relative.erase(0, 2);
        if (relative.substr(0, relative.find('.')).empty()) return;

        const std::string scheme = target->substr(0, target->find('/'));
        std::string url = scheme == "http:" || scheme == "https:" ? HttpEasy::resolve(*target, "")
                                                                  : HttpEasy::resolve(baseURL, *target);
        if (url.empty()) return;
        // Only the site's own entries inside the listed folder: never a link
        // to another server or scheme (it would leave with the site's
        // password, or for the internet), up the tree, or back to this page
        // (with a query: any server's sort links; with a fragment).
        if (!HttpEasy::sameOrigin(listed, url) || FolderPath::withoutQuery(url) == listedPage) return;
        if (!FolderPath::segmentsBelow(folderPath, FolderPath::pathOf(url))) return;
        const size_t dot = target->rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : target->substr(dot + 1);
        if (!BookCommonTypes::isBookorPDFFileorThemeWithExtension(ext)) {
            if (!title->empty() && title->back() == '/') title->pop_back();
        }
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kOrder, sys::PlistValue(int64_t(out.size())));
        info.set(RemoteFileEntry::kName, sys::PlistValue(*title));
        if (lbexpand) info.set(RemoteFileEntry::kLbExpand, sys::PlistValue(*lbexpand));
        if (booksize) {
            if (auto bytes = RemoteFileEntry::sizeFromText(*booksize)) info.set(RemoteFileEntry::kBookSize, sys::PlistValue(*bytes));
        }
        if (passcode) info.set(RemoteFileEntry::kPasscode, sys::PlistValue(*passcode));
        if (bookdate) info.set(RemoteFileEntry::kBookDate, sys::PlistValue(*bookdate));
        info.set(RemoteFileEntry::kIsBook, sys::PlistValue(isBook));
        out.add(url, std::move(info));
    });
    xmlFreeDoc(doc);
    return out;
}
