#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class BookViewController;

// What the opener of a remote book tells the list that asked, on the main
// thread. Exactly one of the first five ends an opening.
class OnlineFileStartDelegate {
public:
    virtual ~OnlineFileStartDelegate() = default;
    // The book is open: the reading screen to push.
    virtual void onFinishLoadOnlinefile(const std::shared_ptr<BookViewController>& viewer) = 0;
    // The book could not be opened; the message is already translated (none:
    // the user was told elsewhere).
    virtual void onlineFileError(const std::optional<std::string>& message) = 0;
    // The archive is encrypted and the password given (if any) was wrong.
    virtual void onlineFileNeedPassword() = 0;
    // The server refused the user name or password of the book at `url`;
    // answered with OnlineFileStart::retryWithCredentials, or let go.
    virtual void onlineFileNeedServerPassword(const std::string& url) {
        (void)url;
        onlineFileError(std::nullopt);
    }
    // The user left the open-action menu.
    virtual void onlineFileCancel() = 0;
    // The book holds several folders and one has to be chosen.
    virtual void onNeedSelectFolder(const std::vector<std::string>& folders) { (void)folders; }
    // The stream cache was dropped: the cache marks are redrawn.
    virtual void deleteCache() {}
};
