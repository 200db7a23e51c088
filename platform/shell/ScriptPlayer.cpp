#include "platform/shell/ScriptPlayer.h"

#include "platform/core/Clock.h"
#include "platform/core/OutputVolume.h"
#include "platform/core/Path.h"
#include "platform/ui/Animator.h"
#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/Responder.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace shell {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool parseNumber(const std::string& s, double* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool parseIndex(const std::string& s, int* out) {
    if (s.empty() || s.size() > 6) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    *out = std::atoi(s.c_str());
    return true;
}

// A key name of a script as the window's key input.
std::optional<std::string> keyInput(const std::string& name) {
    static const std::map<std::string, std::string> named{
        {"left", ui::KeyInput::leftArrow}, {"right", ui::KeyInput::rightArrow},
        {"up", ui::KeyInput::upArrow},     {"down", ui::KeyInput::downArrow},
        {"space", " "},                    {"return", ui::KeyInput::returnKey},
        {"escape", ui::KeyInput::escape},  {"backspace", ui::KeyInput::backspace},
        {"pageup", ui::KeyInput::pageUp},  {"pagedown", ui::KeyInput::pageDown},
        {"home", ui::KeyInput::home},      {"end", ui::KeyInput::end},
    };
    auto it = named.find(name);
    if (it != named.end()) return it->second;
    if (name.size() == 1 && (std::islower(static_cast<unsigned char>(name[0])) ||
                             std::isdigit(static_cast<unsigned char>(name[0]))))
        return name;
    return std::nullopt;
}

std::string fail(const ScriptStep& step, const std::string& why) {
    return "line " + std::to_string(step.line) + " (" + step.verb + "): " + why;
}

}  // namespace

ScriptPlayer::ScriptPlayer(ui::Window& window, ScriptHost* host, std::string shotsDirectory, Clock clock)
    : window_(window), host_(host), shotsDirectory_(std::move(shotsDirectory)), clock_(std::move(clock)),
      driver_(window) {}

std::optional<std::vector<ScriptStep>> ScriptPlayer::parse(const std::string& text, std::string* error) {
    std::vector<ScriptStep> steps;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        ScriptStep step;
        step.line = lineNo;
        size_t space = line.find_first_of(" \t");
        step.verb = line.substr(0, space);
        step.rest = space == std::string::npos ? "" : trim(line.substr(space));
        const std::string& rest = step.rest;
        if (!rest.empty() && rest[0] == '"') {
            size_t close = rest.rfind('"');
            if (close == 0) {
                if (error) *error = "line " + std::to_string(lineNo) + ": a quoted text is not closed";
                return std::nullopt;
            }
            if (!trim(rest.substr(close + 1)).empty()) {
                if (error) *error = "line " + std::to_string(lineNo) + ": text after the closing quote";
                return std::nullopt;
            }
            step.quoted = true;
            step.args.push_back(rest.substr(1, close - 1));
        } else {
            std::istringstream words(rest);
            std::string w;
            while (words >> w) step.args.push_back(w);
        }
        static const std::map<std::string, std::pair<int, int>> arity{
            {"shot", {1, 1}},  {"tap", {1, 2}},   {"key", {1, 1}},       {"volume", {1, 1}},
            {"type", {1, 99}}, {"alert", {1, 1}}, {"sheet", {1, 1}},     {"back", {0, 0}},
            {"wait", {1, 1}},  {"rotate", {1, 1}}, {"background", {0, 0}}, {"foreground", {0, 0}},
            {"open", {1, 1}},  {"drag", {4, 4}},
        };
        auto it = arity.find(step.verb);
        if (it == arity.end()) {
            if (error) *error = "line " + std::to_string(lineNo) + ": unknown step \"" + step.verb + "\"";
            return std::nullopt;
        }
        const int n = static_cast<int>(step.args.size());
        if (n < it->second.first || n > it->second.second) {
            if (error) *error = "line " + std::to_string(lineNo) + ": wrong number of arguments for " + step.verb;
            return std::nullopt;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

bool ScriptPlayer::run(const std::vector<ScriptStep>& steps, std::string* error) {
    for (const auto& step : steps)
        if (!runStep(step, error)) return false;
    return true;
}

void ScriptPlayer::wait(double seconds) {
    if (clock_.wait) clock_.wait(seconds);
    else driver_.advance(seconds);
}

double ScriptPlayer::now() const { return clock_.now ? clock_.now() : sys::Clock::now(); }

bool ScriptPlayer::patiently(const std::function<bool(const std::function<bool()>& giveUp)>& attempt) {
    const double start = now();
    // On the real clock the patience counts all the time the step takes,
    // the looking as much as the pauses between looks.
    const std::function<bool()> giveUp = [&] {
        return stopped() || (clock_.wait && now() - start >= kPatienceSeconds);
    };
    if (attempt(giveUp)) return true;
    // The virtual clock is the script's own: nothing shows there unless a step lets time pass.
    if (!clock_.wait) return false;
    while (!giveUp()) {
        wait(kLookAgainSeconds);
        if (attempt(giveUp)) return true;
    }
    return false;
}

bool ScriptPlayer::shot(const std::string& name, std::string* error) {
    // The name becomes one file in the shots folder, nothing else.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name.size() > 200) {
        if (error) *error = "the picture needs a plain file name";
        return false;
    }
    const std::string path = sys::Path::stringByAppendingPathComponent(shotsDirectory_, name + ".png");
    driver_.settle();
    const bool ok = clock_.shot ? clock_.shot(path) : window_.snapshot(path);
    if (!ok) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    shots_.push_back(path);
    return true;
}

namespace {

// Whether a finger on the middle of `sv`'s visible frame reaches it: a list
// under a dimming or an alert is not scrolled.
bool canScroll(ui::test::Driver& driver, ui::ScrollView& sv) {
    return ui::test::Driver::isVisible(sv) && driver.uncovered(sv, driver.centerOf(sv));
}

// Scrolls every scroll view around `view` that a finger reaches so that
// `view` comes into sight.
bool scrollIntoView(ui::test::Driver& driver, ui::View* view) {
    bool any = false;
    for (ui::View* v = view->superview(); v; v = v->superview()) {
        if (auto* sv = dynamic_cast<ui::ScrollView*>(v); sv && canScroll(driver, *sv)) {
            sv->scrollRectToVisible(view->convertRectTo(view->bounds(), sv), false);
            any = true;
        }
    }
    return any;
}

ui::View* findText(ui::test::Driver& driver, const std::string& text, bool visibleOnly) {
    return driver.find(
        [&](ui::View& v) {
            if (auto* seg = dynamic_cast<ui::SegmentedControl*>(&v))
                for (int i = 0; i < seg->numberOfSegments(); ++i)
                    if (seg->titleForSegment(i) == text) return true;
            return ui::test::Driver::textOf(v) == text;
        },
        visibleOnly);
}

bool shows(ui::test::Driver& driver, const std::string& text) {
    return !driver.findAllByTextFrontToBack(text).empty();
}

// Brings a view showing `text` where a finger reaches it, as a user would
// look for it: a list scrolled to it, pulled back to its top, or gone
// through a screen at a time. The view a tap on its middle reaches, or null.
ui::View* lookFor(ui::test::Driver& driver, const std::string& text, const std::function<bool()>& late) {
    if (ui::View* v = driver.findTappableByText(text)) return v;
    if (!shows(driver, text)) {
        // Controls that fade out while scrolled away (a list's header) come
        // back when the list is pulled to them, as a user would.
        ui::View* hidden = findText(driver, text, false);
        if (hidden) {
            scrollIntoView(driver, hidden);
        } else {
            // Not made at all (a table keeps only the rows in sight): pull
            // the lists on screen back to their top, where such controls live.
            bool pulled = false;
            for (ui::ScrollView* sv : driver.findAllOf<ui::ScrollView>()) {
                if (!canScroll(driver, *sv)) continue;
                const ui::Point top = sv->minimumContentOffset();
                if (sv->contentOffset().y > top.y) {
                    sv->setContentOffset({sv->contentOffset().x, top.y}, false);
                    pulled = true;
                }
            }
            if (pulled) driver.advance(0.6);
            // Rows below the fold are made as the list scrolls to them: the
            // lists go down a screen at a time until the text shows.
            bool found = shows(driver, text);
            for (ui::ScrollView* sv : driver.findAllOf<ui::ScrollView>()) {
                if (found || late()) break;
                if (!canScroll(driver, *sv)) continue;
                for (int page = 0; !found && page < ScriptPlayer::kMaxScrollPages && !late(); ++page) {
                    const ui::Point o = sv->contentOffset();
                    const double y = std::min(sv->maximumContentOffset().y, o.y + std::max(40.0, sv->bounds().height() - 40));
                    if (y <= o.y) break;
                    sv->setContentOffset({o.x, y}, false);
                    driver.settle();
                    found = shows(driver, text);
                }
            }
            if (!found && (!pulled || late())) return nullptr;
        }
        if (!shows(driver, text)) driver.advance(0.6);
    }
    // What shows may lie partly outside its list: scrolled into sight, front first.
    for (ui::View* v : driver.findAllByTextFrontToBack(text)) {
        if (ui::View* reached = driver.findTappableByText(text)) return reached;
        scrollIntoView(driver, v);
        driver.settle();
    }
    return driver.findTappableByText(text);
}

// Whether a screen presented over the window's root is still sliding or
// fading in or out.
bool presentationMoving(ui::Window& window) {
    for (ui::ViewController* vc = window.rootViewController().get(); vc; vc = vc->presentedViewController())
        if (vc->isBeingPresented() || vc->isBeingDismissed()) return true;
    return false;
}

// Whether something laid on the window (a presented screen, a question and
// its dimming, a panel) is still sliding or fading in or out: until it comes
// to rest a finger passes through it to what lies behind.
bool frontMoving(ui::Window& window) {
    if (presentationMoving(window)) return true;
    for (const auto& layer : window.subviews())
        if (!layer->isHidden() && layer->animationBlocksTouches()) return true;
    return false;
}

}  // namespace

bool ScriptPlayer::tapText(ui::test::Driver& driver, const std::string& text, const std::function<bool()>& giveUp) {
    auto late = [&] { return giveUp && giveUp(); };
    driver.settle();
    // What is coming in front (a question just asked) is let come to rest
    // first, so that the text is looked for where a finger will meet it.
    for (double waited = 0; frontMoving(driver.window()) && waited < kMotionSeconds && !late();
         waited += kLookAgainSeconds)
        driver.advance(kLookAgainSeconds);
    ui::View* view = lookFor(driver, text, late);
    // A screen still sliding or fading in lets touches pass through: the
    // tap waits for it to come to rest, as a user's finger would.
    for (double waited = 0;
         (!view ? shows(driver, text) : !driver.reaches(*view, driver.textPoint(*view, text))) &&
         ui::Animator::shared().activeTracks() > 0 && waited < kMotionSeconds && !late();
         waited += kLookAgainSeconds) {
        driver.advance(kLookAgainSeconds);
        // What moved may have been rebuilt meanwhile.
        view = driver.findTappableByText(text);
    }
    if (!view) return false;
    driver.tap(driver.textPoint(*view, text));
    return true;
}

bool ScriptPlayer::runStep(const ScriptStep& step, std::string* error) {
    std::string why;
    auto failed = [&](const std::string& reason) {
        if (error) *error = fail(step, reason);
        return false;
    };
    const auto& a = step.args;
    if (step.verb == "shot") {
        if (!shot(a[0], &why)) return failed(why);
        return true;
    }
    if (step.verb == "tap") {
        if (step.quoted) {
            if (!patiently([&](const std::function<bool()>& giveUp) { return tapText(driver_, a[0], giveUp); }))
                return failed(stopped() ? "the run was stopped"
                              : !driver_.findAllByTextFrontToBack(a[0]).empty()
                                  ? "\"" + a[0] + "\" is covered: a tap on it reaches what lies in front"
                                  : "nothing on screen shows \"" + a[0] + "\"");
            return true;
        }
        double x = 0, y = 0;
        if (a.size() != 2 || !parseNumber(a[0], &x) || !parseNumber(a[1], &y))
            return failed("needs two numbers or a quoted text");
        const ui::Rect b = window_.bounds();
        if (x < 0 || y < 0 || x >= b.width() || y >= b.height()) return failed("the point lies outside the window");
        driver_.tap({x, y});
        return true;
    }
    if (step.verb == "drag") {
        double v[4] = {};
        for (int i = 0; i < 4; ++i)
            if (!parseNumber(a[size_t(i)], &v[i])) return failed("needs four numbers: from X Y, to X Y");
        const ui::Rect b = window_.bounds();
        for (int i = 0; i < 4; i += 2)
            if (v[i] < 0 || v[i + 1] < 0 || v[i] >= b.width() || v[i + 1] >= b.height())
                return failed("the point lies outside the window");
        // Held long enough to pick up what lies under the finger, then moved
        // in small steps and lifted.
        driver_.touchDown({v[0], v[1]});
        wait(kDragHoldSeconds);
        constexpr int kSteps = 10;
        for (int i = 1; i <= kSteps; ++i) {
            driver_.touchMove({v[0] + (v[2] - v[0]) * i / kSteps, v[1] + (v[3] - v[1]) * i / kSteps});
            wait(0.02);
        }
        driver_.touchUp({v[2], v[3]});
        driver_.settle();
        return true;
    }
    if (step.verb == "key") {
        auto input = keyInput(a[0]);
        if (!input) return failed("unknown key \"" + a[0] + "\"");
        driver_.key(*input);
        return true;
    }
    if (step.verb == "volume") {
        if (a[0] != "up" && a[0] != "down") return failed("volume up or volume down");
        sys::OutputVolume::shared()->pressVolumeButton(a[0] == "up");
        driver_.settle();
        return true;
    }
    if (step.verb == "type") {
        if (!ui::Responder::firstResponder()) return failed("no text is being edited");
        driver_.type(step.quoted ? a[0] : step.rest);
        return true;
    }
    if (step.verb == "alert" || step.verb == "sheet") {
        int index = 0;
        if (!parseIndex(a[0], &index)) return failed("needs a button number");
        if (!host_) return failed("not available");
        const bool ok = patiently([&](const std::function<bool()>&) {
            why.clear();
            return step.verb == "alert" ? host_->pressAlertButton(index, &why) : host_->pressSheetButton(index, &why);
        });
        if (!ok) return failed(stopped() ? "the run was stopped" : why);
        driver_.settle();
        return true;
    }
    if (step.verb == "back") {
        if (!host_) return failed("not available");
        // A screen still coming in or going away in front is let come to
        // rest first, as a tap waits for it: meanwhile it cannot be closed.
        // The wait is the run's own, so that a window keeps being drawn.
        for (double waited = 0; presentationMoving(window_) && waited < kMotionSeconds && !stopped();
             waited += kLookAgainSeconds)
            wait(kLookAgainSeconds);
        // A menu or panel in front (or an alert) is closed first, as Escape
        // closes it; only then does a screen go back.
        bool closed = false;
        {
            ui::InFrontKeyScope inFront;
            closed = window_.sendKey({ui::KeyInput::escape, 0});
        }
        if (closed) {
            driver_.settle();
            return true;
        }
        if (!host_->goBack(&why)) return failed(why.empty() ? "nothing to go back from" : why);
        driver_.settle();
        return true;
    }
    if (step.verb == "wait") {
        double seconds = 0;
        if (!parseNumber(a[0], &seconds) || seconds < 0 || seconds > kMaxWait)
            return failed("needs a number of seconds from 0 to 3600");
        wait(seconds);
        return true;
    }
    if (step.verb == "rotate") {
        ui::InterfaceOrientation o;
        if (a[0] == "portrait") o = ui::InterfaceOrientation::Portrait;
        else if (a[0] == "landscape") o = ui::InterfaceOrientation::LandscapeLeft;
        else return failed("rotate portrait or rotate landscape");
        if (window_.orientation() != o && !window_.rotate(o)) return failed("the screen shown does not turn");
        driver_.settle();
        return true;
    }
    if (step.verb == "background" || step.verb == "foreground") {
        if (!host_) return failed("not available");
        if (step.verb == "background") host_->enterBackground();
        else host_->enterForeground();
        driver_.settle();
        return true;
    }
    if (step.verb == "open") {
        if (!host_ || !host_->openURL(a[0], &why)) return failed(why.empty() ? "cannot open " + a[0] : why);
        driver_.settle();
        return true;
    }
    return failed("unknown step");
}

}  // namespace shell
