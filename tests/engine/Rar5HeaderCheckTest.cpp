// The check of a RAR 5 archive's first block made before UnRAR opens it: on
// archives the rar packer makes here, on an input that crashes UnRAR while
// it opens the archive, and on hand-made broken headers.
#include "engine/Rar5HeaderCheck.h"

#include "engine/PageReaderRar.h"
#include "engine/RarStreamShim.h"
#include "engine/UnrarArchive.h"
#include "platform/core/FileManager.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <string>

namespace {

using Verdict = Rar5HeaderCheck::Verdict;

const std::string kSignature("Rar!\x1A\x07\x01\x00", 8);

// Its extra record says one byte (the locator type) and the locator's
// fields lie outside it.
const std::string kCrashingInput = [] {
    const unsigned char bytes[] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00, 0x09, 0xef, 0xc8, 0x6f, 0x0b, 0x01,
                                   0x21, 0x05, 0x07, 0x04, 0x06, 0x01, 0x01, 0x01, 0x02, 0x03, 0x05, 0x04, 0x00};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}();

// Signature, the right checksum and `header` (type onward) behind its size.
std::string block(const std::string& header) {
    std::string covered;
    uint64_t size = header.size();
    do {
        covered += char((size & 0x7F) | (size > 0x7F ? 0x80 : 0));
        size >>= 7;
    } while (size);
    covered += header;
    const auto crc = uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(covered.data()), uInt(covered.size())));
    std::string out = kSignature;
    for (int i = 0; i < 4; ++i) out += char(crc >> (8 * i) & 0xFF);
    return out + covered;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += char(b);
    return s;
}

TEST(Rar5HeaderCheckTest, ArchivesOfTheRarPackerPassAndStillOpen) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    test::TempDir dir{"rar5check"};
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("a.txt"), std::string(20000, 'a') + "end", false));
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("b.txt"), "bee", false));
    // An archive that keeps its own name (-ams), 144 bytes of it: the main
    // header, its extra area and the name are sized in two-byte numbers.
    const std::string longName = std::string(140, 'n') + ".rar";
    const struct {
        const char* name;
        const char* options;
        const char* password;
    } cases[] = {
        {"plain.rar", "-m0", nullptr},    {"solid.rar", "-s", nullptr},     {"data-pw.rar", "-ppw", "pw"},
        {"heads-pw.rar", "-hppw", "pw"},  {"rr.rar", "-rr10%", nullptr},    {"locator.rar", "-qo+", nullptr},
        {"vols.rar", "-m0 -v8k", nullptr},  {longName.c_str(), "-ams", nullptr},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(test::shell("cd '" + dir.path() + "' && rar a -idq " + c.options + " " + c.name +
                              " a.txt b.txt >/dev/null 2>&1"),
                  0)
            << c.name;
        std::string path = dir.file(c.name);
        if (std::string(c.name) == "vols.rar") path = dir.file("vols.part1.rar");
        const std::string data = sys::FileManager::contentsOfFile(path).value_or("");
        EXPECT_EQ(Rar5HeaderCheck::check(data, true), Verdict::Sound) << c.name;
        // Only the first block is needed.
        EXPECT_EQ(Rar5HeaderCheck::check(data.substr(0, Rar5HeaderCheck::bytesWanted(data)), false), Verdict::Sound)
            << c.name;
        UnrarArchive archive(path, c.password ? std::optional<std::string>(c.password) : std::nullopt);
        std::vector<UnrarArchive::Entry> entries;
        EXPECT_EQ(archive.unrarListFilesNoEncodingWithFileSizeArray(entries), UnrarArchive::Status::Ok) << c.name;
        EXPECT_EQ(entries.size(), 2u) << c.name;
    }
}

TEST(Rar5HeaderCheckTest, TheCrashingInputIsRefusedAsDamagedBeforeUnrarSeesIt) {
    EXPECT_EQ(Rar5HeaderCheck::check(kCrashingInput, true), Verdict::Malformed);
    test::TempDir dir{"rar5crash"};
    const std::string path = dir.file("crash.cbr");
    ASSERT_TRUE(sys::FileManager::writeFile(path, kCrashingInput, false));
    UnrarArchive archive(path, std::nullopt);
    EXPECT_EQ(archive.probe(), UnrarArchive::Status::Damaged);
    std::vector<UnrarArchive::Entry> entries;
    EXPECT_EQ(archive.unrarListFilesNoEncodingWithFileSizeArray(entries), UnrarArchive::Status::Damaged);
    PageReaderRar reader;
    EXPECT_FALSE(reader.openFile(path, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(reader.openFailure(), PageReader::OpenFailure::Damaged);
    EXPECT_EQ(RarStreamShim::openDescriptorCount(), 0u);
}

TEST(Rar5HeaderCheckTest, BrokenMainHeadersAreMalformed) {
    // type 1, flags: extra area; extra size 6; no archive flags; a locator
    // with a quick open offset.
    const std::string sound = block(bytes({0x01, 0x01, 0x06, 0x00, 0x05, 0x01, 0x01, 0x80, 0x80, 0x00}));
    ASSERT_EQ(Rar5HeaderCheck::check(sound, true), Verdict::Sound);

    std::string badCrc = sound;
    badCrc[9] ^= 0x01;
    EXPECT_EQ(Rar5HeaderCheck::check(badCrc, true), Verdict::Malformed) << "bad checksum";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x01, 0x0B, 0x00, 0x05, 0x01, 0x01, 0x80, 0x80, 0x00})), true),
              Verdict::Malformed)
        << "extra area past the header";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x01, 0x06, 0x00, 0x07, 0x01, 0x01, 0x80, 0x80, 0x00})), true),
              Verdict::Malformed)
        << "extra record past the extra area";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x01, 0x06, 0x00, 0x05, 0x01, 0x01, 0x80, 0x80, 0x80})), true),
              Verdict::Malformed)
        << "locator offset cut off by its record";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x01, 0x03, 0x00, 0x01, 0x01, 0x03})), true),
              Verdict::Malformed)
        << "locator flags outside their record";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x01, 0x02, 0x00, 0x00, 0x01})), true), Verdict::Malformed)
        << "empty extra record";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x00, 0x82})), true), Verdict::Malformed)
        << "archive flags cut off by the header end";
    EXPECT_EQ(Rar5HeaderCheck::check(block(bytes({0x01, 0x00, 0x02})), true), Verdict::Malformed)
        << "volume number missing";
    EXPECT_EQ(Rar5HeaderCheck::check(block(std::string(11, '\xFF')), true), Verdict::Malformed)
        << "a number past 64 bits";

    // The size field itself: truncated, too long, zero, above 2 MB.
    EXPECT_EQ(Rar5HeaderCheck::check(kSignature + bytes({1, 2, 3, 4, 0x85}), true), Verdict::Malformed);
    EXPECT_EQ(Rar5HeaderCheck::check(kSignature + bytes({1, 2, 3, 4, 0x85}), false), Verdict::NeedMore);
    EXPECT_EQ(Rar5HeaderCheck::check(kSignature + bytes({1, 2, 3, 4}) + std::string(12, '\x80'), false),
              Verdict::Malformed);
    EXPECT_EQ(Rar5HeaderCheck::check(block(""), true), Verdict::Malformed);
    EXPECT_EQ(Rar5HeaderCheck::check(kSignature + bytes({1, 2, 3, 4, 0x80, 0x80, 0x80, 0x02}), false), Verdict::Malformed);
    // Cut inside the header.
    EXPECT_EQ(Rar5HeaderCheck::check(sound.substr(0, sound.size() - 1), true), Verdict::Malformed);
    EXPECT_EQ(Rar5HeaderCheck::check(sound.substr(0, sound.size() - 1), false), Verdict::NeedMore);
    EXPECT_EQ(Rar5HeaderCheck::bytesWanted(sound.substr(0, 14)), sound.size());
    EXPECT_EQ(Rar5HeaderCheck::check(sound.substr(0, 12), true), Verdict::Malformed);

    // Not RAR 5: nothing to say.
    EXPECT_EQ(Rar5HeaderCheck::check(std::string("Rar!\x1A\x07\x00\xCF\x90\x73", 10), true), Verdict::NotRar5);
    EXPECT_EQ(Rar5HeaderCheck::check("", true), Verdict::NotRar5);
    EXPECT_EQ(Rar5HeaderCheck::check("PK\x03\x04", true), Verdict::NotRar5);
}

}  // namespace

// UnRAR also takes an archive that starts further in (behind a
// self-extracting program): the first block is checked there too.
TEST(Rar5HeaderCheckTest, AnArchiveBehindOtherBytesIsCheckedWhereUnrarFindsIt) {
    EXPECT_EQ(Rar5HeaderCheck::archiveStarts(kCrashingInput), std::vector<size_t>{0});
    EXPECT_TRUE(Rar5HeaderCheck::archiveStarts("no signature here").empty());
    // A signature a few bytes in may be skipped by UnRAR's search, so the
    // next one counts as well.
    const std::string twice = "xx" + kSignature + std::string(20, 'y') + kSignature;
    EXPECT_EQ(Rar5HeaderCheck::archiveStarts(twice), (std::vector<size_t>{2, 30}));

    // The fuzzer's input: eight bytes, then the crashing header.
    const std::string behind = bytes({0x52, 0x61, 0x02, 0x3a, 0x00, 0x2f, 0x00, 0xd4}) + kCrashingInput;
    EXPECT_EQ(Rar5HeaderCheck::archiveStarts(behind), std::vector<size_t>{8});
    test::TempDir dir{"rar5sfx"};
    const std::string path = dir.file("behind.cbr");
    ASSERT_TRUE(sys::FileManager::writeFile(path, behind, false));
    UnrarArchive archive(path, std::nullopt);
    EXPECT_EQ(archive.probe(), UnrarArchive::Status::Damaged);

    // A sound archive behind a kilobyte of other bytes still opens.
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("a.txt"), "aaa", false));
    ASSERT_EQ(test::shell("cd '" + dir.path() + "' && rar a -idq plain.rar a.txt >/dev/null 2>&1"), 0);
    const std::string plain = sys::FileManager::contentsOfFile(dir.file("plain.rar")).value_or("");
    ASSERT_FALSE(plain.empty());
    const std::string sfx = dir.file("sfx.rar");
    ASSERT_TRUE(sys::FileManager::writeFile(sfx, std::string(1000, '\x90') + plain, false));
    UnrarArchive wrapped(sfx, std::nullopt);
    std::vector<UnrarArchive::Entry> entries;
    EXPECT_EQ(wrapped.unrarListFilesNoEncodingWithFileSizeArray(entries), UnrarArchive::Status::Ok);
    EXPECT_EQ(entries.size(), 1u);
}
