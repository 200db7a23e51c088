// The 7z reader on books made here by the 7z tool: solid blocks extracted
// once into the reader's own folder, pages served as soon as their file is
// complete, encrypted books, damaged books, and the session choosing it.
#include "engine/PageReader7z.h"

#include "engine/BookReaderEx.h"
#include "engine/SevenZipLibrary.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/BookTestPages.h"
#include "tests/engine/SevenZipTestArchives.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using test::colourNear;
using test::pageColour;

// Files under `folder`, relative, without those of `except`.
std::set<std::string> filesUnder(const std::string& folder) {
    std::set<std::string> out;
    if (folder.empty() || !fs::exists(folder)) return out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), folder).string());
    return out;
}

class PageReader7zTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z tool";
        if (!SevenZipLibrary::shared().available())
            GTEST_SKIP() << "7-Zip library: " << SevenZipLibrary::shared().failureReason();
    }

    // A small lossless page whose colour tells which one was decoded.
    void page(const std::string& name, int colourNo, int size = 12) {
        const std::string path = src.file(name);
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(test::writeBmp(path, size, size, [&](int x, int y) {
            // Some texture so that big pages do not compress to nothing.
            return (x * 7 + y * 13) % 17 == 0 ? 0xFF000000u | uint32_t(x * y) : pageColour(colourNo % 16, false);
        }));
    }
    void text(const std::string& name, const std::string& body) {
        const std::string path = src.file(name);
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(sys::FileManager::writeFile(path, body, false));
    }
    std::string make(const std::string& archive, const std::string& options, const std::string& files) {
        const std::string path = out.file(archive);
        fs::remove(path);
        EXPECT_EQ(test::shell("cd '" + src.path() + "' && 7z a -t7z -bd " + options + " '" + path + "' " + files +
                              " >/dev/null 2>&1"),
                  0);
        return path;
    }
    std::shared_ptr<PageReader7z> open(const std::string& path, std::optional<std::string> password = std::nullopt,
                                       bool thumbs = false) {
        auto r = std::make_shared<PageReader7z>();
        EXPECT_TRUE(r->openFile(path, password, std::nullopt, false, thumbs)) << path << ": " << r->failureReason();
        return r;
    }
    void expectPage(PageReader& r, int page, int colourNo) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        ASSERT_EQ(result, PageReader::kResultImage) << "page " << page;
        ASSERT_TRUE(image);
        EXPECT_TRUE(colourNear(image->pixel(1, 2), pageColour(colourNo % 16, false))) << "page " << page;
    }
    int resultOf(PageReader& r, int page) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        EXPECT_EQ(bool(image), result == PageReader::kResultImage);
        return result;
    }
    static std::vector<std::string> namesOf(const PageReader& r) {
        std::vector<std::string> names;
        for (const auto& n : r.getPageNameList()) {
            EXPECT_TRUE(!n.empty() && n.back() == '\0');
            names.push_back(n.substr(0, n.size() - 1));
        }
        return names;
    }
    // A solid book of `count` pages p00.bmp... in one block.
    std::string solidBook(int count, int size = 12, const std::string& name = "solid.cb7") {
        std::string files;
        for (int i = 0; i < count; ++i) {
            char n[16];
            std::snprintf(n, sizeof n, "p%02d.bmp", i);
            page(n, i, size);
            files += std::string(" ") + n;
        }
        return make(name, "-ms=on", files);
    }

    test::TempDir src{"7zsrc"};
    test::TempDir out{"7zout"};
};

TEST_F(PageReader7zTest, ASolidBlockIsExtractedOnceAndServesEveryPage) {
    const std::string book = solidBook(20);
    auto r = open(book);
    ASSERT_EQ(r->getPageNameList().size(), 20u);
    EXPECT_EQ(namesOf(*r).front(), "p00.bmp");
    std::vector<int32_t> numbers(20);
    for (int i = 0; i < 20; ++i) numbers[size_t(i)] = i;
    EXPECT_EQ(r->getGlobalPageNoList(), numbers);
    EXPECT_TRUE(r->isSolid());
    EXPECT_TRUE(r->isSolidArhive());
    EXPECT_TRUE(PageReader7z::isSolidFile(book));
    EXPECT_FALSE(r->isStreamPage());

    expectPage(*r, 1, 1);
    EXPECT_EQ(r->extractionCount(), 1);
    for (int i = 0; i < 20; ++i) expectPage(*r, i, i);
    EXPECT_EQ(r->extractionCount(), 1) << "later pages come from the folder";
    const std::string folder = r->getTemporaryDirectory();
    r->closeFile();
    EXPECT_EQ(filesUnder(folder).size(), 20u) << "complete pages only, no temporary names";
    EXPECT_EQ(resultOf(*r, 0), 2) << "closed";

    // Global numbers start again at 0, in a fresh folder.
    ASSERT_TRUE(r->openFile(book, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getGlobalPageNoList()->front(), 0);
    EXPECT_TRUE(filesUnder(r->getTemporaryDirectory()).empty());
    EXPECT_EQ(resultOf(*r, 20), PageReader::kResultFailed);
    EXPECT_EQ(resultOf(*r, -1), PageReader::kResultFailed);
    expectPage(*r, 19, 19);
}

TEST_F(PageReader7zTest, APageLargerThanThePageLimitIsNeverWrittenOut) {
    // One solid block: two pages, a page of zeros one byte over the limit
    // (LZMA makes it small), and a last page.
    page("p00.bmp", 0);
    page("p01.bmp", 1);
    ASSERT_EQ(test::shell("head -c " + std::to_string(PageReader7z::kMaxPageBytes + 1) + " /dev/zero > '" +
                          src.file("p02.bmp") + "'"),
              0);
    page("p03.bmp", 3);
    const std::string book = make("big.cb7", "-m0=LZMA -mx=1 -ms=4g", "p00.bmp p01.bmp p02.bmp p03.bmp");
    fs::remove(src.file("p02.bmp"));
    ASSERT_LT(fs::file_size(book), 1u << 20);

    // Asked for first, it is refused before anything is extracted.
    auto r = open(book);
    ASSERT_EQ(r->getPageNameList().size(), 4u);
    EXPECT_EQ(resultOf(*r, 2), PageReader::kResultFailed);
    EXPECT_EQ(r->extractionCount(), 0);
    EXPECT_TRUE(filesUnder(r->getTemporaryDirectory()).empty());
    // The block's other pages are written, that one is not.
    expectPage(*r, 3, 3);
    expectPage(*r, 0, 0);
    EXPECT_EQ(r->extractionCount(), 1);
    EXPECT_EQ(filesUnder(r->getTemporaryDirectory()), (std::set<std::string>{"p00.bmp", "p01.bmp", "p03.bmp"}));
    EXPECT_EQ(resultOf(*r, 2), PageReader::kResultFailed);
    EXPECT_EQ(r->extractionCount(), 1);
}

TEST_F(PageReader7zTest, NonSolidBooksExtractOnlyTheAskedPage) {
    for (int i = 0; i < 5; ++i) page("q" + std::to_string(i) + ".bmp", i);
    auto r = open(make("apart.cb7", "-ms=off", "q0.bmp q1.bmp q2.bmp q3.bmp q4.bmp"));
    EXPECT_FALSE(r->isSolid());
    expectPage(*r, 3, 3);
    EXPECT_EQ(filesUnder(r->getTemporaryDirectory()), (std::set<std::string>{"q3.bmp"}));
    expectPage(*r, 0, 0);
    EXPECT_EQ(r->extractionCount(), 2);
}

TEST_F(PageReader7zTest, EveryFileIsAPageInArchiveOrderAndFoldersAreListed) {
    page("b.bmp", 1);
    page("a.bmp", 0);
    page("sub/c.bmp", 2);
    text("readme.txt", "not an image");
    page("inner/x.bmp", 3);
    ASSERT_EQ(test::shell("cd '" + src.path() + "/inner' && 7z a -bd ../nested.7z x.bmp >/dev/null && zip -q ../nested.cbz x.bmp"),
              0);
    auto r = open(make("mixed.cb7", "", "b.bmp a.bmp sub readme.txt nested.cbz nested.7z"));
    const auto names = namesOf(*r);
    ASSERT_EQ(names.size(), 6u);
    std::set<std::string> asSet(names.begin(), names.end());
    EXPECT_EQ(asSet, (std::set<std::string>{"a.bmp", "b.bmp", "sub/c.bmp", "readme.txt", "nested.cbz", "nested.7z"}));
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"sub"}));
    EXPECT_EQ(r->getArchiveList(false), (std::vector<std::string>{"nested.7z"})) << "7z books inside only";
    for (size_t i = 0; i < names.size(); ++i) {
        const int result = resultOf(*r, int(i));
        if (names[i] == "readme.txt" || names[i] == "nested.cbz" || names[i] == "nested.7z")
            EXPECT_EQ(result, PageReader::kResultFailed) << names[i];
        else
            EXPECT_EQ(result, PageReader::kResultImage) << names[i];
    }
    EXPECT_TRUE(fs::exists(r->getTemporaryDirectory() + "/sub/c.bmp")) << "folders are kept";

    // The class operations on the same book, as the library asks them.
    EXPECT_EQ(BookReaderEx::getFolderList(out.file("mixed.cb7"), false, {}, "", "", nullptr, {}),
              (std::vector<std::string>{"sub"}));
    EXPECT_EQ(BookReaderEx::getArchiveList(out.file("mixed.cb7"), true, {}, "", "", nullptr, {}),
              (std::vector<std::string>{"nested.7z"}));
    EXPECT_EQ(BookReaderEx::extractFile(out.file("mixed.cb7"), {}, std::nullopt, "nested.7z", "", ""), 2);
}

TEST_F(PageReader7zTest, ReadersKeepTheirOwnFolders) {
    const std::string book = solidBook(6);
    auto viewer = open(book);
    expectPage(*viewer, 5, 5);  // the last of the block: all are written then
    const auto viewerFiles = filesUnder(viewer->getTemporaryDirectory());
    ASSERT_FALSE(viewerFiles.empty());

    // A thumbnail job opens the same book meanwhile: it takes only its page,
    // in its own folder, and the viewer's pages stay.
    auto thumbs = open(book, std::nullopt, true);
    EXPECT_NE(thumbs->getTemporaryDirectory(), viewer->getTemporaryDirectory());
    expectPage(*thumbs, 4, 4);
    EXPECT_EQ(filesUnder(thumbs->getTemporaryDirectory()), (std::set<std::string>{"p04.bmp"}));
    thumbs.reset();
    EXPECT_EQ(filesUnder(viewer->getTemporaryDirectory()), viewerFiles);
    const int before = viewer->extractionCount();
    expectPage(*viewer, 4, 4);
    EXPECT_EQ(viewer->extractionCount(), before);

    // The folder goes with its reader.
    const std::string folder = viewer->getTemporaryDirectory();
    viewer.reset();
    EXPECT_FALSE(fs::exists(folder));
}

// An offline reader (the page cache builder) has no folder of its own: it
// serves the pages the book's reader on screen has extracted, extracts
// nothing itself, and has none once that reader is gone.
TEST_F(PageReader7zTest, AnOfflineReaderServesThePagesTheScreensReaderExtracted) {
    const std::string book = solidBook(6);
    const std::string other = make("other.cb7", "-ms=on", "p00.bmp p01.bmp");
    auto offline = std::make_shared<PageReader7z>();
    ASSERT_TRUE(offline->openFile(book, std::nullopt, std::nullopt, true, false));
    EXPECT_TRUE(offline->getTemporaryDirectory().empty());
    EXPECT_EQ(resultOf(*offline, 2), PageReader::kResultFailed) << "nothing extracted yet";

    auto viewer = open(book);
    auto elsewhere = open(other);  // another book's pages are not this one's
    expectPage(*elsewhere, 0, 0);
    EXPECT_EQ(resultOf(*offline, 0), PageReader::kResultFailed);
    expectPage(*viewer, 5, 5);  // the block: every page is written
    for (int i = 0; i < 6; ++i) expectPage(*offline, i, i);
    EXPECT_EQ(offline->extractionCount(), 0);
    EXPECT_EQ(viewer->extractionCount(), 1);

    // A cover job of the same book is not a source.
    viewer.reset();
    auto thumbs = open(book, std::nullopt, true);
    expectPage(*thumbs, 3, 3);
    EXPECT_EQ(resultOf(*offline, 3), PageReader::kResultFailed);
}

// The pages a crashed program left behind go at the next open; the
// folders of live readers stay.
TEST_F(PageReader7zTest, FoldersOfEndedProgramsAreRemoved) {
    const std::string base = sys::AppPaths::tmp() + "/solidtemp";
    // No process has the id pid_max.
    const std::string pidMax = sys::FileManager::contentsOfFile("/proc/sys/kernel/pid_max").value_or("4194304");
    const std::string dead = base + "/" + std::to_string(std::stol(pidMax)) + "-crashed";
    const std::string live = base + "/" + std::to_string(::getpid()) + "-another";
    const std::string foreign = base + "/not-ours";
    for (const auto& dir : {dead, live, foreign}) fs::create_directories(dir + "/sub");
    ASSERT_TRUE(sys::FileManager::writeFile(dead + "/sub/p.bmp", "old page", false));
    auto r = open(solidBook(2));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_EQ(fs::path(r->getTemporaryDirectory()).parent_path(), fs::path(base));
    fs::remove_all(live);
    fs::remove_all(foreign);
}

// Names that leave the folder once taken as paths, a page named like
// another page's folder, and two names that are one once confined: every
// page still has a file of its own inside the reader's folder.
TEST_F(PageReader7zTest, HostileNamesStayInsideAndApart) {
    page("AAAp0.bmp", 0);
    page("abd/c.bmp", 1);
    page("abc", 2);
    page("Bp0.bmp", 3);
    std::string made = sys::FileManager::contentsOfFile(
                           make("hostile.cb7", "-mhc=off -ms=on", "AAAp0.bmp abd abc Bp0.bmp"))
                           .value_or("");
    ASSERT_TRUE(test::renameSevenZipEntries(made, {
                                                      {"AAAp0.bmp", "../p0.bmp"},  // leaves the folder
                                                      {"Bp0.bmp", "/p0.bmp"},      // the same file once confined
                                                      {"abd", "abc"},  // the page "abc" is now a folder too
                                                  }));
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("hostile.cb7"), made, false));

    auto r = open(out.file("hostile.cb7"));
    const auto names = namesOf(*r);
    ASSERT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"../p0.bmp", "p0.bmp", "abc/c.bmp", "abc"}))
        << "a page is named by its folder and name, and \"/p0.bmp\" has no folder";
    for (size_t i = 0; i < names.size(); ++i) {
        const int colour = names[i] == "../p0.bmp" ? 0 : names[i] == "abc/c.bmp" ? 1 : names[i] == "abc" ? 2 : 3;
        expectPage(*r, int(i), colour);
    }
    const auto files = filesUnder(r->getTemporaryDirectory());
    EXPECT_EQ(files.size(), 4u);
    EXPECT_TRUE(files.count("abc/c.bmp"));
    EXPECT_FALSE(fs::exists(fs::path(r->getTemporaryDirectory()).parent_path() / "p0.bmp"));
}

TEST_F(PageReader7zTest, AddressesAndBrokenFilesDoNotOpen) {
    auto r = std::make_shared<PageReader7z>();
    EXPECT_FALSE(r->openFile("http://127.0.0.1:9/book.cb7", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->failureReason().empty());
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::NoReader);
    EXPECT_EQ(resultOf(*r, 0), 2);
    EXPECT_FALSE(r->openFile("", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->openFile(out.file("missing.cb7"), std::nullopt, std::nullopt, false, false));
    EXPECT_NE(r->failureReason().find("doesn't exist"), std::string::npos) << r->failureReason();
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Unreadable);
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("text.cb7"), "plain text", false));
    EXPECT_FALSE(r->openFile(out.file("text.cb7"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::NotArchive);

    // Cut short: either the directory is gone (no open) or the pages past
    // the cut fail; nothing half-written is served.
    const std::string whole = sys::FileManager::contentsOfFile(solidBook(8, 40)).value_or("");
    ASSERT_GT(whole.size(), 1000u);
    for (size_t keep : {size_t(20), whole.size() / 2, whole.size() - 30}) {
        SCOPED_TRACE(keep);
        const std::string cut = out.file("cut.cb7");
        ASSERT_TRUE(sys::FileManager::writeFile(cut, whole.substr(0, keep), false));
        auto c = std::make_shared<PageReader7z>();
        if (!c->openFile(cut, std::nullopt, std::nullopt, false, false)) {
            EXPECT_FALSE(c->failureReason().empty());
            EXPECT_EQ(c->openFailure(), PageReader::OpenFailure::Damaged);
            continue;
        }
        EXPECT_EQ(c->openFailure(), PageReader::OpenFailure::None);
        for (int i = 0; i < int(c->getPageNameList().size()); ++i) {
            int result = -1;
            auto image = c->newLoadAndCreateImage(i, result);
            if (image) {
                EXPECT_TRUE(colourNear(image->pixel(1, 2), pageColour(i, false)));
            }
        }
        for (const auto& f : filesUnder(c->getTemporaryDirectory()))
            EXPECT_EQ(f.find(".lbpart"), std::string::npos) << f;
    }
}

TEST_F(PageReader7zTest, EncryptedPagesAskForThePassword) {
    page("s0.bmp", 0);
    page("s1.bmp", 1);
    const std::string aes = make("aes.cb7", "-psesame", "s0.bmp s1.bmp");
    EXPECT_EQ(resultOf(*open(aes), 0), PageReader::kResultPassword) << "no password";
    EXPECT_EQ(resultOf(*open(aes, "wrong"), 1), PageReader::kResultPassword) << "a wrong one";
    auto r = open(aes, "sesame");
    expectPage(*r, 0, 0);
    expectPage(*r, 1, 1);
    // A block that cannot be decoded is not decoded again and again to
    // measure its pages.
    auto locked = open(aes);
    EXPECT_TRUE(locked->isMeasuredByDecoding(1));
    EXPECT_EQ(locked->decodedPictureSize(1), gfx::Size{});
    EXPECT_FALSE(locked->isMeasuredByDecoding(1)) << "its block failed";

    // With the directory encrypted too, the book opens only with the password.
    const std::string hidden = make("mhe.cb7", "-psesame -mhe=on", "s0.bmp s1.bmp");
    for (std::optional<std::string> pw : {std::optional<std::string>{}, std::optional<std::string>{"wrong"}}) {
        auto h = std::make_shared<PageReader7z>();
        EXPECT_FALSE(h->openFile(hidden, pw, std::nullopt, false, false));
        EXPECT_FALSE(h->failureReason().empty());
        EXPECT_EQ(h->openFailure(), PageReader::OpenFailure::Password);
        EXPECT_TRUE(h->getPageNameList().empty());
    }
    expectPage(*open(hidden, "sesame"), 1, 1);

    // The session keeps the reason, so that the password can be asked for.
    auto session = std::make_shared<BookReaderEx>();
    EXPECT_FALSE(session->openBookWithName(hidden, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(session->openFailure(), PageReader::OpenFailure::Password);
    EXPECT_TRUE(session->openBookWithName(hidden, {}, std::nullopt, std::string("sesame"), std::nullopt, false, false));
    session->closeBook();
}

// The worker keeps writing the block after the first page was served; a
// close stops it at its next read and returns only once it has ended.
TEST_F(PageReader7zTest, ClosingDuringAnExtractionStopsItAndCleansUp) {
    const std::string book = solidBook(40, 300, "big.cb7");
    for (int round = 0; round < 2; ++round) {
        auto r = open(book);
        expectPage(*r, 0, 0);
        const std::string folder = r->getTemporaryDirectory();
        r->closeFile();
        for (const auto& f : filesUnder(folder)) EXPECT_EQ(f.find(".lbpart"), std::string::npos) << f;
        // Reopened, it serves every page again.
        ASSERT_TRUE(r->openFile(book, std::nullopt, std::nullopt, false, false));
        expectPage(*r, 39, 39);
        expectPage(*r, 30, 30);
    }

    // A load waiting for the last page of the block returns when the
    // session cancels (it is closing the book); the page comes later.
    auto r = open(book);
    int result = -1;
    std::thread loader([&] { r->newLoadAndCreateImage(39, result); });
    while (r->extractionCount() == 0) std::this_thread::yield();
    r->cancelStreaming();
    loader.join();
    EXPECT_TRUE(result == PageReader::kResultImage || result == PageReader::kResultFailed) << result;
    expectPage(*r, 39, 39);

    // Once the cancelled block has stopped, the next block's first page is
    // still measured from its first bytes.
    std::string files;
    for (int i = 0; i < 20; ++i) files += (i < 10 ? " p0" : " p") + std::to_string(i) + ".bmp";
    r = open(make("two.cb7", "-mx1 -ms=10f", files));
    std::thread first([&] { r->newLoadAndCreateImage(9, result); });
    while (r->extractionCount() == 0) std::this_thread::yield();
    r->cancelStreaming();
    first.join();
    EXPECT_EQ(r->pictureSize(10), gfx::Size(300, 300));
}

// Asking for a page of another block while one block is being written:
// the running extraction gives way and the new page still comes.
TEST_F(PageReader7zTest, AJumpToAnotherBlockWhileOneIsWritten) {
    std::string first, second;
    for (int i = 0; i < 30; ++i) {
        const std::string n = "a" + std::to_string(100 + i) + ".bmp";
        page(n, i, 300);
        first += " " + n;
    }
    for (int i = 0; i < 5; ++i) {
        const std::string n = "b" + std::to_string(100 + i) + ".bmp";
        page(n, 20 + i, 300);
        second += " " + n;
    }
    // Two solid blocks: one per extension group is not guaranteed, so the
    // block size is capped to split the book.
    const std::string book = make("blocks.cb7", "-ms=30f", first + second);
    auto r = open(book);
    ASSERT_EQ(r->getPageNameList().size(), 35u);
    expectPage(*r, 0, 0);
    expectPage(*r, 33, 23);
    expectPage(*r, 29, 29);
    expectPage(*r, 1, 1);

    // Measuring a page of the other block meanwhile never makes it give
    // way: the first block is still written once.
    auto m = open(book);
    expectPage(*m, 0, 0);
    m->decodedPictureSize(33);
    for (int i = 0; i < 30; ++i) expectPage(*m, i, i);
    EXPECT_LE(m->extractionCount(), 2);
}

// The disk fills up while a block is written (here: a file size limit):
// the page fails, no half-written page is left to be read later, and with
// room again the page comes.
TEST_F(PageReader7zTest, AFullDiskIsAFailureNotAHalfPage) {
    auto r = open(solidBook(6, 200));  // pages of 120 kB
    struct rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 50'000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = resultOf(*r, 0);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, PageReader::kResultFailed);
    EXPECT_TRUE(filesUnder(r->getTemporaryDirectory()).empty());
    EXPECT_FALSE(r->failureReason().empty());
    expectPage(*r, 0, 0);
    expectPage(*r, 5, 5);
}

TEST_F(PageReader7zTest, TheSessionOpensSevenZipBooks) {
    const std::string book = solidBook(3);
    auto session = std::make_shared<BookReaderEx>();
    ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::SevenZip);
    session->closeBook();
}

// The session over 7z books of the fixture's pages: 200 x 300, page 3
// 400 x 300.
class PageReader7zSessionTest : public test::BookSessionFixture {
protected:
    void SetUp() override {
        test::BookSessionFixture::SetUp();
        if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z tool";
        if (!SevenZipLibrary::shared().available())
            GTEST_SKIP() << "7-Zip library: " << SevenZipLibrary::shared().failureReason();
    }
};

// A 7z book on this machine pairs its pages by their sizes from a jump on,
// as paging from the start would: (0, 1) (2) [3] (4, 5) (6, 7). A page that
// starts its block (each of a plain book's, the first of a solid block) is
// measured from its first bytes, decoded alone and written nowhere; a page
// further into a solid block once written out, with its block.
TEST_F(PageReader7zSessionTest, AJumpPairsThePagesOf7zBooksAsPagingFromTheStartWould) {
    ASSERT_EQ(test::shell("cd '" + bookDir.path() + "' && 7z a -bd -ms=off plain.cb7 p?.bmp >/dev/null && "
                          "7z a -bd -ms=on solid.cb7 p?.bmp >/dev/null"),
              0);
    auto sizeOf = [](int page) { return page == kWidePage ? gfx::Size{400, 300} : gfx::Size{200, 300}; };

    {
        auto r = std::make_shared<PageReader7z>();
        ASSERT_TRUE(r->openFile(bookDir.file("plain.cb7"), std::nullopt, std::nullopt, false, false));
        for (int i = 0; i < kPages; ++i) {
            EXPECT_FALSE(r->isMeasuredByDecoding(i)) << i << ": its header tells";
            EXPECT_EQ(r->pictureSize(i), sizeOf(i)) << i;
            EXPECT_EQ(r->decodedPictureSize(i), sizeOf(i)) << i;
        }
        EXPECT_EQ(r->extractionCount(), 0) << "measured without writing a page out";
        EXPECT_TRUE(filesUnder(r->getTemporaryDirectory()).empty());
        // Measuring cut the pages' decoding short: each shows whole.
        for (int i = 0; i < kPages; ++i) {
            int result = -1;
            auto image = r->newLoadAndCreateImage(i, result);
            ASSERT_EQ(result, PageReader::kResultImage) << i;
            EXPECT_EQ(gfx::Size(double(image->width()), double(image->height())), sizeOf(i)) << i;
        }
        EXPECT_EQ(r->extractionCount(), kPages);
        r->closeFile();
    }
    {
        auto r = std::make_shared<PageReader7z>();
        ASSERT_TRUE(r->openFile(bookDir.file("solid.cb7"), std::nullopt, std::nullopt, false, false));
        EXPECT_EQ(r->pictureSize(0), sizeOf(0)) << "the block's first page";
        EXPECT_FALSE(r->isMeasuredByDecoding(0));
        EXPECT_EQ(r->pictureSize(5), gfx::Size{}) << "not written out yet";
        EXPECT_TRUE(r->isMeasuredByDecoding(5));
        EXPECT_EQ(r->extractionCount(), 0);
        EXPECT_EQ(r->decodedPictureSize(5), sizeOf(5));
        EXPECT_FALSE(r->isMeasuredByDecoding(5)) << "at hand now";
        EXPECT_EQ(r->pictureSize(5), sizeOf(5));
        for (int i = 0; i < kPages; ++i) EXPECT_EQ(r->decodedPictureSize(i), sizeOf(i)) << i;
        EXPECT_EQ(r->extractionCount(), 1);
        EXPECT_EQ(filesUnder(r->getTemporaryDirectory()).size(), size_t(kPages));
        r->closeFile();
    }

    auto extracted = [] {
        size_t n = 0;
        for (const auto& e : fs::recursive_directory_iterator(sys::AppPaths::tmp() + "/solidtemp"))
            n += e.is_regular_file();
        return n;
    };
    set("isDoubleTruck", true);
    for (const char* name : {"plain.cb7", "solid.cb7"}) {
        ASSERT_TRUE(openBookFile(bookDir.file(name)));
        auto p = load(PageLoadRequest::kJumpForward, 5, {800, 300});
        EXPECT_TRUE(p->is2PageLoaded) << name;
        EXPECT_EQ(p->targetPage, 4) << name;
        if (std::string(name) == "plain.cb7") {
            EXPECT_EQ(extracted(), 2u) << "only the pages shown are written";
        }
        p = load(PageLoadRequest::kPrevious, 0, {800, 300});
        EXPECT_EQ(p->targetPage, 3) << name;
        EXPECT_FALSE(p->is2PageLoaded) << name;
    }

    // Solid in blocks of three, each written on the asking thread: the
    // first view measures what it has at hand, (0, 1) (2) [3] and nothing
    // of page 4 further into the next block; a jump to page 5 still learns
    // page 4 from the block it writes.
    ASSERT_EQ(test::shell("cd '" + bookDir.path() + "' && 7z a -bd -ms=3f threes.cb7 p?.bmp >/dev/null"), 0);
    auto open = [&] { ASSERT_TRUE(openBookFile(bookDir.file("threes.cb7"))); };
    open();
    EXPECT_TRUE(load(PageLoadRequest::kCompose, 0, {800, 300})->is2PageLoaded);
    EXPECT_EQ(session->spreadStart(5), std::nullopt);
    auto p = load(PageLoadRequest::kJumpForward, 5, {800, 300});
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_TRUE(p->is2PageLoaded);

    // After the first view's preload, the rest of the book is decoded in
    // order to measure it, block by block; with one page at a time, no more
    // than the pages shown.
    set("isPreRead", true);
    PageLoadRequest first = request(PageLoadRequest::kCompose, 0, {800, 300});
    first.isPreloadPages = true;
    first.targetSizePreload = first.targetSize;
    for (bool sideBySide : {false, true}) {
        set("isDoubleTruck", sideBySide);
        open();
        ASSERT_EQ(session->loadPage(first), 0);
        session->waitPreloadThread();
        EXPECT_EQ(extracted(), sideBySide ? size_t(kPages) : 3u) << sideBySide;
    }
    EXPECT_EQ(session->spreadStart(7), 6);
    EXPECT_EQ(session->spreadStart(5), 4);
    set("isPreRead", false);
}

// A jump into a solid block being written waits, to pair its page, for the
// page after it to be written too: with the first page alone, page 4 goes
// with page 5, a large picture still being decoded as page 4 is shown.
TEST_F(PageReader7zSessionTest, AJumpIntoABlockBeingWrittenWaitsForThePageAfterIt) {
    ASSERT_TRUE(test::writeHalvesPage(pagePath(5), 1000, 1500, pageColour(5, false), pageColour(5, true)));
    ASSERT_EQ(test::shell("cd '" + bookDir.path() + "' && 7z a -bd -ms=on solid.cb7 p?.bmp >/dev/null"), 0);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    ASSERT_TRUE(openBookFile(bookDir.file("solid.cb7")));
    auto p = load(PageLoadRequest::kJumpForward, 4, {800, 300});
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_TRUE(p->is2PageLoaded) << "page 4 beside page 5, as paging from the start shows it";
}

}  // namespace
