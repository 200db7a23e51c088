#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line:
//   leafbright [--home DIR] [--device PROFILE] [--headless] [--script FILE]
//              [--shots DIR] [--quick-action filelist|reading] [FILE-OR-URL]
// plus --version and --help.
class ProgramOptions {
public:
    std::optional<std::string> home;
    std::optional<std::string> device;
    bool headless = false;
    std::optional<std::string> script;
    std::optional<std::string> shots;
    std::optional<std::string> target;  // a file or URL to hand to the application
    // The home-screen quick action the run starts with ("filelist", "reading").
    std::optional<std::string> quickAction;
    bool version = false;
    bool help = false;

    // Nothing (and the reason) for an unknown flag, a flag without its
    // value, an unknown device profile or a second file argument.
    static std::optional<ProgramOptions> parse(const std::vector<std::string>& args, std::string* error);
    static std::string usage();
};
