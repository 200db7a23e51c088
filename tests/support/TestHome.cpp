#include "tests/support/TestHome.h"

#include "LeafbrightPaths.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    fs::path base = fs::path(LEAFBRIGHT_TEST_WORK) / ("p" + std::to_string(::getpid()));
    fs::create_directories(base);
    fs::path p = base / (tag + "-" + std::to_string(counter.fetch_add(1)));
    fs::remove_all(p);
    fs::create_directories(p);
    path_ = p.string();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string patternBytes(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + i / 509 + size_t(seed)) & 0xFF);
    return s;
}

std::string dataPath(const std::string& relative) {
    return std::string(LEAFBRIGHT_TEST_DATA) + "/" + relative;
}

std::string sourceDir() { return LEAFBRIGHT_SOURCE_DIR; }

std::string workDir() { return LEAFBRIGHT_TEST_WORK; }

int shell(const std::string& command) {
    int rc = std::system(command.c_str());
    if (rc == -1) return -1;
    if (WIFEXITED(rc)) return WEXITSTATUS(rc);
    return -1;
}

bool haveProgram(const std::string& name) {
    return shell("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

}  // namespace test
