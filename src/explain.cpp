#include "explain.h"

#include "platform.h"

#include <cstdlib>
#include <cstring>

namespace quorvex {
namespace {

struct Note {
    std::string doing;
    std::string reason;
};

Note& lastNote() {
    static Note note;
    return note;
}

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

void noteFailure(std::string doing, std::string reason) {
    lastNote() = Note{std::move(doing), std::move(reason)};
}

std::string explanation(const std::string& doing, const std::string& reason) {
    if (!verbose()) {
        return {};
    }
    return "quorvex: cannot " + doing + ": " + reason;
}

void explainFailure() {
    const Note& note = lastNote();
    const std::string line =
        note.doing.empty() ? std::string() : explanation(note.doing, note.reason);
    if (!line.empty()) {
        writeErrorLine(line);
    }
}

} // namespace quorvex
