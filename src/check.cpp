#include "check.h"

#include "record/record.h"

#include <algorithm>
#include <cstring>

namespace quorvex {
namespace {

bool isHex(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
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

// The position of the first character of `text` from `at` on that is no hex
// digit, or the text's size; eight at a time, as long lines are common here.
std::size_t firstNotHex(std::string_view text, std::size_t at) {
    for (; text.size() - at >= 8; at += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, text.data() + at, 8);
        if (notHexBytes(w) != 0) {
            break;
        }
    }
    while (at < text.size() && isHex(text[at])) {
        ++at;
    }
    return at;
}

bool isMark(char ch) {
    return ch == 'S' || ch == 's';
}

unsigned byteAt(std::string_view text, std::size_t at) {
    return 16u * digitValue(text[at]) + digitValue(text[at + 1]);
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

Problem withField(Problem problem, std::string_view field) {
    field.copy(problem.field, sizeof problem.field - 1);
    return problem;
}

// The rules of a record's text, whatever its type: `text` holds the first
// characters (at least kMaxRecordLine) of a line of `size` characters.
std::optional<Problem> formProblem(std::string_view text, std::size_t size) {
    if (size < 6) {
        return Problem{Fault::tooShort};
    }
    if (!isMark(text[0])) {
        return Problem{Fault::badMark, text[0]};
    }
    if (const std::size_t at = firstNotHex(text.substr(0, size), 2); at < size) {
        return Problem{Fault::notHex, text[at], at + 1};
    }
    if (size % 2 != 0) {
        return Problem{Fault::oddDigits};
    }
    const unsigned count = byteAt(text, 2);
    const auto held = static_cast<unsigned>((size - 4) / 2);
    if (count != held) {
        return withField(Problem{Fault::countDiffers, 0, 0, count, held}, text.substr(2, 2));
    }
    if (count < 3) {
        return withField(Problem{Fault::countTooSmall, 0, 0, count}, text.substr(2, 2));
    }
    const unsigned given = byteAt(text, size - 2);
    const unsigned wanted = calcSum(text.substr(0, size - 2));
    if (given != wanted) {
        return Problem{Fault::checksum, 0, 0, given, wanted};
    }
    return std::nullopt;
}

bool isRecordLine(std::string_view text) {
    return text.size() >= 2 && isMark(text[0]) && text[1] >= '0' && text[1] <= '9';
}

// A line that holds nothing but spaces and tabs; `text` is its head, and one
// longer than that is taken as holding more.
bool isBlank(std::string_view text, std::size_t size) {
    return size <= kMaxRecordLine && text.find_first_not_of(" \t") == std::string_view::npos;
}

Problem notRecord(std::string_view text) {
    return isMark(text[0]) ? Problem{Fault::notRecord, 0, 2}
                           : Problem{Fault::notRecord, text[0], 1};
}

std::string hexAddress(std::size_t address) {
    return (address > 0xFFFF ? hex2(static_cast<unsigned>(address >> 16) & 0xFu).substr(1) : "") +
           hex2(static_cast<unsigned>(address >> 8) & 0xFFu) +
           hex2(static_cast<unsigned>(address) & 0xFFu);
}

std::string plural(std::uint64_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

} // namespace

LineShape shapeOf(std::string_view line) {
    LineShape shape;
    if (line.find('\r') == std::string_view::npos) { // the common case, taken whole
        shape.head.assign(line.substr(0, kMaxRecordLine + 1));
        shape.size = line.size();
        for (std::size_t at = 1; at < line.size() && !shape.selected; at += kPiece) {
            shape.selected = line[at] == '1' || line[at] == '9';
        }
        return shape;
    }
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
    if (auto problem = formProblem(text, size)) {
        return problem;
    }
    if (text[1] == '9' && size > kPiece) {
        return Problem{Fault::longS9};
    }
    return std::nullopt;
}

namespace {

// The reasons of the rules on the file as a whole.
std::string describeFileRule(const Problem& problem) {
    const std::string field = problem.field;
    switch (problem.fault) {
    case Fault::notRecord:
        return "not a record: " + (problem.column == 1 ? "it starts with " + shown(problem.ch)
                                                       : std::string("no type digit after the S"));
    case Fault::lowerMark:
        return "a lower-case 's' mark, which other tools may not read";
    case Fault::foreignType:
        return std::string("an S") + problem.ch + " record, which an S1/S9 file does not hold";
    case Fault::emptyS1:
        return "an S1 record without data";
    case Fault::lateHeader:
        return "an S0 header that is not the first record";
    case Fault::headerAddress:
        return "an S0 header at address " + field + ", not 0000";
    case Fault::countField:
        return "an S5 record whose count is " + field + ", not 03";
    case Fault::countValue:
        return "the S5 record counts " + field + " (" + std::to_string(problem.said) +
               ") S1 records, but " + std::to_string(problem.other) + " come before it";
    case Fault::secondS9:
        return "a second S9 record (the first is on line " + std::to_string(problem.other) + ")";
    case Fault::afterS9:
        return "a record after the S9 on line " + std::to_string(problem.other);
    case Fault::s9Data:
        return "an S9 record that carries data: the count says " + field + ", not 03";
    case Fault::overlap:
        return "gives address " + hexAddress(problem.column) + " the byte " + hex2(problem.said) +
               ", which line " + std::to_string(problem.other) + " gave as " + hex2(problem.found);
    case Fault::afterCtrlZ:
        return "data after the Ctrl-Z, which is never read (" + shown(problem.ch) + " first)";
    case Fault::noS9:
        return "no S9 record at the end: the file may be cut short";
    default:
        return {};
    }
}

} // namespace

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
        return "the count says " + std::string(problem.field) + " (" +
               plural(problem.said, "byte") + ") but the line holds " +
               plural(problem.found, "byte");
    case Fault::countTooSmall:
        return "the count says " + std::string(problem.field) + " (" +
               plural(problem.said, "byte") + "), too few for an address and a checksum";
    case Fault::checksum:
        return "the checksum is " + hex2(problem.said) + " but the bytes give " +
               hex2(problem.found);
    case Fault::longS9:
        return "an S9 record longer than " + std::to_string(kPiece) +
               " characters, cut short by the conversion";
    case Fault::dropped:
        return std::string("an S") + problem.ch + " record: its data is dropped";
    default:
        return describeFileRule(problem);
    }
}

bool soundPlainLine(std::string_view line, std::string_view record) {
    // The widened checksum covers the same bytes but a count two higher, so
    // a sound checksum is the widened one plus 2.
    const std::size_t size = line.size();
    return size >= 10 && isMark(line[0]) &&
           byteAt(line, size - 2) == ((byteAt(record, record.size() - 2) + 2) & 0xFFu);
}

void LineReports::add(std::uint64_t line, const Problem& problem) {
    if (line == last_) {
        return;
    }
    last_ = line;
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

namespace {

// Applies `each` to the words of a bit set that cover bits [first, first +
// count), count > 0, with the mask of those bits in the word.
template <class Each> void forBits(std::size_t first, std::size_t count, Each each) {
    const std::size_t last = first + count - 1;
    std::uint64_t mask = ~std::uint64_t{0} << (first & 63);
    for (std::size_t word = first >> 6; word < last >> 6; ++word) {
        each(word, mask);
        mask = ~std::uint64_t{0};
    }
    each(last >> 6, mask & (~std::uint64_t{0} >> (63 - (last & 63))));
}

} // namespace

// The bytes of 256 addresses. Only what `held` marks is ever read.
struct ByteMap::Page {
    std::uint64_t held[4];    // one bit for each address that holds a byte
    char digits[512];         // two for each address
    std::uint64_t owner[257]; // the line that gave each held byte; room for a last pair

    bool holds(std::size_t at) const { return ((held[at >> 6] >> (at & 63)) & 1u) != 0; }

    // The first of `size` bytes from address `at` on that a byte held before
    // gives another value, or `size`.
    std::size_t firstDiffering(std::size_t at, const char* from, std::size_t size) const {
        bool all = true;
        bool any = false;
        forBits(at, size, [&](std::size_t word, std::uint64_t mask) {
            all = all && (held[word] & mask) == mask;
            any = any || (held[word] & mask) != 0;
        });
        if (!any) {
            return size;
        }
        // Other data from the first byte on, or the same digits again (as
        // when a file is repeated), are common enough to be seen at once.
        if (all && differs(at, from)) {
            return 0;
        }
        if (all && std::memcmp(digits + 2 * at, from, 2 * size) == 0) {
            return size;
        }
        for (std::size_t i = 0; i < size; ++i) {
            if (holds(at + i) && differs(at + i, from + 2 * i)) {
                return i;
            }
        }
        return size;
    }

    bool differs(std::size_t at, const char* from) const {
        const char* const was = digits + 2 * at;
        return (from[0] | 0x20) != (was[0] | 0x20) || (from[1] | 0x20) != (was[1] | 0x20);
    }

    // Keeps `size` bytes from address `at` on, and while reports are shown
    // the line that gave them.
    void store(std::uint64_t line, std::size_t at, const char* from, std::size_t size, bool shown) {
        std::memcpy(digits + 2 * at, from, 2 * size);
        forBits(at, size, [&](std::size_t word, std::uint64_t mask) { held[word] |= mask; });
        const std::uint64_t lines[2] = {line, line}; // stored two at a time
        for (std::size_t i = 0; shown && i < size; i += 2) {
            std::memcpy(owner + at + i, lines, sizeof lines);
        }
    }
};

ByteMap::ByteMap() = default;
ByteMap::~ByteMap() = default;

ByteMap::Page& ByteMap::page(std::size_t number) {
    if (!pages_[number]) {
        pages_[number].reset(new Page());
    }
    return *pages_[number];
}

bool ByteMap::take(std::uint64_t line, std::string_view record, bool shown, Problem& problem) {
    const std::size_t address = byteAt(record, 4) * 256u + byteAt(record, 6);
    const std::size_t size = (record.size() - 10) / 2;
    bool found = false;
    for (std::size_t done = 0; done < size;) { // a part in each page
        const std::size_t at = (address + done) & 0xFFu;
        const std::size_t part = std::min(size - done, 256 - at);
        const std::string_view digits = record.substr(8 + 2 * done, 2 * part);
        Page& bytes = page((address + done) >> 8);
        const std::size_t differs = found ? part : bytes.firstDiffering(at, digits.data(), part);
        if (differs < part) {
            found = true;
            if (shown) {
                problem.column = address + done + differs;
                problem.said = byteAt(digits, 2 * differs);
                problem.found = byteAt(std::string_view(bytes.digits, 512), 2 * (at + differs));
                problem.other = bytes.owner[at + differs];
            }
        }
        bytes.store(line, at, digits.data(), part, shown);
        done += part;
    }
    return found;
}

void SourceCheck::soundLine(std::uint64_t number, std::string_view line) {
    // Nearly every line of a file: an S1 record of data where it belongs.
    if (line[0] == 'S' && line[1] == '1' && s9Line_ == 0 && line.compare(2, 2, "03") != 0) {
        ++records_;
        ++s1Records_;
        if (bytes_.take(number, line, !reports_.full(), overlap_)) {
            reports_.add(number, overlap_);
        }
        return;
    }
    record(number, line, line.size(), Known::sound);
}

void SourceCheck::line(std::uint64_t number, std::string_view content) {
    const LineShape shape = shapeOf(content);
    const auto problem = lineProblem(shape);
    if (problem) {
        reports_.add(number, *problem);
    }
    record(number, shape.head, shape.size, problem ? Known::reported : Known::nothing);
}

// Checks a line against the rules of the file, unless it is reported for a
// reason of its own, and counts it. `known` tells what is known of its form.
void SourceCheck::record(std::uint64_t number, std::string_view text, std::size_t size,
                         Known known) {
    if (!isRecordLine(text)) {
        if (known == Known::nothing && !isBlank(text, size)) {
            reports_.add(number, notRecord(text));
        }
        return;
    }
    if (known != Known::reported) {
        std::optional<Problem> problem;
        if (known == Known::nothing) {
            problem = size > kMaxRecordLine ? Problem{Fault::tooLong} : formProblem(text, size);
        }
        const bool sound = !problem;
        if (sound) {
            problem = placeProblem(text);
        }
        if (sound && text[1] == '1') {
            if (bytes_.take(number, text.substr(0, size), !reports_.full(), overlap_) && !problem) {
                problem = overlap_;
            }
        }
        if (problem) {
            reports_.add(number, *problem);
        }
    }
    count(number, text[1]);
}

// What is wrong with where a well-formed record stands, or with its type.
std::optional<Problem> SourceCheck::placeProblem(std::string_view text) const {
    const char type = text[1];
    if (s9Line_ != 0) {
        return Problem{type == '9' ? Fault::secondS9 : Fault::afterS9, 0, 0, 0, 0, s9Line_};
    }
    if (text[0] == 's') {
        return Problem{Fault::lowerMark};
    }
    const std::string_view count = text.substr(2, 2);
    switch (type) {
    case '4':
    case '6':
    case '7':
    case '8':
        return Problem{Fault::foreignType, type};
    case '0':
        if (records_ != 0) {
            return Problem{Fault::lateHeader};
        }
        return byteAt(text, 4) + byteAt(text, 6) == 0
                   ? std::nullopt
                   : std::optional(withField(Problem{Fault::headerAddress}, text.substr(4, 4)));
    case '5': {
        const unsigned value = byteAt(text, 4) * 256u + byteAt(text, 6);
        if (count != "03") {
            return withField(Problem{Fault::countField}, count);
        }
        return value == s1Records_
                   ? std::nullopt
                   : std::optional(withField(Problem{Fault::countValue, 0, 0, value, 0, s1Records_},
                                             text.substr(4, 4)));
    }
    case '1':
        return count == "03" ? std::optional(Problem{Fault::emptyS1}) : std::nullopt;
    case '9':
        return count == "03" ? std::nullopt
                             : std::optional(withField(Problem{Fault::s9Data}, count));
    default:
        return std::nullopt;
    }
}

void SourceCheck::count(std::uint64_t number, char type) {
    ++records_;
    s1Records_ += type == '1' ? 1 : 0;
    if (type == '9' && s9Line_ == 0) {
        s9Line_ = number;
    }
}

void SourceCheck::finish(std::string_view text, std::uint64_t next, std::string_view rest) {
    // The Ctrl-Z stands on the last line, or on the line after a last line feed.
    const std::uint64_t ctrlZLine = text.empty() || text.back() == '\n' ? next : next - 1;
    const std::size_t stray = rest.find_first_not_of(std::string_view("\x1A\r\n\0 \t", 6));
    if (stray != std::string_view::npos) {
        reports_.add(ctrlZLine, Problem{Fault::afterCtrlZ, rest[stray]});
    }
    if (s1Records_ != 0 && s9Line_ == 0) {
        const std::size_t last = text.find_last_not_of('\r');
        const bool open = last != std::string_view::npos && text[last] != '\n';
        reports_.add(open ? ctrlZLine + 1 : ctrlZLine, Problem{Fault::noS9});
    }
}

} // namespace quorvex
