#include "explain.h"

#include "switches.h"

namespace quorvex {

std::string quoted(const std::filesystem::path& name) {
    return quotedText(displayName(name));
}

std::string explanation(const std::string& doing, const std::string& reason) {
    if (!switches().verbose) {
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
    if (switches().verbose && !failure.aftermath.empty()) {
        writeErrorLine("quorvex: " + failure.aftermath);
    }
}

} // namespace quorvex
