#include "app/LeafbrightProgram.h"
#include "app/ProgramOptions.h"
#include "remote/protocols/QNNbns.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ProgramOptions::parse(args, &error);
    if (!options) {
        std::fprintf(stderr, "leafbright: %s\n", error.c_str());
        return 2;
    }
    QNNbns::initCacheWithTime(3600);
    LeafbrightProgram program(*options);
    return program.run();
}
