#include "run.h"

int main(int argc, char** argv) {
    const std::vector<std::filesystem::path> args(argv + 1, argv + argc);
    return quorvex::run(args, stdout);
}
