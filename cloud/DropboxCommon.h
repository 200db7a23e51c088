#pragma once

#include "cloud/CloudClient.h"
#include "cloud/CloudTokenStore.h"

// A Dropbox account (API v2). Folders are named by their path ("" or "/"
// for the top, else "/Comics/..."; an "id:..." reference works too).
class DropboxCommon : public CloudClient {
public:
    explicit DropboxCommon(std::string keychainItemName)
        : CloudClient(CloudService::Dropbox, std::move(keychainItemName)) {}

    HttpRequest accountRequest() const override;
    std::string accountName(const sys::PlistDictionary& answer) const override;
    std::string extraAuthorizeParameters() const override { return "&token_access_type=offline"; }

    // The access token stored for the account (key chain service
    // "dropbox.auth"), nothing when none is usable.
    static std::optional<std::string> getAccesToken(const std::string& key);
    // The download of a file (its path or "id:..."), bytes from the content
    // host: a POST naming the file in "Dropbox-API-Arg".
    static HttpRequest downloadRequest(const std::string& pathOrId);

protected:
    HttpRequest firstPageRequest(const std::string& folder) const override;
    std::optional<HttpRequest> nextPageRequest(const sys::PlistDictionary& page,
                                               const HttpRequest& previous) const override;
    const char* itemsKey() const override { return "entries"; }
};
