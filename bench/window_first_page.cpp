// From start to the first page of a book given on the command line, in a
// real window: the program, zathura (with its comic-book plugin) and mcomix
// on one Xvfb screen of 1024 x 768, the same cbz of 1200 x 1800 JPEG pages,
// each from a fresh home and on a second start with the home the first left.
// A start ends when the screen shows page 1 (it carries a magenta band).
// From a fresh home the program shows its welcome page first: the benchmark
// closes it as soon as it is up, as a user does.
//
//   build/bench/window_first_page [runs]
//
// Prints the median of each, then "ratio: X.XX": the program's second start
// over mcomix's (below 1 means faster). Readers that are not installed are
// left out with a message.

// Before the X11 headers, whose macros (None, Bool) clash with them.
#include "platform/core/PropertyList.h"
#include "bench/WindowBench.h"

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;

struct Reader {
    std::string name;
    bool present = false;
    // The command and environment for a start with its home in `home`.
    std::function<std::vector<std::string>(const fs::path& home)> command;
    std::function<std::map<std::string, std::string>(const fs::path& home)> env;
    // Makes a fresh home (settings that fix the window size only).
    std::function<void(const fs::path& home)> freshHome;
    bool welcome = false;  // a fresh home shows a page to close first
    std::vector<double> fresh, second;
};

// One start: the time until page 1 is on the screen; negative when it never was.
double startOnce(bench::XScreen& screen, Reader& r, const fs::path& home, const fs::path& log) {
    // The screen is empty (black) before each start.
    screen.waitFor([&] { return screen.share(0x000000, 0) > 0.99; }, 10);
    auto env = r.env(home);
    env["DISPLAY"] = screen.display();
    const double t0 = bench::now();
    bench::Process p(r.command(home), env, log.string());
    double clicked = 0;
    const bool shown = screen.waitFor(
        [&] {
            if (bench::showsMarkedPage(screen)) return true;
            // The welcome page's Close button, again while the page fades in.
            if (r.welcome && bench::now() - clicked > 0.25 && screen.share(0xFFFFFF, 2) > 0.3) {
                screen.click(512, 728);
                clicked = bench::now();
            }
            return false;
        },
        30);
    const double t = bench::now() - t0;
    if (!shown) screen.save("/tmp/window_first_page-" + r.name + ".ppm");
    // Let it settle (write its settings) before it is ended.
    screen.waitStill(0.5, 5);
    return shown ? t : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::runsFrom(argc, argv, 5);
    bench::WorkFolder work("window_first_page");
    if (!work.made()) return 1;
    const fs::path book = bench::makeWindowBook(work);
    if (book.empty()) return 1;
    bench::XScreen screen(1024, 768);
    if (!screen.ok()) return bench::fail("could not start Xvfb");

    std::vector<Reader> readers(3);
    Reader& ours = readers[0];
    ours.name = "program";
    ours.present = fs::exists(bench::programPath());
    ours.welcome = true;
    ours.command = [&](const fs::path& home) {
        return std::vector<std::string>{bench::programPath(), "--home", home.string(), book.string()};
    };
    ours.env = [](const fs::path&) { return std::map<std::string, std::string>{}; };
    ours.freshHome = [](const fs::path& home) { fs::create_directories(home); };

    Reader& zathura = readers[1];
    zathura.name = "zathura";
    zathura.present = bench::have("zathura") && fs::exists("/usr/lib/x86_64-linux-gnu/zathura/libcb.so");
    zathura.command = [&](const fs::path& home) {
        return std::vector<std::string>{"zathura", "-c", home.string(), "--data-dir=" + (home / "data").string(),
                                        "--cache-dir=" + (home / "cache").string(), book.string()};
    };
    zathura.env = [](const fs::path&) { return std::map<std::string, std::string>{}; };
    zathura.freshHome = [](const fs::path& home) {
        fs::create_directories(home / "data");
        const std::string rc = "set window-width 1024\nset window-height 768\n";
        bench::writeBytes(home / "zathurarc", std::vector<uint8_t>(rc.begin(), rc.end()));
    };

    Reader& mcomix = readers[2];
    mcomix.name = "mcomix";
    mcomix.present = bench::have("mcomix");
    mcomix.command = [&](const fs::path&) { return std::vector<std::string>{"mcomix", book.string()}; };
    mcomix.env = [](const fs::path& home) {
        return std::map<std::string, std::string>{{"XDG_CONFIG_HOME", (home / "config").string()},
                                                  {"XDG_DATA_HOME", (home / "data").string()},
                                                  {"XDG_CACHE_HOME", (home / "cache").string()}};
    };
    mcomix.freshHome = [](const fs::path& home) {
        fs::create_directories(home / "config" / "mcomix");
        const std::string prefs = "{\"window width\": 1024, \"window height\": 768, \"window x\": 0, \"window y\": 0}";
        bench::writeBytes(home / "config" / "mcomix" / "preferences.conf",
                          std::vector<uint8_t>(prefs.begin(), prefs.end()));
    };

    for (const Reader& r : readers)
        if (!r.present) std::printf("%s is not installed: left out\n", r.name.c_str());
    if (!ours.present) return bench::fail("the program is not built");

    for (int run = 0; run < runs; ++run) {
        for (Reader& r : readers) {
            if (!r.present) continue;
            const fs::path home = work / ("home-" + r.name);
            fs::remove_all(home);
            r.freshHome(home);
            const fs::path log = work / (r.name + ".log");
            const double fresh = startOnce(screen, r, home, log);
            const double second = fresh >= 0 ? startOnce(screen, r, home, log) : -1;
            if (fresh < 0 || second < 0) {
                std::fprintf(stderr, "%s did not show the book (screen in /tmp/window_first_page-%s.ppm)\n",
                             r.name.c_str(), r.name.c_str());
                r.present = false;
                continue;
            }
            r.fresh.push_back(fresh);
            r.second.push_back(second);
        }
    }
    std::printf("start to first page, median of %d runs:\n", runs);
    for (const Reader& r : readers) {
        if (r.fresh.empty()) continue;
        std::printf("%-8s fresh home %7.0f ms   second start %7.0f ms\n", r.name.c_str(),
                    bench::median(r.fresh) * 1000, bench::median(r.second) * 1000);
    }
    if (ours.second.empty()) return bench::fail("the program was not measured");
    if (!zathura.second.empty())
        std::printf("against zathura: second start %.2f\n", bench::median(ours.second) / bench::median(zathura.second));
    if (mcomix.second.empty()) return 0;
    std::printf("ratio: %.2f\n", bench::median(ours.second) / bench::median(mcomix.second));
    return 0;
}
