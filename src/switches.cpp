#include "switches.h"

#include "messages.h"
#include "platform.h"

#include <cstdlib>
#include <string>

namespace quorvex {
namespace {

bool sameWord(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        const char lower = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
        if (lower != word[at]) {
            return false;
        }
    }
    return true;
}

bool readSwitch(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return false;
    }
    if (const std::optional<bool> on = switchValue(value)) {
        return *on;
    }
    writeErrorLine(switchTakenAsOn(name, value));
    return true;
}

} // namespace

std::optional<bool> switchValue(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false; // empty, or blanks alone
    }
    text = text.substr(first, text.find_last_not_of(" \t") + 1 - first);
    for (const std::string_view word : {"1", "true", "yes", "on"}) {
        if (sameWord(text, word)) {
            return true;
        }
    }
    for (const std::string_view word : {"0", "false", "no", "off"}) {
        if (sameWord(text, word)) {
            return false;
        }
    }
    return std::nullopt;
}

const Switches& switches() {
    static const Switches read{readSwitch("QUORVEX_VERBOSE"), readSwitch("QUORVEX_STRICT")};
    return read;
}

} // namespace quorvex
