#pragma once

#include "cloud/CloudClient.h"
#include "cloud/CloudTokenStore.h"

// A OneDrive account through Microsoft Graph. Folders are named by their
// item identifier; "" or "/" is the drive's root.
class OneDriveCommon : public CloudClient {
public:
    explicit OneDriveCommon(std::string keychainItemName)
        : CloudClient(CloudService::OneDrive, std::move(keychainItemName)) {}

    HttpRequest accountRequest() const override;
    std::string accountName(const sys::PlistDictionary& answer) const override;

    static void getOneDriveTokenWithRefreshToken(const std::string& key, CloudTokenStore::RefreshDone done);
    // A copy with every header but "Authorization" (for a redirect to a
    // pre-authenticated address, which must not see the token).
    static HttpRequest getMutableURLRequestWithoutAuthorization(const HttpRequest& request);

protected:
    HttpRequest firstPageRequest(const std::string& folder) const override;
    std::optional<HttpRequest> nextPageRequest(const sys::PlistDictionary& page,
                                               const HttpRequest& previous) const override;
    const char* itemsKey() const override { return "value"; }
};
