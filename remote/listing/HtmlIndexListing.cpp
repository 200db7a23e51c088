#include "remote/listing/HtmlIndexListing.h"

#include "cloud/HttpEasy.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "remote/listing/FolderPath.h"
#include "platform/core/Unicode.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

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

// One link of the page as the parser meets it: its attributes, and its text
// as it arrives (the text of everything inside it).
struct Link {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    bool closed = false;

    std::optional<std::string> attribute(const char* name) const {
        for (const auto& [k, v] : attributes) {
            if (k == name) return v;
        }
        return std::nullopt;
    }
};

// Reads the page's links as the parser goes, without building the page's
// tree: an index page at the size limit holds hundreds of thousands of
// links. Links are handed on in the order they open, each once it is
// closed (the parser closes whatever a page leaves open).
class LinkReader {
public:
    explicit LinkReader(std::function<void(const Link&)> onLink) : onLink_(std::move(onLink)) {}

    void read(const std::string& body, const std::string& baseURL) {
        htmlSAXHandler sax{};
        sax.startElement = [](void* ctx, const xmlChar* name, const xmlChar** atts) {
            self(ctx).start(reinterpret_cast<const char*>(name), atts);
        };
        sax.endElement = [](void* ctx, const xmlChar* name) { self(ctx).end(reinterpret_cast<const char*>(name)); };
        sax.characters = [](void* ctx, const xmlChar* text, int length) { self(ctx).text(text, length); };
        sax.cdataBlock = sax.characters;
        htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
        if (!ctxt) return;
        *ctxt->sax = sax;
        ctxt->_private = this;
        htmlCtxtReadMemory(ctxt, body.data(), int(std::min<size_t>(body.size(), size_t(INT32_MAX))), baseURL.c_str(),
                           "UTF-8", HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
        // A document the parser returned anyway (none is built here).
        if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
        ctxt->myDoc = nullptr;
        htmlFreeParserCtxt(ctxt);
        // Links the parser left open end with the page.
        for (auto& l : pending_) l.closed = true;
        open_.clear();
        ignored_ = 0;
        flush();
    }

    size_t mostHeld() const { return mostHeld_; }

private:
    static LinkReader& self(void* ctx) {
        return *static_cast<LinkReader*>(static_cast<htmlParserCtxtPtr>(ctx)->_private);
    }

    // Links inside links are kept this deep, and a link's text this long;
    // a hostile page nests and writes without end.
    static constexpr size_t kMaxOpenLinks = 32;
    static constexpr size_t kMaxTextBytes = 16384;

    void start(const char* name, const xmlChar** atts) {
        if (!name || xmlStrcasecmp(BAD_CAST name, BAD_CAST "a") != 0) return;
        if (open_.size() >= kMaxOpenLinks) {
            ++ignored_;
            return;
        }
        Link l;
        for (size_t i = 0; atts && atts[i]; i += 2) {
            // An attribute written without a value has the empty one.
            l.attributes.emplace_back(reinterpret_cast<const char*>(atts[i]),
                                      atts[i + 1] ? reinterpret_cast<const char*>(atts[i + 1]) : "");
        }
        pending_.push_back(std::move(l));
        mostHeld_ = std::max(mostHeld_, pending_.size());
        // Elements of a deque stay where they are as it grows at its end.
        open_.push_back(&pending_.back());
    }

    void end(const char* name) {
        if (!name || xmlStrcasecmp(BAD_CAST name, BAD_CAST "a") != 0) return;
        if (ignored_ > 0) {
            --ignored_;
            return;
        }
        if (open_.empty()) return;
        // The innermost link still open.
        open_.back()->closed = true;
        open_.pop_back();
        flush();
    }

    void text(const xmlChar* text, int length) {
        if (length <= 0) return;
        // Text inside a link belongs to every link around it.
        for (Link* l : open_) {
            if (l->text.size() >= kMaxTextBytes) continue;
            size_t take = std::min(size_t(length), kMaxTextBytes - l->text.size());
            // Cut between characters.
            if (take < size_t(length)) {
                while (take > 0 && (text[take] & 0xC0) == 0x80) --take;
            }
            l->text.append(reinterpret_cast<const char*>(text), take);
        }
    }

    void flush() {
        while (!pending_.empty() && pending_.front().closed) {
            onLink_(pending_.front());
            pending_.pop_front();
        }
    }

    std::function<void(const Link&)> onLink_;
    // Links in the order they opened, until they are handed on.
    std::deque<Link> pending_;
    // Those still open, innermost last; and how many more opened too deep.
    std::vector<Link*> open_;
    size_t ignored_ = 0;
    size_t mostHeld_ = 0;
};

}  // namespace

std::string HtmlIndexListing::nameFromTarget(const std::string& target) {
    std::array<char, 1024> buf{};
    UrlPercent::decode(target.c_str(), buf.data(), buf.size());
    std::string decoded(buf.data());
    if (!sys::Unicode::isValidUtf8(decoded)) return {};
    return QNUrl::lastPathComponentOf(decoded);
}

RemoteFileEntry HtmlIndexListing::getListFromHyperHtml(const std::string& body, const std::string& baseURL,
                                                       int downloadListType, size_t* mostLinksHeld) {
    if (mostLinksHeld) *mostLinksHeld = 0;
    RemoteFileEntry out;
    if (body.empty()) return out;
    const std::string listed = HttpEasy::resolve(baseURL, "");
    const std::string listedPage = FolderPath::withoutQuery(listed);
    // The folder the page lists: its address up to the last "/".
    std::string folderPath = FolderPath::pathOf(listedPage);
    folderPath.resize(folderPath.rfind('/') + 1);
    LinkReader reader([&](const Link& a) {
        // Servers indent their link texts and hrefs; the spaces are not part
        // of either.
        std::optional<std::string> text = trimmed(a.text);
        std::optional<std::string> target = a.attribute("href");
        if (target) target = trimmed(*target);
        if (target && isSortLink(*target)) target.reset();
        const auto bookTitle = a.attribute("booktitle");
        const auto lbexpand = a.attribute("lbexpand");
        const auto booksize = a.attribute("booksize");
        const auto passcode = a.attribute("passcode");
        const auto bookdate = a.attribute("bookdate");
        const auto bookfile = a.attribute("bookfile");
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
    reader.read(body, baseURL);
    if (mostLinksHeld) *mostLinksHeld = reader.mostHeld();
    return out;
}
