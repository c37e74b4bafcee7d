#include "explain.h"

#include <cstdlib>
#include <cstring>

namespace quorvex {
namespace {

bool verbose() {
    const char* value = std::getenv("QUORVEX_VERBOSE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

std::string quoted(const std::filesystem::path& name) {
    std::string text = name.u8string();
    for (char& ch : text) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
            ch = '?'; // the explanation stays one line
        }
    }
    return "'" + text + "'";
}

std::string explanation(const std::string& doing, const std::string& reason) {
    if (!verbose()) {
        return {};
    }
    return "quorvex: cannot " + doing + ": " + reason;
}

void explainFailure(const Failure& failure) {
    const std::string line =
        failure.doing.empty() ? std::string() : explanation(failure.doing, failure.reason);
    if (!line.empty()) {
        writeErrorLine(line);
    }
    if (verbose() && !failure.aftermath.empty()) {
        writeErrorLine("quorvex: " + failure.aftermath);
    }
}

} // namespace quorvex
