#pragma once

// Timing and process helpers shared by the benchmark programs. Header only:
// every bench/*.cpp is a program of its own.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

// A fresh folder under /tmp for one benchmark's files; "" (and a message) when
// none could be made.
inline std::string makeWorkFolder(const std::string& name) {
    std::string path = "/tmp/" + name + ".XXXXXX";
    if (!mkdtemp(path.data())) {
        std::perror("mkdtemp");
        return {};
    }
    return path;
}

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
