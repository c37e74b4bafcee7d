#include "check.h"

#include "conversion.h"
#include "record/record.h"

#include <cstring>

namespace quorvex {
namespace {

bool isHex(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

bool isMark(char ch) {
    return ch == 'S' || ch == 's';
}

unsigned byteAt(std::string_view text, std::size_t at) {
    return 16u * digitValue(text[at]) + digitValue(text[at + 1]);
}

// High bit set in each byte of `w` that is no hex digit, eight at once.
std::uint64_t notHexBytes(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t high = ones * 0x80u;
    const std::uint64_t low7 = w & ~high; // no carry leaves a byte below
    const std::uint64_t digit = (low7 + ones * (0x80u - '0')) & ~(low7 + ones * (0x80u - '9' - 1));
    const std::uint64_t lower = low7 | ones * 0x20u; // 'A'-'F' become 'a'-'f'
    const std::uint64_t letter =
        (lower + ones * (0x80u - 'a')) & ~(lower + ones * (0x80u - 'f' - 1));
    return (~(digit | letter) & high) | (w & high);
}

bool allHex(std::string_view text) {
    const char* at = text.data();
    const char* const end = at + text.size();
    std::uint64_t bad = 0;
    for (; end - at >= 8; at += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, at, 8);
        bad |= notHexBytes(w);
    }
    if (at < end) {
        std::uint64_t w = 0x3030303030303030u; // padded with '0'
        std::memcpy(&w, at, static_cast<std::size_t>(end - at));
        bad |= notHexBytes(w);
    }
    return bad == 0;
}

std::string hex2(unsigned byte) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
}

// A character as the report shows it: 'G', or byte 0x00 when it does not print.
std::string shown(char ch) {
    const auto code = static_cast<unsigned char>(ch);
    if (code > 0x20 && code < 0x7F) {
        return "'" + std::string(1, ch) + "'";
    }
    return "byte 0x" + hex2(code);
}

} // namespace

LineShape shapeOf(std::string_view line) {
    LineShape shape;
    std::size_t at = 0; // position in the line without carriage returns
    for (const char ch : line) {
        if (ch == '\r') {
            continue;
        }
        if (at <= kMaxRecordLine) {
            shape.head += ch;
        }
        if (at % kPiece == 1 && (ch == '1' || ch == '9')) {
            shape.selected = true;
        }
        ++at;
    }
    shape.size = at;
    return shape;
}

std::optional<Problem> lineProblem(const LineShape& line) {
    const std::string_view text = line.head;
    const std::size_t size = line.size;
    const bool dropped = size >= 2 && isMark(text[0]) && (text[1] == '2' || text[1] == '3');
    if (!line.selected) {
        return dropped ? std::optional<Problem>(Problem{Fault::dropped, text[1]}) : std::nullopt;
    }
    if (size > kMaxRecordLine) {
        return Problem{Fault::tooLong};
    }
    if (text[1] != '1' && text[1] != '9') {
        // Only a last piece of at most three characters is selected, and skipped.
        return dropped ? Problem{Fault::dropped, text[1]} : Problem{Fault::tooShort};
    }
    if (size < 6) {
        return Problem{Fault::tooShort};
    }
    if (!isMark(text[0])) {
        return Problem{Fault::badMark, text[0]};
    }
    for (std::size_t at = 2; at < size; ++at) {
        if (!isHex(text[at])) {
            return Problem{Fault::notHex, text[at], at + 1};
        }
    }
    if (size % 2 != 0) {
        return Problem{Fault::oddDigits};
    }
    const unsigned count = byteAt(text, 2);
    const auto held = static_cast<unsigned>((size - 4) / 2);
    if (count != held) {
        return Problem{Fault::countDiffers, 0, 0, count, held};
    }
    if (count < 3) {
        return Problem{Fault::countTooSmall, 0, 0, count};
    }
    const unsigned given = byteAt(text, size - 2);
    const unsigned wanted = calcSum(text.substr(0, size - 2));
    if (given != wanted) {
        return Problem{Fault::checksum, 0, 0, given, wanted};
    }
    if (text[1] == '9' && size > kPiece) {
        return Problem{Fault::longS9};
    }
    return std::nullopt;
}

std::string describe(const Problem& problem) {
    switch (problem.fault) {
    case Fault::tooShort:
        return "too short to be a record (skipped)";
    case Fault::tooLong:
        return "longer than any record";
    case Fault::badMark:
        return "starts with " + shown(problem.ch) + ", not S";
    case Fault::notHex:
        return shown(problem.ch) + " in column " + std::to_string(problem.column) +
               " is no hex digit";
    case Fault::oddDigits:
        return "an odd number of hex digits";
    case Fault::countDiffers:
        return "the count says " + std::to_string(problem.said) + " but the line holds " +
               std::to_string(problem.found) + " bytes";
    case Fault::countTooSmall:
        return "the count says " + std::to_string(problem.said) +
               ", too few for an address and a checksum";
    case Fault::checksum:
        return "the checksum is " + hex2(problem.said) + " but the bytes give " +
               hex2(problem.found);
    case Fault::longS9:
        return "an S9 record longer than " + std::to_string(kPiece) +
               " characters, cut short by the conversion";
    case Fault::dropped:
        return std::string("an S") + problem.ch + " record: its data is dropped";
    }
    return {};
}

bool soundPlainLine(std::string_view line, std::string_view record) {
    // The widened checksum covers the same bytes but a count two higher, so
    // a sound checksum is the widened one plus 2.
    const std::size_t size = line.size();
    return size >= 10 && isMark(line[0]) && allHex(line.substr(2)) &&
           byteAt(line, size - 2) == ((byteAt(record, record.size() - 2) + 2) & 0xFFu);
}

void LineReports::check(std::uint64_t line, const LineShape& shape) {
    if (const auto problem = lineProblem(shape)) {
        add(line, *problem);
    }
}

void LineReports::add(std::uint64_t line, const Problem& problem) {
    if (shown_.size() < kShown) {
        shown_.push_back({line, problem});
    }
    ++total_;
}

std::vector<std::string> LineReports::text(const std::string& name) const {
    std::vector<std::string> lines;
    for (const Entry& entry : shown_) {
        lines.push_back("quorvex: " + name + " line " + std::to_string(entry.line) + ": " +
                        describe(entry.problem));
    }
    const std::uint64_t more = total_ - shown_.size();
    if (more != 0) {
        lines.push_back("quorvex: " + name + ": " + std::to_string(more) +
                        (more == 1 ? " more line" : " more lines") + " not shown");
    }
    return lines;
}

} // namespace quorvex
