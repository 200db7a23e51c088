#pragma once

#include <optional>
#include <string>

// The one answer of the server sign-in panel, on the main thread. A cancelled
// question answers with no user name and no password.
class ShowHttpAuthDelegate {
public:
    virtual ~ShowHttpAuthDelegate() = default;
    virtual void onFinishInput(const std::string& url, const std::optional<std::string>& userName,
                               const std::optional<std::string>& password, bool isStoredAccount) = 0;
};
