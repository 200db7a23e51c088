#include "cloud/DropboxCommon.h"

#include "cloud/CloudJson.h"

namespace {

HttpRequest jsonPost(const std::string& url, const std::string& body) {
    HttpRequest req;
    req.method = "POST";
    req.url = url;
    req.body = body;
    req.setHeader("Content-Type", "application/json");
    return req;
}

}  // namespace

HttpRequest DropboxCommon::firstPageRequest(const std::string& folder) const {
    std::string path = folder;
    // A folder URL "dropbox://key//Comics" has the path "//Comics".
    while (path.size() >= 2 && path[0] == '/' && path[1] == '/') path.erase(0, 1);
    if (path == "/") path.clear();
    return jsonPost(endpoints().apiBase + "/2/files/list_folder",
                    "{\"path\": " + CloudJson::quote(path) + ", \"limit\": 2000}");
}

std::optional<HttpRequest> DropboxCommon::nextPageRequest(const sys::PlistDictionary& page,
                                                          const HttpRequest& previous) const {
    (void)previous;
    const std::string cursor = page.getString("cursor");
    if (!page.getBool("has_more") || cursor.empty()) return std::nullopt;
    return jsonPost(endpoints().apiBase + "/2/files/list_folder/continue",
                    "{\"cursor\": " + CloudJson::quote(cursor) + "}");
}

HttpRequest DropboxCommon::accountRequest() const {
    return jsonPost(endpoints().apiBase + "/2/users/get_current_account", "null");
}

std::string DropboxCommon::accountName(const sys::PlistDictionary& answer) const {
    auto name = answer.getDictionary("name");
    return name ? name->getString("display_name") : std::string();
}

std::optional<std::string> DropboxCommon::getAccesToken(const std::string& key) {
    return CloudTokenStore::validAccessToken(CloudService::Dropbox, key);
}

HttpRequest DropboxCommon::downloadRequest(const std::string& pathOrId) {
    HttpRequest req;
    req.method = "POST";
    req.url = CloudEndpoints::forService(CloudService::Dropbox).contentBase + "/2/files/download";
    // JSON in a header: characters beyond ASCII are escaped, as the service asks.
    std::string arg = "{\"path\": " + CloudJson::quote(pathOrId) + "}";
    std::string ascii;
    for (size_t i = 0; i < arg.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(arg[i]);
        if (c < 0x80) {
            ascii += char(c);
            continue;
        }
        // Decode one UTF-8 sequence into \uXXXX (with a surrogate pair past
        // the basic plane).
        int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        uint32_t cp = c & (len == 4 ? 0x07 : len == 3 ? 0x0F : 0x1F);
        for (int k = 1; k < len && i + 1 < arg.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(arg[++i]) & 0x3F);
        char buf[16];
        if (cp >= 0x10000) {
            cp -= 0x10000;
            std::snprintf(buf, sizeof buf, "\\u%04x\\u%04x", 0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF));
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04x", cp);
        }
        ascii += buf;
    }
    req.setHeader("Dropbox-API-Arg", ascii);
    // The service refuses the form type curl would name for a POST.
    req.setHeader("Content-Type", "text/plain; charset=dropbox-cors-hack");
    req.setHeader("Content-Length", "0");
    return req;
}
