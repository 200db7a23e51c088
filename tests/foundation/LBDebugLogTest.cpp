#include "foundation/LBDebugLog.h"
#include "platform/core/Date.h"
#include "platform/core/UserDefaults.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        LBDebugLog::deleteInstance();
        sys::UserDefaults::standard().setBool(true, "enable_bookmarktest");
    }
    void TearDown() override {
        LBDebugLog::deleteInstance();
        sys::UserDefaults::standard().setBool(false, "enable_bookmarktest");
        sys::Date::setNowSource(nullptr);
    }
};

TEST_F(DebugLogTest, KeepsTheLastHundredLinesWithARunningCounter) {
    EXPECT_EQ(LBDebugLog::getDebugLog(), std::nullopt) << "no line written yet";
    for (int i = 1; i <= 101; ++i) LBDebugLog::writeDebugLog("line " + std::to_string(i), 0);
    std::string log = *LBDebugLog::getDebugLog();
    std::vector<std::string> lines;
    for (size_t start = 0, nl; (nl = log.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(log.substr(start, nl - start));
    }
    ASSERT_EQ(lines.size(), 100u);
    std::regex first(R"(\[2\]\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\]line 2)");
    EXPECT_TRUE(std::regex_match(lines.front(), first)) << lines.front();
    EXPECT_EQ(lines.back().substr(0, 5), "[101]");
    EXPECT_EQ(lines.back().substr(lines.back().size() - 8), "line 101");
}

TEST_F(DebugLogTest, LinesJoinTheSecondPartAndUseJapanTime) {
    // 2026-12-31 15:30:05 UTC is already the new year in Japan.
    sys::Date::setNowSource([] { return 1798731005.0; });
    LBDebugLog::writeDebugLog("ERR:getFilePage", std::string("/books/.a.lbsz"), 0);
    EXPECT_EQ(LBDebugLog::getDebugLog(), "[1][2027/01/01 00:30:05]ERR:getFilePage,/books/.a.lbsz\n");
}

TEST_F(DebugLogTest, DisabledLogSaysSoAndKeepsNothing) {
    sys::UserDefaults::standard().setBool(false, "enable_bookmarktest");
    LBDebugLog::writeDebugLog("x", 0);
    EXPECT_EQ(LBDebugLog::getDebugLog(), "[Debuglog is disabled]");
    sys::UserDefaults::standard().setBool(true, "enable_bookmarktest");
    EXPECT_EQ(LBDebugLog::getDebugLog(), std::nullopt);
}

}  // namespace
