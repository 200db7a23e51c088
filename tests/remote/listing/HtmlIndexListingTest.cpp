#include "remote/listing/HtmlIndexListing.h"

#include "tests/support/ChildProcess.h"

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
    EXPECT_EQ(e.infoList[0].get("booksize"), sys::PlistValue(int64_t(1234)));
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

    // A size that is not a whole number of bytes is none.
    for (const char* bad : {"12 KB", "-3", "1e6", "", "99999999999999999999"}) {
        const RemoteFileEntry odd = HtmlIndexListing::getListFromHyperHtml(
            std::string("<a href=\"b.zip\" booktitle=\"b\" booksize=\"") + bad + "\" bookfile=\"true\">b</a>",
            "http://h/", 0);
        ASSERT_EQ(odd.size(), 1u) << bad;
        EXPECT_FALSE(odd.infoList[0].contains("booksize")) << bad;
    }
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
    // The link to another server is no entry of this folder.
    EXPECT_EQ(names(e), (std::vector<std::string>{"Upper", "sub dir", "notes.txt", "漫画.zip"}));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e.fileList[0], "http://h/books/comics/Upper.CBZ");
    EXPECT_EQ(e.fileList[1], "http://h/books/comics/sub%20dir/");
    EXPECT_EQ(e.infoList[3].getInteger("order"), 3);
    EXPECT_TRUE(RemoteFileEntry::isFolder(e.fileList[1], sys::PlistDictionary{}));

    // Named by their files instead of their link texts.
    RemoteFileEntry byFile = HtmlIndexListing::getListFromHyperHtml(page, "http://h/books/comics/", 1);
    EXPECT_EQ(names(byFile), (std::vector<std::string>{"Upper.CBZ", "sub dir", "notes.txt", "漫画.zip"}));

    EXPECT_EQ(HtmlIndexListing::getListFromHyperHtml("", "http://h/", 0).size(), 0u);
    EXPECT_EQ(HtmlIndexListing::getListFromHyperHtml(std::string("\0\0<a", 4), "http://h/", 0).size(), 0u);
}

// A file browser's page (as caddy writes it): entries as "./Name/", sort
// links as queries, breadcrumbs and "Go up" leading up the tree, link texts
// indented around pictures, a footer link to the server's project.
TEST(HtmlIndexListingTest, RelativeNamesAreEntriesAndNavigationNeverIs) {
    const std::string page = R"(<html><body><header><h1>
        <a href="../">/</a><a href="">漫画 A</a>/</h1></header>
      <table><thead><tr><th><a href="?sort=namedirfirst&order=desc" class="icon"><svg><use xlink:href="#up-arrow"></use></svg></a>
        <a href="?sort=name&order=asc">Name</a></th><th><a href="?C=S;O=A">Size</a></th></tr></thead>
      <tbody>
        <tr><td><a href="..">
              <span class="goup">Go up</span>
            </a></td></tr>
        <tr><td><a href="./Inner%20Folder/">
              <svg><use xlink:href="#folder"></use></svg>
              <span class="name">Inner Folder/</span>
            </a></td></tr>
        <tr><td><a href="./b%20one.cbz">
              <span class="name">b one.cbz</span></a></td></tr>
        <tr><td><a href=" ./c.zip ">c.zip</a></td></tr>
        <tr><td><a href="./.hidden.cbz">.hidden.cbz</a></td></tr>
        <tr><td><a href="./">.</a></td></tr>
        <tr><td><a href="#top">top</a></td></tr>
      </tbody></table>
      <a href="ftp://127.0.0.1/pub/x.cbz">by FTP</a> <a href="smb://127.0.0.1/share/y.cbz">on the share</a>
      <a href="http://127.0.0.1:9999/books/%E6%BC%AB%20A/z.cbz">same host, other port</a>
      <a href="https://127.0.0.1:8080/books/%E6%BC%AB%20A/z.cbz">same port, other scheme</a>
      <a href="/books/">books</a> <a href="/books/other/w.cbz">a sibling folder's book</a>
      <footer>Served with <a rel="noopener noreferrer" href="https://caddyserver.com">Caddy</a></footer>
    </body></html>)";
    for (const std::string listed : {"http://127.0.0.1:8080/books/%E6%BC%AB%20A/",
                                     "http://127.0.0.1:8080/books/%E6%BC%AB%20A/index.html"}) {
        RemoteFileEntry e = HtmlIndexListing::getListFromHyperHtml(page, listed, 0);
        EXPECT_EQ(names(e), (std::vector<std::string>{"Inner Folder", "b one.cbz", "c.zip"})) << listed;
        ASSERT_EQ(e.size(), 3u);
        EXPECT_EQ(e.fileList[0], "http://127.0.0.1:8080/books/%E6%BC%AB%20A/Inner%20Folder/");
        EXPECT_EQ(e.fileList[1], "http://127.0.0.1:8080/books/%E6%BC%AB%20A/b%20one.cbz");
        EXPECT_EQ(e.fileList[2], "http://127.0.0.1:8080/books/%E6%BC%AB%20A/c.zip");
    }

    // The parent link however written, and the same folder in lower-case
    // escapes (still this folder's entry).
    const std::string apache =
        "<pre><img src=\"/icons/back.gif\"> <a href=\"/books/\"> Parent Directory </a>\n"
        "<a href=\"../\">Up</a> <a href=\"/books/%e6%bc%ab%20A/d.cbz\">d.cbz</a>\n"
        "<a href=\"a%20very%20long%20name%20of%20a%20comic%20volume%2001.cbz\">a very long name of a..&gt;</a>\n"
        "<a href=\"%E6%BC%AB%E7%94%BB%E3%81%AE%E9%95%B7%E3%81%84%E5%90%8D%E5%89%8D/\">\xE6\xBC\xAB\xE7\x94\xBB\xE3\x81..&gt;</a>\n"
        "<a href=\"What..%3E/\">What..&gt;</a></pre>";
    RemoteFileEntry up = HtmlIndexListing::getListFromHyperHtml(apache, "http://h/books/%E6%BC%AB%20A/", 0);
    // Names cut short by the server are read whole from their targets.
    EXPECT_EQ(names(up), (std::vector<std::string>{"d.cbz", "a very long name of a comic volume 01.cbz",
                                                   "漫画の長い名前", "What..>"}));
}

// A hostile index nests its links without end, or writes a link text of
// megabytes: text inside a link belongs to every link around it, so either
// would cost the depth times the text. Listed in a child, whose peak memory
// is what the listing took.
TEST(HtmlIndexListingTest, DeepLinksAndHugeLinkTextsCostLittle) {
    std::string deep = "<html><body>";
    for (int i = 0; i < 20000; ++i) deep += "<a href=\"n" + std::to_string(i) + ".cbz\"><span>";
    deep += std::string(20000, 'x');
    std::string wordy = "<html><body>";
    for (int i = 0; i < 32; ++i) wordy += "<a href=\"w" + std::to_string(i) + ".cbz\"><span>";
    wordy += std::string(8u << 20, 'y');
    struct Outcome {
        uint64_t growth = 0;
        size_t entries = 0;
        size_t longestName = 0;
    };
    for (const std::string* page : {&deep, &wordy}) {
        const Outcome o = test::inChildProcess<Outcome>(
            [&] {
                Outcome r;
                const uint64_t before = test::peakResident();
                RemoteFileEntry e = HtmlIndexListing::getListFromHyperHtml(*page, "http://h/", 0);
                r.growth = test::peakResident() - before;
                r.entries = e.size();
                for (const auto& info : e.infoList) r.longestName = std::max(r.longestName, info.getString("name").size());
                return r;
            },
            Outcome{});
        EXPECT_GT(o.entries, 0u);
        EXPECT_LT(o.growth, 64ull << 20) << o.growth / (1 << 20) << " MB for " << o.entries << " entries";
        EXPECT_LE(o.longestName, 16384u);
    }
}

// A page's links are handed on as they end, not held to the page's end: an
// index at the size limit holds hundreds of thousands.
TEST(HtmlIndexListingTest, LinksAreHandedOnAsTheyEnd) {
    std::string page = "<html><body><pre>";
    for (int i = 0; i < 20000; ++i) page += "<a href=\"v" + std::to_string(i) + ".cbz\">v" + std::to_string(i) + ".cbz</a>\n";
    page += "</pre></body></html>";
    size_t held = 0;
    EXPECT_EQ(HtmlIndexListing::getListFromHyperHtml(page, "http://h/", 0, &held).size(), 20000u);
    EXPECT_LE(held, 2u);
}

}  // namespace
