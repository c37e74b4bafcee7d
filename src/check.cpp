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
    // The pairs' sum, which the checksum needs, tells whether all are digits.
    unsigned sum = 0;
    const bool odd = size % 2 != 0;
    if (!hexPairSum(text.substr(2, size - 2 - (odd ? 1 : 0)), sum) ||
        (odd && !isHexDigit(text[size - 1]))) {
        const std::size_t at = firstNotHex(text.substr(0, size), 2);
        return Problem{Fault::notHex, text[at], at + 1};
    }
    if (odd) {
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
    const unsigned wanted = 0xFFu - ((sum - given) & 0xFFu); // the sum of all before it
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

void LineReports::show(std::uint64_t line, const Problem& problem) {
    shown_.push_back({line, problem});
    Problem& shown = shown_.back().problem;
    shown.column = shown.column != 0 ? shown.column : fixedColumn(shown.fault);
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

// Eight digits at a time, in lower case: hex digits only.
constexpr std::uint64_t kLower = 0x2020202020202020u;

std::uint64_t eightAt(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Copies `count` digits, an even number, from `from` to `to` in lower case:
// eight at a time, the last eight overlapping those before.
void copyLower(char* to, const char* from, std::size_t count) {
    if (count < 8) {
        for (std::size_t i = 0; i < count; ++i) {
            to[i] = static_cast<char>(from[i] | 0x20);
        }
        return;
    }
    for (std::size_t i = 0; i + 8 < count; i += 8) {
        const std::uint64_t word = eightAt(from + i) | kLower;
        std::memcpy(to + i, &word, sizeof word);
    }
    const std::uint64_t last = eightAt(from + count - 8) | kLower;
    std::memcpy(to + count - 8, &last, sizeof last);
}

} // namespace

// The bytes of 256 addresses. Only what `held` marks is ever read.
struct ByteMap::Page {
    std::uint64_t held[4];    // one bit for each address that holds a byte
    char digits[512];         // two for each address, in lower case
    std::uint64_t owner[257]; // the line that gave each held byte; room for a last pair

    enum class Held { none, some, all };

    // How many of `size` bytes from address `at` on are held.
    Held holds(std::size_t at, std::size_t size) const {
        std::uint64_t any = 0;
        bool all = true;
        forBits(at, size, [&](std::size_t word, std::uint64_t mask) {
            any |= held[word] & mask;
            all = all && (held[word] & mask) == mask;
        });
        return any == 0 ? Held::none : all ? Held::all : Held::some;
    }

    // The first of `size` bytes from address `at` on that a byte held before
    // gives another value, or `size`; `held` says how many were held.
    std::size_t firstOther(std::size_t at, const char* from, std::size_t size, Held was) const {
        std::size_t i = 0;
        if (was == Held::all) { // whole words first: a file repeated gives the same
            const char* const kept = digits + 2 * at;
            while (i + 8 <= 2 * size && (eightAt(from + i) | kLower) == eightAt(kept + i)) {
                i += 8;
            }
            i /= 2;
        }
        for (; i < size; ++i) {
            if (((held[(at + i) >> 6] >> ((at + i) & 63)) & 1u) != 0 &&
                differs(at + i, from + 2 * i)) {
                return i;
            }
        }
        return size;
    }

    bool differs(std::size_t at, const char* from) const {
        const char* const was = digits + 2 * at;
        return (from[0] | 0x20) != was[0] || (from[1] | 0x20) != was[1];
    }

    // Keeps the digits of `size` bytes from address `at` on, all held
    // before, in one pass: true when one of them had another value. Inlined:
    // nearly every line of a file given again comes here.
    [[gnu::always_inline]] bool replace(std::size_t at, const char* from, std::size_t size) {
        char* const to = digits + 2 * at;
        const std::size_t count = 2 * size;
        std::uint64_t other = 0;
        if (count < 8) {
            for (std::size_t i = 0; i < count; ++i) {
                const auto ch = static_cast<char>(from[i] | 0x20);
                other |= static_cast<unsigned char>(ch ^ to[i]);
                to[i] = ch;
            }
            return other != 0;
        }
        const auto eight = [&](std::size_t i) { // the last eight overlap those before
            const std::uint64_t word = eightAt(from + i) | kLower;
            other |= word ^ eightAt(to + i);
            std::memcpy(to + i, &word, sizeof word);
        };
        if (count < 16) {
            eight(0);
            eight(count - 8);
            return other != 0;
        }
        // Sixteen at a time, in one vector register where the machine has one.
        using Sixteen = std::uint64_t __attribute__((vector_size(16)));
        Sixteen others = {0, 0};
        const auto sixteen = [&](std::size_t i) { // the last sixteen overlap those before
            Sixteen word;
            Sixteen was;
            std::memcpy(&word, from + i, sizeof word);
            std::memcpy(&was, to + i, sizeof was);
            word |= kLower;
            others |= word ^ was;
            std::memcpy(to + i, &word, sizeof word);
        };
        for (std::size_t i = 0; i + 16 < count; i += 16) {
            sixteen(i);
        }
        sixteen(count - 16);
        return (others[0] | others[1]) != 0;
    }

    // Marks `size` bytes from address `at` on as held.
    void mark(std::size_t at, std::size_t size) {
        forBits(at, size, [&](std::size_t word, std::uint64_t mask) { held[word] |= mask; });
    }

    // Keeps the digits of `size` bytes from address `at` on, and while
    // reports are shown the line that gave them.
    void store(std::uint64_t line, std::size_t at, const char* from, std::size_t size, bool shown) {
        copyLower(digits + 2 * at, from, 2 * size);
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

// Inlined into the checked conversion's loop, its general part kept out.
[[gnu::always_inline]] inline bool ByteMap::take(std::uint64_t line, std::string_view record,
                                                 bool shown, Problem& problem) {
    const std::size_t address = byteAt(record, 4) * 256u + byteAt(record, 6);
    const std::size_t size = (record.size() - 10) / 2;
    const char* const digits = record.data() + 8;
    const std::size_t at = address & 0xFFu;
    Page* const bytes = pages_[address >> 8].get();
    if (bytes != nullptr && size != 0 && (at & 63) + size <= 64) {
        // In one word of held bits: nearly every record, whose bytes are
        // either all new, or (once no more reports are shown, in a file
        // given twice) all given before, when only whether one differs counts.
        std::uint64_t& held = bytes->held[at >> 6];
        const std::uint64_t mask = (~std::uint64_t{0} >> (64 - size)) << (at & 63);
        const std::uint64_t was = held & mask;
        if (was == 0) {
            held |= mask;
            bytes->store(line, at, digits, size, shown);
            return false;
        }
        if (was == mask && !shown) {
            return bytes->replace(at, digits, size);
        }
    }
    return takeParts(line, address, record, shown, problem);
}

// A record of bytes in two pages, or in more than one word of held bits, or
// some of whose bytes are held: the general way.
[[gnu::noinline]] bool ByteMap::takeParts(std::uint64_t line, std::size_t address,
                                          std::string_view record, bool shown, Problem& problem) {
    const std::size_t size = (record.size() - 10) / 2;
    const char* const digits = record.data() + 8;
    // A record holds at most 252 bytes: in one page, or in two.
    const std::size_t first = std::min(size, 256 - (address & 0xFFu));
    const bool found = takePart(line, address, digits, first, 9, shown, problem);
    if (first == size) {
        return found;
    }
    return takePart(line, address + first, digits + 2 * first, size - first,
                    found ? 0 : 9 + 2 * first, shown, problem) ||
           found;
}

// Takes `size` bytes for the addresses from `address` on, all in one page,
// given as the digits at `from`, the first of which stands in `column`: 0
// when they are not compared, another byte of the record found already.
bool ByteMap::takePart(std::uint64_t line, std::size_t address, const char* from, std::size_t size,
                       std::size_t column, bool shown, Problem& problem) {
    if (size == 0) {
        return false;
    }
    Page& bytes = page(address >> 8);
    const std::size_t at = address & 0xFFu;
    const Page::Held was = bytes.holds(at, size);
    std::size_t differs = size;
    if (column != 0 && was != Page::Held::none) {
        differs = bytes.firstOther(at, from, size, was);
        if (shown && differs < size) {
            problem.address = address + differs;
            problem.column = column + 2 * differs;
            problem.said = byteAt(std::string_view(from, 2 * size), 2 * differs);
            problem.found = byteAt(std::string_view(bytes.digits, 512), 2 * (at + differs));
            problem.other = bytes.owner[at + differs];
        }
    }
    bytes.mark(at, size);
    bytes.store(line, at, from, size, shown);
    return differs < size;
}

void Check::plainLine(std::uint64_t number, std::string_view raw, std::string_view record) {
    if (!soundPlainLine(raw, record)) {
        otherPlainLine(number, raw, false);
    } else if (raw[0] == 'S' && raw[1] == '1' && s9Line_ == 0 && !countIsThree(raw)) {
        // Nearly every line of a file: a sound S1 record of data where it belongs.
        ++records_;
        ++s1Records_;
        countsAll_ = false;
        if (bytes_.take(number, raw, !reports_.full(), overlap_)) {
            reports_.add(number, overlap_);
        }
    } else {
        otherPlainLine(number, raw, true);
    }
}

// Kept out of plainLine(), so that it needs few registers.
[[gnu::noinline]] void Check::otherPlainLine(std::uint64_t number, std::string_view raw,
                                             bool sound) {
    if (sound) {
        record(plainLineOf(number, raw), Known::sound);
    } else {
        line(plainLineOf(number, raw));
    }
}

void Check::line(const Line& line) {
    const auto problem = lineProblem(line);
    if (problem) {
        reports_.add(line.number, *problem);
    }
    // A selected line without a reason of its own has passed every check
    // of its form.
    record(line, problem ? Known::reported : line.selected ? Known::sound : Known::nothing);
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
    void plainLine(std::uint64_t number, std::string_view raw, const PlainLine& plain) {
        check_.plainLine(number, raw, std::string_view(record_, plain.written));
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
