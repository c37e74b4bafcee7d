#include "run.h"

// The wide command line on Windows, so that any file name can be given.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    const std::vector<std::filesystem::path> args(argv + 1, argv + argc);
    return quorvex::run(args, stdout);
}
