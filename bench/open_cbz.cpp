// Opens a 1,000-page cbz with the reading session and composes its first
// page, and times it against `unzip -l` of the same file (a process that
// reads the whole directory) plus one decode of that page's bytes. The cbz is
// made here with zip from the sample pages, stored, as cbz files usually are.
//
//   build/bench/open_cbz [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over the other; below
// 1 means faster).

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kPages = 1000;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Runs a program directly with its output thrown away (no shell in the time).
bool spawnQuiet(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    namespace fs = std::filesystem;
    sys::RunLoop::main().bindToCurrentThread();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));

    char tmpl[] = "/tmp/open_cbz.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir(tmpl);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    const fs::path samples = fs::path(LEAFBRIGHT_SOURCE_DIR) / "tests" / "data" / "pages";
    const std::vector<std::string> sampleNames{"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "07.jpg", "08.jpg"};
    for (int i = 0; i < kPages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page%04d.jpg", i + 1);
        std::error_code ec;
        fs::copy_file(samples / sampleNames[size_t(i) % sampleNames.size()], pages / name, ec);
        if (ec) {
            std::fprintf(stderr, "cannot copy the sample pages from %s\n", samples.c_str());
            fs::remove_all(dir);
            return 1;
        }
    }
    const std::string cbz = (dir / "book.cbz").string();
    if (!shell("cd '" + pages.string() + "' && zip -q -0 '" + cbz + "' page*.jpg")) {
        std::fprintf(stderr, "could not make the cbz (zip is needed)\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::vector<uint8_t> firstPage = readBytes((pages / "page0001.jpg").string());
    std::printf("%d pages, %.1f MB, median of %d runs\n", kPages, double(fs::file_size(cbz)) / 1e6, runs);

    std::vector<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
        double t0 = now();
        auto session = std::make_shared<BookReaderEx>();
        bool opened = session->openBookWithName(cbz, {}, std::nullopt, std::nullopt, std::nullopt, false, false);
        PageLoadRequest r{};
        r.operation = PageLoadRequest::kCompose;
        r.minimumImageSize = {400, 600};
        BookReaderEx::setLoadSizeLoadStructWithMode(4, r.targetSize, {400, 600}, 1.0);
        r.targetSizePreload = r.targetSize;
        int result = opened ? session->loadPage(r) : -1;
        double t1 = now();
        if (!opened || session->getPageNum() != kPages || result != BookReaderEx::kLoadDone) {
            std::fprintf(stderr, "opening or composing failed (open %d, pages %d, result %d)\n", int(opened),
                         session->getPageNum(), result);
            fs::remove_all(dir);
            return 1;
        }
        session->closeBook();
        ours.push_back(t1 - t0);

        t0 = now();
        bool listed = spawnQuiet({"unzip", "-l", cbz});
        gfx::ImageRef decoded = ImageLoader::imageWithAnyData(firstPage);
        t1 = now();
        if (!listed || !decoded) {
            std::fprintf(stderr, "unzip -l or the decode failed (unzip is needed)\n");
            fs::remove_all(dir);
            return 1;
        }
        theirs.push_back(t1 - t0);
    }
    fs::remove_all(dir);
    const double mo = median(ours), mt = median(theirs);
    std::printf("open and compose page 1: %7.2f ms\n", mo * 1000);
    std::printf("unzip -l and one decode: %7.2f ms\n", mt * 1000);
    std::printf("ratio: %.2f\n", mo / mt);
    return 0;
}
