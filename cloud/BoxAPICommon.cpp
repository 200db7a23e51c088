#include "cloud/BoxAPICommon.h"

namespace {

constexpr int kPageSize = 1000;

std::string itemsURL(const std::string& base, const std::string& id, int64_t offset) {
    return base + "/2.0/folders/" + CloudTokenStore::formEncode(id) +
           "/items?fields=name,size,id,content_modified_at,type&limit=" + std::to_string(kPageSize) +
           "&offset=" + std::to_string(offset);
}

std::string folderId(const std::string& folder) {
    std::string id = folder;
    while (!id.empty() && id.front() == '/') id.erase(0, 1);
    while (!id.empty() && id.back() == '/') id.pop_back();
    return id.empty() ? std::string("0") : id;
}

}  // namespace

HttpRequest BoxAPICommon::firstPageRequest(const std::string& folder) const {
    HttpRequest req;
    req.url = itemsURL(endpoints().apiBase, folderId(folder), 0);
    return req;
}

std::optional<HttpRequest> BoxAPICommon::nextPageRequest(const sys::PlistDictionary& page,
                                                         const HttpRequest& previous) const {
    const int64_t total = page.getInteger("total_count", -1);
    const int64_t offset = page.getInteger("offset", -1);
    auto entries = page.getArray("entries");
    if (total < 0 || offset < 0 || !entries || entries->empty()) return std::nullopt;
    const int64_t next = offset + int64_t(entries->size());
    if (next >= total) return std::nullopt;
    HttpRequest req = previous;
    const size_t cut = req.url.rfind("&offset=");
    if (cut == std::string::npos) return std::nullopt;
    req.url.resize(cut);
    req.url += "&offset=" + std::to_string(next);
    return req;
}

HttpRequest BoxAPICommon::accountRequest() const {
    HttpRequest req;
    req.url = endpoints().apiBase + "/2.0/users/me";
    return req;
}

std::string BoxAPICommon::accountName(const sys::PlistDictionary& answer) const { return answer.getString("name"); }

void BoxAPICommon::getBoxAPITokenWithRefreshToken(const std::string& key, CloudTokenStore::RefreshDone done) {
    CloudTokenStore::refresh(CloudService::Box, key, std::move(done));
}
