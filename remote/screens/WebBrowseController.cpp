#include "remote/screens/WebBrowseController.h"

#include "cloud/HttpEasy.h"
#include "foundation/BookCommon.h"
#include "foundation/QNUrl.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/Clock.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/WebURL.h"
#include "remote/BookTransfer.h"

#include <algorithm>
#include <cctype>

namespace {

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string replaceFirst(std::string text, const std::string& what, const std::string& with) {
    size_t at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

// The text as a JSON string literal, for putting it into a page script.
std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

// What the web view can show: pages and plain text. A server that calls
// everything "application/octet-stream" gets its page looked at instead.
enum class Shown { Yes, IfItLooksLikeAPage, No };
Shown displayable(const std::string& contentType) {
    const std::string type = lower(contentType.substr(0, contentType.find(';')));
    if (type.empty() || type == "application/octet-stream") return Shown::IfItLooksLikeAPage;
    if (type.rfind("text/", 0) == 0 || type == "application/xhtml+xml" || type == "application/xml")
        return Shown::Yes;
    return Shown::No;
}

bool looksLikeAPage(const std::string& body) {
    size_t at = 0;
    if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
    while (at < body.size() && std::isspace(static_cast<unsigned char>(body[at]))) ++at;
    const std::string start = lower(body.substr(at, 16));
    return start.rfind("<!doctype html", 0) == 0 || start.rfind("<html", 0) == 0 || start.rfind("<head", 0) == 0 ||
           start.rfind("<body", 0) == 0 || start.rfind("<title", 0) == 0 ||
           start.rfind("<!--", 0) == 0;
}

// Tool bar pictures take the bar's tint (and its dimmed look when disabled).
ui::ImageRef toolbarImage(const char* name) {
    auto image = ui::Image::named(name);
    return image ? image->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate) : image;
}

constexpr int64_t kTagDownload = 1;
constexpr int64_t kTagMessage = 2;
constexpr int64_t kTagAction = 3;

// The web view's errors that are no failure the user needs to hear of: a
// load stopped by a newer one, and a load interrupted.
constexpr int kErrorLoadInterrupted = 102;

}  // namespace

struct WebBrowseController::Fetch {
    // Before the thread: the thread is joined first when a Fetch goes.
    std::atomic<bool> done{false};
    sys::Thread thread;
};

WebBrowseController::WebBrowseController() = default;

WebBrowseController::~WebBrowseController() {
    if (toolbarTimer_) toolbarTimer_->invalidate();
    if (webView_) {
        webView_->setNavigationDelegate(nullptr);
        webView_->setAsyncContentLoader({});
    }
    std::list<std::shared_ptr<Fetch>> fetches;
    {
        std::lock_guard<std::mutex> g(fetchMutex_);
        fetches.swap(fetches_);
    }
    // Each thread is asked to stop and joined as its Fetch goes.
    for (auto& f : fetches) f->thread.requestStop();
    fetches.clear();
}

// ---- Home page file ----------------------------------------------------------------------------------------

std::string WebBrowseController::homePageFile() {
    return sys::Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), kHomePageFileName);
}

std::optional<std::string> WebBrowseController::readHomePage() {
    auto v = sys::PropertyList::readFile(homePageFile());
    if (!v || !v->isArray() || v->asArray().empty()) return std::nullopt;
    const auto& first = v->asArray().front();
    if (!first.isString() || first.asString().empty()) return std::nullopt;
    return first.asString();
}

bool WebBrowseController::writeHomePage(const std::string& url) {
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    return sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(url)}), homePageFile());
}

// ---- Address helpers ---------------------------------------------------------------------------------------

std::optional<std::string> WebBrowseController::addressFromTypedText(const std::string& text) {
    if (text.empty()) return std::nullopt;
    if (text.rfind("http", 0) == 0) return text;
    return "http://" + text;
}

std::string WebBrowseController::hostOf(const std::string& url) {
    auto u = QNUrl::URLWithString(url);
    return u ? u->host() : std::string();
}

bool WebBrowseController::isDownloadLink(const std::string& url) {
    auto u = QNUrl::URLWithString(url);
    if (!u || u->path().empty()) return false;
    const std::string last = ui::WebURL::lastPathComponent(url);
    // A path that ends in "/" names a folder, whatever comes before it.
    if (last.empty() || u->path().back() == '/') return false;
    return BookCommon::isBookorPDFFileWithFilename(ui::WebURL::percentDecode(last));
}

bool WebBrowseController::containsNoCase(const std::string& text, const std::string& needle) {
    if (needle.empty()) return false;
    return lower(text).find(lower(needle)) != std::string::npos;
}

// ---- Page fetching -----------------------------------------------------------------------------------------

void WebBrowseController::fetchPage(const std::string& url, ui::WebView::LoadDone done) {
    const std::string scheme = ui::WebURL::scheme(url);
    if (scheme != "http" && scheme != "https") {
        done(false, "", tr("Error opening URL."));
        return;
    }
    auto fetch = std::make_shared<Fetch>();
    {
        std::lock_guard<std::mutex> g(fetchMutex_);
        // Threads that have ended are joined here, so the list stays short.
        for (auto it = fetches_.begin(); it != fetches_.end();) {
            if ((*it)->done) it = fetches_.erase(it);
            else ++it;
        }
        fetches_.push_back(fetch);
    }
    Fetch* raw = fetch.get();
    fetch->thread = sys::Thread(
        [url, done, raw, limits = fetchLimits_](const std::atomic<bool>& stop) {
            // A page keeps a listing's time limits: a server that sends it
            // too slowly is given up, and what came is shown.
            HttpRequest request;
            request.url = url;
            request.connectTimeout = std::min(15.0, limits.deadline);
            request.totalTimeout = limits.deadline;
            request.lowSpeedTime = limits.lowSpeedTime;
            request.lowSpeedLimit = limits.lowSpeedBytes;
            // A compressed page is shown decoded; the size limit counts the
            // decoded bytes.
            request.decodeContent = true;
            const double started = sys::Clock::realNow();
            Shown shown = Shown::Yes;
            HttpEasy easy;
            easy.prepare(
                request,
                [&](const HttpResponse& r) {
                    shown = displayable(r.header("content-type"));
                    return shown != Shown::No;
                },
                {}, {}, kMaxPageBytes);
            HttpResponse r = easy.perform(&stop);
            std::string note;
            if (r.timedOut && !r.body.empty()) {
                r.error = HttpResponse::kNone;
                note = tr("The server sent this page too slowly: only the part that arrived is shown.");
            }
            if (r.ok() && shown == Shown::IfItLooksLikeAPage && !looksLikeAPage(r.body)) {
                r.error = HttpResponse::kAborted;
                r.body.clear();
            }
            if (!stop) {
                if (r.ok())
                    done(true, r.body, note);
                else if (r.timedOut)
                    done(false, "",
                         tr("The page could not be loaded.") + " (" +
                             ListingWatch::describe(sys::Clock::realNow() - started + 0.5 >= limits.deadline
                                                        ? ListingWatch::Reason::Deadline
                                                        : ListingWatch::Reason::TooSlow,
                                                    limits) +
                             ")");
                else if (r.error == HttpResponse::kAborted)
                    done(false, "", tr("This kind of file cannot be shown."));
                else if (r.error == HttpResponse::kTooLarge)
                    done(false, "", tr("The page is too large."));
                else
                    done(false, "", r.errorMessage.empty() ? tr("The page could not be loaded.") : r.errorMessage);
            }
            raw->done = true;
        },
        "web-page");
}

// ---- Screen ------------------------------------------------------------------------------------------------

void WebBrowseController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->setBackgroundColor(ui::Color::whiteColor());

    addressBar_ = std::make_shared<ui::Control>(ui::Rect(0, 0, view()->bounds().width(), kAddressBarHeight));
    addressBar_->setBackgroundColor(ui::Color::systemGray5());
    addressBar_->setHidden(true);
    addressField_ = std::make_shared<ui::TextField>(ui::Rect(0, 0, view()->bounds().width(), kAddressBarHeight));
    addressField_->setBorderStyle(ui::TextBorderStyle::RoundedRect);
    addressField_->setFont(gfx::Font::system(14));
    addressField_->setPlaceholder(tr("Enter Address"));
    addressBar_->addSubview(addressField_);
    addressField_->setReturnKeyType(ui::ReturnKeyType::Go);
    addressField_->setClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    addressField_->setKeyboardType(3);  // the URL keyboard
    addressField_->setDelegate(this);
    addressField_->setHidden(true);
    // Return ends editing (and hides the keyboard) once someone listens.
    addressField_->addAction(ui::ControlEventEditingDidEndOnExit, [](ui::Control&) {});
    std::weak_ptr<ui::ViewController> weakSelf = weak_from_this();
    addressField_->addAction(ui::ControlEventEditingDidBegin, [weakSelf](ui::Control&) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weakSelf.lock())) self->addressReturned_ = false;
    });
    // Left without Return (Escape, a click elsewhere): the bar shows the
    // page's address again.
    addressField_->addAction(ui::ControlEventEditingDidEnd, [weakSelf](ui::Control&) {
        auto self = std::static_pointer_cast<WebBrowseController>(weakSelf.lock());
        if (!self || self->addressReturned_ || !self->webView_) return;
        const std::string& url = self->webView_->URL();
        self->addressField_->setText(url == kBlankPage ? "" : url);
    });
    addressBar_->addAction(ui::ControlEventTouchUpInside, [weakSelf](ui::Control&) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weakSelf.lock()))
            self->addressField_->becomeFirstResponder();
    });

    webView_ = std::make_shared<ui::WebView>(view()->bounds());
    webView_->setNavigationDelegate(this);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    webView_->setAsyncContentLoader([weak](const std::string& url, ui::WebView::LoadDone done) {
        auto self = std::static_pointer_cast<WebBrowseController>(weak.lock());
        if (!self) return done(false, "", "");
        self->fetchPage(url, std::move(done));
    });
    view()->addSubview(webView_);
    view()->addSubview(addressBar_);

    isShowAlertToDownload_ = false;
    startPage();
    setToolbarBtn(false);
}

void WebBrowseController::startPage() {
    std::optional<std::string> own = isUseHomePageFunction_ ? readHomePage() : std::nullopt;
    homePageUri_ = own ? *own : rootWebPage_;
    if (homePageUri_ != rootWebPage_) {
        pagePopCount_ = 1;
        allowHost_ = hostOf(homePageUri_);
    } else {
        pagePopCount_ = 0;
    }
    // With no page of the product's own to start on, the user needs the
    // address bar to go anywhere at all.
    if (homePageUri_ == kBlankPage) showAddressBar();
    webView_->load(homePageUri_);
    addressField_->setText(homePageUri_ == kBlankPage ? "" : homePageUri_);
}

void WebBrowseController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    webView_->setNavigationDelegate(this);
    if (auto* nav = navigationController()) {
        nav->setToolbarHidden(false, animated);
        if (auto* bar = nav->toolbar()) bar->setTranslucent(false);
    }
    layoutViews();
}

void WebBrowseController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    layoutViews();
}

void WebBrowseController::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    webView_->setNavigationDelegate(nullptr);
}

void WebBrowseController::viewDidLayoutSubviews() {
    ui::ViewController::viewDidLayoutSubviews();
    layoutViews();
}

void WebBrowseController::viewWillTransitionToSize(ui::Size size,
                                                   const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    auto after = [weak](const ui::TransitionCoordinatorContext&) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock())) self->layoutViews();
    };
    if (coordinator) {
        coordinator->animateAlongsideTransition(alongside, after);
    } else {
        alongside(ui::TransitionCoordinatorContext{});
        after(ui::TransitionCoordinatorContext{});
    }
}

void WebBrowseController::layoutViews() {
    if (!isViewLoaded()) return;
    const ui::Rect b = view()->bounds();
    const ui::EdgeInsets safe = viewSafeAreaInsets();
    const double top = safe.top, bottom = b.height() - safe.bottom;
    const double barHeight = showAddressBar_ ? kAddressBarHeight : 0;
    addressBar_->setFrame(ui::Rect(0, top, b.width(), kAddressBarHeight));
    addressField_->setFrame(ui::Rect(6, 3, std::max(0.0, b.width() - 12), kAddressBarHeight - 6));
    webView_->setFrame(ui::Rect(0, top + barHeight, b.width(), std::max(0.0, bottom - top - barHeight)));
}

void WebBrowseController::showAddressBar() {
    if (showAddressBar_) return;
    showAddressBar_ = true;
    isHideAddressBar_ = false;
    if (!addressField_) return;
    addressBar_->setAlpha(0);
    addressBar_->setHidden(false);
    addressField_->setHidden(false);
    auto* field = addressBar_.get();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    ui::View::animate(0.5, 0, ui::AnimationOptionCurveEaseOut, [field, weak] {
        field->setAlpha(1);
        if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock())) self->layoutViews();
    });
}

// ---- Tool bar ----------------------------------------------------------------------------------------------

void WebBrowseController::setToolbarBtn(bool showReload) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (WebBrowseController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock())) (self.get()->*fn)();
        };
    };
    auto home = ui::BarButtonItem::withImage(toolbarImage("toolbar_gostart"), ui::BarButtonItemStyle::Plain,
                                             call(&WebBrowseController::onHomeBtn));
    auto back = ui::BarButtonItem::withImage(toolbarImage("toolbar_back"), ui::BarButtonItemStyle::Plain,
                                             call(&WebBrowseController::goBack));
    auto forward = ui::BarButtonItem::withImage(toolbarImage("toolbar_forward"), ui::BarButtonItemStyle::Plain,
                                                call(&WebBrowseController::goForward));
    ui::BarButtonItem::Ref reloadOrStop;
    if (showReload || !webView_ || !webView_->isLoading())
        reloadOrStop =
            ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Refresh, call(&WebBrowseController::onReload));
    else
        reloadOrStop = ui::BarButtonItem::withImage(toolbarImage("toolbar_stop"), ui::BarButtonItemStyle::Plain,
                                                    call(&WebBrowseController::onStop));
    auto action = ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Action, [weak](ui::BarButtonItem& item) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock()))
            self->onActionBtn(item.shared_from_this());
    });
    back->setEnabled(webView_ && webView_->canGoBack());
    forward->setEnabled(webView_ && webView_->canGoForward());
    const std::string shown = webView_ ? webView_->URL() : std::string();
    home->setEnabled(!(shown == rootWebPage_ || pagePopCount_ == 0));
    buttons_ = {home, back, forward, reloadOrStop, action};
    std::vector<ui::BarButtonItem::Ref> items;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        if (i) items.push_back(ui::BarButtonItem::flexibleSpace());
        items.push_back(buttons_[i]);
    }
    setToolbarItems(items, false);
}

void WebBrowseController::goBack() {
    webView_->goBack();
    refreshToolbarSoon();
}

void WebBrowseController::goForward() {
    webView_->goForward();
    refreshToolbarSoon();
}

// The history move lands a moment later; the buttons follow it then.
void WebBrowseController::refreshToolbarSoon() {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    toolbarTimer_ = sys::RunLoop::main().schedule(
        0.5,
        [weak] {
            if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock())) self->setToolbarBtnObj();
        },
        0, weak);
}

void WebBrowseController::onStop() {
    webView_->stopLoading();
    // The page that was coming is not waited for any longer.
    {
        std::lock_guard<std::mutex> g(fetchMutex_);
        for (auto& f : fetches_) f->thread.requestStop();
    }
    setToolbarBtn(true);
}

void WebBrowseController::onReload() { webView_->reload(); }

void WebBrowseController::onHomeBtn() {
    pagePopCount_ = 0;
    webView_->stopLoading();
    webView_->load(rootWebPage_);
}

void WebBrowseController::onActionBtn(const ui::BarButtonItem::Ref& sender) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    webView_->evaluateJavaScript("location.href", [weak, sender](std::optional<std::string> result,
                                                                 const std::string&) {
        auto self = std::static_pointer_cast<WebBrowseController>(weak.lock());
        if (!self) return;
        const std::string href = result.value_or("");
        self->addressField_->setText(href == kBlankPage ? "" : href);
        std::string address = self->addressField_->text();
        auto sheet = std::make_shared<QNActionSheet>();
        sheet->setTitle(address);
        sheet->setUserTag(kTagAction);
        sheet->setDelegate(std::static_pointer_cast<QNActionSheetDelegate>(self));
        sheet->addButtonWithTitle(tr("Open in Safari"));
        std::string homeTarget;
        if (self->isUseHomePageFunction_) {
            if (address == self->homePageUri_ || (address.empty() && self->homePageUri_ == kBlankPage)) {
                sheet->addButtonWithTitle(tr("Revert to Original Home Page"));
                homeTarget = self->rootWebPage_;
            } else {
                sheet->addButtonWithTitle(tr("Set as Home Page"));
                homeTarget = address;
            }
        }
        sheet->addButtonWithTitle(tr("Cancel"));
        sheet->setCancelButtonIndex(int64_t(sheet->buttonList().size()) - 1);
        // Each sheet carries its own addresses: a later sheet does not change
        // what an earlier one acts on.
        sheet->setUserInfo(std::make_pair(address, homeTarget));
        self->urlToOpen_ = address;
        sheet->showInView(self->view(), *self, sender);
    });
}

void WebBrowseController::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
    if (sheet.userTag() != kTagAction || buttonIndex == sheet.cancelButtonIndex()) return;
    const auto* targets = std::any_cast<std::pair<std::string, std::string>>(&sheet.userInfo());
    if (!targets) return;
    const auto& [address, homeTarget] = *targets;
    if (buttonIndex == 0) {
        auto& app = ui::Application::shared();
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        auto failed = [weak] {
            auto self = std::static_pointer_cast<WebBrowseController>(weak.lock());
            if (!self) return;
            auto alert = std::make_shared<QNAlertView>("", tr("Error opening URL."), std::weak_ptr<QNAlertViewDelegate>(),
                                                       std::nullopt, std::vector<std::string>{tr("OK")});
            alert->setUserTag(kTagMessage);
            alert->show(self.get());
        };
        if (address.empty() || !app.canOpenURL(address)) return failed();
        app.openURL(address, [failed](bool ok) {
            if (!ok) failed();
        });
        return;
    }
    if (buttonIndex == 1 && isUseHomePageFunction_) {
        const std::string target = homeTarget.empty() ? rootWebPage_ : homeTarget;
        homePageUri_ = target;
        if (!writeHomePage(target)) {
            auto alert = std::make_shared<QNAlertView>("", tr("The home page could not be saved."),
                                                       std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
                                                       std::vector<std::string>{tr("OK")});
            alert->setUserTag(kTagMessage);
            alert->show(this);
        }
    }
}

// ---- Navigation ----------------------------------------------------------------------------------------------

void WebBrowseController::webViewDecidePolicyForNavigationAction(ui::WebView&, const ui::NavigationAction& action,
                                                                 DecisionHandler decide) {
    const std::string& url = action.url;
    if (!bookTransfer_.expired() && isDownloadLink(url)) {
        webFilenameResolve(nullptr, url, BookTransfer::fileNameFromSource(url));
        decide(ui::NavigationActionPolicy::Cancel);
        return;
    }
    if (lower(url).rfind(lower(kAppStoreAddress), 0) == 0) {
        ui::Application::shared().openURL(url);
        decide(ui::NavigationActionPolicy::Cancel);
        return;
    }
    if (action.navigationType == ui::NavigationType::LinkActivated) trackLink(url);
    decide(ui::NavigationActionPolicy::Allow);
}

void WebBrowseController::trackLink(const std::string& url) {
    if (!canAccessOtherSite_) {
        if (containsNoCase(url, kProductSiteLabel)) {
            pagePopCount_ = 1;
        } else {
            ++pagePopCount_;
            showAddressBar();
        }
        return;
    }
    bool known = containsNoCase(url, kProductSiteLabel) || containsNoCase(url, kPartnerSiteLabel);
    if (!known && containsNoCase(url, allowHost_)) {
        known = true;
        pagePopCount_ = 1;
    }
    if (containsNoCase(addressField_->text(), kProductSiteLabel)) {
        pagePopCount_ = 1;
        if (!containsNoCase(url, kProductSiteLabel)) allowHost_ = hostOf(url);
    } else {
        ++pagePopCount_;
        if (!known) showAddressBar();
    }
}

void WebBrowseController::webViewDidStartProvisionalNavigation(ui::WebView&) { setToolbarBtn(false); }

void WebBrowseController::webViewDidFinishNavigation(ui::WebView& web) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    web.evaluateJavaScript("document.title", [weak](std::optional<std::string> title, const std::string&) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock()); self && title)
            self->setTitle(*title);
    });
    web.evaluateJavaScript("document.URL", [weak](std::optional<std::string> url, const std::string&) {
        if (auto self = std::static_pointer_cast<WebBrowseController>(weak.lock()); self && url)
            self->addressField_->setText(*url == kBlankPage ? "" : *url);
    });
    if (sendDebugInformation_) {
        static const char* const kScript =
            "(function(){ try { var el = document.getElementById('debuginfo'); if (el) { el.value = %@; "
            "return 'success'; } else { return 'element not found'; } } catch(e) { return 'exception: ' + "
            "e.message; } })();";
        web.evaluateJavaScript(replaceFirst(kScript, "%@", jsonString(*sendDebugInformation_)));
    }
    setToolbarBtn(false);
}

void WebBrowseController::webViewDidFailProvisionalNavigation(ui::WebView&, int code, const std::string& description) {
    if (code == ui::WebView::kErrorCancelled || code == kErrorLoadInterrupted) return;
    auto alert = std::make_shared<QNAlertView>("", description, std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
                                               std::vector<std::string>{tr("OK")});
    alert->setUserTag(kTagMessage);
    alert->show(this);
    setToolbarBtn(false);
}

// ---- Download question -------------------------------------------------------------------------------------

void WebBrowseController::webFilenameResolve(const void*, const std::string& url, const std::string& filename) {
    if (isShowAlertToDownload_) return;
    urlToDownLoad_ = url;
    filenameToDownload_ = filename;
    std::weak_ptr<QNAlertViewDelegate> self = std::static_pointer_cast<WebBrowseController>(shared_from_this());
    auto alert = std::make_shared<QNAlertView>("", replaceFirst(tr("Do you want to download \"%@\"?"), "%@", filename),
                                               self, tr("No"), std::vector<std::string>{tr("Yes")});
    alert->setUserTag(kTagDownload);
    // The question keeps its own address and name.
    alert->setUserInfo(std::make_pair(url, filename));
    isShowAlertToDownload_ = true;
    alert->show(this);
}

void WebBrowseController::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    if (alert.userTag() != kTagDownload) return;
    isShowAlertToDownload_ = false;
    const auto* target = std::any_cast<std::pair<std::string, std::string>>(&alert.userInfo());
    if (target && buttonIndex != alert.cancelButtonIndex()) {
        if (auto queue = bookTransfer_.lock())
            queue->addNewItem(0, target->first, downloadPath_, std::nullopt, target->second, std::nullopt,
                              std::nullopt, std::nullopt, {}, {}, 0);
    }
    urlToDownLoad_.clear();
    filenameToDownload_.clear();
}

// ---- Address bar ---------------------------------------------------------------------------------------------

bool WebBrowseController::textFieldShouldReturn(ui::TextField& field) {
    addressReturned_ = true;
    if (auto address = addressFromTypedText(field.text())) webView_->load(*address);
    field.resignFirstResponder();
    return true;
}
