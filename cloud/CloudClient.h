#pragma once

#include "cloud/CloudClientDelegate.h"
#include "cloud/CloudService.h"
#include "cloud/CloudTicket.h"
#include "cloud/HttpRequest.h"
#include "cloud/HttpResponse.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QNHTTPRequestOperation;
namespace ui {
class NavigationController;
}

// What the four cloud clients share: one account (its key-chain item name),
// folder listings gathered page by page with the account's bearer token,
// one token refresh when the service refuses the token, and the start of a
// sign-in when no tokens are stored. Results reach the delegate on the main
// thread. Made with std::make_shared; main thread only.
class CloudClient : public std::enable_shared_from_this<CloudClient> {
public:
    // A folder of more items than this is refused rather than held.
    static constexpr size_t kMaxItems = 200'000;
    static constexpr int kMaxPages = 10'000;

    CloudClient(CloudService service, std::string keychainItemName);
    virtual ~CloudClient();
    CloudClient(const CloudClient&) = delete;
    CloudClient& operator=(const CloudClient&) = delete;

    CloudService service() const { return service_; }
    const std::string& keychainItemName() const { return key_; }
    // Not owned.
    void setDelegate(const std::weak_ptr<CloudClientDelegate>& d) { delegate_ = d; }
    std::shared_ptr<CloudClientDelegate> delegate() const { return delegate_.lock(); }

    // True when the account has tokens to use. Otherwise the sign-in starts
    // (the system browser) and its outcome arrives through the delegate's
    // finishAuthorization; false.
    bool checkForAuthorization(ui::NavigationController* navigationController);
    // A page of a listing that moves fewer than `lowSpeedBytes` a second for
    // `lowSpeedTime` seconds fails (a service that says nothing, or drips).
    void setListingPace(double lowSpeedTime, long lowSpeedBytes) {
        pageLowSpeedTime_ = lowSpeedTime;
        pageLowSpeedBytes_ = lowSpeedBytes;
    }
    // Starts listing a folder (the service's folder reference); the result
    // comes through didFinishRecieveFileList.
    std::shared_ptr<CloudTicket> getFileList(const std::string& folder);
    // Forgets the account's stored tokens.
    static void removeAuthInfo(CloudService service, const std::string& keychainItemName);

    // For the sign-in: asking who signed in, and the account's name in the
    // answer (an e-mail for Google, a display name for the others).
    virtual HttpRequest accountRequest() const = 0;
    virtual std::string accountName(const sys::PlistDictionary& answer) const = 0;
    // Parameters the service's sign-in page needs beyond the standard ones,
    // each starting with "&".
    virtual std::string extraAuthorizeParameters() const { return {}; }

    // The client for a cloud URL's scheme, or none.
    static std::shared_ptr<CloudClient> clientForService(CloudService service, const std::string& key);

protected:
    virtual HttpRequest firstPageRequest(const std::string& folder) const = 0;
    // The request of the page after `page`, or none at the end; one with no
    // URL when the page names a next one that must not be followed.
    virtual std::optional<HttpRequest> nextPageRequest(const sys::PlistDictionary& page,
                                                       const HttpRequest& previous) const = 0;
    virtual const char* itemsKey() const = 0;
    const CloudEndpoints& endpoints() const { return endpoints_; }

private:
    struct Listing;
    void requestPage(const std::shared_ptr<Listing>& l);
    void sendPage(const std::shared_ptr<Listing>& l, const std::string& token);
    void onPage(const std::shared_ptr<Listing>& l, const HttpResponse& r);
    void finishListing(const std::shared_ptr<Listing>& l, std::optional<std::vector<sys::PlistDictionary>> list,
                       bool authError, std::optional<std::string> error);
    void refreshThenRequest(const std::shared_ptr<Listing>& l);

    CloudService service_;
    std::string key_;
    CloudEndpoints endpoints_;
    std::weak_ptr<CloudClientDelegate> delegate_;
    std::vector<std::shared_ptr<Listing>> listings_;
    double pageLowSpeedTime_ = 20;
    long pageLowSpeedBytes_ = 100;
};
