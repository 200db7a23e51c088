#include "cloud/BoxAPITokenKeeper.h"

#include "cloud/CloudTokenStore.h"

std::optional<std::string> BoxAPITokenKeeper::getStoredTokenWithKey(const std::string& key) {
    return CloudTokenStore::validAccessToken(CloudService::Box, key);
}
