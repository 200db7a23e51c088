#include "cloud/CloudClient.h"

#include "cloud/BoxAPICommon.h"
#include "cloud/CloudJson.h"
#include "cloud/CloudSignIn.h"
#include "cloud/CloudTokenStore.h"
#include "cloud/DropboxCommon.h"
#include "cloud/GoogleDriveAPI.h"
#include "cloud/OneDriveCommon.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "platform/core/RunLoop.h"

#include <algorithm>

struct CloudClient::Listing {
    std::shared_ptr<CloudTicket> ticket;
    HttpRequest request;
    std::shared_ptr<QNHTTPRequestOperation> op;
    std::vector<sys::PlistDictionary> items;
    int pages = 0;
    // The token of this page was refreshed once already.
    bool refreshed = false;
};

CloudClient::CloudClient(CloudService service, std::string key)
    : service_(service), key_(std::move(key)), endpoints_(CloudEndpoints::forService(service)) {}

CloudClient::~CloudClient() {
    for (auto& l : listings_) {
        if (l->op) l->op->cancel();
    }
}

std::shared_ptr<CloudClient> CloudClient::clientForService(CloudService service, const std::string& key) {
    switch (service) {
    case CloudService::GoogleDrive: return std::make_shared<GoogleDriveAPI>(key);
    case CloudService::OneDrive: return std::make_shared<OneDriveCommon>(key);
    case CloudService::Dropbox: return std::make_shared<DropboxCommon>(key);
    case CloudService::Box: return std::make_shared<BoxAPICommon>(key);
    }
    return nullptr;
}

void CloudClient::removeAuthInfo(CloudService service, const std::string& key) { CloudTokenStore::remove(service, key); }

bool CloudClient::checkForAuthorization(ui::NavigationController* navigationController) {
    if (CloudTokenStore::load(service_, key_)) return true;
    CloudSignIn::begin(shared_from_this(), navigationController);
    return false;
}

std::shared_ptr<CloudTicket> CloudClient::getFileList(const std::string& folder) {
    auto l = std::make_shared<Listing>();
    l->ticket = std::make_shared<CloudTicket>(folder);
    l->request = firstPageRequest(folder);
    listings_.push_back(l);
    requestPage(l);
    return l->ticket;
}

void CloudClient::requestPage(const std::shared_ptr<Listing>& l) {
    if (auto token = CloudTokenStore::validAccessToken(service_, key_)) {
        sendPage(l, *token);
    } else {
        refreshThenRequest(l);
    }
}

void CloudClient::refreshThenRequest(const std::shared_ptr<Listing>& l) {
    l->refreshed = true;
    std::weak_ptr<CloudClient> weak = weak_from_this();
    CloudTokenStore::refresh(service_, key_, [weak, l](std::optional<std::string> token, std::string error) {
        auto self = weak.lock();
        if (!self || l->ticket->isCancelled()) return;
        if (!token) {
            self->finishListing(l, std::nullopt, true, error);
            return;
        }
        self->sendPage(l, *token);
    });
}

void CloudClient::sendPage(const std::shared_ptr<Listing>& l, const std::string& token) {
    HttpRequest req = l->request;
    req.lowSpeedTime = pageLowSpeedTime_;
    req.lowSpeedLimit = pageLowSpeedBytes_;
    req.setHeader("Authorization", "Bearer " + token);
    req.setHeader("Accept", "application/json");
    l->op = std::make_shared<QNHTTPRequestOperation>(req);
    l->op->setCollectBody(CloudTokenStore::kMaxAnswerBytes);
    std::weak_ptr<CloudClient> weak = weak_from_this();
    l->op->setCompletion([weak, l](const HttpResponse& r) {
        if (auto self = weak.lock()) self->onPage(l, r);
    });
    l->ticket->setStop([op = std::weak_ptr<QNHTTPRequestOperation>(l->op)] {
        if (auto o = op.lock()) o->cancel();
    });
    l->op->start();
}

void CloudClient::onPage(const std::shared_ptr<Listing>& l, const HttpResponse& r) {
    l->op.reset();
    if (l->ticket->isCancelled()) {
        finishListing(l, std::nullopt, false, std::nullopt);
        return;
    }
    if (!r.ok()) {
        finishListing(l, std::nullopt, false, r.errorMessage);
        return;
    }
    if (r.status == 401) {
        if (!l->refreshed) {
            refreshThenRequest(l);
        } else {
            finishListing(l, std::nullopt, true, "The service refused the account's authorization.");
        }
        return;
    }
    l->refreshed = false;
    if (r.status < 200 || r.status >= 300) {
        finishListing(l, std::nullopt, false, "The service answered " + std::to_string(r.status) + ".");
        return;
    }
    auto page = CloudJson::parseObject(r.body);
    if (!page) {
        finishListing(l, std::nullopt, false, "The service's answer could not be read.");
        return;
    }
    if (auto items = page->getArray(itemsKey())) {
        for (const auto& v : *items) {
            if (!v.isDictionary()) continue;
            if (l->items.size() >= kMaxItems) {
                finishListing(l, std::nullopt, false, "The folder holds too many items.");
                return;
            }
            l->items.push_back(v.asDictionary());
        }
    }
    auto next = nextPageRequest(*page, l->request);
    if (next && (next->url.empty() || ++l->pages >= kMaxPages)) {
        finishListing(l, std::nullopt, false, "The service's next page could not be followed.");
        return;
    }
    if (next) {
        l->request = *next;
        requestPage(l);
        return;
    }
    finishListing(l, std::move(l->items), false, std::nullopt);
}

void CloudClient::finishListing(const std::shared_ptr<Listing>& l, std::optional<std::vector<sys::PlistDictionary>> list,
                                bool authError, std::optional<std::string> error) {
    auto keep = shared_from_this();
    listings_.erase(std::remove(listings_.begin(), listings_.end(), l), listings_.end());
    if (l->ticket->isCancelled()) return;
    if (auto d = delegate()) d->didFinishRecieveFileList(*this, *l->ticket, list, authError, error);
}
