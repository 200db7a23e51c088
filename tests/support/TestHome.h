#pragma once

#include <cstddef>
#include <string>

namespace test {

// A fresh, empty folder under the build's test work area, removed with its
// contents when the object goes away. Every test that writes files gets its own.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// The whole file as bytes ("" when it cannot be read), and a file written
// whole (replacing what was there).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// `n` bytes that do not repeat within a block and differ for each seed.
std::string patternBytes(size_t n, int seed = 0);

// Absolute path of a file under tests/data.
std::string dataPath(const std::string& relative);

// The source tree, and the build's test work area (snapshots, homes, server folders).
std::string sourceDir();
std::string workDir();

// Runs a shell command; returns its exit status (-1 when it could not run).
int shell(const std::string& command);

// True when a program is on the PATH (tests that need a real tool skip without it).
bool haveProgram(const std::string& name);

}  // namespace test
