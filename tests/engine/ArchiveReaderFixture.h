#pragma once

// What the tests of the zip and RAR readers on a local disk share: pages of
// one colour each (the colour tells which page was decoded) and text files
// written into src/, archives packed into out/ by the real tool, natural
// name order while a test runs, and the checks of a page's result.

#include "engine/PageReader.h"
#include "foundation/ArraySort.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test {

// Runs `command` in `dir` (quietly); true on success.
inline bool runIn(const std::string& dir, const std::string& command) {
    return shell("cd '" + dir + "' && " + command + " >/dev/null 2>&1") == 0;
}

// The reader's page names without their closing NUL byte (which every name must have).
inline std::vector<std::string> pageNamesOf(const PageReader& r) {
    std::vector<std::string> out;
    for (const auto& n : r.getPageNameList()) {
        EXPECT_TRUE(!n.empty() && n.back() == '\0') << "page names end with their NUL byte";
        out.push_back(n.substr(0, n.size() - 1));
    }
    return out;
}

// `Reader` is the reader class under test; `packer` the program that makes
// its archives (the tests skip without it).
template <class Reader>
class ArchiveReaderFixture : public ::testing::Test {
protected:
    ArchiveReaderFixture(const char* packer, const std::string& tag)
        : src(tag + "src"), out(tag + "out"), packer_(packer) {}

    void SetUp() override {
        savedSort_ = ArraySort::sortMode();
        ArraySort::setSortMode(ArraySort::kNatural);
        if (!haveProgram(packer_)) GTEST_SKIP() << "no " << packer_;
    }
    void TearDown() override { ArraySort::setSortMode(savedSort_); }

    // A small lossless page in src/, whose colour tells which one was decoded.
    void page(const std::string& name, int colourNo) {
        const std::string path = src.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(writeBmp(path, 12, 16, [&](int, int) { return pageColour(colourNo, false); }));
    }
    void text(const std::string& name, const std::string& body) {
        const std::string path = src.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(sys::FileManager::writeFile(path, body, false));
    }

    // Page `page` must decode to a page of colour `colourNo`.
    void expectPage(PageReader& r, int page, int colourNo) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        ASSERT_EQ(result, PageReader::kResultImage) << "page " << page;
        ASSERT_TRUE(image);
        EXPECT_TRUE(colourNear(image->pixel(3, 3), pageColour(colourNo, false))) << "page " << page;
    }
    // The result of loading `page`; an image comes exactly with kResultImage.
    int resultOf(PageReader& r, int page) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        EXPECT_EQ(bool(image), result == PageReader::kResultImage);
        return result;
    }

    std::shared_ptr<Reader> open(const std::string& path, std::optional<std::string> password = std::nullopt,
                                 std::optional<std::string> folder = std::nullopt) {
        auto r = std::make_shared<Reader>();
        EXPECT_TRUE(r->openFile(path, password, folder, false, false)) << path;
        return r;
    }

    TempDir src;
    TempDir out;

private:
    const char* packer_;
    int savedSort_ = 0;
};

}  // namespace test
