// The conversion of a whole source text, independent of files: the DOS text
// reading rules, the cutting into line pieces and the writing of records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Lines are read in pieces of at most this many characters; a longer line
// yields several pieces, each of which counts as a line of its own.
inline constexpr std::size_t kPiece = 511;

// Appends one chunk of source bytes to `text` under the DOS text reading
// rules: every carriage return is dropped, and the first Ctrl-Z ends the data.
// Returns true once the Ctrl-Z has been met: nothing more is to be read.
bool appendText(std::string& text, std::string_view chunk);

// Number of line pieces in a text loaded by appendText().
std::uint64_t getLineNum(std::string_view text);

// Takes the destination's bytes in order.
class Sink {
  public:
    virtual ~Sink() = default;
    // Returns false when the bytes could not be written.
    virtual bool write(std::string_view bytes) = 0;
};

// Writes the widened form of every piece whose second character is '1' or '9'
// to `sink`, each record followed by CR LF, and returns how many records were
// written; nullopt as soon as the sink fails.
std::optional<std::uint64_t> convertText(std::string_view text, Sink& sink);

// A whole run on bytes: what the destination receives and the two counts.
struct Conversion {
    std::string output;
    std::uint64_t lines = 0;
    std::uint64_t written = 0;
};
Conversion convertBytes(std::string_view source);

} // namespace quorvex
