#include "foundation/BookCommon.h"
#include "foundation/QNTextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string escaped(const char* name, size_t capacity = 64) {
    std::string buf(capacity, '\0');
    buf.resize(BookCommon::escapeUndecodableName(name, buf.data(), buf.size()));
    return buf;
}

}  // namespace

TEST(BookCommonNamesTest, EscapingKeepsSlashesUnlessTheyTrailAShiftJISLeadByte) {
    // ソ is 83 5C: its 5C is no path separator.
    EXPECT_EQ(escaped("dir/\x83\x5C.jpg"), "dir/%83%5C.jpg");
    EXPECT_EQ(escaped("a\\b/c"), "a\\b/c");
    EXPECT_EQ(escaped("\\lead"), "\\lead");  // nothing before the first byte
    EXPECT_EQ(escaped("\xE0/x"), "%E0%2Fx");
    EXPECT_EQ(escaped("\xA0/x"), "%A0/x");  // not a lead byte
    EXPECT_EQ(escaped("a b%~"), "a%20b%25~");
    EXPECT_EQ(escaped("\x83\x5C", 4), "%83");  // cut to the buffer
}

TEST(BookCommonNamesTest, FolderPathStringDecodesAndFlattens) {
    QNTextEncoding::setDefaultCharset(std::nullopt);
    EXPECT_EQ(BookCommon::getFolderPathStringFromCString("dir/page01.jpg", false), "dir/page01.jpg");
    EXPECT_EQ(BookCommon::getFolderPathStringFromCString("dir/page01.jpg", true), "dir%2Fpage01.jpg");
    EXPECT_EQ(BookCommon::getFolderPathStringFromCString("\x83\x5C/\x95\x5C.png", true), "ソ%2F表.png");
    EXPECT_EQ(BookCommon::getFolderPathStringFromCString("", false), "");
}

TEST(BookCommonNamesTest, NFDDecomposes) {
    EXPECT_EQ(BookCommon::getNFDString("caf\xC3\xA9"), "cafe\xCC\x81");
    EXPECT_EQ(BookCommon::getNFDString("\xE3\x82\xAC"), "\xE3\x82\xAB\xE3\x82\x99");  // ガ -> カ + voiced mark
    EXPECT_EQ(BookCommon::getNFDString("plain"), "plain");
    EXPECT_FALSE(BookCommon::renameFileToNfdWithFilepath("/nonexistent/caf\xC3\xA9", false).has_value());
}
