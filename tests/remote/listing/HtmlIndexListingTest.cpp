#include "remote/listing/HtmlIndexListing.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const RemoteFileEntry& e) {
    std::vector<std::string> out;
    for (const auto& i : e.infoList) out.push_back(i.getString("name"));
    return out;
}

TEST(HtmlIndexListingTest, CompanionPagesCarryTheirAttributes) {
    const std::string page =
        "<html><body>"
        "<a href=\"b1.zip\" booktitle=\"Book &amp; One\" booksize=\"1234\" bookdate=\"1600000000\" "
        "bookfile=\"TRUE\">cover</a>\n"
        "<a href=\"dir/\" booktitle=\"Locked\" lbexpand=\"1\" passcode=\"yes\">d</a>\n"
        "<a href=\"%E6%BC%AB.cbz\" booktitle=\"../../etc/passwd\" bookfile=\"true\">x</a>"
        "</body></html>";
    RemoteFileEntry e = HtmlIndexListing::getListFromHyperHtml(page, "http://h:8080/shelf/", 0);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e.fileList[0], "http://h:8080/shelf/b1.zip");
    EXPECT_EQ(e.infoList[0].getString("name"), "Book & One");
    EXPECT_EQ(e.infoList[0].getString("booksize"), "1234");
    EXPECT_EQ(e.infoList[0].getString("bookdate"), "1600000000");
    EXPECT_TRUE(e.infoList[0].getBool("isBook"));
    EXPECT_EQ(e.infoList[0].getInteger("order"), 0);
    EXPECT_EQ(e.fileList[1], "http://h:8080/shelf/dir/");
    EXPECT_EQ(e.infoList[1].getString("lbexpand"), "1");
    EXPECT_EQ(e.infoList[1].getString("passcode"), "yes");
    EXPECT_FALSE(e.infoList[1].getBool("isBook"));
    EXPECT_FALSE(e.infoList[1].contains("booksize"));
    EXPECT_EQ(e.infoList[1].getInteger("order"), 1);
    // A title is only shown; the URL stays the link's.
    EXPECT_EQ(e.fileList[2], "http://h:8080/shelf/%E6%BC%AB.cbz");
    EXPECT_EQ(e.infoList[2].getString("name"), "../../etc/passwd");
}

TEST(HtmlIndexListingTest, ServerIndexesLoseNavigationLinksAndKeepEntries) {
    const std::string page =
        "<HTML><BODY><TABLE>"
        "<tr><th><a href=\"?C=N;O=D\">Name</a></th><th><a href=\"?C=M;O=A\">Last modified</a></th></tr>"
        "<tr><td><a href=\"/books/\">Parent Directory</a></td></tr>"
        "<a href=\"../\">../</a>"
        "<a href=\".hidden.zip\">.hidden.zip</a>"
        "<a href=\"./\">this</a>"
        "<a href=\"/books/comics/\">myself</a>"
        "<A HREF=Upper.CBZ>Upper</A>"
        "<a href=\"sub%20dir/\">sub dir/</a>"
        "<a href=\"https://elsewhere.example/x.cbr\">mirror</a>"
        "<a href=\"notes.txt\">notes.txt</a>"
        "<abbr title=\"a\">no link</abbr>"
        "<a href=\"%E6%BC%AB%E7%94%BB.zip\"></a>"
        "</TABLE></BODY></HTML>";
    RemoteFileEntry e = HtmlIndexListing::getListFromHyperHtml(page, "http://h/books/comics/", 0);
    EXPECT_EQ(names(e), (std::vector<std::string>{"Upper", "sub dir", "mirror", "notes.txt", "漫画.zip"}));
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e.fileList[0], "http://h/books/comics/Upper.CBZ");
    EXPECT_EQ(e.fileList[1], "http://h/books/comics/sub%20dir/");
    EXPECT_EQ(e.fileList[2], "https://elsewhere.example/x.cbr");
    EXPECT_EQ(e.infoList[4].getInteger("order"), 4);
    EXPECT_TRUE(RemoteFileEntry::isFolder(e.fileList[1], sys::PlistDictionary{}));

    // Named by their files instead of their link texts.
    RemoteFileEntry byFile = HtmlIndexListing::getListFromHyperHtml(page, "http://h/books/comics/", 1);
    EXPECT_EQ(names(byFile), (std::vector<std::string>{"Upper.CBZ", "sub dir", "x.cbr", "notes.txt", "漫画.zip"}));

    EXPECT_EQ(HtmlIndexListing::getListFromHyperHtml("", "http://h/", 0).size(), 0u);
    EXPECT_EQ(HtmlIndexListing::getListFromHyperHtml(std::string("\0\0<a", 4), "http://h/", 0).size(), 0u);
}

}  // namespace
