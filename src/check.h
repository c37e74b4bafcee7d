// The opt-in check of the source's lines: which lines the conversion takes
// although they are no sound S1 or S9 record, and which S2 and S3 records it
// drops. The conversion itself is never changed by it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// The longest record line: a count of FF and the 255 bytes after it.
inline constexpr std::size_t kMaxRecordLine = 514;

// What the check needs of one line, carriage returns dropped and without its
// line feed: its length, its first kMaxRecordLine + 1 characters, and
// whether any of its 511-character pieces has '1' or '9' as second character.
struct LineShape {
    std::string head;
    std::size_t size = 0;
    bool selected = false;
};
// `line` may hold carriage returns; they are dropped.
LineShape shapeOf(std::string_view line);

enum class Fault {
    tooShort,      // selected but shorter than 6 characters: skipped
    tooLong,       // longer than any record
    badMark,       // the first character is no S
    notHex,        // a character after the type is no hex digit
    oddDigits,     // an odd number of hex digits
    countDiffers,  // the count disagrees with the bytes the line holds
    countTooSmall, // a count below 3: no room for address and checksum
    checksum,      // the checksum disagrees with the bytes
    longS9,        // an S9 line too long for one piece: its S7 record is cut
    dropped,       // an S2 or S3 record, whose data the conversion drops
};

struct Problem {
    Fault fault;
    char ch = 0; // the character at fault (notHex, badMark), or the type of a dropped record
    std::size_t column = 0; // 1-based, for notHex
    unsigned said = 0;      // the count, or the checksum, the line gives
    unsigned found = 0;     // the bytes the line holds, or the checksum they give
};

// What is wrong with a line, or nothing when it is not to be reported.
std::optional<Problem> lineProblem(const LineShape& line);

// The reason as the report shows it: "the checksum is 2A but the bytes give 2B".
std::string describe(const Problem& problem);

// True when `line`, a line the plain fast path converted (no line end),
// is a sound record: mark S, hex digits only, a count of at least 3 and the
// right checksum. `record` is its widening, whose checksum gives the sum.
bool soundPlainLine(std::string_view line, std::string_view record);

// The reported lines of a source, in order: the first kShown in full and how
// many there are.
class LineReports {
  public:
    static constexpr std::size_t kShown = 20;

    struct Entry {
        std::uint64_t line;
        Problem problem;
    };

    // Adds line number `line` if `shape` is to be reported.
    void check(std::uint64_t line, const LineShape& shape);
    void add(std::uint64_t line, const Problem& problem);

    std::uint64_t total() const { return total_; }
    const std::vector<Entry>& shown() const { return shown_; }

    // The lines for standard error, `name` being the source as quoted():
    // "quorvex: 'fw.s19' line 7: REASON" each, then, when more were found,
    // "quorvex: 'fw.s19': 12 more lines not shown".
    std::vector<std::string> text(const std::string& name) const;

  private:
    std::vector<Entry> shown_;
    std::uint64_t total_ = 0;
};

} // namespace quorvex
