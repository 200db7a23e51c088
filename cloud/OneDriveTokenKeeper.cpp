#include "cloud/OneDriveTokenKeeper.h"

#include "cloud/CloudTokenStore.h"

std::optional<std::string> OneDriveTokenKeeper::getStoredTokenWithKey(const std::string& key) {
    return CloudTokenStore::validAccessToken(CloudService::OneDrive, key);
}
