#pragma once

// What the download tests share: files written and read whole, payloads of
// a repeating byte pattern (one per seed), and a delegate that records what
// a download says.

#include "remote/transfer/HttpDownloadDelegate.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// `n` bytes that do not repeat within a block and differ for each seed.
inline std::string pattern(size_t n, int seed = 0) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + i / 977 + seed) & 0xFF);
    return s;
}

struct DownloadRecorder : HttpDownloadDelegate {
    // Status 0 is the connect; the others carry the bytes so far.
    void onChangeHttpDownloadStatus(int status, int64_t size) override {
        if (status == 0) ++connects;
        else lastSize = size;
    }
    void onConnected(const std::string& name, int64_t size) override {
        connectedName = name;
        fileSize = size;
    }
    void setStartOffset(int64_t offset) override { startOffset = offset; }
    void onFinishConnection(int r) override { results.push_back(r); }
    int connects = 0;
    int64_t lastSize = 0, fileSize = -2, startOffset = -1;
    std::string connectedName;
    std::vector<int> results;
};

}  // namespace test
