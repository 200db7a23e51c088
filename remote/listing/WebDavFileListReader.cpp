#include "remote/listing/WebDavFileListReader.h"

#include "platform/core/Date.h"
#include "platform/core/PlistValue.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <ctime>

namespace {

bool named(const xmlNode* n, const char* local) {
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0;
}

const xmlNode* child(const xmlNode* n, const char* local) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next) {
        if (named(c, local)) return c;
    }
    return nullptr;
}

std::string text(const xmlNode* n) {
    if (!n) return {};
    xmlChar* s = xmlNodeGetContent(n);
    std::string out = s ? reinterpret_cast<const char*>(s) : "";
    xmlFree(s);
    const size_t b = out.find_first_not_of(" \t\r\n");
    const size_t e = out.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : out.substr(b, e - b + 1);
}

// The prop of the first propstat whose status is 200 (a server lists the
// properties it could not give under another status).
const xmlNode* okProp(const xmlNode* response) {
    const xmlNode* any = nullptr;
    for (const xmlNode* ps = response->children; ps; ps = ps->next) {
        if (!named(ps, "propstat")) continue;
        const xmlNode* prop = child(ps, "prop");
        if (!prop) continue;
        const std::string status = text(child(ps, "status"));
        if (status.find(" 200") != std::string::npos) return prop;
        if (status.empty() && !any) any = prop;
    }
    return any;
}

}  // namespace

std::optional<int64_t> WebDavFileListReader::parseHttpDate(const std::string& s) {
    struct tm t {};
    const char* end = strptime(s.c_str(), "%a, %d %b %Y %H:%M:%S", &t);
    if (!end) return std::nullopt;
    return int64_t(timegm(&t));
}

std::optional<std::vector<sys::PlistDictionary>> WebDavFileListReader::getFileListFromXmlData(
    const std::string& body) {
    // 20 trailing NULs may follow the document (the listing's terminator).
    size_t len = body.size();
    while (len > 0 && body[len - 1] == '\0') --len;
    if (len == 0 || len > size_t(INT32_MAX)) return std::nullopt;
    xmlDoc* doc = xmlReadMemory(body.data(), int(len), "propfind.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return std::nullopt;
    const xmlNode* root = xmlDocGetRootElement(doc);
    if (!named(root, "multistatus")) {
        xmlFreeDoc(doc);
        return std::nullopt;
    }
    std::vector<sys::PlistDictionary> out;
    for (const xmlNode* r = root->children; r; r = r->next) {
        if (!named(r, "response")) continue;
        sys::PlistDictionary d;
        const std::string href = text(child(r, "href"));
        if (!href.empty()) d.set("path", sys::PlistValue(href));
        if (const xmlNode* prop = okProp(r)) {
            const std::string length = text(child(prop, "getcontentlength"));
            if (!length.empty() && length.size() <= 18 && length.find_first_not_of("0123456789") == std::string::npos) {
                d.set("length", sys::PlistValue(int64_t(std::stoll(length))));
            }
            if (auto when = parseHttpDate(text(child(prop, "getlastmodified")))) {
                d.set("date", sys::PlistValue(sys::Date(double(*when))));
            }
            // What the resource is, where the server said: some write a
            // collection's href without its final "/" (or a file's with one).
            if (const xmlNode* type = child(prop, "resourcetype")) {
                d.set("collection", sys::PlistValue(child(type, "collection") != nullptr));
            }
        }
        out.push_back(std::move(d));
    }
    xmlFreeDoc(doc);
    return out;
}
