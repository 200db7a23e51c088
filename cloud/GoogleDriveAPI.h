#pragma once

#include "cloud/CloudClient.h"
#include "cloud/CloudTokenStore.h"

// A Google Drive account (Drive API v3). Folders are named by their Drive
// identifier, "root" for the top.
class GoogleDriveAPI : public CloudClient {
public:
    explicit GoogleDriveAPI(std::string keychainItemName)
        : CloudClient(CloudService::GoogleDrive, std::move(keychainItemName)) {}

    HttpRequest accountRequest() const override;
    std::string accountName(const sys::PlistDictionary& answer) const override;
    std::string extraAuthorizeParameters() const override { return "&access_type=offline&prompt=consent"; }

    // The stored access token, nothing when it is missing or about to expire.
    static std::optional<std::string> getTokenWithKeychainItemName(const std::string& key);
    // Refreshes the account's token; `done` on the main thread.
    static void updateTokenWIthKeychainItemName(const std::string& key, CloudTokenStore::RefreshDone done);
    // Hands a sign-in redirect to the pending sign-in; false (and nothing
    // done) for any other URL.
    static bool checkGoogleRedirect(const std::string& url);

protected:
    HttpRequest firstPageRequest(const std::string& folder) const override;
    std::optional<HttpRequest> nextPageRequest(const sys::PlistDictionary& page,
                                               const HttpRequest& previous) const override;
    const char* itemsKey() const override { return "files"; }
};
