#pragma once

#include "platform/shell/ScriptHost.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace shell {

// One line of a script: its verb and what follows.
struct ScriptStep {
    int line = 0;
    std::string verb;
    std::vector<std::string> args;  // words, or one quoted text
    bool quoted = false;            // the argument was a quoted text
    std::string rest;               // everything after the verb, as written
};

// Plays a script against the application's window, one step per line:
//   shot NAME               the window as NAME.png in the shots folder
//   tap X Y | tap "TEXT"    a tap at a window point, or on the frontmost view showing TEXT
//                           that a finger reaches
//   key NAME                left right up down pageup pagedown home end space return
//                           escape backspace a-z 0-9
//   volume up|down          a volume button
//   type TEXT               keys for the text being edited
//   alert N | sheet N       button N of the alert or action sheet shown
//   back                    one screen back
//   wait SECONDS            lets time pass
//   rotate portrait|landscape
//   background | foreground
//   open URL
// Blank lines and lines starting with "#" are skipped. A step that cannot
// be done stops the run with a message naming its line. On the real clock
// (a window) a step that looks for something on screen (a text to tap, an
// alert, a sheet) waits for it a while before it fails: the while counts
// the looking too (scrolling lists to find a text), and a stop asked for
// (a signal) ends the step at once.
class ScriptPlayer {
public:
    // How time passes: the virtual clock in headless runs, real time with a
    // window. The shot function writes the picture of the window; `now`
    // reads the clock a step's patience is measured on (the process clock
    // when empty); `stopped` says the run is to end (a signal came).
    struct Clock {
        std::function<void(double seconds)> wait;
        std::function<bool(const std::string& pngPath)> shot;
        std::function<double()> now;
        std::function<bool()> stopped;
    };

    ScriptPlayer(ui::Window& window, ScriptHost* host, std::string shotsDirectory, Clock clock = {});

    static std::optional<std::vector<ScriptStep>> parse(const std::string& text, std::string* error);

    // Plays the steps in order; false (and the reason) at the first that fails.
    bool run(const std::vector<ScriptStep>& steps, std::string* error);
    bool runStep(const ScriptStep& step, std::string* error);
    // Paths of the pictures written so far.
    const std::vector<std::string>& shotsWritten() const { return shots_; }

    // The longest single wait a script may ask for.
    static constexpr double kMaxWait = 3600;
    // How far "tap" scrolls a list looking for a text, in screens.
    static constexpr int kMaxScrollPages = 500;
    // How long "drag" holds the finger down before it moves.
    static constexpr double kDragHoldSeconds = 1.2;
    // On the real clock, how long a step waits for what it looks for, and
    // how often it looks again.
    static constexpr double kPatienceSeconds = 15;
    static constexpr double kLookAgainSeconds = 0.05;
    // How long "tap" lets a screen still moving in come to rest.
    static constexpr double kMotionSeconds = 2;

    // Finds the frontmost visible view showing `text` that a tap on its
    // middle reaches and taps it there (a segment of a segmented control by
    // its title), scrolling it into view first when it lies outside its
    // scroll view. What is still sliding or fading in (a screen, a question)
    // is let come to rest first.
    // A view under something in front (an alert's dimming) is never tapped,
    // and the lists under it are not scrolled. False when no view a finger
    // reaches shows it, or when `giveUp` answers true before it is found
    // (asked between the screens of a list it scrolls through).
    static bool tapText(ui::test::Driver& driver, const std::string& text,
                        const std::function<bool()>& giveUp = {});
    // Whether the run was asked to end.
    bool stopped() const { return clock_.stopped && clock_.stopped(); }

private:
    void wait(double seconds);
    double now() const;
    // `attempt` once; on the real clock again until it succeeds, the
    // patience runs out or the run is stopped. `attempt` is handed what
    // says it is time to give up.
    bool patiently(const std::function<bool(const std::function<bool()>& giveUp)>& attempt);
    bool shot(const std::string& name, std::string* error);

    ui::Window& window_;
    ScriptHost* host_;
    std::string shotsDirectory_;
    Clock clock_;
    ui::test::Driver driver_;
    std::vector<std::string> shots_;
};

}  // namespace shell
