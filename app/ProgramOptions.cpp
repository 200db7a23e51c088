#include "app/ProgramOptions.h"

#include "platform/core/DeviceProfile.h"

std::string ProgramOptions::usage() {
    std::string profiles;
    for (const auto& name : sys::DeviceProfile::presetNames()) profiles += (profiles.empty() ? "" : ", ") + name;
    const std::string newest = sys::DeviceProfile::systemVersions().back();
    return "usage: leafbright [--home DIR] [--device PROFILE] [--headless] [--script FILE] [--shots DIR]\n"
           "                  [--quick-action filelist|reading] [FILE-OR-URL]\n"
           "\n"
           "Leafbright, a reader for comics and image books.\n"
           "  --home DIR        keep the library and settings in DIR\n"
           "  --device PROFILE  the screen to imitate: " +
           profiles +
           "\n"
           "                    (PROFILE@" + newest + ": the same device on the newer system)\n"
           "  --headless        run without a window, on a virtual clock\n"
           "  --script FILE     play the steps of FILE, one per line, then quit\n"
           "  --shots DIR       where the pictures of \"shot\" steps go\n"
           "  --quick-action filelist|reading\n"
           "                    start at the file list (no book resumed), or resume\n"
           "                    the last book without asking\n"
           "  FILE-OR-URL       a book (or a folder of pictures) to import and open, or a URL to hand over\n"
           "  --version         print the version and exit\n"
           "  --help            print this text and exit\n";
}

std::optional<ProgramOptions> ProgramOptions::parse(const std::vector<std::string>& args, std::string* error) {
    ProgramOptions o;
    auto fail = [error](const std::string& why) -> std::optional<ProgramOptions> {
        if (error) *error = why;
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::optional<std::string>& into) -> bool {
            if (i + 1 >= args.size() || args[i + 1].empty()) return false;
            into = args[++i];
            return true;
        };
        if (a == "--version") {
            o.version = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--home") {
            if (!value(o.home)) return fail("--home needs a folder");
        } else if (a == "--device") {
            if (!value(o.device)) return fail("--device needs a profile name");
            if (!sys::DeviceProfile::named(*o.device)) return fail("unknown device profile '" + *o.device + "'");
        } else if (a == "--script") {
            if (!value(o.script)) return fail("--script needs a file");
        } else if (a == "--shots") {
            if (!value(o.shots)) return fail("--shots needs a folder");
        } else if (a == "--quick-action") {
            if (!value(o.quickAction)) return fail("--quick-action needs filelist or reading");
            if (*o.quickAction != "filelist" && *o.quickAction != "reading")
                return fail("unknown quick action '" + *o.quickAction + "' (filelist or reading)");
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown argument '" + a + "' (try --help)");
        } else {
            if (o.target) return fail("only one file or URL can be given");
            o.target = a;
        }
    }
    return o;
}
