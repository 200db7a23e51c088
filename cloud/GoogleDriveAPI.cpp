#include "cloud/GoogleDriveAPI.h"

#include "cloud/CloudSignIn.h"

namespace {
constexpr const char* kPageToken = "&pageToken=";
}

HttpRequest GoogleDriveAPI::firstPageRequest(const std::string& folder) const {
    // Quotes and backslashes inside the identifier would end the query's
    // string literal.
    std::string id;
    for (char c : folder.empty() ? std::string("root") : folder) {
        if (c == '\'' || c == '\\') id += '\\';
        id += c;
    }
    HttpRequest req;
    req.url = endpoints().apiBase + "/drive/v3/files?q=" + CloudTokenStore::formEncode("'" + id + "' in parents") +
              "&fields=" +
              CloudTokenStore::formEncode("nextPageToken,files(id,name,mimeType,originalFilename,"
                                          "explicitlyTrashed,modifiedTime,size)") +
              "&pageSize=1000";
    return req;
}

std::optional<HttpRequest> GoogleDriveAPI::nextPageRequest(const sys::PlistDictionary& page,
                                                           const HttpRequest& previous) const {
    const std::string token = page.getString("nextPageToken");
    if (token.empty()) return std::nullopt;
    HttpRequest req = previous;
    if (size_t p = req.url.find(kPageToken); p != std::string::npos) req.url.resize(p);
    req.url += kPageToken + CloudTokenStore::formEncode(token);
    return req;
}

HttpRequest GoogleDriveAPI::accountRequest() const {
    HttpRequest req;
    req.url = endpoints().apiBase + "/drive/v3/about?fields=user";
    return req;
}

std::string GoogleDriveAPI::accountName(const sys::PlistDictionary& answer) const {
    auto user = answer.getDictionary("user");
    return user ? user->getString("emailAddress") : std::string();
}

std::optional<std::string> GoogleDriveAPI::getTokenWithKeychainItemName(const std::string& key) {
    return CloudTokenStore::validAccessToken(CloudService::GoogleDrive, key);
}

void GoogleDriveAPI::updateTokenWIthKeychainItemName(const std::string& key, CloudTokenStore::RefreshDone done) {
    CloudTokenStore::refresh(CloudService::GoogleDrive, key, std::move(done));
}

bool GoogleDriveAPI::checkGoogleRedirect(const std::string& url) { return CloudSignIn::handleRedirect(url); }
