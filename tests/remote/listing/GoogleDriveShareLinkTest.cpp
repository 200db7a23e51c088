// Shared Google Drive folders: pages shaped like the Drive folder page are
// read into items on the pseudo host (edge cases of the page), and a listing
// of a pseudo folder address goes to the folder page of a web base that the
// test points at its own nginx, keeping the pseudo address as the listed one.
#include "remote/listing/GoogleDriveShareLink.h"

#include "foundation/EncodeASCIIStringElements.h"
#include "remote/listing/FileDownload.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/NginxServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using Link = GoogleDriveShareLink;
using Scramble = EncodeASCIIStringElements;

std::string item(const std::string& name, const std::string& id, bool folder) {
    return std::string("<div class=\"KL4NAf\" data-x") + (folder ? " aria-label=\"Google Drive Folder\"" : "") + ">" +
           name + "</div><c-data id=i0 jsdata=\"KCtMme;" + id + ";x\"></c-data>";
}

// The part of a file address between the prefix and the name.
std::vector<std::string> parts(const std::string& url) {
    std::vector<std::string> out;
    std::string rest = url.substr(std::string(Link::kPseudoPrefix).size());
    for (size_t at; (at = rest.find('/')) != std::string::npos; rest.erase(0, at + 1)) out.push_back(rest.substr(0, at));
    out.push_back(rest);
    return out;
}

TEST(GoogleDriveShareLinkPage, ItemsTitleAndExtraParametersAreReadAsThePageHasThem) {
    const std::string base = Link::webBase();
    const std::string page =
        "<html><head><title>Team comics</title></head><body>" + item("Vol 1.cbz", "F1", false) +
        item("Issues", "D1", true) + item("a/b.zip", "F2", false) +
        // The addresses the page carries for two of the items.
        "<a href=\"" + base + "/file/d/F1/view?usp\\u003ddrivesdk\\u0026resourcekey\\u003dK1\">" + "<a href=\"" + base +
        "/drive/folders/D1?resourcekey\\u003dK2\">";
    std::string title;
    const auto list = Link::getListFromGoogleDriveLink(page, &title);
    EXPECT_EQ(title, "Team comics");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.infoList[0].getString("name"), "Vol 1.cbz");
    EXPECT_TRUE(list.infoList[0].getBool("isBook"));
    EXPECT_EQ(list.infoList[0].getString("extension"), "cbz");
    EXPECT_EQ(list.infoList[1].getInteger("order"), 1);
    EXPECT_FALSE(list.infoList[1].getBool("isBook"));

    // A file: scrambled id, scrambled percent-encoded extra query, encoded name.
    auto p = parts(list.fileList[0]);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(Scramble::stringDecodeASCIIStringElements(p[0]), "F1");
    // "usp=drivesdk" taken out leaves "&resourcekey=K1", kept as it is.
    EXPECT_EQ(Scramble::stringDecodeASCIIStringElements(p[1]), "%26resourcekey%3DK1");
    EXPECT_EQ(p[2], "Vol%201.cbz");
    // Without extra parameters the middle part is "non"; a "/" in a name stays in one component.
    p = parts(list.fileList[2]);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(Scramble::stringDecodeASCIIStringElements(p[1]), "non");
    EXPECT_EQ(p[2], "a%2Fb.zip");
    // A folder: its id and query, listed again through its folder page.
    EXPECT_EQ(Link::folderPageURL(list.fileList[1]), base + "/drive/folders/D1?resourcekey=K2");
}

TEST(GoogleDriveShareLinkPage, MarkersOfLaterItemsAndBrokenItemsDoNotMisleadTheRead) {
    // The folder text of the second item is not the first item's.
    std::string page = item("first.zip", "A", false) + item("Second", "B", true);
    auto list = Link::getListFromGoogleDriveLink(page, nullptr);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list.infoList[0].getBool("isBook"));
    EXPECT_FALSE(list.infoList[1].getBool("isBook"));
    // An identifier without its closing ";" ends the read; what came before stays.
    page = item("kept.zip", "A", false) + "<div class=\"KL4NAf\">lost.zip<c-data jsdata=\"KCtMme;B";
    list = Link::getListFromGoogleDriveLink(page, nullptr);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.infoList[0].getString("name"), "kept.zip");
    // Over-long pieces are not read.
    page = item(std::string(600, 'n'), "A", false);
    EXPECT_EQ(Link::getListFromGoogleDriveLink(page, nullptr).size(), 0u);
    page = item("x.zip", std::string(200, 'i'), false);
    EXPECT_EQ(Link::getListFromGoogleDriveLink(page, nullptr).size(), 0u);
    // A page without items is an empty listing.
    std::string title = "unset";
    EXPECT_EQ(Link::getListFromGoogleDriveLink("<html>nothing</html>", &title).size(), 0u);
    EXPECT_EQ(title, "unset");
    EXPECT_EQ(Link::folderPageURL("https://example.com/x"), std::nullopt);
}

struct Outcome : FileDownloadDelegate {
    void finishListDownload(const std::optional<std::vector<std::string>>& files,
                            const std::optional<std::vector<sys::PlistDictionary>>& infos,
                            const std::optional<std::string>& title, const std::optional<std::string>& url,
                            const std::optional<std::string>& msg, bool) override {
        ++count;
        fileList = files;
        infoList = infos;
        listTitle = title;
        withURL = url;
        message = msg;
    }
    void passwordRequested(const std::string&, bool) override { ++count; }
    void cancelListDownload() override { ++count; }
    int count = 0;
    std::optional<std::vector<std::string>> fileList;
    std::optional<std::vector<sys::PlistDictionary>> infoList;
    std::optional<std::string> listTitle, withURL, message;
};

class GoogleDriveShareLinkListing : public test::VirtualClockTest {
protected:
    void TearDown() override {
        Link::setWebBaseForTesting("");
        VirtualClockTest::TearDown();
    }
};

TEST_F(GoogleDriveShareLinkListing, APseudoFolderIsListedFromItsFolderPageAndKeepsItsAddress) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
    test::TempDir www("drivewww");
    std::filesystem::create_directories(www.file("drive/folders"));
    test::NginxServer nginx;
    nginx.setLocationConfig("default_type text/html;");
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
    const std::string base = nginx.url("");
    Link::setWebBaseForTesting(base.back() == '/' ? base.substr(0, base.size() - 1) : base);
    std::ofstream(www.file("drive/folders/SHARED1")) << "<title>Club shelf</title>" << item("One.cbz", "F9", false)
                                                       << item("More", "D9", true);

    const std::string pseudo = std::string(Link::kPseudoPrefix) + Scramble::stringEncodeASCIIStringElements("SHARED1");
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    // Credentials never go to the public page.
    fd->getFileListFromUrl(pseudo, std::nullopt, std::string("someone"), std::string("secret"), true, nullptr);
    ASSERT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
    EXPECT_EQ(out->count, 1);
    EXPECT_EQ(out->withURL, pseudo);
    EXPECT_EQ(out->listTitle, "Club shelf");
    ASSERT_TRUE(out->fileList);
    ASSERT_EQ(out->fileList->size(), 2u);
    EXPECT_EQ((*out->infoList)[0].getString("name"), "One.cbz");
    ASSERT_TRUE(nginx.waitForRequests(1));
    EXPECT_EQ(nginx.requests().front().target, "/drive/folders/SHARED1");
}

}  // namespace
