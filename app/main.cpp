#include <cstdio>
#include <cstring>

namespace {

void printHelp() {
    std::puts("usage: leafbright [--version] [--help]\n"
              "\n"
              "Leafbright, a reader for comics and image books.\n"
              "  --version   print the version and exit\n"
              "  --help      print this text and exit");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("leafbright %s\n", LEAFBRIGHT_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
        std::fprintf(stderr, "leafbright: unknown argument '%s' (try --help)\n", argv[i]);
        return 2;
    }
    printHelp();
    return 0;
}
