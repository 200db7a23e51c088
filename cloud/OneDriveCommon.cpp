#include "cloud/OneDriveCommon.h"

#include "cloud/HttpEasy.h"

HttpRequest OneDriveCommon::firstPageRequest(const std::string& folder) const {
    std::string id = folder;
    while (!id.empty() && id.front() == '/') id.erase(0, 1);
    while (!id.empty() && id.back() == '/') id.pop_back();
    HttpRequest req;
    req.url = endpoints().apiBase + (id.empty() ? std::string("/v1.0/me/drive/root/children")
                                                : "/v1.0/me/drive/items/" + CloudTokenStore::formEncode(id) + "/children");
    return req;
}

std::optional<HttpRequest> OneDriveCommon::nextPageRequest(const sys::PlistDictionary& page,
                                                           const HttpRequest& previous) const {
    const std::string link = page.getString("@odata.nextLink");
    if (link.empty()) return std::nullopt;
    HttpRequest req = previous;
    // The token goes only to the service's own address.
    req.url = HttpEasy::sameOrigin(endpoints().apiBase, link) ? link : std::string();
    return req;
}

HttpRequest OneDriveCommon::accountRequest() const {
    HttpRequest req;
    req.url = endpoints().apiBase + "/v1.0/me";
    return req;
}

std::string OneDriveCommon::accountName(const sys::PlistDictionary& answer) const {
    std::string name = answer.getString("displayName");
    return name.empty() ? answer.getString("userPrincipalName") : name;
}

void OneDriveCommon::getOneDriveTokenWithRefreshToken(const std::string& key, CloudTokenStore::RefreshDone done) {
    CloudTokenStore::refresh(CloudService::OneDrive, key, std::move(done));
}

HttpRequest OneDriveCommon::getMutableURLRequestWithoutAuthorization(const HttpRequest& request) {
    HttpRequest copy = request;
    copy.removeHeader("Authorization");
    return copy;
}
