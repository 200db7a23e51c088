#include "engine/ZipArchive.h"
#include "engine/ZipEntryReader.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct ReadOutcome {
    ZipEntryReader::Status status = ZipEntryReader::Status::ReadError;
    uint64_t peakGrowth = UINT64_MAX;
};

// Reads the archive's first entry whole in a child process (whose peak
// starts near what it holds) and tells how it ended and how much its peak
// memory grew.
ReadOutcome readFirstEntryInChild(const std::string& path) {
    return test::inChildProcess<ReadOutcome>(
        [&] {
            ReadOutcome result;
            auto archive = ZipArchive::openFile(path);
            if (archive && archive->goToFirst() == ZipArchive::Step::Ok) {
                ZipEntryReader reader(*archive);
                const uint64_t before = test::peakResident();
                result.status = reader.open(std::nullopt, 256ull << 20);
                if (result.status == ZipEntryReader::Status::Ok) {
                    std::string data;
                    result.status = reader.readAll(data);
                }
                result.peakGrowth = test::peakResident() - before;
            }
            return result;
        },
        ReadOutcome{});
}

}  // namespace

// An entry whose records claim 256 MiB and that holds 100 bytes fails as
// damaged without its claimed size ever being taken, stored or deflated.
TEST(ZipEntryMemoryTest, EntryClaimingFarMoreThanItHoldsCostsLittleMemory) {
    if (!test::haveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    test::TempDir dir("zipmem");
    for (const char* method : {"ZIP_STORED", "ZIP_DEFLATED"}) {
        SCOPED_TRACE(method);
        const std::string path = dir.file(std::string(method) + ".zip");
        // Python's zipfile writes the entry; its uncompressed size, in the
        // local header (offset 22) and the directory record (offset 24), is
        // then made to claim 256 MiB.
        const std::string script =
            "import struct, zipfile, sys\n"
            "p = sys.argv[1]\n"
            "with zipfile.ZipFile(p, 'w', zipfile." + std::string(method) + ") as z:\n"
            "    z.writestr('page.bmp', bytes(range(100)))\n"
            "b = bytearray(open(p, 'rb').read())\n"
            "struct.pack_into('<I', b, 22, 256 << 20)\n"
            "c = b.find(b'PK\\x01\\x02')\n"
            "struct.pack_into('<I', b, c + 24, 256 << 20)\n"
            "open(p, 'wb').write(b)\n";
        ASSERT_EQ(test::shell("python3 -c \"$(cat <<'PY'\n" + script + "PY\n)\" '" + path + "'"), 0);

        auto archive = ZipArchive::openFile(path);
        ASSERT_TRUE(archive);
        ASSERT_EQ(archive->goToFirst(), ZipArchive::Step::Ok);
        ZipArchive::Entry entry;
        ASSERT_TRUE(archive->current(entry));
        ASSERT_EQ(entry.uncompressedSize, 256ull << 20);

        ReadOutcome outcome = readFirstEntryInChild(path);
        EXPECT_EQ(outcome.status, ZipEntryReader::Status::BadData);
        EXPECT_LT(outcome.peakGrowth, uint64_t(16) << 20);
    }
}
