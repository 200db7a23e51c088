#pragma once

#include "cloud/CloudClient.h"
#include "cloud/CloudTokenStore.h"

// A Box account (Box API 2.0). Folders are named by their identifier; ""
// or "/" is the top folder "0".
class BoxAPICommon : public CloudClient {
public:
    explicit BoxAPICommon(std::string keychainItemName)
        : CloudClient(CloudService::Box, std::move(keychainItemName)) {}

    HttpRequest accountRequest() const override;
    std::string accountName(const sys::PlistDictionary& answer) const override;

    static void getBoxAPITokenWithRefreshToken(const std::string& key, CloudTokenStore::RefreshDone done);

protected:
    HttpRequest firstPageRequest(const std::string& folder) const override;
    std::optional<HttpRequest> nextPageRequest(const sys::PlistDictionary& page,
                                               const HttpRequest& previous) const override;
    const char* itemsKey() const override { return "entries"; }
};
