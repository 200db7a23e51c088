#pragma once

#include "platform/core/PlistDictionary.h"

#include <optional>
#include <string>
#include <vector>

class CloudClient;
class CloudTicket;

// What a cloud client reports, on the main thread.
class CloudClientDelegate {
public:
    virtual ~CloudClientDelegate() = default;
    // The sign-in that checkForAuthorization started ended: an error text,
    // or none and the account's e-mail or display name.
    virtual void finishAuthorization(CloudClient& client, const std::optional<std::string>& error,
                                     const std::string& name) = 0;
    // A folder's whole content: the service's items as parsed from its JSON,
    // or nothing with the reason. isAuthorizationError: the account's
    // tokens were refused and could not be renewed (sign in again).
    virtual void didFinishRecieveFileList(CloudClient& client, CloudTicket& ticket,
                                          const std::optional<std::vector<sys::PlistDictionary>>& list,
                                          bool isAuthorizationError, const std::optional<std::string>& error) = 0;
};
