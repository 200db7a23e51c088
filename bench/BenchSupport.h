#pragma once

// Timing and process helpers shared by the benchmark programs. Header only:
// every bench/*.cpp is a program of its own.

#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"
#include "LeafbrightPaths.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

// A fresh folder under /tmp for one benchmark's files; "" (and a message) when
// none could be made.
// `inMemory`: on /dev/shm where there is one, so that what a benchmark
// writes is never held up by the disk's write-back (other programs' writes
// throttle ours at random and make a figure vary from run to run).
inline std::string makeWorkFolder(const std::string& name, bool inMemory = false) {
    const bool shm = inMemory && ::access("/dev/shm", W_OK) == 0;
    std::string path = std::string(shm ? "/dev/shm/" : "/tmp/") + name + ".XXXXXX";
    if (!mkdtemp(path.data())) {
        std::perror("mkdtemp");
        return {};
    }
    return path;
}

// A work folder (makeWorkFolder) that goes, with everything in it, when the
// benchmark ends, whichever way it ends.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& name, bool inMemory = false) : path_(makeWorkFolder(name, inMemory)) {}
    ~WorkFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool made() const { return !path_.empty(); }
    std::filesystem::path path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }

private:
    std::string path_;
};

// The number of runs: argv[1], else `defaultRuns`.
inline int runsFrom(int argc, char** argv, int defaultRuns) {
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : defaultRuns;
}

// What a benchmark of the reading engine starts with: the main run loop on
// this thread and the desktop device. Gives the number of runs.
inline int startEngineBench(int argc, char** argv, int defaultRuns) {
    sys::RunLoop::main().bindToCurrentThread();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));
    return runsFrom(argc, argv, defaultRuns);
}

// The program's home (settings, caches) in the work folder's "home".
inline void useHomeIn(const WorkFolder& work) {
    std::filesystem::create_directories(work / "home");
    ::setenv("LEAFBRIGHT_HOME", (work / "home").c_str(), 1);
}

// Says why the benchmark stops; gives its exit status.
inline int fail(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

inline std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

// A file of `megabytes` MiB of fixed noise that compresses badly; the MiB
// blocks differ in their first byte.
inline void writeNoiseFile(const std::filesystem::path& path, size_t megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = char((i * 2654435761u) >> 13);
    for (size_t m = 0; m < megabytes; ++m) {
        block[0] = char(m);
        out.write(block.data(), std::streamsize(block.size()));
    }
}

// The made-up books' pages: page `i` (from 0) is named "page0001.jpg"... so
// that names sort in page order, and draws on the tests' sample pages in turn.
inline std::string pageName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "page%04d.jpg", i + 1);
    return name;
}
inline std::filesystem::path samplePage(int i) {
    static const char* const kNames[] = {"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "07.jpg", "08.jpg"};
    return std::filesystem::path(LEAFBRIGHT_SOURCE_DIR) / "tests" / "data" / "pages" / kNames[size_t(i) % 7];
}

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The medians of both sides, then the headline "ratio: X.XX" (ours over
// theirs; below 1 means faster).
inline void printRatio(const char* oursLabel, const std::vector<double>& ours, const char* theirsLabel,
                       const std::vector<double>& theirs) {
    const double mo = median(ours), mt = median(theirs);
    std::printf("%-34s %8.2f ms\n", oursLabel, mo * 1000);
    std::printf("%-34s %8.2f ms\n", theirsLabel, mt * 1000);
    std::printf("ratio: %.2f\n", mo / mt);
}

// Runs a shell command with its output thrown away; true when it succeeds.
inline bool shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Runs a program directly (no shell in the measured time); with `quiet`, its
// standard output is thrown away.
inline bool spawn(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = posix_spawnp(&pid, argv[0], quiet ? &actions : nullptr, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
