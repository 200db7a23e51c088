// Shared Google Drive folders: pages shaped like the Drive folder page are
// read into items on the pseudo host (edge cases of the page), and a listing
// of a pseudo folder address goes to the folder page of a web base that the
// test points at its own nginx, keeping the pseudo address as the listed one.
#include "remote/listing/GoogleDriveShareLink.h"

#include "foundation/EncodeASCIIStringElements.h"
#include "foundation/Settings.h"
#include "platform/core/Keychain.h"
#include "remote/listing/FileDownload.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/StuckNameLookup.h"
#include "tests/remote/listing/ListingOutcome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

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

using Outcome = test::ListingOutcome;

class GoogleDriveShareLinkListing : public test::VirtualClockTest {
protected:
    void TearDown() override {
        Link::setWebBaseForTesting("");
        Link::setDownloadBaseForTesting("");
        VirtualClockTest::TearDown();
    }
};

std::string fileURL(const std::string& id, const std::string& extra, const std::string& name) {
    return std::string(Link::kPseudoPrefix) + Scramble::stringEncodeASCIIStringElements(id) + "/" +
           Scramble::stringEncodeASCIIStringElements(extra) + "/" + name;
}

TEST(GoogleDriveShareLinkFiles, APseudoFileBecomesItsPublicDownloadAddress) {
    const std::string base = Link::downloadBase();
    EXPECT_EQ(Link::downloadURL(fileURL("F1", "%26resourcekey%3DK1", "Vol%201.cbz")),
              base + "/download?id=F1&resourcekey=K1&export=download&confirm=t");
    // "non" stands for no extra parameters.
    EXPECT_EQ(Link::downloadURL(fileURL("F-2_x", "non", "a.zip")), base + "/download?id=F-2_x&export=download&confirm=t");
    EXPECT_TRUE(Link::isPseudoFileURL(fileURL("F1", "non", "a.zip")));
    // Folders, other hosts, missing parts and unsound pieces give no address.
    EXPECT_EQ(Link::downloadURL(std::string(Link::kPseudoPrefix) + Scramble::stringEncodeASCIIStringElements("D1")),
              std::nullopt);
    EXPECT_EQ(Link::downloadURL("https://example.com/a/b/c.zip"), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL("F1", "non", "")), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL("F1", "non", "a.zip") + "?x=1"), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL("F1&export=x", "non", "a.zip")), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL("F1", "%26a%3Db%20c", "a.zip")), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL("F1", "%26a%23frag", "a.zip")), std::nullopt);
    EXPECT_EQ(Link::downloadURL(fileURL(std::string(200, 'i'), "non", "a.zip")), std::nullopt);
}

struct Saved : HttpDownloadDelegate {
    void onFinishConnection(int r) override { results.push_back(r); }
    std::vector<int> results;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A shared folder's files are read in place and downloaded from the public
// download address (an nginx that serves /download?id=... from its files
// folder), with the page's extra parameters and without credentials.
TEST_F(GoogleDriveShareLinkListing, FilesOfASharedFolderAreStreamedAndDownloaded) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
    if (!test::haveProgram("zip")) GTEST_SKIP() << "zip is not installed";
    sys::Keychain::setShared(sys::Keychain::inMemory());
    RemoteStreamRead::removeCache();
    HTTPURLStreamRead::registerWithEngine();
    test::TempDir www("drivefiles"), pages("drivepages"), saveDir("drivesaved"), settingsDir("drivesettings");
    std::filesystem::create_directories(www.file("drive/folders"));
    std::filesystem::create_directories(www.file("files"));
    std::mt19937 rng{11};
    for (int i = 1; i <= 2; ++i) {
        std::string bytes(300000, '\0');
        for (auto& c : bytes) c = char(rng());
        std::ofstream(pages.file(std::to_string(i) + ".jpg"), std::ios::binary) << bytes;
    }
    ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -0 book.cbz *.jpg"), 0);
    std::filesystem::rename(pages.file("book.cbz"), www.file("files/F9-K9"));
    const std::string book = slurp(www.file("files/F9-K9"));
    test::NginxServer nginx;
    nginx.setLocationConfig("default_type text/html;");
    // The file is found only with its identifier and the page's resource key.
    nginx.setServerConfig("location = /download { try_files /files/$arg_id-$arg_resourcekey =404; }");
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
    std::string base = nginx.url("");
    if (base.back() == '/') base.pop_back();
    Link::setWebBaseForTesting(base);
    Link::setDownloadBaseForTesting(base);
    std::ofstream(www.file("drive/folders/SHARED2"))
        << "<title>Club</title>" << item("One.cbz", "F9", false) << "<a href=\"" << base
        << "/file/d/F9/view?usp\\u003ddrivesdk\\u0026resourcekey\\u003dK9\">";

    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl(std::string(Link::kPseudoPrefix) + Scramble::stringEncodeASCIIStringElements("SHARED2"),
                           std::nullopt, std::nullopt, std::nullopt, true, nullptr);
    ASSERT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
    ASSERT_TRUE(out->fileList);
    ASSERT_EQ(out->fileList->size(), 1u);
    const std::string url = (*out->fileList)[0];

    // Read in place: the stream the engine picks for the address.
    auto s = std::dynamic_pointer_cast<HTTPURLStreamRead>(
        RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
    ASSERT_TRUE(s);
    s->setUserName("someone");
    s->setPassword("secret");
    ASSERT_TRUE(s->openURL(url));
    EXPECT_EQ(s->contentLength(), int64_t(book.size()));
    std::string got(book.size(), '\0');
    got.resize(size_t(s->readByte(got.data(), 0, got.size())));
    EXPECT_TRUE(got == book);
    s->closeURL();
    RemoteStreamRead::removeCache();
    size_t ranged = 0;
    for (const auto& r : nginx.requests()) {
        if (r.target.rfind("/download?", 0) != 0) continue;
        EXPECT_EQ(r.target, "/download?id=F9&resourcekey=K9&export=download&confirm=t");
        if (!r.range.empty()) ++ranged;
    }
    EXPECT_GE(ranged, 2u);

    // Downloaded into the library under its listed name.
    auto settings = std::make_shared<Settings>(settingsDir.path());
    auto saved = std::make_shared<Saved>();
    auto d = std::make_shared<HttpDownload>();
    d->setDelegate(saved);
    d->setSettings_(settings.get());
    d->downloadFile(url, saveDir.path(), "One.cbz", "someone", "secret", "", {});
    ASSERT_TRUE(loop().runUntil([&] { return !saved->results.empty(); }, 30));
    EXPECT_EQ(saved->results.front(), HttpDownload::kSaved);
    EXPECT_TRUE(slurp(saveDir.file("One.cbz")) == book);

    // A pseudo address that carries nothing sound is never fetched.
    const size_t before = nginx.requests().size();
    auto bad = std::dynamic_pointer_cast<HTTPURLStreamRead>(
        RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
    EXPECT_FALSE(bad->openURL(fileURL("F9&x=1", "non", "One.cbz")));
    EXPECT_TRUE(bad->isError());
    EXPECT_EQ(nginx.requests().size(), before);
    sys::Keychain::setShared(nullptr);
}

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

// A shared folder whose page cannot be reached: the message names the
// server that was not reached (the user never typed it: it is behind the
// share link), here one whose name is never found, with no lookup leaving
// this machine.
TEST_F(GoogleDriveShareLinkListing, AFolderPageThatCannotBeReachedNamesItsServer) {
    test::StuckNameLookup lookups;
    lookups.release();
    Link::setWebBaseForTesting(std::string("http://") + test::StuckNameLookup::kName + ":8080");
    const std::string pseudo = std::string(Link::kPseudoPrefix) + Scramble::stringEncodeASCIIStringElements("SHARED1");
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl(pseudo, std::nullopt, std::nullopt, std::nullopt, true, nullptr);
    ASSERT_TRUE(test::drainUntil([&] { return out->count > 0; }, 30));
    EXPECT_FALSE(out->fileList);
    const std::string message = out->message.value_or("");
    EXPECT_EQ(message.rfind("Connection Failed.", 0), 0u) << message;
    EXPECT_NE(message.find(std::string(test::StuckNameLookup::kName) + ":8080"), std::string::npos) << message;
}

}  // namespace
