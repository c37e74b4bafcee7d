#include "record/record.h"

#include <array>
#include <cstring>

namespace quorvex {
namespace {

constexpr std::array<std::uint8_t, 256> makeDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned ch = 0; ch < 256; ++ch) {
        unsigned up = (ch >= 'a' && ch <= 'z') ? ch - ('a' - 'A') : ch;
        table[ch] = static_cast<std::uint8_t>(up < 'A' ? up - 48 : up - 55);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kDigit = makeDigitTable();

constexpr bool isLineEnd(unsigned ch) {
    return ch == '\n' || ch == '\r';
}

// Indexed by a pair of characters, first | second << 8: the byte the pair
// stands for, plus kLineEndFlag if either is a line feed or carriage return
// and kNotHexFlag if either is no hex digit. One look-up a pair keeps the
// checksum at a few instructions a byte, and a sum of entries (of at most
// 255 pairs) counts, above its low 16 bits, the pairs holding a line end,
// and above those the pairs holding what is no hex digit.
constexpr std::uint32_t kLineEndFlag = 1u << 16;
constexpr std::uint32_t kNotHexFlag = 1u << 24;

// Built row by row with plain pointers and locals: compilers bound the steps
// of a constant evaluation (clang at about a million), and 65536 entries made
// through std::array's operator[] and helper calls would overrun it.
constexpr std::array<std::uint32_t, 65536> makePairTable() {
    std::array<std::uint32_t, 65536> table{};
    std::uint32_t digits[256] = {};
    std::uint32_t flags[256] = {};
    for (unsigned ch = 0; ch < 256; ++ch) {
        digits[ch] = kDigit[ch];
        flags[ch] = (isLineEnd(ch) ? kLineEndFlag : 0) |
                    (isHexDigit(static_cast<char>(ch)) ? 0 : kNotHexFlag);
    }
    std::uint32_t* entry = table.data();
    for (unsigned second = 0; second < 256; ++second) {
        const std::uint32_t low = digits[second];
        const std::uint32_t flag = flags[second];
        for (unsigned first = 0; first < 256; ++first) {
            *entry++ = ((16u * digits[first] + low) & 0xFFu) | flags[first] | flag;
        }
    }
    return table;
}

constexpr std::array<std::uint32_t, 65536> kPair = makePairTable();
constexpr char kHex[] = "0123456789ABCDEF";

std::uint8_t value(char ch) {
    return kDigit[static_cast<unsigned char>(ch)];
}

std::uint32_t pairAt(const char* at) {
    const auto first = static_cast<unsigned char>(at[0]);
    const auto second = static_cast<unsigned char>(at[1]);
    return kPair[first | static_cast<unsigned>(second) << 8];
}

// Hides from the compiler how a loop steps `at`, at no instruction's cost.
// Told the trip count, GCC (12, -O3) vectorises the loop of entrySum with
// emulated gathers, which takes twice the time (record_bench
// calcSumRecord/250: 111 ns a record rather than 45).
inline void hideStep(const char*& at) {
#if defined(__GNUC__)
    asm("" : "+r"(at));
#else
    static_cast<void>(at);
#endif
}

// `sum` plus the table entries for the pairs of the `size` characters at
// `in` (at most 255 pairs, so the byte sum stays in the low 16 bits); an
// unpaired last character counts as a high digit followed by 0. With kCopy
// the characters are copied to `out` on the way, in blocks: small copies of
// unknown size cost more than this. The blocks are counted before the loop
// and input and output are walked by two pointers, so that the loop needs
// few registers wherever it is inlined.
template <bool kCopy>
[[gnu::always_inline]] inline std::uint32_t entrySum(const char* in, std::size_t size, char* out,
                                                     std::uint32_t sum) {
    // `out` may be null without kCopy: it is only moved where it is written.
    const auto copyOut = [&out](const char* from, std::size_t count) {
        if (kCopy) {
            std::memcpy(out, from, count);
            out += count;
        }
    };
    const char* at = in;
    for (const char* const blocks = in + (size & ~std::size_t{15}); at != blocks; at += 16) {
        hideStep(at);
        copyOut(at, 16);
        sum += pairAt(at) + pairAt(at + 2) + pairAt(at + 4) + pairAt(at + 6) + pairAt(at + 8) +
               pairAt(at + 10) + pairAt(at + 12) + pairAt(at + 14);
    }
    if ((size & 8) != 0) {
        copyOut(at, 8);
        sum += pairAt(at) + pairAt(at + 2) + pairAt(at + 4) + pairAt(at + 6);
        at += 8;
    }
    if ((size & 4) != 0) {
        copyOut(at, 4);
        sum += pairAt(at) + pairAt(at + 2);
        at += 4;
    }
    if ((size & 2) != 0) {
        copyOut(at, 2);
        sum += pairAt(at);
        at += 2;
    }
    if ((size & 1) != 0) {
        copyOut(at, 1);
        sum += 16u * value(*at);
    }
    return sum;
}

// Sum, not yet reduced modulo 256, of the bytes the pairs of `digits` stand for.
unsigned pairSum(std::string_view digits) {
    return entrySum<false>(digits.data(), digits.size(), nullptr, 0) & (kLineEndFlag - 1);
}

std::uint8_t complement(unsigned sum) {
    return static_cast<std::uint8_t>(0xFFu - (sum & 0xFFu));
}

char* copy(char* out, std::string_view from) {
    std::memcpy(out, from.data(), from.size());
    return out + from.size();
}

std::string_view withoutLineFeed(std::string_view str) {
    if (!str.empty() && str.back() == '\n') {
        str.remove_suffix(1);
    }
    return str;
}

// Writes mark, type '3' or '7', count and "0000"; returns the position after them.
// What putHead() writes: mark, type, count and the address's new high bytes.
constexpr std::size_t kHeadSize = 8;

char* putHead(char* out, std::string_view str, unsigned count) {
    out[0] = str[0];
    out[1] = str[1] == '1' ? '3' : '7';
    return copy(putHex2(out + 2, count), "0000");
}

// Appends the checksum of the record in [out, end), which holds `sum` so far,
// and a NUL; returns the record's size.
std::size_t finish(char* out, char* end, unsigned sum) {
    end = putHex2(end, complement(sum));
    *end = '\0';
    return static_cast<std::size_t>(end - out);
}

} // namespace

std::uint8_t digitValue(char ch) {
    return value(ch);
}

unsigned byteAt(std::string_view digits, std::size_t at) {
    return pairAt(digits.data() + at) & 0xFFu;
}

char* putHex2(char* out, unsigned byte) {
    out[0] = kHex[(byte >> 4) & 0xF];
    out[1] = kHex[byte & 0xF];
    return out + 2;
}

bool hexPairSum(std::string_view digits, unsigned& sum) {
    const std::uint32_t entries = entrySum<false>(digits.data(), digits.size(), nullptr, 0);
    sum = entries & (kLineEndFlag - 1);
    return entries < kLineEndFlag; // a line end is no hex digit either
}

std::uint8_t calcSum(std::string_view str) {
    return complement(str.size() > 2 ? pairSum(str.substr(2)) : 0);
}

std::size_t convert(std::string_view str, char* result) {
    str = withoutLineFeed(str);
    const std::size_t size = str.size();
    if (size < kShortestRecord) {
        return 0;
    }
    const auto count = static_cast<unsigned>(((size - 4) / 2 + 2) & 0xFF);
    // Address and data follow the count and 00 00, aligned as in the input:
    // their pairs give the rest of the checksum without a second pass.
    const std::string_view digits(str.data() + 4, size - 6);
    return finish(result, copy(putHead(result, str, count), digits), count + pairSum(digits));
}

// Inlined into both conversion loops at link time: a call costs the plain run
// about a tenth of its instructions. GCC warns that a function not declared
// inline might not be inlinable; link-time optimisation inlines it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
[[gnu::always_inline]] PlainLine convertPlainLine(std::string_view text, char* result) {
    if (text.size() < 4 || !isSelectedType(text[1])) {
        return {};
    }
    const char* const in = text.data();
    const std::size_t size = 4 + 2 * (pairAt(in + 2) & 0xFFu);
    if (size < 6 || size >= kPiece || size >= text.size()) {
        return {};
    }
    std::size_t consumed = size + 1;
    if (in[size] == '\r' && size + 1 < text.size()) {
        ++consumed;
    }
    // Of the pairs around the digits only the flags count, and of the mark
    // and type (no hex digits) only the line end: they start the digits'
    // sum, so that no register holds them through the loop. The head is
    // written after it, for the same reason.
    const std::uint32_t edges =
        ((pairAt(in) & (kNotHexFlag - 1)) | pairAt(in + 2) | pairAt(in + size - 2)) &
        ~(kLineEndFlag - 1);
    const std::uint32_t sum = entrySum<true>(in + 4, size - 6, result + kHeadSize, edges);
    if (in[consumed - 1] != '\n' || sum >= kLineEndFlag) {
        return {};
    }
    const auto count = static_cast<unsigned>((size - 4) / 2 + 2);
    char* const out = putHead(result, text, count);
    return {consumed, finish(result, out + (size - 6), count + sum)};
}
#pragma GCC diagnostic pop

bool needsSplit(std::string_view line) {
    const std::size_t size = withoutLineFeed(line).size();
    return size > kPiece && size <= kMaxRecordLine && line[1] == '1';
}

std::pair<std::size_t, std::size_t> convertSplitLine(std::string_view line, char* head,
                                                     char* tail) {
    constexpr std::size_t kData = 8;
    constexpr std::size_t kHeadDigits = 500; // 250 data bytes, the most an S3 record holds
    line = withoutLineFeed(line);
    const std::string_view address = line.substr(4, 4);
    const std::string_view first = line.substr(kData, kHeadDigits);
    const std::string_view rest =
        line.substr(kData + kHeadDigits, line.size() - 2 - kData - kHeadDigits);

    char* end = copy(copy(putHead(head, line, 0xFF), address), first);
    const std::size_t headSize = finish(head, end, 0xFF + pairSum(address) + pairSum(first));

    const unsigned tailAddress =
        pairSum(address.substr(0, 2)) * 256u + pairSum(address.substr(2)) + 250u;
    const auto count = static_cast<unsigned>(rest.size() / 2 + 5);
    end = putHex2(tail + 2, count);
    tail[0] = line[0];
    tail[1] = '3';
    unsigned sum = count;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned byte = (tailAddress >> shift) & 0xFFu;
        end = putHex2(end, byte);
        sum += byte;
    }
    end = copy(end, rest);
    return {headSize, finish(tail, end, sum + pairSum(rest))};
}

} // namespace quorvex
