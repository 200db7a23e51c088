#pragma once

#include <optional>
#include <string>

// Who asked for an archive password: it retries the open or the extraction
// with the text typed (possibly empty); nothing means the user gave up.
class ArchivePasswordViewControllerDelegate {
public:
    virtual ~ArchivePasswordViewControllerDelegate() = default;
    virtual void finishInputPassword(const std::optional<std::string>& password) = 0;
};
