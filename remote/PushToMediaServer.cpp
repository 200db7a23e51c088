#include "remote/PushToMediaServer.h"

#include "cloud/HttpEasy.h"
#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNAlertView.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "remote/BookTransfer.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/MediaServerHostConfigViewControllerDelegate.h"
#include "remote/PushToMediaServerDelegate.h"
#include "remote/listing/FileDownload.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/screens/ShowHttpAuth.h"

namespace {

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

// The local list's way to the remote sources: one opening at a time, kept
// until it reports back.
class LibrarySiteOpener : public MediaServerOpener,
                          public PushToMediaServerDelegate,
                          public std::enable_shared_from_this<LibrarySiteOpener> {
public:
    void pushToMediaServer(const std::shared_ptr<LocalFilelistViewController>& from,
                           const sys::PlistDictionary& info) override {
        if (!from) return;
        running_ = std::make_shared<PushToMediaServer>();
        running_->setDelegate(weak_from_this());
        running_->setSettings(from->settings());
        running_->setDownloadPath(from->folderPath());
        running_->pushToMediaServer(from, info);
    }

    bool restoreRemoteList(const std::shared_ptr<LocalFilelistViewController>& from) override {
        if (!from || !from->navigationController()) return false;
        auto list = std::make_shared<RemoteFileListViewController>(ui::TableViewStyle::Plain);
        list->setReturnToViewController(from);
        list->setDownloadPath(from->folderPath());
        if (!LastStatusRestore::restoreRemoteViewController(*list, 1)) return false;
        from->navigationController()->pushViewController(list, false);
        return true;
    }

    bool queueDownload(const std::string& url, const std::string& savePath) override {
        auto queue = RemoteFileListViewController::transferQueue();
        if (!queue) return false;
        queue->addNewItem(0, url, savePath, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}, {},
                          0);
        return true;
    }

    void editShortcut(const std::shared_ptr<LocalFilelistViewController>& from, const sys::PlistDictionary& record,
                      const std::string& displayName) override {
        auto* nav = from ? from->navigationController() : nullptr;
        if (!nav) return;
        shortcutSaver_ = std::make_shared<ShortcutSaver>(from);
        auto editor = std::make_shared<MediaServerHostConfigViewController>();
        editor->setDelegate(shortcutSaver_);
        editor->setTargetHostname_(record.getString("url"));
        editor->setTargetHostDispname_(displayName);
        if (record.contains("username")) editor->setTargetUsername_(record.getString("username"));
        if (record.contains("id"))
            editor->setTargetPassword_(
                QNKeyChain::getPasswordWithAccount(record.getString("id"), std::string("MediaServer")));
        if (auto other = record.getDictionary("other")) editor->setTargetOtherSettings_(*other);
        nav->pushViewController(editor, true);
    }

    void didPushToMediaServer() override { release(); }
    void didCancelByUser() override { release(); }

private:
    void release() {
        // The opener is still on the call stack: let it go on the next turn.
        auto done = std::move(running_);
        sys::RunLoop::main().schedule(0.0, [done] { (void)done; });
    }
    // The site editor's answer for a shortcut goes to the list that asked.
    class ShortcutSaver : public MediaServerHostConfigViewControllerDelegate {
    public:
        explicit ShortcutSaver(std::weak_ptr<LocalFilelistViewController> list) : list_(std::move(list)) {}
        void addList(const std::string& url, const std::string& name, const std::optional<std::string>& userName,
                     const std::optional<std::string>& password, const sys::PlistDictionary& otherOption,
                     int64_t) override {
            if (auto l = list_.lock())
                l->saveShortcut(url, name, userName, password,
                                otherOption.empty() ? std::nullopt : std::optional<sys::PlistDictionary>(otherOption));
        }

    private:
        std::weak_ptr<LocalFilelistViewController> list_;
    };

    std::shared_ptr<PushToMediaServer> running_;
    std::shared_ptr<ShortcutSaver> shortcutSaver_;
};

}  // namespace

PushToMediaServer::PushToMediaServer() = default;

PushToMediaServer::~PushToMediaServer() {
    if (fileDownload_) {
        fileDownload_->setDelegate(nullptr);
        fileDownload_->cancelFileListDownload();
    }
    removeIndicator();
}

void PushToMediaServer::registerWithLibrary() { MediaServerOpener::install(std::make_shared<LibrarySiteOpener>()); }

void PushToMediaServer::pushToMediaServer(const std::shared_ptr<ui::ViewController>& viewController,
                                          const sys::PlistDictionary& info) {
    viewController_ = viewController;
    info_ = info;
    std::optional<std::string> user;
    if (info.contains("username") && !info.getString("username").empty()) user = info.getString("username");
    std::optional<std::string> password;
    if (info.contains("id")) password = QNKeyChain::getPasswordWithAccount(info.getString("id"), std::string("MediaServer"));
    // A site without a password of its own goes with the one remembered for
    // its address: the server never sees its user without one first.
    if (!password) {
        QNKeyChain::OptString storedUser, storedPassword;
        QNKeyChain::getAccountWithURL(info.getString("url"), &storedUser, &storedPassword);
        if (storedUser && storedPassword && (!user || *user == *storedUser)) {
            isStoredAccount_ = true;
            useRaw_ = true;
            rawUser_ = user = storedUser;
            rawPassword_ = password = storedPassword;
            keepRawPassword_ = true;
        }
    }
    // A user with no password known would only be refused with an empty
    // one: the panel asks first (a password really empty is typed so there).
    const std::string url = info.getString("url");
    const bool signsIn = BookCommon::isURLHttp(url) || BookCommon::isFTP(url) || BookCommon::isSMB(url);
    if (user && !password && signsIn) {
        startedURL_ = info.getString("url");
        lastUser_ = user;
        lastPassword_.reset();
        showHttpAuth_ = std::make_shared<ShowHttpAuth>();
        showHttpAuth_->getUserAuth(HttpEasy::withoutCredentials(startedURL_), user, false, true, shared_from_this());
        return;
    }
    start(info.getString("url"), user, password);
}

void PushToMediaServer::start(const std::string& url, const std::optional<std::string>& user,
                              const std::optional<std::string>& password) {
    removeIndicator();
    startedURL_ = url;
    lastUser_ = user;
    lastPassword_ = password;
    if (ui::Window* window = ui::Application::shared().keyWindow()) {
        indicator_ = std::make_shared<IndicatorWithBGView>();
        // A tap on the busy sign gives the site up.
        std::weak_ptr<PushToMediaServer> weak = weak_from_this();
        indicator_->setTapAction([weak] {
            // Held here: the answer to the cancel lets the listing go.
            auto self = weak.lock();
            if (auto listing = self ? self->fileDownload_ : nullptr) listing->cancelFileListDownload();
        });
        window->addSubview(indicator_);
        indicator_->setPosition();
        indicator_->startAnimating();
    }
    if (fileDownload_) fileDownload_->setDelegate(nullptr);
    fileDownload_ = std::make_shared<FileDownload>();
    fileDownload_->setSettings_(settings_.get());
    fileDownload_->setDelegate(shared_from_this());
    if (auto other = info_.getDictionary("other")) fileDownload_->setOtherSettings_(*other);
    // Only a certificate the user was just asked about, for this listing only.
    fileDownload_->setConnectToUntrustedServer(!acceptedKey_.empty());
    fileDownload_->setUntrustedServerKey(acceptedKey_);
    acceptedKey_.clear();
    fileDownload_->getFileListFromUrl(url, std::nullopt, user, password, false, viewController_.lock().get());
}

void PushToMediaServer::removeIndicator() {
    if (!indicator_) return;
    indicator_->stopAnimating();
    indicator_->removeFromSuperview();
    indicator_.reset();
}

void PushToMediaServer::finish(bool pushed) {
    removeIndicator();
    if (fileDownload_) fileDownload_->setDelegate(nullptr);
    fileDownload_.reset();
    auto d = delegate_.lock();
    if (!d) return;
    if (pushed) d->didPushToMediaServer();
    else d->didCancelByUser();
}

void PushToMediaServer::finishListDownload(std::optional<std::vector<std::string>> fileList,
                                           std::optional<std::vector<sys::PlistDictionary>> infoList,
                                           const std::optional<std::string>& listTitle,
                                           const std::optional<std::string>& withURL,
                                           const std::optional<std::string>& message, bool requireSMB2) {
    auto keep = shared_from_this();
    auto from = viewController_.lock();
    auto* nav = from ? from->navigationController() : nullptr;
    // A listing (even of nothing) means the server took the credentials.
    if (toRemember_ && withURL && (!message || (fileList && !fileList->empty())))
        ShowHttpAuth::rememberAccepted(toRemember_->url, toRemember_->user, toRemember_->password);
    toRemember_.reset();
    if ((!fileList || fileList->empty()) && message && requireSMB2) {
        // Kept until the answer: the opening ends with it.
        removeIndicator();
        smbOffer_ = std::make_shared<QNAlertView>("", *message, std::weak_ptr<QNAlertViewDelegate>(keep), tr("Cancel"),
                                                  std::vector<std::string>{tr("Change Settings Automatically")});
        smbOffer_->show();
        return;
    }
    if (!fileList || fileList->empty() || !nav) {
        const std::string text = message ? *message
                                 : withURL ? tr("There are no downloadable files on the site.")
                                           : std::string();
        if (!text.empty()) {
            auto alert = std::make_shared<QNAlertView>("", text, std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                       std::vector<std::string>{});
            alert->show();
        }
        finish(false);
        return;
    }
    auto list = std::make_shared<RemoteFileListViewController>(ui::TableViewStyle::Plain);
    list->setLists(std::move(*fileList), std::move(infoList).value_or(std::vector<sys::PlistDictionary>{}));
    list->setDownloadPath(downloadPath_);
    list->setTargetURL(withURL);
    if (auto other = info_.getDictionary("other")) list->setOtherSetting(*other);
    if (useRaw_) {
        list->setUseRawPassword(true);
        list->setRawUsername(rawUser_);
        list->setRawPassword(rawPassword_);
        list->setKeepsRawPassword(keepRawPassword_);
    }
    const std::string root = info_.getString("rootTitle");
    if (!root.empty()) list->setListTitle(root);
    else if (listTitle && !listTitle->empty()) list->setListTitle(listTitle);
    else list->setListTitle(withURL);
    if (info_.contains("id")) list->setFixID(info_.getString("id"));
    // The credentials belong to the web site they were given for, not to
    // one a redirect led to; other protocols list where they were sent (a
    // NetBIOS name is replaced by its address).
    list->setSiteURL(withURL && !BookCommon::isURLHttp(*withURL) ? *withURL : startedURL_);
    if (info_.contains("username")) list->setFixUsername(info_.getString("username"));
    list->setReturnToViewController(from);
    nav->pushViewController(list, true);
    finish(true);
}

void PushToMediaServer::passwordRequested(const std::string& url, bool dontUseStoredAccount) {
    removeIndicator();
    // Whatever was typed for the refused listing was not taken.
    toRemember_.reset();
    // Nor the site's own password: forgotten, so that no later listing sends
    // it again. Not when its user was let in but not into the folder and
    // another user is asked for: the password was taken.
    if (!dontUseStoredAccount && info_.contains("id"))
        ShowHttpAuth::forgetRefusedSitePassword(info_.getString("id"), lastPassword_);
    showHttpAuth_ = std::make_shared<ShowHttpAuth>();
    showHttpAuth_->setRefusedCredentials(lastUser_, lastPassword_);
    showHttpAuth_->getUserAuth(url, std::nullopt, isStoredAccount_, dontUseStoredAccount, shared_from_this());
}

void PushToMediaServer::onFinishInput(const std::string& url, const std::optional<std::string>& userName,
                                      const std::optional<std::string>& password, bool isStoredAccount) {
    auto keep = shared_from_this();
    // Typed with "Remember My Password" off, the password is not kept for
    // the next run's restore of the list.
    const bool remembered = isStoredAccount || (showHttpAuth_ && showHttpAuth_->isRememberPassword());
    const bool rememberTyped = showHttpAuth_ && showHttpAuth_->rememberAnswer();
    showHttpAuth_.reset();
    isStoredAccount_ = isStoredAccount;
    if (!userName || !password) {
        finish(false);
        return;
    }
    if (rememberTyped) toRemember_ = TypedAnswer{url, *userName, *password};
    useRaw_ = true;
    rawUser_ = userName;
    rawPassword_ = password;
    keepRawPassword_ = remembered;
    start(url, userName, password);
}

void PushToMediaServer::cancelListDownload() { finish(false); }

bool PushToMediaServer::serverCertificateUntrusted(const std::string& url, const std::string&, const std::string&) {
    removeIndicator();
    // The answer is about the certificate that was shown, not about any the
    // server may show later.
    untrustedURL_ = url;
    untrustedKey_ = fileDownload_ ? fileDownload_->serverPublicKey() : std::string();
    trustQuestion_ = std::make_shared<QNAlertView>(
        "", FileDownload::untrustedCertificateQuestion(url),
        std::weak_ptr<QNAlertViewDelegate>(shared_from_this()), std::nullopt,
        std::vector<std::string>{tr("Continue Connecting"), tr("Do Not Ask Again"), tr("Cancel")});
    trustQuestion_->setCancelButtonIndex(2);
    trustQuestion_->show();
    return true;
}

void PushToMediaServer::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    if (&alert == trustQuestion_.get()) {
        auto keep = shared_from_this();
        trustQuestion_.reset();
        if (buttonIndex == alert.cancelButtonIndex() || untrustedKey_.empty()) {
            finish(false);
            return;
        }
        if (buttonIndex == 1) TrustedServer::trust(untrustedURL_, untrustedKey_);
        acceptedKey_ = untrustedKey_;
        // The credentials go along only to the address they were given for.
        const bool sameSite = HttpEasy::sameOrigin(startedURL_, untrustedURL_);
        start(untrustedURL_, sameSite ? lastUser_ : std::nullopt, sameSite ? lastPassword_ : std::nullopt);
        return;
    }
    if (&alert != smbOffer_.get()) return;
    auto keep = shared_from_this();
    smbOffer_.reset();
    if (buttonIndex != alert.cancelButtonIndex()) {
        if (settings_) settings_->setSmbSignatureRequiredSetting();
        auto done = std::make_shared<QNAlertView>("", tr("Settings have been changed. Please try again."),
                                                  std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                  std::vector<std::string>{});
        done->show();
    }
    finish(false);
}
