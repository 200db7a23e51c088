// The cover maker on books packed at test time by the real tools (zip, rar,
// 7z, img2pdf), read through the reading session in thumbnail mode.
#include "engine/ThumbsCreate.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/QNNetworkInfo.h"
#include "foundation/Settings.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/core/Thread.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <fstream>

namespace {

class Services : public AppDelegateServices {
public:
    explicit Services(std::shared_ptr<Settings> s) : settings_(std::move(s)) {}
    std::shared_ptr<Settings> settings() override { return settings_; }
    bool isAppGotoBackgroundProcess() override { return false; }

private:
    std::shared_ptr<Settings> settings_;
};

struct Listener : ThumbsCreateDelegate {
    std::vector<std::shared_ptr<ThumbsCreateImageObject>> told;
    void updateItem(const std::shared_ptr<ThumbsCreateImageObject>& entry) override {
        EXPECT_TRUE(sys::RunLoop::isMainThread());
        told.push_back(entry);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : told) out.push_back(e->item()->filename().value_or(""));
        return out;
    }
};

// A JPEG page: left half `left`, right half `right`.
bool writeJpegPage(const std::string& path, int w, int h, uint32_t left, uint32_t right) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = x < w / 2 ? left : right;
    auto image = gfx::Image::make(w, h, std::move(px), 1.0);
    if (!image) return false;
    auto bytes = gfx::JpegEncoder::encode(*image, 0.9);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return !bytes.empty();
}

class ThumbsCreateTest : public test::VirtualClockTest {
protected:
    static constexpr uint32_t kRed = 0xFFD02020, kBlue = 0xFF2040D0, kGreen = 0xFF20B040, kGrey = 0xFF808080;

    void SetUp() override {
        VirtualClockTest::SetUp();
        savedProfile = sys::DeviceProfile::current();
        home = std::make_unique<test::TempDir>("thumbs");
        sys::AppPaths::setHome(home->path());
        sys::UserDefaults::standard().reload();
        settings = std::make_shared<Settings>();
        settings->readFromFile();
        AppDelegateServices::install(std::make_shared<Services>(settings));
        books = BookCommon::getBooksDocumentsFolder();
        sys::FileManager::createDirectory(books, true);
        maker = std::make_shared<ThumbsCreate>();
        maker->setDelegate(listener);
    }
    void TearDown() override {
        maker.reset();
        VirtualClockTest::TearDown();
        AppDelegateServices::install(nullptr);
        QNNetworkInfo::setInterfaceRoles({});
        sys::DeviceProfile::setCurrent(savedProfile);
        sys::AppPaths::setHome("");
        sys::UserDefaults::standard().reload();
    }

    void useProfile(const char* name) {
        auto p = sys::DeviceProfile::named(name);
        ASSERT_TRUE(p.has_value());
        sys::DeviceProfile::setCurrent(*p);
    }

    // Pages p0.jpg... in a fresh source folder: page 0 red | blue, page 1 green | grey.
    std::string pages(const std::string& tag, int count = 2, int w = 600, int h = 800) {
        std::string dir = work.file(tag);
        sys::FileManager::createDirectory(dir, true);
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(writeJpegPage(dir + "/p" + std::to_string(i) + ".jpg", w, h, i == 0 ? kRed : kGreen,
                                      i == 0 ? kBlue : kGrey));
        }
        return dir;
    }
    bool pack(const std::string& command, const std::string& dir) {
        return test::shell("cd '" + dir + "' && " + command + " >/dev/null 2>&1") == 0;
    }
    std::shared_ptr<FilelistItem> item(const std::string& name, int type) {
        auto i = std::make_shared<FilelistItem>();
        i->setType(type);
        i->setFilename(name);
        i->setPathFromBooks(name);
        return i;
    }
    std::shared_ptr<FilelistItem> remoteItem(const std::string& url) {
        auto i = std::make_shared<FilelistItem>();
        i->setType(1);
        i->setFilename(sys::Path::lastPathComponent(url));
        i->setLocation(FilelistItem::kRemote);
        i->setRemoteURL(url);
        return i;
    }
    gfx::ImageRef cover(const FilelistItem& i) {
        return gfx::ImageDecoder::decodeFile(ThumbsCreate::thumbnailPathForItem(i, false));
    }
    void idle() {
        ASSERT_TRUE(maker->waitUntilIdle(60));
        advance(0.1);
    }

    sys::DeviceProfile savedProfile;
    std::unique_ptr<test::TempDir> home;
    test::TempDir work{"thumbsrc"};
    std::shared_ptr<Settings> settings;
    std::string books;
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    std::shared_ptr<ThumbsCreate> maker;
};

TEST_F(ThumbsCreateTest, EveryKindOfBookGetsItsFirstPageAsCoverAndTheListIsTold) {
    useProfile("phone-se");  // scale 2: 75 x 97 points are 150 x 194 pixels
    std::string src = pages("src");
    ASSERT_TRUE(pack("zip -q -0 '" + books + "/a.cbz' p0.jpg p1.jpg", src));
    std::vector<std::shared_ptr<FilelistItem>> items{item("a.cbz", 1)};
    if (test::haveProgram("rar")) {
        ASSERT_TRUE(pack("rar a -idq '" + books + "/b.cbr' p0.jpg p1.jpg", src));
        items.push_back(item("b.cbr", 1));
    }
    if (test::haveProgram("7z")) {
        ASSERT_TRUE(pack("7z a -bd '" + books + "/c.cb7' p0.jpg p1.jpg", src));
        items.push_back(item("c.cb7", 1));
    }
    if (test::haveProgram("img2pdf")) {
        ASSERT_TRUE(pack("img2pdf p0.jpg p1.jpg -o '" + books + "/d.pdf'", src));
        items.push_back(item("d.pdf", 3));
    }
    ASSERT_TRUE(sys::FileManager::copyItem(src + "/p0.jpg", books + "/e.jpg"));
    items.push_back(item("e.jpg", 2));
    for (const auto& i : items) ASSERT_TRUE(maker->addQue(i));
    idle();

    std::vector<std::string> expected;
    for (const auto& i : items) expected.push_back(*i->filename());
    EXPECT_EQ(listener->names(), expected);
    for (const auto& i : items) {
        SCOPED_TRACE(*i->filename());
        auto c = cover(*i);
        ASSERT_TRUE(c);
        if (i->type() == 2) {
            // A single image: fitted into 74 x 96 points, even sides.
            EXPECT_EQ(c->height(), 192);
            EXPECT_EQ(c->width(), 144);
        } else {
            // The 3:4 page fitted into 150 x 194 pixels is 144 x 194, centred
            // with 3 pixels each side; those go, and one point (2 pixels) at
            // the right and bottom.
            EXPECT_NEAR(c->width(), 142, 2);
            EXPECT_NEAR(c->height(), 192, 2);
        }
        EXPECT_TRUE(test::colourNear(c->pixel(c->width() / 4, c->height() / 2), kRed, 24));
        EXPECT_TRUE(test::colourNear(c->pixel(c->width() * 3 / 4, c->height() / 2), kBlue, 24));
        // No marker is left behind after a success.
        EXPECT_FALSE(sys::FileManager::fileExists(ThumbsCreate::markerPathForItem(*i, false)));
    }
    // The list reads them back; an archive's cover carries its page's title.
    auto answer = maker->getImage(items[0], false);
    ASSERT_TRUE(answer && answer->image());
    EXPECT_EQ(answer->filenameInArchive(), std::optional<std::string>("p0"));
    // Made once: asking again queues nothing.
    EXPECT_FALSE(maker->addQue(items[0]));
    EXPECT_EQ(maker->queueLength(), 0u);
}

// The lists refresh their rows on the main thread (the reading state, the
// names, the streaming flag, all set again) while the worker makes the
// covers of the same items: the worker reads only what was queued, so the
// covers come out right (and, under ThreadSanitizer, nothing is shared).
TEST_F(ThumbsCreateTest, TheListRefreshesItsRowsWhileTheirCoversAreMade) {
    std::string src = pages("src");
    std::vector<std::shared_ptr<FilelistItem>> items;
    for (const char* name : {"r1.cbz", "r2.cbz", "r3.cbz"}) {
        ASSERT_TRUE(pack(std::string("zip -q -0 '") + books + "/" + name + "' p0.jpg p1.jpg", src));
        items.push_back(item(name, 1));
    }
    for (const auto& i : items) ASSERT_TRUE(maker->addQue(i));
    int rounds = 0;
    while ((maker->isRunning() || maker->queueLength() > 0) && rounds < 2000) {
        for (const auto& i : items) {
            const std::string name = *i->filename();
            i->setFilename(name);
            i->setPathFromBooks(name);
            i->setType(1);
            i->setRemoteCanStreaming(false);
            i->setReadingPageNo(rounds);
            i->setReadingFolder("folder " + std::to_string(rounds));
            i->setBookmarkDate(sys::Date(1000.0 + rounds));
            i->setIsSelected(rounds % 2 == 1);
        }
        ++rounds;
        advance(0.01);  // the list's answers to the worker run here
    }
    idle();
    EXPECT_EQ(listener->names(), (std::vector<std::string>{"r1.cbz", "r2.cbz", "r3.cbz"}));
    for (const auto& i : items) {
        SCOPED_TRACE(*i->filename());
        auto c = cover(*i);
        ASSERT_TRUE(c);
        EXPECT_TRUE(test::colourNear(c->pixel(c->width() / 4, c->height() / 2), kRed, 24));
    }
}

TEST_F(ThumbsCreateTest, TheWebComicSiteBooksUseTheirSecondPage) {
    std::string src = pages("src");
    const std::string name = std::string("title ") + ThumbsCreate::kWebComicHost + " 01.cbz";
    ASSERT_TRUE(pack("zip -q '" + books + "/" + name + "' p0.jpg p1.jpg", src));
    auto book = item(name, 1);
    maker->addQue(book);
    idle();
    auto c = cover(*book);
    ASSERT_TRUE(c);
    EXPECT_TRUE(test::colourNear(c->pixel(c->width() / 4, c->height() / 2), kGreen, 24));
    EXPECT_EQ(maker->getImage(book, false)->filenameInArchive(), std::optional<std::string>("p1"));
}

TEST_F(ThumbsCreateTest, AFailedReadIsTriedAgainButACrashedOneIsNot) {
    std::ofstream(books + "/broken.cbz") << "not a zip at all";
    auto broken = item("broken.cbz", 1);
    maker->addQue(broken);
    idle();
    EXPECT_FALSE(cover(*broken));
    EXPECT_TRUE(listener->told.empty());
    EXPECT_EQ(maker->failureCount(), 1);
    // The ordinary failure took its marker away: once the book is mended the
    // next request makes the cover.
    EXPECT_FALSE(sys::FileManager::fileExists(ThumbsCreate::markerPathForItem(*broken, false)));
    ASSERT_TRUE(pack("rm -f '" + books + "/broken.cbz' && zip -q '" + books + "/broken.cbz' p0.jpg", pages("src")));
    maker->addQue(broken);
    idle();
    EXPECT_TRUE(cover(*broken));
    EXPECT_EQ(maker->failureCount(), 0);

    // A marker left by an attempt that never came back keeps the book away.
    ASSERT_TRUE(pack("zip -q '" + books + "/crashed.cbz' p0.jpg", work.file("src")));
    auto crashed = item("crashed.cbz", 1);
    const std::string marker = ThumbsCreate::markerPathForItem(*crashed, true);
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t(1))}), marker));
    maker->addQue(crashed);
    idle();
    EXPECT_FALSE(cover(*crashed));
    EXPECT_TRUE(sys::FileManager::fileExists(marker));
}

// An entry whose book has gone (renamed or deleted under a list that still
// shows it) gets no side folders made under the old name.
TEST_F(ThumbsCreateTest, ABookThatIsGoneGetsNoSideFolders) {
    auto gone = item("gone.cbz", 1);
    maker->addQue(gone);
    idle();
    EXPECT_FALSE(cover(*gone));
    const std::string dir = BookCommon::getBookSettingDir(books + "/gone.cbz", false);
    EXPECT_FALSE(sys::FileManager::fileExists(dir)) << dir;
}

TEST_F(ThumbsCreateTest, SixFailuresInARowDropTheQueue) {
    // The worker waits for the list's answer of the first cover; meanwhile
    // everything else is queued, so the order is fixed.
    std::string src = pages("src", 1);
    ASSERT_TRUE(pack("zip -q '" + books + "/good.cbz' p0.jpg", src));
    auto first = item("good.cbz", 1);
    maker->addQue(first);
    std::vector<std::shared_ptr<FilelistItem>> bad;
    for (int i = 0; i < 7; ++i) {
        std::string name = "bad" + std::to_string(i) + ".cbz";
        std::ofstream(books + "/" + name) << "junk";
        bad.push_back(item(name, 1));
        maker->addQue(bad.back());
    }
    ASSERT_TRUE(pack("zip -q '" + books + "/late.cbz' p0.jpg", src));
    auto late = item("late.cbz", 1);
    maker->addQue(late);
    idle();
    EXPECT_TRUE(cover(*first));
    EXPECT_FALSE(cover(*late));  // dropped with the queue after the sixth failure
    EXPECT_EQ(maker->queueLength(), 0u);
    EXPECT_EQ(maker->failureCount(), 0);
    EXPECT_FALSE(maker->isRunning());
    // The next request starts a new worker.
    maker->addQue(late);
    idle();
    EXPECT_TRUE(cover(*late));
}

TEST_F(ThumbsCreateTest, QueueingOnceCancellingAndSlowingDown) {
    std::string src = pages("src", 1);
    ASSERT_TRUE(pack("zip -q '" + books + "/a.cbz' p0.jpg && zip -q '" + books + "/b.cbz' p0.jpg", src));
    auto a = item("a.cbz", 1), b = item("b.cbz", 1);
    // The listener is on the main thread, which is not running: the worker
    // holds on a's answer while the rest is queued.
    maker->suspendTask(1);
    auto first = maker->addQueDo(a);
    auto second = maker->addQueDo(b);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(maker->addQueDo(b), second);  // the same item object: the same entry
    EXPECT_EQ(second->item(), b);
    maker->cancelAllTask();
    EXPECT_EQ(maker->queueLength(), 0u);
    idle();
    // A slowed worker still works (0.1 s a book).
    maker->suspendTask(1);
    maker->addQue(b);
    for (int i = 0; i < 50 && maker->isRunning(); ++i) advance(0.1);
    idle();
    EXPECT_TRUE(cover(*b));
    // Going away joins the worker, even with work queued.
    maker->addQue(a);
    maker.reset();
}

// While a book is opened for reading (its first page decoding), the covers
// wait: no page is decoded by both at once. Then they go on; a maker let go
// meanwhile leaves its held worker to end alone.
TEST_F(ThumbsCreateTest, CoversWaitWhileABookIsOpenedForReading) {
    ASSERT_TRUE(pack("zip -q '" + books + "/a.cbz' p0.jpg", pages("src", 1)));
    auto a = item("a.cbz", 1);
    ThumbsCreate::holdForOpen(true);
    maker->addQue(a);
    EXPECT_FALSE(maker->waitUntilIdle(0.5));
    EXPECT_FALSE(cover(*a));
    EXPECT_EQ(maker->queueLength(), 1u);
    ThumbsCreate::holdForOpen(false);
    idle();
    EXPECT_TRUE(cover(*a));
}

TEST_F(ThumbsCreateTest, RemoteCoversFollowTheAutoLoadSetting) {
    maker->suspendTask(1);  // nothing is made: only what is queued matters
    // No interface plays Wi-Fi.
    QNNetworkInfo::setInterfaceRoles({{"no-such-if0", "en0"}});
    auto far = remoteItem("https://example.invalid/books/a.cbz");
    auto own = remoteItem(std::string(BookCommon::kLeafbrightLibraryURL) + "a.cbz");
    settings->setValueForKey("remoteThumbsAutoLoad", "default");
    EXPECT_FALSE(maker->addQueDo(far));
    EXPECT_TRUE(maker->addQueDo(own));
    far->setRemoteThumbsManualReload(true);
    EXPECT_TRUE(maker->addQueDo(far));
    maker->cancelAllTask();
    far->setRemoteThumbsManualReload(false);
    settings->setValueForKey("remoteThumbsAutoLoad", "off");
    EXPECT_FALSE(maker->addQueDo(own));
    settings->setValueForKey("remoteThumbsAutoLoad", "on");
    EXPECT_TRUE(maker->addQueDo(far));
    maker->cancelAllTask();

    // A remote book whose cover could not be made (here no stream reads it)
    // is not asked for again while the list keeps its item; another list's
    // item of it is, and so is this one when the list is told to make its
    // thumbnails afresh. The slowed worker may have taken one of the books
    // above before they were cancelled: it ends first, and its failure is
    // not counted.
    maker->suspendTask(0);
    idle();
    maker->cancelAllTask();
    auto refused = remoteItem("http://127.0.0.1:9/books/refused.cbz");
    refused->setRemoteCanStreaming(true);
    ASSERT_TRUE(maker->addQue(refused));
    idle();
    EXPECT_EQ(maker->failureCount(), 1);
    EXPECT_FALSE(maker->addQue(refused));
    EXPECT_FALSE(maker->getImage(refused, true));
    idle();
    EXPECT_EQ(maker->failureCount(), 1);
    auto relisted = remoteItem("http://127.0.0.1:9/books/refused.cbz");
    relisted->setRemoteCanStreaming(true);
    ASSERT_TRUE(maker->addQue(relisted));
    idle();
    EXPECT_EQ(maker->failureCount(), 2);
    refused->setRemoteThumbsManualReload(true);
    ASSERT_TRUE(maker->addQue(refused));
    idle();
    EXPECT_EQ(maker->failureCount(), 3);
    EXPECT_FALSE(refused->remoteThumbsManualReload());
    EXPECT_FALSE(maker->addQue(refused));

    // A row that knows its user but no password waits, asked for again or
    // not, and is tried once the server has taken the password it is given.
    maker->cancelAllTask();
    auto waiting = remoteItem("http://127.0.0.1:9/books/waiting.cbz");
    waiting->setRemoteCanStreaming(true);
    waiting->setRemoteUsername(std::string("reader"));
    ASSERT_TRUE(maker->addQue(waiting));
    idle();
    EXPECT_EQ(maker->failureCount(), 0);
    EXPECT_FALSE(maker->addQue(waiting));
    maker->makeCoversThatWaitedForPassword();
    idle();
    EXPECT_EQ(maker->failureCount(), 0);
    waiting->setRemotePassword(std::string("typed"));
    EXPECT_FALSE(maker->addQue(waiting)) << "not before the server took it";
    maker->makeCoversThatWaitedForPassword();
    idle();
    EXPECT_EQ(maker->failureCount(), 1) << "tried";
}

TEST_F(ThumbsCreateTest, FolderCoversAreMadeAgainOnlyForAnotherSize) {
    const std::string folder = books + "/Series";
    sys::FileManager::createDirectory(folder, true);
    ASSERT_TRUE(pack("zip -q '" + folder + "/v1.cbz' p0.jpg", pages("src", 1)));
    auto book = item("Series/v1.cbz", 1);
    maker->addQue(book);
    idle();
    const std::string bookCover = ThumbsCreate::thumbnailPathForItem(*book, false);
    ASSERT_TRUE(sys::FileManager::fileExists(bookCover));

    const std::string path = *BookCommon::getThumbsFilenameForFolder(folder, false);
    EXPECT_TRUE(maker->folderThumbsCreate(folder, bookCover, nullptr, false, {48, 66}));
    auto made = gfx::ImageDecoder::decodeFile(path);
    ASSERT_TRUE(made);
    EXPECT_LE(made->height(), 66);
    auto size = sys::PropertyList::readArray(sys::Path::stringByDeletingPathExtension(path) + ".size");
    ASSERT_TRUE(size && size->size() == 2);
    EXPECT_EQ((*size)[0].integerValue(), 48);
    // The same size again: kept; another size, or a forced one: made again.
    EXPECT_FALSE(maker->folderThumbsCreate(folder, bookCover, nullptr, false, {48, 66}));
    EXPECT_TRUE(maker->folderThumbsCreate(folder, bookCover, nullptr, false, {66, 86}));
    EXPECT_EQ(gfx::ImageDecoder::decodeFile(path)->height(), 86);
    EXPECT_TRUE(maker->folderThumbsCreate(folder, bookCover, nullptr, true, {66, 86}));
    // Nothing to make it from is not a success.
    EXPECT_FALSE(maker->folderThumbsCreate(folder, work.file("none.jpg"), nullptr, true, {66, 86}));

    // Queued, a folder takes its first book's cover at the shelf's size.
    sys::FileManager::removeItem(path);
    auto series = item("Series", 0);
    maker->addQue(series);
    idle();
    EXPECT_TRUE(sys::FileManager::fileExists(path));
    EXPECT_EQ(listener->names().back(), "Series");
}

TEST_F(ThumbsCreateTest, ArchiveTitlesAndReducedDecoding) {
    EXPECT_EQ(ThumbsCreate::convertArchiveFilenameToAuxTitle(std::string("Vol1/p001.jpg") + '\0'), "Vol1");
    EXPECT_EQ(ThumbsCreate::convertArchiveFilenameToAuxTitle("p001.jpg"), "p001");
    EXPECT_EQ(ThumbsCreate::convertArchiveFilenameToAuxTitle("Comics/\xE7\xAC\xAC\xE4\xB8\x80\xE5\xB7\xBB.x/p1.jpg"),
              "\xE7\xAC\xAC\xE4\xB8\x80\xE5\xB7\xBB");
    // Shift-JIS bytes are decoded first.
    auto sjis = ThumbsCreate::convertArchiveFilenameToAuxTitle("\x91\xE6\x88\xEA\x8A\xAA/p1.jpg");
    ASSERT_TRUE(sjis);
    EXPECT_EQ(*sjis, "\xE7\xAC\xAC\xE4\xB8\x80\xE5\xB7\xBB");
    EXPECT_FALSE(ThumbsCreate::convertArchiveFilenameToAuxTitle(""));

    // A page decoded for a small picture comes out reduced, on that thread only.
    ASSERT_TRUE(writeJpegPage(work.file("big.jpg"), 2400, 3200, kRed, kBlue));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(gfx::ImageDecoder::readFile(work.file("big.jpg"), bytes));
    gfx::ImageRef other;
    {
        ImageLoader::ScopedDecodeSize reduced(150, 194);
        auto small = ImageLoader::imageWithAnyData(bytes);
        ASSERT_TRUE(small);
        EXPECT_EQ(small->width(), 300);  // an eighth, still no smaller than asked
        sys::Thread t([&](const std::atomic<bool>&) { other = ImageLoader::imageWithAnyData(bytes); });
        t.join();
    }
    ASSERT_TRUE(other);
    EXPECT_EQ(other->width(), 2400);
    EXPECT_EQ(ImageLoader::imageWithAnyData(bytes)->width(), 2400);
}

}  // namespace
