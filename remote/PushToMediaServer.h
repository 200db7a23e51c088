#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"
#include "platform/core/PlistDictionary.h"
#include "remote/listing/FileDownloadDelegate.h"
#include "remote/screens/ShowHttpAuthDelegate.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class ViewController;
}
class BookTransfer;
class FileDownload;
class IndicatorWithBGView;
class PushToMediaServerDelegate;
class Settings;
class ShowHttpAuth;

// Opens a stored site or a shortcut: lists the site's folder and pushes its
// first remote list above the opening screen, which stays the screen to go
// back to. A server that asks for credentials gets them through the
// authentication panel; the typed ones go to the list, never into a URL. An
// SMB server that our SMB1 client cannot talk to brings the offer to change
// the SMB library setting, as in the list itself.
class PushToMediaServer : public FileDownloadDelegate,
                          public ShowHttpAuthDelegate,
                          public QNAlertViewDelegate,
                          public std::enable_shared_from_this<PushToMediaServer> {
public:
    PushToMediaServer();
    ~PushToMediaServer() override;

    // Makes the local list open sites and restore remote lists through this
    // class (at start-up).
    static void registerWithLibrary();

    // Not retained.
    void setDelegate(std::weak_ptr<PushToMediaServerDelegate> d) { delegate_ = std::move(d); }
    void setSettings(std::shared_ptr<Settings> s) { settings_ = std::move(s); }
    void setBookTransfer(std::shared_ptr<BookTransfer> t) { bookTransfer_ = std::move(t); }
    void setDownloadPath(const std::string& p) { downloadPath_ = p; }

    // `info` is a site record ("url", "title", "username", "other", "id",
    // and possibly "rootTitle").
    void pushToMediaServer(const std::shared_ptr<ui::ViewController>& viewController, const sys::PlistDictionary& info);

    void finishListDownload(std::optional<std::vector<std::string>> fileList,
                            std::optional<std::vector<sys::PlistDictionary>> infoList,
                            const std::optional<std::string>& listTitle, const std::optional<std::string>& withURL,
                            const std::optional<std::string>& message, bool requireSMB2) override;
    void passwordRequested(const std::string& url, bool dontUseStoredAccount) override;
    void cancelListDownload() override;
    void onFinishInput(const std::string& url, const std::optional<std::string>& userName,
                       const std::optional<std::string>& password, bool isStoredAccount) override;
    // A certificate that is not trusted: the user is asked, as in a remote
    // list ("Continue Connecting", "Do Not Ask Again", "Cancel").
    bool serverCertificateUntrusted(const std::string& url, const std::string& username,
                                    const std::string& password) override;
    // The answers to the offer to change the SMB library setting and to the
    // certificate question.
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

    bool isActive() const { return fileDownload_ != nullptr || showHttpAuth_ != nullptr || trustQuestion_ != nullptr; }

private:
    void start(const std::string& url, const std::optional<std::string>& user,
               const std::optional<std::string>& password);
    void removeIndicator();
    void finish(bool pushed);

    std::weak_ptr<PushToMediaServerDelegate> delegate_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
    std::string downloadPath_;
    std::weak_ptr<ui::ViewController> viewController_;
    sys::PlistDictionary info_;
    std::shared_ptr<FileDownload> fileDownload_;
    std::shared_ptr<ShowHttpAuth> showHttpAuth_;
    std::shared_ptr<IndicatorWithBGView> indicator_;
    std::shared_ptr<QNAlertView> smbOffer_;
    std::shared_ptr<QNAlertView> trustQuestion_;
    // The address whose certificate was refused, its key, and the
    // credentials the refused listing went with.
    std::string untrustedURL_, untrustedKey_;
    std::optional<std::string> lastUser_, lastPassword_;
    // The key the user let through for the next listing ("" none).
    std::string acceptedKey_;
    bool useRaw_ = false;
    std::optional<std::string> rawUser_, rawPassword_;
    bool keepRawPassword_ = true;
    // The last answer came from the key chain.
    bool isStoredAccount_ = false;
    // A typed answer to remember once the server has taken it.
    struct TypedAnswer {
        std::string url, user, password;
    };
    std::optional<TypedAnswer> toRemember_;
    // The address the credentials of the running listing were given for.
    std::string startedURL_;
};
