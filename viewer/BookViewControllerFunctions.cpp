// The reading screen's functions and what starts them: taps, keys, the
// volume buttons and the seek bar.

#include "viewer/BookViewController.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"
#include "foundation/UrlPercent.h"
#include "foundation/VolumeButtonCheck.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/PhotoAlbum.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/Window.h"
#include "viewer/BookViewControllerInternal.h"
#include "viewer/PageReload.h"
#include "viewer/StreamStatusOverlay.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace bookviewer;

namespace {

// Whether `link` starts with a bare host ("example.com", "www.example.com:8080")
// up to its path, query or fragment: letters, digits, '-', '.', '_' (and
// non-ASCII letters), then a port of digits alone.
bool startsWithBareHost(const std::string& link) {
    const size_t end = std::min(link.find_first_of("/?#"), link.size());
    const size_t colon = std::min(link.find(':'), end);
    const unsigned char lead = link.empty() ? 0 : static_cast<unsigned char>(link[0]);
    if (colon == 0 || (!std::isalnum(lead) && lead < 0x80)) return false;
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(link[i]);
        if (!std::isalnum(c) && c != '-' && c != '.' && c != '_' && c < 0x80) return false;
    }
    if (colon == end) return true;
    if (colon + 1 == end) return false;
    for (size_t i = colon + 1; i < end; ++i)
        if (!std::isdigit(static_cast<unsigned char>(link[i]))) return false;
    return true;
}

// Whether a mail link asks for a file to be attached ("?attach=/etc/passwd"):
// some mail programs attach such a local file to the mail they open.
bool asksForAttachment(const std::string& link) {
    const size_t query = link.find('?');
    if (query == std::string::npos) return false;
    size_t start = query + 1;
    while (start <= link.size()) {
        const size_t end = std::min(link.find('&', start), link.size());
        std::string name = UrlPercent::decoded(link.substr(start, std::min(link.find('=', start), end) - start));
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        const size_t first = name.find_first_not_of(" \t");
        if (first != std::string::npos && name.compare(first, 6, "attach") == 0) return true;
        start = end + 1;
    }
    return false;
}

// The address a page's link is offered as: a web or mail address as it
// stands, a bare host ("example.com/a", "www.example.com:8080/") as a web
// address, blanks around either left out. A link of any other scheme (a local
// file, a program's own scheme), a mail link asking for an attachment, a path without one, or anything else not
// starting with a host, is not offered at all.
std::optional<std::string> offeredLink(const std::string& text) {
    const char* blanks = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::nullopt;
    const std::string link = text.substr(first, text.find_last_not_of(blanks) + 1 - first);
    const size_t colon = link.find(':');
    bool scheme = colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(link[0]));
    for (size_t i = 0; scheme && i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(link[i]);
        scheme = std::isalnum(c) || c == '+' || c == '-' || c == '.';
    }
    if (scheme && link.find('.') < colon) {
        // "host.name:port" names a host, not a scheme.
        size_t end = colon + 1;
        while (end < link.size() && std::isdigit(static_cast<unsigned char>(link[end]))) ++end;
        if (end > colon + 1 && (end == link.size() || link[end] == '/' || link[end] == '?' || link[end] == '#'))
            scheme = false;
    }
    if (!scheme) {
        // A path ("/etc/passwd", "../other.pdf") names no host.
        if (!startsWithBareHost(link)) return std::nullopt;
        return link.size() >= 4 ? "http://" + link : link;
    }
    std::string name = link.substr(0, colon);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (name == "http" || name == "https") return link;
    if (name == "mailto" && !asksForAttachment(link)) return link;
    return std::nullopt;
}

}  // namespace

// ---- Functions ---------------------------------------------------------------------------------

void BookViewController::doFunction(int32_t function) {
    if (invalidFunction_) return;
    invalidFunction_ = true;
    after(kFunctionInterval, [this] { invalidFunction_ = false; });
    if (uriToOpen_) {
        // The tap that led here hit a link: the function waits behind the
        // question whether to open it.
        functionOfUriCancel_ = function;
        linkDrawViews_.show(displayBookPage_.get(), imageViewDisplay_ && imageViewDisplay_->image()
                                                        ? imageViewDisplay_.get()
                                                        : imageView_.get());
        showLinkSheet(*uriToOpen_);
        return;
    }
    runFunction(function);
}

void BookViewController::linkSheetClicked(bool open) {
    if (!uriToOpen_) return;
    const std::string url = *uriToOpen_;
    uriToOpen_.reset();
    linkDrawViews_.removeAll();
    if (open) {
        auto& app = ui::Application::shared();
        if (app.canOpenURL(url)) {
            std::weak_ptr<ui::ViewController> weak = weak_from_this();
            app.openURL(url, [weak](bool ok) {
                if (auto s = weak.lock(); s && !ok) static_cast<BookViewController*>(s.get())->showErrorOpeningURL();
            });
        } else {
            showErrorOpeningURL();
        }
    } else {
        const int32_t deferred = functionOfUriCancel_;
        functionOfUriCancel_ = 0;
        doFunction(deferred);
    }
}

void BookViewController::runFunction(int32_t function) {
    if (!scrollView_) return;
    ui::ScrollView& sv = *scrollView_;
    switch (function) {
    case 1:
        stopMicPage();
        onTapMenuarea();
        break;
    case 2:
        isPageMoveByScroll_ = false;
        movePageOnButton(0);
        break;
    case 3:
        isPageMoveByScroll_ = false;
        movePageOnButton(1);
        break;
    case 4: changeZoomMode(); break;
    case 5: scrollPageTo(sv, true, false, true, false, true); break;
    case 6: scrollPageTo(sv, false, true, true, false, true); break;
    case 7: scrollPageTo(sv, true, false, false, true, true); break;
    case 8: scrollPageTo(sv, false, true, false, true, true); break;
    case 9: scrollPageTo(sv, true, false, false, false, true); break;
    case 10: scrollPageTo(sv, false, true, false, false, true); break;
    case 11: scrollPageTo(sv, false, false, true, false, true); break;
    case 12: scrollPageTo(sv, false, false, false, true, true); break;
    case 13: closeBookWithByuser(true); break;
    case 14: toggleZoom(1.3); break;
    case 15: toggleZoom(1.5); break;
    case 16: toggleZoom(2.0); break;
    case 17:
        isPageMoveByScroll_ = false;
        movePage(2);
        break;
    case 18:
        isPageMoveByScroll_ = false;
        movePage(3);
        break;
    case 19: {
        const bool was = settings_->isDoubleTruck_Local();
        settings_->setDoubleTruck(!was);
        displayMessage(tr(was ? "Display Double Page: OFF" : "Display Double Page: ON"), false);
        reloadPage(false);
        break;
    }
    case 20: {
        const bool wasLeft = settings_->pageDirection_Local() == 0;
        settings_->setPageDirection(wasLeft ? 1 : 0);
        displayMessage(tr(wasLeft ? "Reading Direction: Left to Right" : "Reading Direction: Right to Left"), false);
        reloadPage(false);
        break;
    }
    case 21: saveImage(); break;
    case 22: goNextBook(); break;
    case 23: goPrevBook(); break;
    case 24: switchToAnotherReadingPage(); break;
    default: break;
    }
}

void BookViewController::switchToAnotherReadingPage() {
    const int32_t other = clampPage(subReadingPage_);
    subReadingPage_ = page_;
    subReadingPageIsSecound_ = displayBookPage_ && displayBookPage_->isSecondPage;
    isSelectedSubReadingPage_ = !isSelectedSubReadingPage_;
    movePage(4, other, page_);
}

void BookViewController::movePageOnButton(int direction) {
    // At either end of the book, once its button is offered, the same move
    // goes on to the next (or previous) book.
    if (direction == 0) {
        if (buttonNextBook_ && !buttonNextBookIsPrevious_)
            goNextBook();
        else
            movePage(0);
    } else {
        if (buttonNextBook_ && buttonNextBookIsPrevious_)
            goPrevBook();
        else
            movePage(1);
    }
}

// ---- Taps ----------------------------------------------------------------------------------------

bool BookViewController::isInvalidTap() {
    if (invalidTap_ && !(invalidTapWatchdog_ && invalidTapWatchdog_->isValid())) {
        // One watchdog per stuck episode, counting from zero: a flag left set
        // by an interrupted animation is cleared within a few seconds.
        invalidTapReleaseCount_ = 0;
        invalidTapWatchdog_ = after(kInvalidTapTick, [this] { checkInvalidTap(); }, kInvalidTapTick);
    }
    return invalidTap_;
}

void BookViewController::checkInvalidTap() {
    const int32_t before = invalidTapReleaseCount_++;
    if (before > 2 || !invalidTap_) {
        if (invalidTapWatchdog_) invalidTapWatchdog_->invalidate();
        invalidTapWatchdog_.reset();
        invalidTap_ = false;
    }
}

void BookViewController::touchesBegan(const ui::TouchSet& touches, const ui::Event&) {
    singleTapReady_ = false;
    // A link belongs to the tap that found it, never to a later key or timer.
    uriToOpen_.reset();
    if (!touches.empty()) touchBeganPoint_ = touches.front()->locationInView(view());
}

void BookViewController::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    if (isSubFunctionMenuShown_) return;
    if (isOpenSlidershowMenu_) {
        closeslideshowMenu();
        return;
    }
    if (isInvalidTap() || touches.empty() || !scrollView_) return;

    const ui::TouchRef& ended = touches.front();
    const ui::Point p0 = (!event.allTouches.empty() ? event.allTouches.front() : ended)->locationInView(view());
    const ui::Point p = ended->locationInView(view());
    if (!(std::fabs(p.x - touchBeganPoint_.x) <= kTapSlop && std::fabs(p.y - touchBeganPoint_.y) < kTapSlop)) return;
    const int tapCount = ended->tapCount();
    touchEndndPoint_ = p;
    touchPoint_ = p;
    const ui::Point q = ended->locationInView(scrollView_.get());

    if (isOpenBar_) {
        (void)p0;
        removePageJump(1);
        return;
    }
    if (settings_->isShowStatusbar()) touchEndndPoint_.y -= BookCommon::getStatusbarHeight();

    const ui::Rect area = getScreenRect();
    const double W = area.width(), H = area.height();
    const bool swap = settings_->isSwapTapLeftRight_Local();
    const int dir = settings_->pageDirection_Local();
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const double halfView = view()->bounds().width() / 2;
    double m = settings_->tapMargin();
    if (m + 30 > halfView) m = halfView - 30;
    if (bookToolViewStyle_ == kToolViewBottomLeft && area.width() > area.height()) touchEndndPoint_.x -= kBand;
    const double x = touchEndndPoint_.x, y = touchEndndPoint_.y;
    if (y >= H || x >= W || x < 0) return;

    // Looked for only once the tap is known to resolve to a function, so a
    // link is never left behind for a later key or timer.
    if (auto link = linkAtPoint(q)) {
        if (auto url = offeredLink(*link)) {
            uriToOpen_ = *url;
            urlToOpenPoint_ = p;
        }
    }

    const bool leftZone = x <= safe.left + m;
    const bool rightZone = W - x <= safe.right + m;
    const bool topZone = y <= m;
    const bool bottomZone = H - y <= m;
    const bool effLeft = swap ? rightZone : leftZone;
    const bool effRight = swap ? leftZone : rightZone;
    const bool forwardEdge = (leftZone && dir == 0) || (rightZone && dir != 0);
    const bool backwardEdge = (leftZone && dir != 0) || (rightZone && dir == 0);

    const PageTapConfig t = settings_->tapConfig();
    const std::pair<bool, int32_t> regions[] = {
        {effLeft && topZone, t.tapTopLeft},     {effRight && topZone, t.tapTopRight},
        {effLeft && bottomZone, t.tapBottomLeft}, {effRight && bottomZone, t.tapBottomRight},
        {forwardEdge, t.tapForwardEdge},        {backwardEdge, t.tapBackwardEdge},
        {effLeft, t.tapLeftEdge},               {effRight, t.tapRightEdge},
        {topZone, t.tapTopEdge},                {bottomZone, t.tapBottomEdge},
    };
    for (auto& [hit, function] : regions) {
        if (hit && function != 0) {
            doFunction(function);
            return;
        }
    }

    // Quarters; a point on a half line belongs to the right or bottom one.
    const bool right = x >= W / 2;
    const bool bottom = y >= H / 2;
    auto quarter = [&](bool r, bool b) {
        return b ? (r ? t.tapQuarterBottomRight : t.tapQuarterBottomLeft) : (r ? t.tapQuarterTopRight : t.tapQuarterTopLeft);
    };
    if (t.tapDouble == 0) {
        if (int32_t f = quarter(right, bottom); f != 0) {
            doFunction(f);
            return;
        }
        if (t.tapSingle != 0) {
            doFunction(t.tapSingle);
            return;
        }
    }
    const int32_t f = quarter(swap ? !right : right, bottom);
    singleTapFunction_ = f != 0 ? f : t.tapSingle;
    if (tapCount >= 2) {
        doubleTap();
    } else {
        singleTapReady_ = true;
        after(kSingleTapDelay, [this] { singleTap(); });
    }
}

void BookViewController::singleTap() {
    if (invaliedSingleTap_ || !singleTapReady_) return;
    singleTapReady_ = false;
    invaliedSingleTap_ = true;
    after(kSingleTapInterval, [this] { invaliedSingleTap_ = false; });
    doFunction(singleTapFunction_);
}

void BookViewController::doubleTap() { doFunction(settings_->tapConfig().tapDouble); }

std::optional<std::string> BookViewController::linkAtPoint(ui::Point contentPoint) {
    ui::ImageView* shown = imageViewDisplay_ && imageViewDisplay_->image() ? imageViewDisplay_.get() : imageView_.get();
    if (!shown || !scrollView_) return std::nullopt;
    return PdfLinkViews::linkAtPoint(displayBookPage_.get(), shown,
                                     shown->convertPointFrom(contentPoint, scrollView_.get()));
}

// ---- Keys and volume buttons --------------------------------------------------------------------------

const std::vector<std::string>& BookViewController::ownKeys() {
    static const std::vector<std::string> keys{ui::KeyInput::leftArrow, ui::KeyInput::rightArrow, ui::KeyInput::upArrow,
                                               ui::KeyInput::downArrow, " ",                      ui::KeyInput::escape,
                                               ui::KeyInput::pageUp,    ui::KeyInput::pageDown,   ui::KeyInput::home,
                                               ui::KeyInput::end};
    return keys;
}

const std::vector<std::string>& BookViewController::shortcutKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out{ui::KeyInput::returnKey, ui::KeyInput::backspace};
        for (char c = 'a'; c <= 'z'; ++c) out.emplace_back(1, c);
        for (char c = '0'; c <= '9'; ++c) out.emplace_back(1, c);
        return out;
    }();
    return keys;
}

std::vector<ui::KeyCommand> BookViewController::keyCommands() const {
    if (goingCloseBook_) return {};
    // Escape with nothing in front of the page closes the book: no key for
    // what is in front only.
    const bool closesBook = !isSubFunctionMenuShown_ && !isOpenSlidershowMenu_ && !isOpenBar_;
    if (!closesBook || !ui::InFrontKeyScope::active()) return keyboardCommands_;
    std::vector<ui::KeyCommand> keys;
    for (const ui::KeyCommand& k : keyboardCommands_)
        if (k.input != ui::KeyInput::escape) keys.push_back(k);
    return keys;
}

void BookViewController::handleCommand(const std::string& input) {
    if (input == ui::KeyInput::escape) {
        escapeKey();
        return;
    }
    if (isSubFunctionMenuShown_ || isOpenSlidershowMenu_ || goingCloseBook_ || !scrollView_) return;
    // A key pressed while a page loads or slides in is taken once the move
    // is over, and a slide then ends at once: held or repeated keys skim
    // the book instead of being lost.
    if (nowMovePageDo_ || isMovingPage_ || !pendingKeys_.empty() || (invalidFunction_ && !invalidTap_)) {
        // A turn asked for while the page is still being drawn turns away
        // from it: its drawing is given up, and the turn taken from there.
        static const std::vector<std::string> turns{ui::KeyInput::pageDown, ui::KeyInput::pageUp, " ",
                                                    ui::KeyInput::leftArrow, ui::KeyInput::rightArrow,
                                                    ui::KeyInput::home, ui::KeyInput::end};
        if (moveLoadInFlight_ && moveWithIndicator_ && !drawsAbandoned_ && bookReader_ &&
            std::find(turns.begin(), turns.end(), input) != turns.end()) {
            drawsAbandoned_ = true;
            bookReader_->abandonPageDraws();
        }
        constexpr size_t kMaxPendingKeys = 3;
        if (pendingKeys_.size() >= kMaxPendingKeys) pendingKeys_.erase(pendingKeys_.begin());
        pendingKeys_.push_back(input);
        if (isWaitForAnimationEndAndRemove_) {
            scrollView_->removeAllAnimations();
            if (animationOldScreen_) animationOldScreen_->removeAllAnimations();
        }
        takePendingKey();
        return;
    }
    runKey(input);
}

void BookViewController::runKey(const std::string& input) {
    if (isInvalidTap() || !scrollView_) return;
    const int dir = settings_->pageDirection_Local();
    if (input == ui::KeyInput::leftArrow) {
        if (!scrollScreenHorizontal(*scrollView_, false)) doFunction(dir == 0 ? 2 : 3);
    } else if (input == ui::KeyInput::rightArrow) {
        if (!scrollScreenHorizontal(*scrollView_, true)) doFunction(dir == 0 ? 3 : 2);
    } else if (input == ui::KeyInput::upArrow) {
        scrollScreenVertical(*scrollView_, false);
    } else if (input == ui::KeyInput::downArrow) {
        scrollScreenVertical(*scrollView_, true);
    } else if (input == " " || input == ui::KeyInput::pageDown) {
        doFunction(2);
    } else if (input == ui::KeyInput::pageUp) {
        doFunction(3);
    } else if (input == ui::KeyInput::home || input == ui::KeyInput::end) {
        const int32_t target = input == ui::KeyInput::home ? 0 : pageCount() - 1;
        if (target >= 0 && target != page_) movePage(4, target, page_);
    } else {
        for (const auto& s : keyboardShortcuts_) {
            if (s.key == input) {
                doFunction(s.command);
                break;
            }
        }
    }
    removePageJump(1);
}

void BookViewController::escapeKey() {
    if (goingCloseBook_ || !scrollView_) return;
    // Escape backs out one step: the panel or menu in front, else the book.
    if (isSubFunctionMenuShown_) {
        cancelMicPageMenu();
    } else if (isOpenSlidershowMenu_) {
        closeslideshowMenu();
    } else if (isOpenBar_) {
        removePageJump(1);
    } else if (!invalidTap_) {
        closeBookWithByuser(true);
    }
}

void BookViewController::onVolumeButton(int direction) {
    switch (settings_ ? settings_->volumeButton() : 0) {
    case 1: movePageOnButton(direction == 0 ? 0 : 1); break;
    case 2: movePageOnButton(direction == 0 ? 1 : 0); break;
    case 3:
        if (!volumeUpButtonWait_) {
            volumeUpButtonWait_ = true;
            after(kSingleTapDelay, [this] {
                if (disableVolumeupTimer_) {
                    disableVolumeupTimer_ = false;
                    return;
                }
                volumeUpButtonWait_ = false;
                movePageOnButton(0);
            });
        } else {
            movePageOnButton(1);
            disableVolumeupTimer_ = true;
            volumeUpButtonWait_ = false;
        }
        break;
    default: break;
    }
}

// ---- Seek bar ------------------------------------------------------------------------------------

void BookViewController::addRemoveBookToolView() {
    const ui::Rect area = getScreenRect();
    const bool landscape = area.width() > area.height();
    const bool wanted = bookToolViewStyle_ != kToolViewNone && !(bookToolViewStyle_ == kToolViewBottom && landscape);
    if (wanted && bookToolView_) {
        onChangeBookToolViewPos();
    } else if (wanted) {
        bookToolView_ = std::make_shared<BookToolView>();
        bookToolView_->setDelegate(this);
        bookToolView_->setSettings(settings_);
        view()->addSubview(bookToolView_);
        bookToolView_->setPosition(area, view()->safeAreaInsets(), bookToolViewStyle_, landscape);
        bookToolView_->setPage(page_, pageCount());
        bookToolView_->onMovePage(page_, false);
        onChangeBookToolViewPos();
    } else if (bookToolView_) {
        bookToolView_->setDelegate(nullptr);
        bookToolView_->removeFromSuperview();
        bookToolView_.reset();
        onChangeBookToolViewPos();
    }
}

void BookViewController::onChangeBookToolViewPos() {
    if (!scrollView_) return;
    ui::Rect f = getScreenRect();
    f.origin.y = (!isHideStatusBar_ && !BookCommon::isDeviceType_Notch()) ? f.y() : 0;
    scrollView_->setFrame(f);
    if (bookToolView_) {
        bookToolView_->setPosition(f, view()->safeAreaInsets(), bookToolViewStyle_, f.width() > f.height());
        bookToolView_->onMovePage(page_, false);
    }
}

void BookViewController::onBookToolViewGoPrev() {
    lastPageMoveCommandIsNext_ = false;
    doFunction(3);
}

void BookViewController::onBookToolViewGoNext() {
    lastPageMoveCommandIsNext_ = true;
    doFunction(2);
}

void BookViewController::bookToolViewMovePage(int64_t page) {
    const int32_t target = clampPage(page);
    if (target == page_) return;
    animationFadeNext_ = true;
    notNotifyToBookToolView_ = true;
    if (!movePage(4, target, page_)) notNotifyToBookToolView_ = false;
}


void BookViewController::bookToolViewScrollLock(bool locked) {
    displayMessage(tr(locked ? "Turn On Page Scroll Lock" : "Turn Off Page Scroll Lock"), true);
}
