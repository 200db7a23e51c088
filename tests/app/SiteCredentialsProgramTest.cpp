// The whole program on a password-protected site (nginx, Basic) whose page
// links a second web server, an FTP server and an smbd, all on loopback and
// all knowing the same user and password, so that any of them would let the
// site's credentials in: listing it, its covers, reading a book that
// redirects to the second server and downloading that book never hand the
// password to anyone but the site. And a site's password kept in the key
// chain's file while the keyring did not answer, cleared, replaced or its site
// deleted while the keyring is locked: never back when it is unlocked. And a
// password typed with "Remember My Password" off: gone with the run. And on
// nginx (Basic), Apache WebDAV (Digest), an FTP server and smbd: a wrong
// password asks again after one refusal, is never remembered, and a
// remembered one the server refuses is forgotten and asked for; a restored
// list without its password asks when a book is read or downloaded (its
// covers made once the answer is taken), a restored download queue asks
// before sending anything, and one
// with its site's password, changed on the server since, forgets it when its
// refresh or a download is refused. A user let in but denied an SMB share
// keeps the site's password when another user is asked for.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "cloud/HttpAuthCache.h"
#include "cloud/HttpEasy.h"
#include "engine/BookReaderEx.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/ui/QNMultiViewController.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/BookTransfer.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/screens/ShowHttpAuth.h"
#include "remote/stream/FtpStreamRead.h"
#include "remote/stream/SmbStreamRead.h"
#include "smb/CIFSStackClient.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/SecretSession.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/DavTestServer.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/net/TestCertificate.h"
#include "viewer/BookViewController.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = test::SmbPeer::kUser;
constexpr const char* kPassword = test::SmbPeer::kPassword;

class SiteCredentialsProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        HttpAuthCache::clear();
        programtest::registerRemoteServices();
        CIFSStackClient::registerWithRemote();
        makeHome("sitecredentials");
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots("credentials-");
        ProgramRun::TearDown();
        programtest::unregisterRemoteServices();
        HttpAuthCache::clear();
    }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
};

TEST_F(SiteCredentialsProgramTest, NoOtherServerEverReceivesTheSitesPassword) {
    test::TempDir site("credsite"), elsewhere("credelsewhere"), pages("credpages");
    for (int i = 1; i <= 2; ++i) {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.3 * i, 0.4, 0.7, 1});
        ASSERT_TRUE(c.writePNG(pages.file("p" + std::to_string(i) + ".png")));
    }
    fs::create_directories(site.file("shelf"));
    ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -X '" + site.file("shelf/Own.cbz") +
                          "' p1.png p2.png >/dev/null 2>&1"),
              0);
    for (const char* copy : {"x.cbz", "y.cbz", "z.cbz", "w.cbz"})
        fs::copy_file(site.file("shelf/Own.cbz"), elsewhere.file(copy));

    // The second web server, the FTP server and smbd, each knowing the user.
    test::FaultHttpServer second(elsewhere.path());
    ASSERT_TRUE(second.start());
    test::FtpTestServer ftp;
    test::FtpTestServer::PyOptions ftpOptions;
    ftpOptions.user = kUser;
    ftpOptions.password = kPassword;
    ftpOptions.statsFile = elsewhere.file("ftp-stats");
    const bool haveFtp = test::FtpTestServer::havePyftpdlib();
    if (haveFtp) {
        ASSERT_TRUE(ftp.startPyftpdlib(elsewhere.path(), ftpOptions)) << ftp.lastError();
    }
    std::unique_ptr<test::SmbPeer> smb;
    if (test::SmbPeer::skipReason().empty()) {
        smb = std::make_unique<test::SmbPeer>();
        fs::copy_file(site.file("shelf/Own.cbz"), smb->booksDir() + "/w.cbz");
        ASSERT_TRUE(smb->start("  log level = 1 auth_audit:3\n")) << smb->error();
    }

    // The site: Basic for the same user; a book that redirects to the
    // second server; a page linking the others.
    test::TempDir conf("credconf");
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), kUser, kPassword));
    test::NginxServer nginx;
    nginx.setLocationConfig("auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    nginx.setServerConfig("location = /shelf/go.cbz { return 302 " + second.url("/x.cbz") + "; }");
    std::ofstream(site.file("shelf/index.html"))
        << "<html><body><ul>\n<li><a href=\"Own.cbz\">Own.cbz</a></li>\n<li><a href=\"go.cbz\">go.cbz</a></li>\n"
        << "<li><a href=\"" << second.url("/y.cbz") << "\">y.cbz</a></li>\n"
        << "<li><a href=\"" << (haveFtp ? ftp.url("/z.cbz") : std::string("ftp://127.0.0.1:9/z.cbz")) << "\">z.cbz</a></li>\n"
        << "<li><a href=\"smb://" << (smb ? smb->server() : std::string("127.0.0.1:9")) << "/books/w.cbz\">w.cbz</a></li>\n"
        << "</ul></body></html>\n";
    ASSERT_TRUE(nginx.start(site.path())) << nginx.lastError();

    QNKeyChain::addOrUpdatePassword(kPassword, "cred-site", RemoteFileListViewController::kSiteKeychainService);
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(nginx.url("/shelf/"))},
                                             {"title", sys::PlistValue("Shelf")},
                                             {"username", sys::PlistValue(kUser)},
                                             {"id", sys::PlistValue("cred-site")}}),
        docs() + "/Shelf.shortcut"));
    ASSERT_TRUE(launch());

    // Listed with the site's own books only; the covers are fetched.
    play("tap \"Shelf\"\nwait 4\nshot list\n");
    auto* list = top<RemoteFileListViewController>();
    ASSERT_TRUE(list) << "the site is listed";
    std::vector<std::string> rows;
    for (const auto& item : list->itemList()) rows.push_back(item->filename().value_or(""));
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"Own.cbz", "go.cbz"}));

    // The book that redirects to the second server, read in place, then
    // downloaded.
    play("tap \"Streaming\"\nwait 0.5\ntap \"go.cbz\"\nwait 1\nsheet 0\nwait 3\nshot redirected-book\n");
    ASSERT_TRUE(top<BookViewController>()) << "the redirected book opens";
    EXPECT_EQ(top<BookViewController>()->bookReader()->getPageNum(), 2);
    play("back\nwait 2\ntap \"Download\"\nwait 0.5\ntap \"go.cbz\"\nwait 0.5\ntap \"Download Selected File\"\nwait 1\n");
    auto& app = *program->delegate();
    ASSERT_TRUE(app.bookTransfer());
    EXPECT_TRUE(sys::RunLoop::main().runUntil(
        [&] { return !app.bookTransfer()->isActive() && fs::exists(docs() + "/go.cbz"); }, 30));
    EXPECT_EQ(test::readFile(docs() + "/go.cbz"), test::readFile(elsewhere.file("x.cbz")));

    // The site itself was answered with the password...
    ASSERT_TRUE(nginx.waitForRequests(2));
    size_t served = 0;
    for (const auto& r : nginx.requests()) served += r.status == 200 || r.status == 206;
    EXPECT_GE(served, 1u);
    // ...and no one else ever received it.
    ASSERT_TRUE(second.waitForAnswered(5));
    EXPECT_GE(second.requestCount("/x.cbz"), 2u) << "the redirect was followed";
    for (const auto& r : second.requests()) EXPECT_EQ(r.authorization, "") << r.target;
    EXPECT_EQ(second.requestCount("/y.cbz"), 0u);
    if (haveFtp) {
        EXPECT_EQ(test::FtpTestServer::readStats(ftpOptions.statsFile).logOns, 0);
    }
    if (smb) {
        EXPECT_EQ(smb->log().find(kUser), std::string::npos) << smb->log();
    }
}

TEST_F(SiteCredentialsProgramTest, APasswordClearedReplacedOrDeletedWhileTheKeyringIsLockedNeverComesBack) {
    if (auto why = test::SecretSession::unavailableReason(); !why.empty()) GTEST_SKIP() << why;
    test::SecretSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string file = lib() + "/Library/keychain.txt";
    auto startOnTheBus = [&] {
        sys::Keychain::setShared(sys::Keychain::preferringSecretService(file, session.address()));
        ASSERT_TRUE(sys::Keychain::shared()->usesSecretService());
        ASSERT_TRUE(launch());
        openSiteList();
    };
    auto siteList = [&]() -> ServerListViewControllerEx* {
        auto* tabs = presentedNav() ? dynamic_cast<QNMultiViewController*>(presentedNav()->viewControllers().front().get())
                                    : nullptr;
        return tabs ? dynamic_cast<ServerListViewControllerEx*>(tabs->viewControllerAt(0)) : nullptr;
    };
    auto indexOf = [&](const std::string& title) {
        const auto& sites = siteList()->sites();
        for (size_t i = 0; i < sites.size(); ++i)
            if (sites[i].getString("title") == title) return int64_t(i);
        return int64_t(-1);
    };
    std::string clearPassword = "tap \"Password\"\n";
    for (int i = 0; i < 16; ++i) clearPassword += "key backspace\n";

    // Three sites saved while the keyring does not answer: their passwords
    // go to the file (after one bounded wait).
    ASSERT_TRUE(session.startFailingProvider(test::SecretSession::Failure::StopsAnswering));
    ASSERT_NO_FATAL_FAILURE(startOnTheBus());
    for (const char* name : {"DeletedSite", "ReplacedSite", "KeySite"}) {
        const std::string password = std::string(name) == "KeySite" ? "s3cretPW" : std::string(name) + "PW";
        play("tap \"Add Site\"\nwait 1\ntap \"URL\"\ntype http://127.0.0.1:9/" + std::string(name) +
             "/\ntap \"Display Name\"\ntype " + name + "\ntap \"User Name\"\ntype alice\ntap \"Password\"\ntype " +
             password + "\ntap \"Save\"\nwait 1\n");
    }
    ASSERT_TRUE(siteList());
    ASSERT_EQ(siteList()->sites().size(), 3u);
    for (const char* password : {"s3cretPW", "ReplacedSitePW", "DeletedSitePW"})
        EXPECT_NE(test::readFile(file).find(password), std::string::npos) << password;

    // The keyring comes back locked. One site's password is cleared in its
    // editor, another's replaced, the third site deleted.
    ASSERT_TRUE(session.stopFailingProvider());
    ASSERT_TRUE(session.startKeyring()) << session.error();
    ASSERT_TRUE(session.lockDefaultCollection()) << session.error();
    siteList()->editSite(indexOf("KeySite"));
    play("wait 1\n" + clearPassword + "tap \"Save\"\nwait 1\n");
    siteList()->editSite(indexOf("ReplacedSite"));
    play("wait 1\n" + clearPassword + "type newPW\ntap \"Save\"\nwait 1\n");
    siteList()->deleteSite(size_t(indexOf("DeletedSite")));
    play("wait 1\nshot locked-keyring\n");
    ASSERT_EQ(siteList()->sites().size(), 2u);
    // Gone from the file at once.
    const std::string text = test::readFile(file);
    for (const char* password : {"s3cretPW", "ReplacedSitePW", "DeletedSitePW"})
        EXPECT_EQ(text.find(password), std::string::npos) << password;

    // The keyring unlocked and the program started again: what the file kept
    // moves in, and the cleared and deleted passwords are not among it.
    stop();
    ASSERT_TRUE(session.stopKeyring());
    ASSERT_TRUE(session.startKeyring()) << session.error();
    ASSERT_NO_FATAL_FAILURE(startOnTheBus());
    siteList()->editSite(indexOf("KeySite"));
    play("wait 1\nshot unlocked-editor\n");
    auto* editor = presentedTop<MediaServerHostConfigViewController>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->value("user"), "alice");
    EXPECT_EQ(editor->value("password"), "");
    play("back\nwait 1\n");
    const std::string service = ServerListViewControllerEx::kKeychainService;
    std::string ids[2];
    for (const auto& site : siteList()->sites())
        ids[site.getString("title") == "KeySite" ? 0 : 1] = site.getString("id");
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(ids[0], service), std::nullopt);
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(ids[1], service), "newPW");
    std::vector<sys::KeychainItem> stored;
    ASSERT_EQ(sys::Keychain::shared()->copyMatching(sys::KeychainQuery{service, std::nullopt}, &stored),
              sys::Keychain::kSuccess);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].value, "newPW");
    EXPECT_FALSE(fs::exists(file));
    stop();
}

TEST_F(SiteCredentialsProgramTest, APasswordTypedWithRememberOffIsNotKeptForTheNextRun) {
    test::TempDir site("forgetsite"), pages("forgetpages"), conf("forgetconf");
    gfx::Canvas c(60, 80, 1.0);
    c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.3, 0.4, 0.7, 1});
    ASSERT_TRUE(c.writePNG(pages.file("p1.png")));
    fs::create_directories(site.file("shelf/Inner"));
    ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -X '" + site.file("shelf/Own.cbz") +
                          "' p1.png >/dev/null 2>&1"),
              0);
    fs::copy_file(site.file("shelf/Own.cbz"), site.file("shelf/Inner/In.cbz"));
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), kUser, kPassword));
    test::NginxServer nginx;
    nginx.setLocationConfig("autoindex on; auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    ASSERT_TRUE(nginx.start(site.path())) << nginx.lastError();
    const std::string shelf = nginx.url("/shelf/");
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(shelf)}, {"title", sys::PlistValue("Shelf")}}),
        docs() + "/Shelf.shortcut"));
    // The key chain in its file, as without a secret store; an earlier run
    // kept a password there for its restored list.
    const std::string file = lib() + "/Library/keychain.txt";
    // Each run reads the file afresh, as a new process would.
    const auto start = [&] {
        sys::Keychain::setShared(sys::Keychain::atPath(file));
        return launch();
    };
    sys::Keychain::setShared(sys::Keychain::atPath(file));
    ASSERT_TRUE(QNKeyChain::addOrUpdatePassword("EarlierPW", LastStatusRestore::kKeychainAccount,
                                                LastStatusRestore::kKeychainService));
    const auto restorePassword = [] {
        return QNKeyChain::getPasswordWithAccount(std::string(LastStatusRestore::kKeychainAccount),
                                                  std::string(LastStatusRestore::kKeychainService));
    };
    const auto asked = [&] { return bool(ui::test::Driver(window()).findByText("Enter Password")); };
    // The panel's second stage: the user name, the switch, the password.
    // A list that knows its user asks with it given.
    const auto signIn = [&](bool flipSwitch, bool userGiven = false) {
        play("tap \"Enter Password\"\nwait 0.5\n" + std::string(flipSwitch ? "tap \"Remember My Password\"\n" : "") +
             (userGiven ? std::string() : "type " + std::string(kUser) + "\nkey return\n") + "type " + kPassword +
             "\nkey return\nwait 3\n");
    };

    // Signed in with the switch off: the folders are listed with the
    // password while the program runs.
    ASSERT_TRUE(start());
    play("tap \"Shelf\"\nwait 3\n");
    ASSERT_TRUE(asked()) << "the site asks for a password";
    signIn(true);
    EXPECT_EQ(sys::UserDefaults::standard().objectForKey(ShowHttpAuth::kRememberPasswordKey).boolValue(), false);
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    play("tap \"Streaming\"\nwait 0.5\ntap \"Inner\"\nwait 3\nshot signed-in-forgetting\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    EXPECT_EQ(top<RemoteFileListViewController>()->targetURL(), shelf + "Inner/");
    EXPECT_FALSE(asked()) << "the folder below is opened with the password typed";
    stop();
    // Nothing of it outlives the run: neither in the key chain nor in any
    // file of the home.
    sys::Keychain::setShared(sys::Keychain::atPath(file));
    EXPECT_EQ(restorePassword(), std::nullopt);
    for (const auto& e : fs::recursive_directory_iterator(lib()))
        if (e.is_regular_file()) {
            const std::string text = test::readFile(e.path().string());
            EXPECT_EQ(text.find(kPassword), std::string::npos) << e.path();
            EXPECT_EQ(text.find("EarlierPW"), std::string::npos) << e.path();
        }

    // The next start rebuilds the two folders; listing again asks.
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    auto* restored = top<RemoteFileListViewController>();
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->targetURL(), shelf + "Inner/");
    EXPECT_EQ(restored->currentPassword(), std::nullopt);
    play("back\nwait 1\ntap \"Inner\"\nwait 3\nshot restored-asks\n");
    ASSERT_TRUE(asked()) << "the restored list does not ask again";
    // Typed there with the switch still off: not kept either.
    signIn(false, true);
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    EXPECT_FALSE(asked());
    stop();
    sys::Keychain::setShared(sys::Keychain::atPath(file));
    EXPECT_EQ(restorePassword(), std::nullopt);
    EXPECT_EQ(test::readFile(file).find(kPassword), std::string::npos);

    // With the switch on again, the password is kept for the next start's
    // restore, once: for its site.
    ASSERT_TRUE(start());
    play("wait 2\nback\nwait 1\ntap \"Inner\"\nwait 3\n");
    ASSERT_TRUE(asked());
    signIn(true, true);
    EXPECT_FALSE(asked());
    stop();
    sys::Keychain::setShared(sys::Keychain::atPath(file));
    EXPECT_EQ(restorePassword(), std::nullopt);
    QNKeyChain::OptString user, password;
    QNKeyChain::getAccountWithURL(shelf + "Inner/", &user, &password);
    EXPECT_EQ(password, std::optional<std::string>(kPassword));
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    EXPECT_EQ(top<RemoteFileListViewController>()->currentPassword(), std::optional<std::string>(kPassword));
}


TEST_F(SiteCredentialsProgramTest, ASitesPasswordStaysWhenItsUserIsDeniedAShareAndAnotherIsAskedFor) {
    if (auto why = test::SmbPeer::skipReason(); !why.empty()) GTEST_SKIP() << why;
    test::SmbPeer smb;
    ASSERT_TRUE(smb.start("")) << smb.error();
    sys::PlistDictionary record{{"url", sys::PlistValue("smb://" + smb.server() + "/locked/")},
                                {"title", sys::PlistValue("Locked")},
                                {"username", sys::PlistValue(kUser)},
                                {"id", sys::PlistValue("locked-site")}};
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(record), docs() + "/Locked.shortcut"));
    sys::Keychain::setShared(sys::Keychain::atPath(lib() + "/Library/keychain.txt"));
    QNKeyChain::addOrUpdatePassword(kPassword, "locked-site", RemoteFileListViewController::kSiteKeychainService);
    ASSERT_TRUE(launch());
    play("tap \"Locked\"\nwait 3\nshot locked-denied\n");
    ASSERT_TRUE(ui::test::Driver(window()).findByText("Change User")) << "the user is let in, not into the share";
    play("tap \"Change User\"\nwait 1\n");
    EXPECT_TRUE(ui::test::Driver(window()).findByText("Enter Password"));
    // Taken by the server: the site keeps it for its user.
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(std::string("locked-site"),
                                                 std::string(RemoteFileListViewController::kSiteKeychainService)),
              std::optional<std::string>(kPassword));
}

enum class SignInServer { NginxBasic, ApacheDavDigest, Ftp, Smb };

// One server asking for a password, a site of it that knows its user but not
// the password, and the steps of the sign-in panel.
class SignInProgramTest : public SiteCredentialsProgramTest,
                          public ::testing::WithParamInterface<SignInServer> {
protected:
    void SetUp() override {
        SiteCredentialsProgramTest::SetUp();
        if (IsSkipped()) return;
        FtpStreamRead::registerWithEngine();
        SmbStreamRead::registerWithEngine();
        www = std::make_unique<test::TempDir>("signinwww");
        conf = std::make_unique<test::TempDir>("signinconf");
        pages = std::make_unique<test::TempDir>("signinpages");
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.3, 0.4, 0.7, 1});
        ASSERT_TRUE(c.writePNG(pages->file("p1.png")));
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.8, 0.4, 0.2, 1});
        ASSERT_TRUE(c.writePNG(pages->file("p2.png")));
        book = pages->file("Own.cbz");
        ASSERT_EQ(test::shell("cd '" + pages->path() + "' && zip -q -X Own.cbz p1.png >/dev/null 2>&1"), 0);
        ASSERT_NO_FATAL_FAILURE(startServer());
        if (IsSkipped()) return;
        sys::PlistDictionary record{{"url", sys::PlistValue(site)},
                                    {"title", sys::PlistValue("Shelf")},
                                    {"username", sys::PlistValue(user)}};
        if (!other.empty()) record.set("other", other);
        ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(record), docs() + "/Shelf.shortcut"));
        keychainFile = lib() + "/Library/keychain.txt";
        // The site's folder key, as the sign-in remembers it.
        siteKey = *QNKeyChain::formatURL(site);
        if (auto parent = QNKeyChain::urlDeleteLastPathCompornent(siteKey)) siteKey = *parent;
        siteKey = QNKeyChain::removeLastPathChar(siteKey);
    }
    void TearDown() override {
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kFTP, nullptr);
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kSMB, nullptr);
        SiteCredentialsProgramTest::TearDown();
    }

    void startServer() {
        switch (GetParam()) {
        case SignInServer::NginxBasic: {
            fs::create_directories(www->file("shelf"));
            fs::copy_file(book, www->file("shelf/Own.cbz"));
            addPictures(www->file("shelf"));
            test::PdfBuilder pdf;
            pdf.pages.push_back(test::PdfBuilder::Page{});
            ASSERT_TRUE(pdf.write(www->file("shelf/Own.pdf")));
            user = kUser;
            password = kPassword;
            ASSERT_TRUE(test::writeHtpasswd(conf->file("htpasswd"), user, password));
            nginx.setLocationConfig("autoindex on; auth_basic \"books\"; auth_basic_user_file " +
                                    conf->file("htpasswd") + ";");
            ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
            site = nginx.url("/shelf/");
            break;
        }
        case SignInServer::ApacheDavDigest:
            if (!test::DavTestServer::haveApache()) GTEST_SKIP() << "Apache's mod_dav is not installed";
            fs::copy_file(book, www->file("Own.cbz"));
            addPictures(www->path());
            user = "reader";
            password = "s3cret";
            ASSERT_TRUE(dav.startApacheDigest(www->path(), user, password)) << dav.lastError();
            site = dav.url("/dav/");
            other.set("isWebDav", true);
            break;
        case SignInServer::Ftp: {
            if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "pyftpdlib is not installed";
            fs::copy_file(book, www->file("Own.cbz"));
            addPictures(www->path());
            test::FtpTestServer::PyOptions options;
            options.statsFile = conf->file("ftp-stats");
            user = options.user;
            password = options.password;
            ASSERT_TRUE(ftp.startPyftpdlib(www->path(), options)) << ftp.lastError();
            site = ftp.url("/");
            break;
        }
        case SignInServer::Smb:
            if (auto why = test::SmbPeer::skipReason(); !why.empty()) GTEST_SKIP() << why;
            smb = std::make_unique<test::SmbPeer>();
            fs::copy_file(book, smb->booksDir() + "/Own.cbz");
            addPictures(smb->booksDir());
            smb->openUp();
            ASSERT_TRUE(smb->start("  log level = 1 auth_audit:3\n")) << smb->error();
            user = kUser;
            password = kPassword;
            site = "smb://" + smb->server() + "/books/";
            break;
        }
    }
    // A folder of two pictures, "Pics", read in place as one book.
    void addPictures(const std::string& folder) {
        fs::create_directories(folder + "/Pics");
        for (const char* name : {"p1.png", "p2.png"}) fs::copy_file(pages->file(name), folder + "/Pics/" + name);
    }
    // A web server logs a request just after answering it: the program may
    // have its answer before the line is there. A request of the test's own
    // made after it, once logged, tells the lines before it are there too.
    void settleWebLog() const {
        const bool web = GetParam() == SignInServer::NginxBasic || GetParam() == SignInServer::ApacheDavDigest;
        if (!web) return;
        const std::string probe = "/settled-" + std::to_string(++probes_);
        HttpEasy easy;
        HttpRequest request;
        request.url = GetParam() == SignInServer::NginxBasic ? nginx.url(probe) : dav.url(probe);
        request.connectTimeout = 5;
        easy.prepare(request, {}, {}, {}, 1 << 16);
        easy.perform();
        const auto logged = [&] {
            if (GetParam() == SignInServer::NginxBasic) return nginx.requestCount(probe) > 0;
            for (const auto& line : dav.requests())
                if (line.find(" " + probe + " ") != std::string::npos) return true;
            return false;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!logged() && std::chrono::steady_clock::now() < deadline) ::poll(nullptr, 0, 2);
        ASSERT_TRUE(logged()) << "the server logs " << probe;
    }
    // The attempts with credentials the server has refused so far (a Digest
    // answer comes after a challenge to a request without them, which Apache
    // logs as one more 401).
    size_t refusals() const {
        settleWebLog();
        switch (GetParam()) {
        case SignInServer::NginxBasic: {
            size_t n = 0;
            for (const auto& r : nginx.requests()) n += r.status == 401 && !r.user.empty();
            return n;
        }
        case SignInServer::ApacheDavDigest: return dav.statusCount(401);
        case SignInServer::Ftp: return size_t(test::FtpTestServer::readStats(conf->file("ftp-stats")).refusedLogOns);
        case SignInServer::Smb: {
            const std::string log = smb->log();
            size_t n = 0;
            for (size_t at = log.find("NT_STATUS_WRONG_PASSWORD"); at != std::string::npos;
                 at = log.find("NT_STATUS_WRONG_PASSWORD", at + 1))
                ++n;
            return n;
        }
        }
        return 0;
    }
    size_t perAnswer() const { return GetParam() == SignInServer::ApacheDavDigest ? 2 : 1; }

    // Each run reads the key chain's file afresh and knows nothing of what
    // servers asked before, as a new process would.
    bool start() {
        sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
        HttpAuthCache::clear();
        return launch();
    }
    // The password changed on the server since the last run: the key chain
    // keeps the old one for the site and for the list the next run restores.
    void restoreWithTheOldPassword() {
        sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
        ASSERT_TRUE(QNKeyChain::addOrUpdateAccountWithURL(site, user, "old-pw"));
        QNKeyChain::addOrUpdatePassword("old-pw", LastStatusRestore::kKeychainAccount,
                                        LastStatusRestore::kKeychainService);
        ASSERT_TRUE(start());
    }
    // A new run opens the site from the site list and goes with what it
    // remembered: nothing asked, nothing refused (Digest's challenge aside).
    void reopenedSiteIsListedWithoutARefusal() {
        ASSERT_TRUE(start());
        play("wait 2\nback\nwait 1\n");
        ASSERT_FALSE(top<RemoteFileListViewController>());
        const size_t before = refusals();
        play("tap \"Shelf\"\nwait 3\n");
        EXPECT_FALSE(asked());
        ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
        EXPECT_LE(refusals() - before, perAnswer() - 1);
    }
    bool asked() const { return bool(ui::test::Driver(window()).findByText("Enter Password")); }
    // A download's panel starts with the user name it went with.
    void signIn(const std::string& typed, bool userGiven = false, bool flipSwitch = false) {
        play("tap \"Enter Password\"\nwait 0.5\n" + std::string(flipSwitch ? "tap \"Remember My Password\"\n" : "") +
             (userGiven ? std::string() : "type " + user + "\nkey return\n") + "type " + typed +
             "\nkey return\nwait 3\n");
    }
    // The services under which the key chain keeps `value`.
    std::vector<std::string> keptFor(const std::string& value) const {
        std::vector<sys::KeychainItem> items;
        sys::Keychain::shared()->copyMatching(sys::KeychainQuery{}, &items);
        std::vector<std::string> services;
        for (const auto& it : items)
            if (it.value == value) services.push_back(it.service);
        return services;
    }
    // The site's record with a password of its own, kept under its id.
    void siteWithOwnPassword(const std::string& own) {
        sys::PlistDictionary record{{"url", sys::PlistValue(site)},
                                    {"title", sys::PlistValue("Shelf")},
                                    {"username", sys::PlistValue(user)},
                                    {"id", sys::PlistValue("signin-site")}};
        if (!other.empty()) record.set("other", other);
        ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(record), docs() + "/Shelf.shortcut"));
        sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
        QNKeyChain::addOrUpdatePassword(own, "signin-site", RemoteFileListViewController::kSiteKeychainService);
    }
    // A first run signs in and lists the site, which the next run restores.
    void signedInBefore(bool remember) {
        ASSERT_TRUE(start());
        play("tap \"Shelf\"\nwait 3\n");
        ASSERT_TRUE(asked()) << "the site asks for a password";
        signIn(password, true, !remember);
        ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
        stop();
        sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
    }

    std::unique_ptr<test::TempDir> www, conf, pages;
    std::string book, site, user, password, keychainFile, siteKey;
    sys::PlistDictionary other;
    test::NginxServer nginx;
    test::DavTestServer dav;
    test::FtpTestServer ftp;
    std::unique_ptr<test::SmbPeer> smb;
    mutable int probes_ = 0;
};

TEST_P(SignInProgramTest, AWrongPasswordIsTriedOnceNeverKeptAndAskedAgain) {
    ASSERT_TRUE(start());
    size_t before = refusals();
    play("tap \"Shelf\"\nwait 3\n");
    ASSERT_TRUE(asked()) << "the site asks for a password";
    // Its user, whose password nothing keeps, is asked for first, never
    // sent with an empty password the server would refuse.
    EXPECT_EQ(refusals() - before, 0u);
    before = refusals();
    signIn("wrong-pw", true);
    play("wait 5\nshot signin-wrong\n");
    EXPECT_TRUE(asked()) << "the panel asks again";
    EXPECT_LE(refusals() - before, perAnswer()) << "the wrong answer is tried once";
    EXPECT_TRUE(keptFor("wrong-pw").empty()) << "a refused password is not remembered";
    // The right one lists the site and is remembered once, for the site.
    signIn(password);
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey});
}

TEST_P(SignInProgramTest, ARememberedPasswordTheServerRefusesIsForgottenAndAskedForByARestoredList) {
    ASSERT_NO_FATAL_FAILURE(signedInBefore(true));
    // The password changed on the server since: whatever the key chain keeps
    // for the list is the old one.
    ASSERT_NO_FATAL_FAILURE(restoreWithTheOldPassword());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    const size_t before = refusals();
    play("tap \"Streaming\"\nwait 0.5\ntap \"Own.cbz\"\nwait 1\nsheet 0\nwait 5\nshot signin-book\n");
    ASSERT_TRUE(asked()) << "reading the book asks";
    // The book's open may read it twice before it gives up.
    EXPECT_LE(refusals() - before, 2 * perAnswer());
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the refused remembered password is forgotten";
    signIn(password);
    play("wait 2\n");
    ASSERT_TRUE(top<BookViewController>()) << "the book opens with the answer";
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey});
}

TEST_P(SignInProgramTest, AFolderOfPicturesReadInPlaceWhoseServerRefusesAsksOnceAndGoesOnWithTheAnswer) {
    // Signed in and remembered, the folder of pictures listed: the next run
    // restores it.
    ASSERT_TRUE(start());
    play("tap \"Shelf\"\nwait 3\n");
    ASSERT_TRUE(asked()) << "the site asks for a password";
    signIn(password, true);
    play("tap \"Pics\"\nwait 3\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    ASSERT_NE(top<RemoteFileListViewController>()->targetURL().value_or("").find("Pics"), std::string::npos);
    stop();
    // The password changed on the server since.
    ASSERT_NO_FATAL_FAILURE(restoreWithTheOldPassword());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    const size_t before = refusals();
    play("tap \"Streaming\"\nwait 0.5\ntap \"p1.png\"\nwait 1\nsheet 0\nwait 5\nshot signin-pictures\n");
    ASSERT_TRUE(asked()) << "reading the pictures asks";
    EXPECT_LE(refusals() - before, perAnswer()) << "the refused password is tried once";
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the refused remembered password is forgotten";
    signIn(password);
    play("wait 2\nshot signin-pictures-open\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer) << "the pictures open with the answer";
    // Its pages come with the answer: the second one too, and nothing more
    // is refused.
    play("key right\nwait 2\nshot signin-pictures-next\n");
    EXPECT_EQ(viewer->page(), 1);
    EXPECT_LE(refusals() - before, perAnswer() + (perAnswer() - 1));
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey}) << "the answer is remembered for the site";
    stop();

    // The password changed again; the book's second page is still at hand,
    // its first is not: it opens where it was, and the page the server
    // refuses after it opened asks, and the book opens again with the answer.
    ASSERT_NO_FATAL_FAILURE(restoreWithTheOldPassword());
    play("wait 2\nshot signin-pictures-again\n");
    if (ui::test::Driver(window()).findByText("Resume reading book?")) play("tap \"No\"\nwait 1\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    const std::string cache = RemoteStreamRead::getRemoteCacheFilePath("streaming_cache.dir", false);
    ASSERT_TRUE(fs::exists(cache + "/1.png"));
    ASSERT_TRUE(fs::remove(cache + "/0.png"));
    const size_t again = refusals();
    play("tap \"p1.png\"\nwait 1\nsheet 1\nwait 3\n");
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer) << "the book opens from what is at hand";
    EXPECT_EQ(viewer->page(), 1);
    play("key left\nwait 3\nshot signin-pictures-refused-later\n");
    ASSERT_TRUE(asked()) << "the page refused after the book opened asks";
    EXPECT_LE(refusals() - again, perAnswer());
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the refused remembered password is forgotten";
    signIn(password);
    play("wait 2\nshot signin-pictures-reopened\n");
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer) << "the book opens again with the answer";
    play("key left\nwait 2\n");
    EXPECT_EQ(viewer->page(), 0);
    EXPECT_LE(refusals() - again, perAnswer() + (perAnswer() - 1));
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey});
}

TEST_P(SignInProgramTest, ARestoredListWithoutItsPasswordAsksWhenItDownloads) {
    writeGlobalSettings(sys::PlistDictionary{{"remoteThumbsAutoLoad", sys::PlistValue(std::string("on"))}});
    ASSERT_NO_FATAL_FAILURE(signedInBefore(false));
    EXPECT_TRUE(keptFor(password).empty());
    // Its covers are to be made again: they wait for the password too.
    fs::remove_all(lib() + "/Library/st");
    const size_t before = refusals();
    ASSERT_TRUE(start());
    play("wait 2\nshot signin-restored-off\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    EXPECT_EQ(refusals() - before, 0u) << "nothing goes to the server with an empty password";
    play("tap \"Download\"\nwait 0.5\ntap \"Own.cbz\"\nwait 0.5\ntap \"Download Selected File\"\nwait 3\n"
         "shot signin-download\n");
    ASSERT_TRUE(asked()) << "the download asks";
    // Asked before its user goes to the server with an empty password.
    EXPECT_EQ(refusals() - before, 0u);
    signIn(password, true);
    auto& app = *program->delegate();
    ASSERT_TRUE(app.bookTransfer());
    EXPECT_TRUE(sys::RunLoop::main().runUntil(
        [&] { return !app.bookTransfer()->isActive() && fs::exists(docs() + "/Own.cbz"); }, 30));
    EXPECT_EQ(test::readFile(docs() + "/Own.cbz"), test::readFile(book));
    EXPECT_TRUE(keptFor(password).empty()) << "with the switch off nothing is kept";
    // The book's cover waited for the password. Once the server has taken
    // it (the book read in place), the cover is made.
    const std::string cover = BookCommon::getThumbsFilename(site + "Own.cbz", false);
    play("back\nwait 1\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    EXPECT_FALSE(fs::exists(cover));
    play("tap \"Streaming\"\nwait 0.5\ntap \"Own.cbz\"\nwait 1\nsheet 0\nwait 5\n");
    ASSERT_TRUE(top<BookViewController>()) << "the book opens with the answer";
    play("back\nwait 1\n");
    EXPECT_TRUE(sys::RunLoop::main().runUntil([&] { return fs::exists(cover); }, 30)) << "the cover is made";

    // A download the queue reads back at the next start, its user's password
    // known nowhere, asks first too.
    stop();
    sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
    TransferItem again;
    again.type = GetParam() == SignInServer::Smb ? TransferItem::kSmb : TransferItem::kHttp;
    again.source = site + "Own.cbz";
    again.savePath = docs();
    again.saveName = "Again.cbz";
    again.username = user;
    again.site = {site, ""};
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(again.toStateDictionary())}),
                                             BookCommon::getSettingsFolder() + "/" + BookTransfer::kStateFileName));
    const size_t queued = refusals();
    ASSERT_TRUE(start());
    play("wait 3\n");
    ASSERT_TRUE(asked()) << "the download read back asks";
    EXPECT_EQ(refusals() - queued, 0u) << "nothing goes to the server with an empty password";
    // "Remember My Password", off since the first run, on again.
    signIn(password, true, true);
    ASSERT_TRUE(program->delegate()->bookTransfer());
    EXPECT_TRUE(sys::RunLoop::main().runUntil(
        [&] { return !program->delegate()->bookTransfer()->isActive() && fs::exists(docs() + "/Again.cbz"); }, 30));
    EXPECT_EQ(test::readFile(docs() + "/Again.cbz"), test::readFile(book));
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey}) << "taken, the answer is kept for the site";
    if (GetParam() != SignInServer::NginxBasic) return;

    // A PDF, fetched whole before it opens, asks too when the server refuses
    // the password the list is restored with (nothing else kept for the site).
    stop();
    sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
    QNKeyChain::deleteAccountWithURL(site);
    QNKeyChain::addOrUpdatePassword("old-pw", LastStatusRestore::kKeychainAccount, LastStatusRestore::kKeychainService);
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    play("tap \"Streaming\"\nwait 0.5\ntap \"Own.pdf\"\nwait 1\nalert 1\nwait 1\nshot signin-pdf-sheet\n");
    if (ui::test::Driver(window()).findByText("Read the first page")) play("sheet 0\n");
    play("wait 5\nshot signin-pdf\n");
    ASSERT_TRUE(asked()) << "reading the PDF asks";
    signIn(password);
    play("wait 2\n");
    EXPECT_TRUE(top<BookViewController>()) << "the PDF opens with the answer";
}

TEST_P(SignInProgramTest, ASitesOwnPasswordTheServerRefusesIsForgottenAndTheAnswerGoesFirstNextTime) {
    // The site's own password, since changed on the server.
    ASSERT_NO_FATAL_FAILURE(siteWithOwnPassword("old-pw"));
    ASSERT_TRUE(start());
    size_t before = refusals();
    play("tap \"Shelf\"\nwait 3\n");
    ASSERT_TRUE(asked()) << "the site asks for a password";
    EXPECT_LE(refusals() - before, perAnswer());
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the site's refused password is forgotten";
    signIn(password);
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    stop();
    // Opened again, the site goes with the answer remembered for it.
    reopenedSiteIsListedWithoutARefusal();
    stop();

    // Listed with the site's own password, which is then changed: the list
    // restored with it asks when it reads a book, and forgets it.
    sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
    QNKeyChain::deleteAccountWithURL(site);
    QNKeyChain::addOrUpdatePassword(password, "signin-site", RemoteFileListViewController::kSiteKeychainService);
    ASSERT_TRUE(start());
    play("wait 2\nback\nwait 1\ntap \"Shelf\"\nwait 3\n");
    ASSERT_FALSE(asked());
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    stop();
    sys::Keychain::setShared(sys::Keychain::atPath(keychainFile));
    QNKeyChain::addOrUpdatePassword("old-pw", "signin-site", RemoteFileListViewController::kSiteKeychainService);
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    play("tap \"Streaming\"\nwait 0.5\ntap \"Own.cbz\"\nwait 1\nsheet 0\nwait 5\n");
    ASSERT_TRUE(asked()) << "reading the book asks";
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the site's refused password is forgotten";
}

TEST_P(SignInProgramTest, ARestoredListForgetsItsSitesChangedPasswordWhenItsRefreshOrDownloadIsRefused) {
    // Listed with the site's own password, restored by the next runs.
    ASSERT_NO_FATAL_FAILURE(siteWithOwnPassword(password));
    ASSERT_TRUE(start());
    play("tap \"Shelf\"\nwait 3\n");
    ASSERT_FALSE(asked());
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    stop();

    // Changed on the server since: the refresh asks once and forgets it.
    ASSERT_NO_FATAL_FAILURE(siteWithOwnPassword("old-pw"));
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    size_t before = refusals();
    top<RemoteFileListViewController>()->onRefresh();
    play("wait 3\nshot signin-refresh\n");
    ASSERT_TRUE(asked()) << "the refresh asks";
    EXPECT_LE(refusals() - before, perAnswer());
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the site's refused password is forgotten";
    play("tap \"Cancel\"\nwait 1\n");
    stop();

    // A download asks, forgets it, and the answer is remembered for the site.
    ASSERT_NO_FATAL_FAILURE(siteWithOwnPassword("old-pw"));
    ASSERT_TRUE(start());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the list is restored";
    play("tap \"Download\"\nwait 0.5\ntap \"Own.cbz\"\nwait 0.5\ntap \"Download Selected File\"\nwait 3\n");
    ASSERT_TRUE(asked()) << "the download asks";
    EXPECT_TRUE(keptFor("old-pw").empty()) << "the site's refused password is forgotten";
    signIn(password, true);
    auto& app = *program->delegate();
    ASSERT_TRUE(app.bookTransfer());
    EXPECT_TRUE(sys::RunLoop::main().runUntil(
        [&] { return !app.bookTransfer()->isActive() && fs::exists(docs() + "/Own.cbz"); }, 30));
    EXPECT_EQ(test::readFile(docs() + "/Own.cbz"), test::readFile(book));
    EXPECT_EQ(keptFor(password), std::vector<std::string>{siteKey});
    // The list goes with that answer too.
    play("back\nwait 1\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    before = refusals();
    top<RemoteFileListViewController>()->onRefresh();
    play("wait 3\n");
    EXPECT_FALSE(asked());
    EXPECT_LE(refusals() - before, perAnswer() - 1);
    stop();

    // Opened again, the site goes with that answer.
    reopenedSiteIsListedWithoutARefusal();
}

INSTANTIATE_TEST_SUITE_P(Servers, SignInProgramTest,
                         ::testing::Values(SignInServer::NginxBasic, SignInServer::ApacheDavDigest, SignInServer::Ftp,
                                           SignInServer::Smb),
                         [](const ::testing::TestParamInfo<SignInServer>& info) {
                             switch (info.param) {
                             case SignInServer::NginxBasic: return std::string("NginxBasic");
                             case SignInServer::ApacheDavDigest: return std::string("ApacheDavDigest");
                             case SignInServer::Ftp: return std::string("Ftp");
                             case SignInServer::Smb: return std::string("Smb");
                             }
                             return std::string();
                         });

}  // namespace
