// The opt-in check of the source: which lines the conversion takes although
// they are no sound S1 or S9 record, which S2 and S3 records it drops, and
// what is wrong with the file as a whole (records out of place, a missing
// termination, overlapping data, data after the Ctrl-Z). The conversion
// itself is never changed by it.
#pragma once

#include "lines.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

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
    // The rules on the file as a whole, checked on lines that break none above.
    notRecord,     // a non-blank line that does not begin with S and a digit
    lowerMark,     // a record marked with a lower-case s
    foreignType,   // an S4, S7 or S8 record
    emptyS1,       // an S1 record of no data bytes, which no tool writes
    lateHeader,    // an S0 that is not the first record
    headerAddress, // an S0 whose address is not 0000
    countField,    // an S5 or S6 whose count field is not 03 or 04
    countValue,    // an S5 or S6 whose value is not the number of S1 records before it
    secondS9,      // an S9 after the first
    afterS9,       // a record after the first S9
    s9Data,        // an S9 whose count is not 03
    overlap,       // bytes an earlier S1 record gave other values
    afterCtrlZ,    // data after the Ctrl-Z, which is never read
    noS9,          // no S9, nor a last count of every S1 record, in a file of S1 records
    noData,        // no S1 record at all: nothing to flash
};

// What is wrong with a line: the fault and what its reason names.
struct Problem {
    Fault fault;
    char ch = 0; // the character at fault (notHex, badMark, notRecord, afterCtrlZ), or a type
    std::size_t column = 0;  // 1-based: where the fault stands, for notHex and notRecord
    unsigned said = 0;       // the count, or the checksum, the line gives
    unsigned found = 0;      // the bytes the line holds, or the checksum they give
    std::uint64_t other = 0; // an earlier line the reason names
    char field[7] = {};      // the count, address or value as the file shows it
    std::size_t address = 0; // the address given another value (overlap)
};

// What is wrong with a line, judged by itself, or nothing when it is not to
// be reported for a reason of its own.
std::optional<Problem> lineProblem(const Line& line);

// True when `line`, a line the plain fast path converted (no line end, only
// hex digits after the type), is a sound record: mark S, a count of at least
// 3 and the right checksum. `record` is its widening, whose checksum gives
// the sum.
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

    // Adds a line, unless it is the line added last: a line's first reason
    // is the one shown. Past the first kShown, only counted: in a file of
    // such lines, every line is added.
    void add(std::uint64_t line, const Problem& problem) {
        if (line != last_) {
            last_ = line;
            if (++total_ <= kShown) {
                show(line, problem);
            }
        }
    }

    std::uint64_t total() const { return total_; }
    // True when no more lines are shown in full: only counted.
    bool full() const { return total_ >= kShown; }
    const std::vector<Entry>& shown() const { return shown_; }

  private:
    void show(std::uint64_t line, const Problem& problem);

    std::vector<Entry> shown_;
    std::uint64_t total_ = 0;
    std::uint64_t last_ = 0; // the line added last; lines count from 1
};

// The data bytes of the sound S1 records met so far, each with the line that
// gave it, to find the bytes given twice with different values. Addresses run
// from 0000 to FFFF plus a last record's 251 bytes beyond, as the conversion
// does not wrap them, in pages of 256 made as they are first used. A byte is
// kept as its two digits, in lower case: digits of either case compare equal.
class ByteMap {
  public:
    ByteMap();
    ~ByteMap();
    ByteMap(const ByteMap&) = delete;
    ByteMap& operator=(const ByteMap&) = delete;

    // Takes the data of `record`, a sound S1 record text, given on `line`;
    // true, with `problem` (an overlap) filled in, when an earlier line gave
    // one of its bytes another value. Once nothing more is `shown`, the lines
    // that gave the bytes are no longer kept, nor `problem` touched.
    bool take(std::uint64_t line, std::string_view record, bool shown, Problem& problem);

  private:
    struct Page;
    static constexpr std::size_t kPages = 257;
    Page& page(std::size_t number);
    bool takeParts(std::uint64_t line, std::size_t address, std::string_view record, bool shown,
                   Problem& problem);
    bool takePart(std::uint64_t line, std::size_t address, const char* from, std::size_t size,
                  std::size_t column, bool shown, Problem& problem);

    std::unique_ptr<Page> pages_[kPages];
};

// The checks of a whole source, line after line in order, as the reader
// gives them: each line's own reason if it has one, else the first rule of
// the file as a whole that it breaks.
class Check {
  public:
    explicit Check(LineReports& reports) : reports_(reports) {}

    // A line the plain fast path took, numbered `number`, holding `raw`
    // before its line end: `record` is its widening, whose checksum gives
    // the line's own. Only an unsound one needs the full check.
    void plainLine(std::uint64_t number, std::string_view raw, std::string_view record);
    // Any other line.
    void line(const Line& line);
    // After the last line, which `reader` has read; `rest` is what the
    // source holds from its first Ctrl-Z on (empty when there is none).
    void finish(const LineReader& reader, std::string_view rest);

  private:
    enum class Known { nothing, reported, sound };
    void otherPlainLine(std::uint64_t number, std::string_view raw, bool sound);
    void record(const Line& line, Known known);
    std::optional<Problem> placeProblem(std::string_view text) const;
    void count(std::uint64_t number, char type);

    LineReports& reports_;
    ByteMap bytes_;
    Problem overlap_{Fault::overlap}; // the last overlap found
    std::uint64_t records_ = 0;       // record lines so far
    std::uint64_t s1Records_ = 0;     // of them S1
    std::uint64_t s9Line_ = 0;        // the first S9's line, 0 before it
    bool countsAll_ = false;          // the last record is a sound count of every S1
};

// Only the check: the lines of a source text (cut at its Ctrl-Z, `rest`
// being what follows) that are to be reported, before anything is written.
void checkText(std::string_view text, LineReports& reports, std::string_view rest = {});

} // namespace quorvex
