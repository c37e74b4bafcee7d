#include "check.h"

#include "record/record.h"

#include <algorithm>
#include <cstring>

namespace quorvex {
namespace {

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
    while (at < text.size() && isHexDigit(text[at])) {
        ++at;
    }
    return at;
}

Problem withField(Problem problem, std::string_view field) {
    field.copy(problem.field, sizeof problem.field - 1);
    return problem;
}

// The rules of a record's text, whatever its type: `text` holds the first
// characters (at least kMaxRecordLine) of a line of `size` characters.
std::optional<Problem> formProblem(std::string_view text, std::size_t size) {
    if (size < kShortestRecord) {
        return Problem{Fault::tooShort};
    }
    if (!isMark(text[0])) {
        return Problem{Fault::badMark, text[0]};
    }
    if (const std::size_t at = firstNotHex(text.substr(0, size), 2); at < size) {
        return Problem{Fault::notHex, text[at], at + 1};
    }
    if (size % 2 != 0) {
        return Problem{Fault::oddDigits, 0, size}; // the digit without its pair
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
        return Problem{Fault::checksum, 0, size - 1, given, wanted};
    }
    return std::nullopt;
}

// Whether a record's count field is 03: an address and a checksum, no data.
bool countIsThree(std::string_view text) {
    return text[2] == '0' && text[3] == '3';
}

Problem notRecord(std::string_view text) {
    return isMark(text[0]) ? Problem{Fault::notRecord, 0, 2}
                           : Problem{Fault::notRecord, text[0], 1};
}

} // namespace

std::optional<Problem> lineProblem(const Line& line) {
    const std::string_view text = line.head;
    const std::size_t size = line.size;
    const bool dropped =
        line.kind == LineKind::Record && (line.type() == '2' || line.type() == '3');
    if (!line.selected) {
        return dropped ? std::optional<Problem>(Problem{Fault::dropped, text[1]}) : std::nullopt;
    }
    if (size > kMaxRecordLine) {
        return Problem{Fault::tooLong};
    }
    if (!isSelectedType(text[1])) {
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

bool soundPlainLine(std::string_view line, std::string_view record) {
    // The widened checksum covers the same bytes but a count two higher, so
    // a sound checksum is the widened one plus 2.
    const std::size_t size = line.size();
    return size >= 10 && isMark(line[0]) &&
           byteAt(line, size - 2) == ((byteAt(record, record.size() - 2) + 2) & 0xFFu);
}

namespace {

// The column a reason is about, where the line does not tell it: the mark,
// the type digit, the count, the address, the value of a count, or the first
// character past a record or a piece.
std::size_t fixedColumn(Fault fault) {
    switch (fault) {
    case Fault::foreignType:
        return 2;
    case Fault::countDiffers:
    case Fault::countTooSmall:
    case Fault::countField:
    case Fault::emptyS1:
    case Fault::s9Data:
        return 3;
    case Fault::headerAddress:
    case Fault::countValue:
        return 5;
    case Fault::longS9:
        return kPiece + 1;
    case Fault::tooLong:
        return kMaxRecordLine + 1;
    default:
        return 1;
    }
}

} // namespace

void LineReports::add(std::uint64_t line, const Problem& problem) {
    if (line == last_) {
        return;
    }
    last_ = line;
    if (shown_.size() < kShown) {
        shown_.push_back({line, problem});
        Problem& shown = shown_.back().problem;
        shown.column = shown.column != 0 ? shown.column : fixedColumn(shown.fault);
    }
    ++total_;
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
        const std::string_view digits(record.data() + 8 + 2 * done, 2 * part);
        Page& bytes = page((address + done) >> 8);
        const std::size_t differs = found ? part : bytes.firstDiffering(at, digits.data(), part);
        if (differs < part) {
            found = true;
            if (shown) {
                problem.address = address + done + differs;
                problem.column = 9 + 2 * (done + differs); // the first digit of that byte
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

void Check::plainLine(const Line& line, std::string_view record) {
    if (soundPlainLine(line.raw, record)) {
        soundLine(line);
    } else {
        this->line(line);
    }
}

// A sound S1 or S9 record the plain fast path took.
void Check::soundLine(const Line& line) {
    // Nearly every line of a file: an S1 record of data where it belongs.
    const std::string_view text = line.raw;
    if (text[0] == 'S' && text[1] == '1' && s9Line_ == 0 && !countIsThree(text)) {
        ++records_;
        ++s1Records_;
        countsAll_ = false;
        if (bytes_.take(line.number, text, !reports_.full(), overlap_)) {
            reports_.add(line.number, overlap_);
        }
        return;
    }
    record(line, Known::sound);
}

void Check::line(const Line& line) {
    const auto problem = lineProblem(line);
    if (problem) {
        reports_.add(line.number, *problem);
    }
    record(line, problem ? Known::reported : Known::nothing);
}

// Checks a line against the rules of the file, unless it is reported for a
// reason of its own, and counts it. `known` tells what is known of its form.
void Check::record(const Line& line, Known known) {
    const std::string_view text = line.head;
    const std::size_t size = line.size;
    if (line.kind != LineKind::Record) {
        if (known == Known::nothing && line.kind == LineKind::Other) {
            reports_.add(line.number, notRecord(text));
        }
        return;
    }
    countsAll_ = false;
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
            if (bytes_.take(line.number, text.substr(0, size), !reports_.full(), overlap_) &&
                !problem) {
                problem = overlap_;
            }
        }
        if (problem) {
            reports_.add(line.number, *problem);
        }
        countsAll_ = !problem && (text[1] == '5' || text[1] == '6');
    }
    count(line.number, text[1]);
}

// What is wrong with where a well-formed record stands, or with its type.
std::optional<Problem> Check::placeProblem(std::string_view text) const {
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
    case '5':   // a count of the S1 records before it, of 16 bits
    case '6': { // of 24 bits, as srec_cat writes it past 65,535
        const std::size_t digits = type == '5' ? 4 : 6;
        unsigned value = 0;
        for (std::size_t at = 4; at < 4 + digits; at += 2) {
            value = value * 256u + byteAt(text, at);
        }
        if (text.size() != 6 + digits || byteAt(text, 2) != digits / 2 + 1) {
            return withField(Problem{Fault::countField, type}, count);
        }
        return value == s1Records_ ? std::nullopt
                                   : std::optional(withField(
                                         Problem{Fault::countValue, type, 0, value, 0, s1Records_},
                                         text.substr(4, digits)));
    }
    case '1':
        return countIsThree(text) ? std::optional(Problem{Fault::emptyS1}) : std::nullopt;
    case '9':
        return countIsThree(text) ? std::nullopt
                                  : std::optional(withField(Problem{Fault::s9Data}, count));
    default:
        return std::nullopt;
    }
}

void Check::count(std::uint64_t number, char type) {
    ++records_;
    s1Records_ += type == '1' ? 1 : 0;
    if (type == '9' && s9Line_ == 0) {
        s9Line_ = number;
    }
}

void Check::finish(const LineReader& reader, std::string_view rest) {
    const std::size_t stray = rest.find_first_not_of(std::string_view("\x1A\r\n\0 \t", 6));
    if (stray != std::string_view::npos) {
        reports_.add(reader.endLine(), Problem{Fault::afterCtrlZ, rest[stray], reader.endColumn()});
    }
    // A last sound S5 or S6 that counts every S1 record shows that nothing
    // was cut, as an S9 does.
    if (s1Records_ != 0 && s9Line_ == 0 && !countsAll_) {
        reports_.add(reader.lineAfterLast(), Problem{Fault::noS9});
    }
    if (s1Records_ == 0) {
        reports_.add(reader.lineAfterLast(), Problem{Fault::noData});
    }
}

namespace {

// What checkText() does with the lines: the check alone, the plain fast
// path's widening made only to judge the line.
class CheckOnly {
  public:
    CheckOnly(Check& check, LineReader& reader) : check_(check), reader_(reader) {}
    bool stopped() const { return false; }
    LineReader& reader() { return reader_; }
    void emptyLines(std::uint64_t /*count*/) {}
    PlainLine tryPlain(std::string_view rest) { return convertPlainLine(rest, record_); }
    void plainLine(const Line& line, const PlainLine& plain) {
        check_.plainLine(line, std::string_view(record_, plain.written));
    }
    void line(const Line& line) { check_.line(line); }

  private:
    Check& check_;
    LineReader& reader_;
    char record_[convertRoom(kPiece)] = {};
};

} // namespace

void checkText(std::string_view text, LineReports& reports, std::string_view rest) {
    Check check(reports);
    LineReader reader(text);
    CheckOnly visit(check, reader);
    reader.readAll(visit);
    check.finish(reader, rest);
}

} // namespace quorvex
