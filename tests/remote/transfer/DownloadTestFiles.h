#pragma once

// What the download tests share: files written and read whole, payloads of
// a repeating byte pattern (one per seed), a delegate that records what a
// download says, and a fixture with folders, settings and no temporary
// download file left from before.

#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/HttpDownloadDelegate.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace test {

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

class DownloadFixture : public VirtualClockTest {
protected:
    using Recorder = DownloadRecorder;

    static void writeFile(const std::string& path, const std::string& bytes) { test::writeFile(path, bytes); }
    static std::string readFile(const std::string& path) { return test::readFile(path); }

    // `n` bytes that do not repeat within a block and differ for each seed.
    static std::string pattern(size_t n, int seed = 0) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + i / 977 + seed) & 0xFF);
        return s;
    }

    void SetUp() override {
        VirtualClockTest::SetUp();
        std::filesystem::remove(temp(HttpDownload::kTempFileName));
        std::filesystem::remove(temp(HttpDownload::kSideFileName));
        settings_ = std::make_shared<Settings>(settingsDir_.path());
        setMode("rename");
    }

    // A file of the downloads' shared temporary folder.
    static std::string temp(const char* name) { return HttpDownload::temporaryFolder() + "/" + name; }
    void setMode(const char* mode) { settings_->setValueForKey("overWriteMode", sys::PlistValue(mode)); }
    // Runs the main loop until `rec` has its one result, and gives it (-1 when none came).
    int resultOf(DownloadRecorder& rec) {
        EXPECT_TRUE(loop().runUntil([&] { return !rec.results.empty(); }, 60));
        EXPECT_EQ(rec.results.size(), 1u);
        return rec.results.empty() ? -1 : rec.results.front();
    }

    TempDir www_{"www"};
    TempDir out_{"out"};
    TempDir settingsDir_{"settings"};
    std::shared_ptr<Settings> settings_;
};

}  // namespace test
