// Turns pages in a real window: the program and zathura (with its comic-book
// plugin) on one Xvfb screen of 1024 x 768, the same cbz of 1200 x 1800 JPEG
// pages, the program with page animation off. Each turn is a PageDown key
// sent through XTest and lasts until the screen's pixels change (read after
// each drawing XDamage reports, so that reading the screen over and over
// does not hold up the X server the programs draw through); turns start
// with the screen still, so that the next page has had its time to be made
// ready, as a reader's pause gives it.
//
//   build/bench/window_turn [turns]
//
// Prints the median turn of each, then "ratio: X.XX" (the program's median
// over zathura's; below 1 means faster). Without zathura it says so and
// prints the program's figures alone.

// Before the X11 headers, whose macros (None, Bool) clash with them.
#include "platform/core/PropertyList.h"
#include "bench/WindowBench.h"

#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// `turns` page turns; the time from each key press to the first changed screen.
std::vector<double> turnPages(bench::XScreen& screen, int turns) {
    std::vector<double> times;
    for (int i = 0; i < turns; ++i) {
        screen.waitStill(0.4, 5);
        usleep(300000);
        screen.grab();
        const std::vector<uint32_t> before = screen.copy();
        screen.focusTopWindow();
        screen.watchDrawing();
        const double t0 = bench::now();
        screen.pressKey(XK_Next);
        if (!screen.waitDrawnChange(before, 3)) {
            std::fprintf(stderr, "turn %d: the screen did not change\n", i + 1);
            continue;
        }
        times.push_back(bench::now() - t0);
    }
    return times;
}

void report(const char* who, std::vector<double> t) {
    std::sort(t.begin(), t.end());
    std::printf("%-10s %2zu turns: median %6.1f ms  (min %5.1f, max %5.1f)\n", who, t.size(), bench::median(t) * 1000,
                t.front() * 1000, t.back() * 1000);
}

}  // namespace

int main(int argc, char** argv) {
    const int turns = bench::runsFrom(argc, argv, 12);
    bench::WorkFolder work("window_turn");
    if (!work.made()) return 1;
    const fs::path book = bench::makeWindowBook(work);
    if (book.empty()) return 1;
    bench::XScreen screen(1024, 768);
    if (!screen.ok()) return bench::fail("could not start Xvfb");
    const std::map<std::string, std::string> env{{"DISPLAY", screen.display()}};

    // The program: page animation off, and past its first start (the
    // welcome page closed, as a user does once).
    const fs::path home = work / "home";
    fs::create_directories(home / "Library" / "lbconfigs");
    sys::PlistDictionary global;
    global.set("animation", "none");
    sys::PropertyList::writeFile(global, (home / "Library" / "lbconfigs" / ".globalsettings.lbs").string());
    const std::vector<std::string> ours{bench::programPath(), "--home", home.string(), book.string()};
    {
        bench::Process first(ours, env, (work / "first.log").string());
        screen.waitStill(1.0, 15);
        screen.click(512, 728);  // the welcome page's Close button
        if (!screen.waitFor([&] { return bench::showsMarkedPage(screen); }, 20))
            return bench::fail("the program did not show the book on its first start");
    }
    // Each round starts from this home again (the program resumes a book
    // where it was left).
    const fs::path saved = work / "home-after-first-start";
    fs::copy(home, saved, fs::copy_options::recursive);

    const bool peer = bench::have("zathura") && fs::exists("/usr/lib/x86_64-linux-gnu/zathura/libcb.so");
    if (!peer) std::printf("zathura or its cb plugin (zathura-cb) is not installed: the program alone\n");
    const fs::path zconf = work / "zathura";
    fs::create_directories(zconf / "data");
    bench::writeBytes(zconf / "zathurarc", [] {
        const std::string rc = "set window-width 1024\nset window-height 768\nset adjust-open best-fit\n"
                               "set guioptions \"\"\n";
        return std::vector<uint8_t>(rc.begin(), rc.end());
    }());
    const std::vector<std::string> theirs{"zathura", "-c", zconf.string(), "--data-dir=" + (zconf / "data").string(),
                                          book.string()};

    std::vector<double> oursTimes, theirTimes;
    for (int round = 0; round < 2; ++round) {
        {
            fs::remove_all(home);
            fs::copy(saved, home, fs::copy_options::recursive);
            bench::Process p(ours, env, (work / "ours.log").string());
            if (!screen.waitFor([&] { return bench::showsMarkedPage(screen); }, 20)) {
                screen.save("/tmp/window_turn-program.ppm");
                return bench::fail("the program did not show the book (screen in /tmp/window_turn-program.ppm)");
            }
            auto t = turnPages(screen, turns / 2 + (round == 0 ? turns % 2 : 0));
            oursTimes.insert(oursTimes.end(), t.begin(), t.end());
        }
        if (!peer) continue;
        {
            fs::remove_all(zconf / "data");
            fs::create_directories(zconf / "data");
            bench::Process p(theirs, env, (work / "zathura.log").string());
            if (!screen.waitFor([&] { return bench::showsMarkedPage(screen); }, 20))
                return bench::fail("zathura did not show the book");
            auto t = turnPages(screen, turns / 2 + (round == 0 ? turns % 2 : 0));
            theirTimes.insert(theirTimes.end(), t.begin(), t.end());
        }
    }
    if (oursTimes.empty()) return bench::fail("no turn was measured");
    report("program", oursTimes);
    if (!peer || theirTimes.empty()) return 0;
    report("zathura", theirTimes);
    std::printf("ratio: %.2f\n", bench::median(oursTimes) / bench::median(theirTimes));
    return 0;
}
