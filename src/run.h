// The conversion run behind the command line.
#pragma once

#include <cstdio>
#include <filesystem>
#include <vector>

namespace quorvex {

// Converts the S1/S9 file named by args[0] into the S3/S7 file args[1]
// (further arguments are ignored), printing the usage text, a message or the
// summary line to `out`. Returns the process's exit status.
int run(const std::vector<std::filesystem::path>& args, std::FILE* out);

} // namespace quorvex
