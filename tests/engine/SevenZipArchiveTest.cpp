// The 7-Zip library binding on archives made here by the 7z tool: every
// decoder a comic archive is likely to use, encryption of data and of the
// directory, damaged files, and names that try to leave the folder.
#include "engine/MemoryArchiveSource.h"
#include "engine/SevenZipArchive.h"

#include "engine/SevenZipInterfaces.h"
#include "engine/SevenZipLibrary.h"
#include "engine/SevenZipReader.h"
#include "platform/core/FileManager.h"
#include "platform/core/RunLoop.h"
#include "tests/engine/SevenZipTestArchives.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;

using test::readFile;

// Bytes that compress a little but not to nothing, as pages do.
std::string sampleBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char((i % 7 == 0) ? (x >> 24) : ('a' + (i / 13) % 26));
    }
    return out;
}

// Bytes that hardly compress, as a picture's.
std::string noiseBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = char((x >> 16) % 200);
    }
    return out;
}

class SevenZipArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z tool";
        if (!SevenZipLibrary::shared().available())
            GTEST_SKIP() << "7-Zip library: " << SevenZipLibrary::shared().failureReason();
    }

    void put(const std::string& name, const std::string& bytes) {
        const std::string path = src.file(name);
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(sys::FileManager::writeFile(path, bytes, false));
        contents[name] = bytes;
    }
    // 7z with `options` of the files given, into out/<archive>.
    std::string make(const std::string& archive, const std::string& options, const std::string& files) {
        const std::string path = out.file(archive);
        fs::remove(path);
        const int rc = test::shell("cd '" + src.path() + "' && 7z a -t7z -bd " + options + " '" + path + "' " + files +
                                   " >/dev/null 2>&1");
        EXPECT_EQ(rc, 0) << options;
        return path;
    }
    static std::unique_ptr<SevenZipArchive> openArchive(const std::string& path,
                                                        std::optional<std::string> password = std::nullopt,
                                                        SevenZipArchive::Error* error = nullptr) {
        return SevenZipArchive::open(SevenZipArchive::fileSource(path), "7z", [password] { return password; },
                                     error);
    }
    // Every file item decodes to the bytes it was made from.
    void expectAllBytes(SevenZipArchive& a) {
        int files = 0;
        for (uint32_t i = 0; i < a.itemCount(); ++i) {
            auto item = a.item(i);
            ASSERT_TRUE(item);
            if (item->isDirectory()) continue;
            std::string bytes;
            SevenZipArchive::Error error;
            ASSERT_EQ(a.extractToBuffer(i, 1 << 20, bytes, &error), SevenZipArchive::BufferResult::Ok)
                << item->path << ": " << error.description;
            EXPECT_EQ(bytes, contents[item->path]) << item->path;
            ++files;
        }
        EXPECT_EQ(files, int(contents.size()));
    }

    test::TempDir src{"szsrc"};
    test::TempDir out{"szout"};
    std::map<std::string, std::string> contents;
};

TEST_F(SevenZipArchiveTest, EveryCommonMethodDecodesToTheOriginalBytes) {
    put("a.bin", sampleBytes(30000, 1));
    put("b.txt", sampleBytes(5000, 2));
    put("dir/c.bin", sampleBytes(12345, 3));
    put("empty.txt", "");
    for (const char* method : {"-m0=LZMA", "-m0=LZMA2", "-m0=PPMd", "-m0=LZMA2 -mf=BCJ", "-mf=BCJ2",
                               "-m0=Delta:4 -m1=LZMA2", "-m0=Copy"}) {
        SCOPED_TRACE(method);
        const std::string path = make("m.7z", method, "a.bin b.txt dir empty.txt");
        SevenZipArchive::Error error;
        auto a = openArchive(path, std::nullopt, &error);
        ASSERT_TRUE(a) << error.description;
        EXPECT_EQ(a->itemCount(), 5u);  // the folder is an item too
        expectAllBytes(*a);
        // Several items at once, in any order, into one sink.
        struct Collect : SevenZipArchive::Sink {
            std::map<uint32_t, std::string> got;
            uint32_t current = 0;
            bool begin(uint32_t i) override { return current = i, got[i].clear(), true; }
            bool write(const void* d, size_t n) override { return got[current].append((const char*)d, n), true; }
            bool end(uint32_t, int32_t r) override { return r == sz::kOpOk; }
        } sink;
        std::vector<uint32_t> files;
        for (uint32_t i = a->itemCount(); i-- > 0;)
            if (!a->item(i)->isDirectory()) files.push_back(i);
        ASSERT_TRUE(a->extract(files, &sink, &error)) << error.description;
        for (uint32_t i : files) EXPECT_EQ(sink.got[i], contents[a->item(i)->path]);
        EXPECT_TRUE(a->extract(files, nullptr, &error)) << "test mode";
    }
}

TEST_F(SevenZipArchiveTest, ItemRecordsAndBlocksOfSolidAndNonSolidArchives) {
    for (int i = 0; i < 4; ++i) put("p" + std::to_string(i) + ".bin", sampleBytes(4000 + size_t(i), uint32_t(i)));
    put("sub/q.bin", sampleBytes(100, 9));
    ASSERT_EQ(test::shell("touch -d '2020-02-03 04:05:06 UTC' '" + src.file("p0.bin") + "'"), 0);

    auto solid = openArchive(make("solid.7z", "-ms=on", "p0.bin p1.bin p2.bin p3.bin sub"));
    ASSERT_TRUE(solid);
    EXPECT_TRUE(solid->isSolid());
    std::set<uint64_t> blocks;
    bool sawFolder = false;
    for (uint32_t i = 0; i < solid->itemCount(); ++i) {
        auto item = solid->item(i);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->index, i);
        if (item->isDirectory()) {
            sawFolder = true;
            EXPECT_EQ(item->path, "sub");
            EXPECT_EQ(item->directoryPath(), "sub");
            EXPECT_FALSE(item->fileName());
            EXPECT_EQ(item->block, SevenZipItem::kNoBlock);
            continue;
        }
        blocks.insert(item->block);
        EXPECT_EQ(item->orgSize, contents[item->path].size()) << item->path;
        EXPECT_EQ(item->crc, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(contents[item->path].data()),
                                            uInt(contents[item->path].size()))))
            << item->path;
        EXPECT_FALSE(item->isEncrypted());
        if (item->path == "p0.bin") {
            EXPECT_EQ(item->mDate, 1580702706);
        }
        if (item->path == "sub/q.bin") {
            EXPECT_EQ(item->fileName(), "q.bin");
            EXPECT_EQ(item->directoryPath(), "sub");
        }
    }
    EXPECT_TRUE(sawFolder);
    EXPECT_EQ(blocks.size(), 1u) << "one solid block";

    auto apart = openArchive(make("apart.7z", "-ms=off", "p0.bin p1.bin p2.bin p3.bin"));
    ASSERT_TRUE(apart);
    EXPECT_FALSE(apart->isSolid());
    blocks.clear();
    for (uint32_t i = 0; i < apart->itemCount(); ++i) blocks.insert(apart->item(i)->block);
    EXPECT_EQ(blocks.size(), 4u) << "a block per file";
    EXPECT_FALSE(apart->item(4)) << "past the end";
}

TEST_F(SevenZipArchiveTest, TimesFromFileTicksTruncateTowardZero) {
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(116'444'736'000'000'000ull), 0);
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(116'444'736'000'000'000ull + 15'999'999), 1);
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(116'444'736'000'000'000ull - 15'999'999), -1);
    // Times from a damaged archive at either end of the field.
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(0), -11'644'473'600);
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(~0ull), 1'833'029'933'770);
    EXPECT_EQ(SevenZipItem::unixSecondsFromFileTime(1ull << 63), 910'692'730'085);
    SevenZipItem item;
    EXPECT_FALSE(item.modificationDate()) << "0 is no time";
}

TEST_F(SevenZipArchiveTest, EncryptedDataAndEncryptedDirectories) {
    put("secret.bin", sampleBytes(20000, 5));
    const std::string data = make("aes.7z", "-psesame", "secret.bin");
    {
        SevenZipArchive::Error error;
        auto a = openArchive(data, std::nullopt, &error);
        ASSERT_TRUE(a) << "the directory is readable without the password";
        auto item = a->item(0);
        ASSERT_TRUE(item);
        EXPECT_TRUE(item->isEncrypted());
        std::string bytes;
        EXPECT_EQ(a->extractToBuffer(0, 1 << 20, bytes, &error), SevenZipArchive::BufferResult::NeedPassword);
        EXPECT_EQ(error.code, sz::kAbort);
        EXPECT_NE(error.description.find("Password is required"), std::string::npos) << error.description;
        EXPECT_TRUE(bytes.empty());
    }
    {
        SevenZipArchive::Error error;
        auto a = openArchive(data, "wrong", &error);
        ASSERT_TRUE(a);
        std::string bytes;
        EXPECT_EQ(a->extractToBuffer(0, 1 << 20, bytes, &error), SevenZipArchive::BufferResult::Failed);
        EXPECT_TRUE(error.code == sz::kOpDataError || error.code == sz::kOpCrcError ||
                    error.code == sz::kOpWrongPassword)
            << error.code << " " << error.description;
        EXPECT_TRUE(bytes.empty()) << "nothing of a wrong decryption is kept";
    }
    {
        auto a = openArchive(data, "sesame");
        ASSERT_TRUE(a);
        expectAllBytes(*a);
    }

    const std::string hidden = make("mhe.7z", "-psesame -mhe=on", "secret.bin");
    for (std::optional<std::string> wrong : {std::optional<std::string>{}, std::optional<std::string>{"wrong"},
                                             std::optional<std::string>{""}}) {
        SevenZipArchive::Error error;
        EXPECT_FALSE(openArchive(hidden, wrong, &error)) << wrong.value_or("(none)");
        EXPECT_TRUE(error.isSet());
        EXPECT_TRUE(error.password);
    }
    auto a = openArchive(hidden, "sesame");
    ASSERT_TRUE(a);
    expectAllBytes(*a);
}

TEST_F(SevenZipArchiveTest, DamagedArchivesFailWithoutHarm) {
    for (int i = 0; i < 6; ++i) put("f" + std::to_string(i) + ".bin", sampleBytes(8000, uint32_t(i)));
    const std::string whole = readFile(make("whole.7z", "-ms=on", "f0.bin f1.bin f2.bin f3.bin f4.bin f5.bin"));
    ASSERT_GT(whole.size(), 200u);
    for (size_t keep : {size_t(0), size_t(10), size_t(32), whole.size() / 2, whole.size() - 20, whole.size() - 1}) {
        SCOPED_TRACE(keep);
        const std::string path = out.file("cut.7z");
        ASSERT_TRUE(sys::FileManager::writeFile(path, whole.substr(0, keep), false));
        SevenZipArchive::Error error;
        auto a = openArchive(path, std::nullopt, &error);
        if (!a) {
            EXPECT_TRUE(error.isSet());
            continue;
        }
        for (uint32_t i = 0; i < a->itemCount(); ++i) {
            std::string bytes;
            if (a->extractToBuffer(i, 1 << 20, bytes, &error) == SevenZipArchive::BufferResult::Ok) {
                EXPECT_EQ(bytes, contents[a->item(i)->path]);
            }
        }
    }
    // Flipped bytes in the packed data: the CRC check refuses the item.
    std::string flipped = whole;
    for (size_t i = 40; i < 60; ++i) flipped[i] = char(flipped[i] ^ 0x5A);
    const std::string path = out.file("flipped.7z");
    ASSERT_TRUE(sys::FileManager::writeFile(path, flipped, false));
    auto a = openArchive(path);
    ASSERT_TRUE(a);
    std::string bytes;
    SevenZipArchive::Error error;
    EXPECT_NE(a->extractToBuffer(0, 1 << 20, bytes, &error), SevenZipArchive::BufferResult::Ok);
    EXPECT_TRUE(error.isSet());

    // Not an archive at all.
    ASSERT_TRUE(sys::FileManager::writeFile(path, "this is plain text, not an archive", false));
    EXPECT_FALSE(openArchive(path, std::nullopt, &error));
    EXPECT_EQ(error.description, "Can't open archive file");
}

TEST_F(SevenZipArchiveTest, BuffersAreCappedBeforeAndWhileExtracting) {
    put("big.bin", sampleBytes(50000, 7));
    auto a = openArchive(make("big.7z", "", "big.bin"));
    ASSERT_TRUE(a);
    std::string bytes;
    SevenZipArchive::Error error;
    EXPECT_EQ(a->extractToBuffer(0, 49999, bytes, &error), SevenZipArchive::BufferResult::TooLarge);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(a->extractToBuffer(0, 50000, bytes, &error), SevenZipArchive::BufferResult::Ok);
    EXPECT_EQ(bytes.size(), 50000u);
}

// An item's first bytes are decoded from about as many of the archive's:
// the decoders hand their output on in pieces of a megabyte, and are not
// given the rest of the item to decode. A coder that writes only whole
// blocks of its own (BZip2) is given more in steps. An encrypted item asks
// for its password; a cancel, a failing source or one that ends early end
// the steps.
TEST_F(SevenZipArchiveTest, AnItemsFirstBytesAreDecodedAlone) {
    put("big.bin", noiseBytes(3 << 19, 4));
    put("small.bin", sampleBytes(3000, 5));
    struct Reads {
        uint64_t bytes = 0;
        uint64_t failFrom = UINT64_MAX, endAt = UINT64_MAX;
    };
    class CountingSource : public SevenZipArchive::Source {
    public:
        CountingSource(std::string bytes, Reads& reads) : inner_(std::move(bytes)), reads_(reads) {}
        bool read(void* data, uint32_t size, uint32_t& got) override {
            if (at_ + size > reads_.failFrom) return false;
            if (at_ + size > reads_.endAt) size = uint32_t(reads_.endAt > at_ ? reads_.endAt - at_ : 0);
            const bool ok = inner_.read(data, size, got);
            reads_.bytes += got;
            at_ += got;
            return ok;
        }
        bool seek(int64_t offset, int whence, uint64_t& position) override {
            const bool ok = inner_.seek(offset, whence, position);
            at_ = position;
            return ok;
        }

    private:
        MemoryArchiveSource inner_;
        Reads& reads_;
        uint64_t at_ = 0;
    };
    using Result = SevenZipArchive::BufferResult;
    const std::string& big = contents["big.bin"];
    std::string lzma;
    for (const char* method : {"-m0=LZMA", "-m0=LZMA2", "-m0=BZip2", "-m0=LZMA2 -psesame"}) {
        SCOPED_TRACE(method);
        const std::string path = make(lzma.empty() ? "lzma.7z" : "head.7z", std::string("-mx1 -ms=off ") + method,
                                      "big.bin small.bin");
        if (lzma.empty()) lzma = path;
        const bool encrypted = std::strstr(method, "-p") != nullptr;
        Reads reads;
        auto open = [&](std::optional<std::string> password) {
            SevenZipArchive::Error error;
            auto a = SevenZipArchive::open(std::make_unique<CountingSource>(readFile(path), reads), "7z",
                                           [password] { return password; }, &error);
            EXPECT_TRUE(a) << error.description;
            return a;
        };
        auto a = open(encrypted ? std::optional<std::string>("sesame") : std::nullopt);
        ASSERT_TRUE(a);
        ASSERT_EQ(a->item(0)->path, "big.bin");
        ASSERT_EQ(a->item(1)->path, "small.bin");
        SevenZipArchive::Error error;
        std::string head;
        for (size_t upTo : {size_t(4) << 10, size_t(64) << 10}) {
            reads.bytes = 0;
            ASSERT_EQ(a->extractHead(0, upTo, head, &error), Result::Ok) << error.description;
            EXPECT_EQ(head, big.substr(0, upTo));
            EXPECT_FALSE(error.isSet()) << error.description;
            if (std::strcmp(method, "-m0=BZip2") != 0) {
                EXPECT_LT(reads.bytes, upTo + upTo / 2 + 4096) << "read past the start of a 1.5 MB item";
            }
        }
        ASSERT_EQ(a->extractHead(1, 4096, head, &error), Result::Ok) << error.description;
        EXPECT_EQ(head, contents["small.bin"]) << "the whole of a shorter item";
        std::string whole;
        ASSERT_EQ(a->extractToBuffer(0, 4 << 20, whole, &error), Result::Ok) << error.description;
        EXPECT_TRUE(whole == big) << "an extraction after a head is whole";
        if (encrypted) {
            auto locked = open(std::nullopt);
            ASSERT_TRUE(locked);
            EXPECT_EQ(locked->extractHead(0, 4096, head, &error), Result::NeedPassword);
            EXPECT_TRUE(error.password);
            EXPECT_TRUE(head.empty());
        }
    }

    // A cancelled, failing or short source ends the steps at once.
    Reads reads;
    auto a = SevenZipArchive::open(std::make_unique<CountingSource>(readFile(lzma), reads), "7z", {}, nullptr);
    ASSERT_TRUE(a);
    std::string head;
    std::atomic<bool> cancel{true};
    a->setCancelFlag(&cancel);
    EXPECT_EQ(a->extractHead(0, 4096, head, nullptr), Result::Failed);
    cancel = false;
    EXPECT_EQ(a->extractHead(0, 4096, head, nullptr), Result::Ok);
    for (uint64_t Reads::*limit : {&Reads::failFrom, &Reads::endAt}) {
        reads = Reads{};
        reads.*limit = 32 + 2000;
        EXPECT_EQ(a->extractHead(0, 64 << 10, head, nullptr), Result::Failed);
        EXPECT_TRUE(head.empty());
        EXPECT_LE(reads.bytes, 2000u) << "read again with more allowed";
    }
}

TEST_F(SevenZipArchiveTest, AMissingLibraryIsAClearReason) {
    SevenZipLibrary missing("/nonexistent/p7zip/7z.so");
    EXPECT_FALSE(missing.available());
    EXPECT_NE(missing.failureReason().find("/nonexistent/p7zip/7z.so"), std::string::npos)
        << missing.failureReason();
    EXPECT_EQ(missing.createInArchive("7z"), nullptr);
    put("x.bin", "x");
    SevenZipArchive::Error error;
    EXPECT_FALSE(SevenZipArchive::open(SevenZipArchive::fileSource(make("x.7z", "", "x.bin")), "7z", {}, &error,
                                       missing));
    EXPECT_EQ(error.description, missing.failureReason());

    // A library that is no 7-Zip (here zlib) is refused as well.
    SevenZipLibrary other("libz.so.1");
    EXPECT_FALSE(other.available());
    EXPECT_FALSE(other.failureReason().empty());
}

// Entry names rewritten in an uncompressed directory to what a hostile
// archive would hold; the directory's checksums are made right again.
TEST_F(SevenZipArchiveTest, ExtractionWithFullPathsStaysInsideTheFolder) {
    const std::map<std::string, std::string> renames{
        {"AAAevil.txt", "../evil.txt"},
        {"Babs.txt", "/abs.txt"},
        {"CCCCCCback.txt", "..\\..\\back.txt"},
        {"DDDDDDDDdeep.txt", "a/../../deep.txt"},
    };
    for (const auto& [from, to] : renames) put(from, "content of " + to);
    const std::string path = make("hostile.7z", "-mhc=off -m0=Copy", "AAAevil.txt Babs.txt CCCCCCback.txt DDDDDDDDdeep.txt");
    std::string bytes = readFile(path);
    ASSERT_TRUE(test::renameSevenZipEntries(bytes, renames));
    ASSERT_TRUE(sys::FileManager::writeFile(path, bytes, false));

    test::TempDir area{"szarea"};
    const std::string folder = area.file("inner/deeper");
    SevenZipReader reader(path);
    ASSERT_EQ(reader.fileType(), SevenZipReader::k7z);
    ASSERT_TRUE(reader.open(nullptr)) << reader.lastError()->description;
    std::vector<SevenZipItem> items;
    reader.iterateWithHandler([&](const std::optional<SevenZipItem>& item, const SevenZipReader::Error*) {
        if (item) items.push_back(*item);
        return true;
    });
    ASSERT_EQ(items.size(), renames.size());
    std::set<std::string> names;
    for (const auto& item : items) names.insert(item.path);
    EXPECT_TRUE(names.count("../evil.txt")) << "the library hands the hostile name over as it is";

    ASSERT_TRUE(reader.extract(items, folder, true)) << reader.lastError()->description;
    std::set<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(area.path()))
        if (entry.is_regular_file()) written.insert(fs::relative(entry.path(), folder).string());
    EXPECT_EQ(written, (std::set<std::string>{"evil.txt", "abs.txt", "back.txt", "a/deep.txt"}));
    EXPECT_EQ(readFile(folder + "/evil.txt"), "content of ../evil.txt");
    EXPECT_FALSE(fs::exists(area.file("inner/evil.txt")));

    // Without full paths only the last names are used.
    const std::string flat = area.file("flat");
    ASSERT_TRUE(reader.extract(items, flat, false));
    EXPECT_TRUE(fs::exists(flat + "/deep.txt"));
    EXPECT_FALSE(fs::exists(flat + "/a"));

    // A file where the folder should be.
    ASSERT_TRUE(sys::FileManager::writeFile(area.file("plain"), "x", false));
    EXPECT_FALSE(reader.extract(items, area.file("plain"), true));
    EXPECT_NE(reader.lastError()->description.find("exists and it's file"), std::string::npos);
}

// The zip methods our own zip code does not decode, through the same
// binding, from bytes in memory.
TEST_F(SevenZipArchiveTest, ZipEntriesInMethodsOfSevenZipFromAStreamOfOurs) {
    put("a.bin", sampleBytes(70000, 11));
    put("b.txt", sampleBytes(3000, 12));
    for (const char* method : {"Deflate64", "PPMd", "BZip2"}) {
        SCOPED_TRACE(method);
        const std::string zip = out.file("z.zip");
        fs::remove(zip);
        ASSERT_EQ(test::shell("cd '" + src.path() + "' && 7z a -tzip -bd -mm=" + method + " '" + zip +
                              "' a.bin b.txt >/dev/null 2>&1"),
                  0);
        SevenZipArchive::Error error;
        auto a = SevenZipArchive::open(std::make_unique<MemoryArchiveSource>(readFile(zip)), "zip", {}, &error);
        ASSERT_TRUE(a) << error.description;
        ASSERT_EQ(a->itemCount(), 2u);
        expectAllBytes(*a);
    }
}

// Progress reaches the delegate on the main thread, also from an
// extraction on another thread, and only grows.
TEST_F(SevenZipArchiveTest, ExtractionProgressGoesToTheMainThread) {
    for (int i = 0; i < 3; ++i) put("f" + std::to_string(i) + ".bin", sampleBytes(100000, uint32_t(i)));
    struct Delegate : SevenZipReaderDelegate {
        std::vector<float> seen;
        bool offMain = false;
        void onSevenZipReaderExtractProgress(float p) override {
            offMain = offMain || !sys::RunLoop::isMainThread();
            seen.push_back(p);
        }
    };
    auto delegate = std::make_shared<Delegate>();
    SevenZipReader reader(make("p.7z", "-ms=on", "f0.bin f1.bin f2.bin"));
    reader.setDelegate(delegate);
    ASSERT_TRUE(reader.open(nullptr));
    std::vector<SevenZipItem> items;
    reader.iterateWithHandler([&](const std::optional<SevenZipItem>& item, const SevenZipReader::Error*) {
        items.push_back(*item);
        return true;
    });
    test::TempDir area{"szprogress"};
    bool ok = false;
    std::thread worker([&] { ok = reader.extract(items, area.path(), true); });
    worker.join();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(delegate->seen.empty()) << "nothing is called from the extracting thread";
    sys::RunLoop::main().drain();
    ASSERT_FALSE(delegate->seen.empty());
    EXPECT_FALSE(delegate->offMain);
    EXPECT_TRUE(std::is_sorted(delegate->seen.begin(), delegate->seen.end()));
    EXPECT_GE(delegate->seen.front(), 0.0f);
    EXPECT_LE(delegate->seen.back(), 1.0f);
}

// Items of a solid block reach the sink as they are decoded: the first
// page of a block is there while the rest is still being decoded (decoded
// by several threads, a block came out only once all of it was). The
// source holds its bytes past 1.5 MB back until the first item is in.
TEST_F(SevenZipArchiveTest, ItemsOfASolidBlockReachTheSinkAsTheyAreDecoded) {
    // Bytes that hardly compress, so that the block is read in several
    // steps.
    put("a.bin", noiseBytes(256 << 10, 1));
    put("b.bin", noiseBytes(1 << 20, 2));
    put("c.bin", noiseBytes(1 << 20, 3));
    const std::string path = make("held.7z", "-mx3 -ms=on", "a.bin b.bin c.bin");
    ASSERT_GT(fs::file_size(path), 2u << 20);

    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool holding = false;
        std::set<uint32_t> ended;
    } gate;
    class HeldSource : public SevenZipArchive::Source {
    public:
        HeldSource(std::string bytes, Gate& gate) : bytes_(std::move(bytes)), gate_(gate) {}
        bool read(void* data, uint32_t size, uint32_t& got) override {
            if (at_ + size > heldFrom_ && at_ < heldFrom_) {
                std::unique_lock lock(gate_.mutex);
                gate_.changed.wait(lock, [&] { return !gate_.holding; });
            }
            got = uint32_t(std::min<uint64_t>(size, bytes_.size() - std::min<uint64_t>(at_, bytes_.size())));
            std::memcpy(data, bytes_.data() + at_, got);
            at_ += got;
            return true;
        }
        bool seek(int64_t offset, int whence, uint64_t& position) override {
            const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(at_) : int64_t(bytes_.size());
            if (base + offset < 0) return false;
            position = at_ = uint64_t(base + offset);
            return true;
        }

    private:
        const uint64_t heldFrom_ = 3 << 19;
        std::string bytes_;
        Gate& gate_;
        uint64_t at_ = 0;
    };
    struct Seen : SevenZipArchive::Sink {
        explicit Seen(Gate& g) : gate(g) {}
        bool begin(uint32_t) override { return true; }
        bool write(const void*, size_t) override { return true; }
        bool end(uint32_t index, int32_t) override {
            std::lock_guard lock(gate.mutex);
            gate.ended.insert(index);
            gate.changed.notify_all();
            return true;
        }
        Gate& gate;
    } sink(gate);

    SevenZipArchive::Error error;
    auto a = SevenZipArchive::open(std::make_unique<HeldSource>(readFile(path), gate), "7z", {}, &error);
    ASSERT_TRUE(a) << error.description;
    ASSERT_EQ(a->itemCount(), 3u);
    ASSERT_EQ(a->item(0)->path, "a.bin");
    {
        std::lock_guard lock(gate.mutex);
        gate.holding = true;
    }
    bool ok = false;
    std::thread worker([&] { ok = a->extract({0, 1, 2}, &sink, &error); });
    bool first;
    {
        std::unique_lock lock(gate.mutex);
        first = gate.changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate.ended.count(0) > 0; });
        gate.holding = false;
        gate.changed.notify_all();
    }
    worker.join();
    EXPECT_TRUE(first) << "the first item waited for the rest of its block";
    EXPECT_TRUE(ok) << error.description;
    EXPECT_EQ(gate.ended.size(), 3u);
}

TEST_F(SevenZipArchiveTest, ConfinedRelativePaths) {
    EXPECT_EQ(SevenZipReader::confinedRelativePath("a/b/c.jpg"), "a/b/c.jpg");
    EXPECT_EQ(SevenZipReader::confinedRelativePath("a\\b\\c.jpg"), "a/b/c.jpg");
    EXPECT_EQ(SevenZipReader::confinedRelativePath("/etc/passwd"), "etc/passwd");
    EXPECT_EQ(SevenZipReader::confinedRelativePath("../../x"), "x");
    EXPECT_EQ(SevenZipReader::confinedRelativePath("./a//b/./"), "a/b");
    EXPECT_FALSE(SevenZipReader::confinedRelativePath("../.."));
    EXPECT_FALSE(SevenZipReader::confinedRelativePath(""));
}

TEST_F(SevenZipArchiveTest, ReaderOpenReasons) {
    SevenZipReader::Error error;
    SevenZipReader untyped(out.file("book.zip"));
    EXPECT_EQ(untyped.fileType(), SevenZipReader::kUndefined);
    EXPECT_FALSE(untyped.open(&error));
    EXPECT_EQ(error.description, "Type of the archive is undefined, create reader with manual type");
    EXPECT_EQ(SevenZipReader(out.file("x.XZ")).fileType(), SevenZipReader::kXz);

    SevenZipReader missing(out.file("missing.7z"));
    EXPECT_FALSE(missing.open(&error));
    EXPECT_EQ(error.description, "File path doesn't exists: [" + out.file("missing.7z") + "]");
    EXPECT_EQ(missing.itemsCount(), 0u);
    EXPECT_FALSE(missing.extract({}, out.file("x"), true));
    EXPECT_EQ(missing.lastError()->description, "No suitable decoder found.");

    fs::create_directories(out.file("folder.7z"));
    SevenZipReader folder(out.file("folder.7z"));
    EXPECT_FALSE(folder.open(&error));
    EXPECT_EQ(error.description, "Archive path is directory: [" + out.file("folder.7z") + "]");
    EXPECT_EQ(error.file, "SevenZipReader.cpp");
    EXPECT_GT(error.line, 0);
}

}  // namespace
