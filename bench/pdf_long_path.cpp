// Draws a page that is slow to draw (one path of N full-page line segments
// across a 600 x 800 page) the way a page turn does, and times its CPU
// against `mutool draw` making the same size from the same file. The page is
// made here in a temporary folder.
//
//   build/bench/pdf_long_path [segments] [runs] [width]
//
// Defaults: 25000 segments (about 20 s of drawing), 1 run, 834 pixels wide
// (mutool's -r 100). Prints each run's CPU seconds, then "ratio: X.XX" (our
// median over mutool's; below 1 means cheaper).

#include "bench/BenchSupport.h"
#include "engine/PageReaderPDF.h"
#include "tests/support/PdfBuilder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The page: "0 0 m", then "1 1 l 599 799 l" for every two segments, then "S".
bool writePage(const std::filesystem::path& path, int segments) {
    test::PdfBuilder builder;
    builder.pages.push_back({"[0 0 600 800]", "", "", "", test::PdfBuilder::strokes(segments / 2), {}});
    std::ofstream out(path, std::ios::binary);
    out << builder.bytes();
    return bool(out);
}

// The CPU seconds (user and system) of one run of the peer; < 0 when it failed.
double peerCpu(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    const int segments = argc > 1 ? std::max(2, std::atoi(argv[1])) : 25000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const int width = argc > 3 ? std::max(16, std::atoi(argv[3])) : 834;
    const int height = int(std::lround(width * 800.0 / 600.0));
    bench::WorkFolder work("pdf_long_path");
    if (!work.made()) return 1;
    const std::string page = (work / "page.pdf").string();
    if (!writePage(page, segments)) return bench::fail("could not write the page");

    std::vector<double> ours, peer;
    for (int i = 0; i < runs; ++i) {
        auto reader = std::make_shared<PageReaderPDF>();
        if (!reader->openFile(page, std::nullopt, std::nullopt, false, false)) return bench::fail("open failed");
        int result = 0;
        reader->newLoadAndCreateImage(0, result);
        if (result != PageReader::kResultPending) return bench::fail("no page");
        const double t0 = threadCpu();
        gfx::ImageRef image = reader->newCreatePendingImage(0, {double(width), double(height)}, gfx::Rect::null(),
                                                            gfx::Rect::null(), false);
        const double took = threadCpu() - t0;
        if (!image) return bench::fail("drawing failed");
        ours.push_back(took);
        const double theirs = peerCpu({"mutool", "draw", "-q", "-c", "rgba", "-w", std::to_string(width), "-h",
                                       std::to_string(height), "-F", "pam", "-o", (work / "peer.pam").string(), page, "1"});
        if (theirs < 0) return bench::fail("mutool draw failed (mupdf-tools is needed)");
        peer.push_back(theirs);
        std::printf("%d segments at %dx%d  ours %7.2f s CPU   mutool draw %7.2f s CPU   ratio %.3f\n", segments,
                    image->width(), image->height(), took, theirs, took / theirs);
        std::fflush(stdout);
    }
    std::printf("ratio: %.3f\n", bench::median(ours) / bench::median(peer));
    return 0;
}
