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
constexpr char kHex[] = "0123456789ABCDEF";

std::uint8_t value(char ch) {
    return kDigit[static_cast<unsigned char>(ch)];
}

// Byte that the pair at `at` stands for.
unsigned pairValue(std::string_view str, std::size_t at) {
    return (16u * value(str[at]) + value(str[at + 1])) & 0xFFu;
}

char* putHex2(char* out, unsigned byte) {
    out[0] = kHex[(byte >> 4) & 0xF];
    out[1] = kHex[byte & 0xF];
    return out + 2;
}

std::string_view withoutLineFeed(std::string_view str) {
    if (!str.empty() && str.back() == '\n') {
        str.remove_suffix(1);
    }
    return str;
}

// Writes mark, type '3' or '7' and count; returns the position after them.
char* putHead(char* out, std::string_view str, std::size_t count) {
    out[0] = str[0];
    out[1] = str[1] == '1' ? '3' : '7';
    return putHex2(out + 2, static_cast<unsigned>(count & 0xFF));
}

// Appends the checksum of the record built in [out, end) and a NUL.
std::size_t finish(char* out, char* end) {
    auto size = static_cast<std::size_t>(end - out);
    end = putHex2(end, calcSum(std::string_view(out, size)));
    *end = '\0';
    return size + 2;
}

char* copy(char* out, std::string_view from) {
    std::memcpy(out, from.data(), from.size());
    return out + from.size();
}

} // namespace

std::uint8_t digitValue(char ch) {
    return value(ch);
}

std::uint8_t calcSum(std::string_view str) {
    unsigned sum = 0;
    std::size_t i = 2;
    for (; i + 1 < str.size(); i += 2) {
        sum += pairValue(str, i);
    }
    if (i < str.size()) {
        sum += 16u * value(str[i]);
    }
    return static_cast<std::uint8_t>(0xFFu - (sum & 0xFFu));
}

std::size_t convert(std::string_view str, char* result) {
    str = withoutLineFeed(str);
    const std::size_t size = str.size();
    if (size < 6) {
        return 0;
    }
    char* end = putHead(result, str, (size - 4) / 2 + 2);
    end = copy(end, "0000");
    end = copy(end, str.substr(4, size - 6));
    return finish(result, end);
}

bool needsSplit(std::string_view line) {
    const std::size_t size = withoutLineFeed(line).size();
    return size >= 512 && size <= 514 && line[1] == '1';
}

std::pair<std::size_t, std::size_t> convertSplit(std::string_view line, char* head, char* tail) {
    constexpr std::size_t kHeadDigits = 500; // 250 data bytes, the most an S3 record holds
    constexpr std::size_t kData = 8;
    line = withoutLineFeed(line);
    const std::string_view address = line.substr(4, 4);
    const std::string_view rest =
        line.substr(kData + kHeadDigits, line.size() - 2 - kData - kHeadDigits);

    char* end = putHead(head, line, 0xFF);
    end = copy(end, "0000");
    end = copy(end, address);
    end = copy(end, line.substr(kData, kHeadDigits));
    const std::size_t headSize = finish(head, end);

    const unsigned tailAddress = pairValue(line, 4) * 256u + pairValue(line, 6) + 250u;
    end = putHead(tail, line, rest.size() / 2 + 5);
    for (int shift = 24; shift >= 0; shift -= 8) {
        end = putHex2(end, (tailAddress >> shift) & 0xFFu);
    }
    end = copy(end, rest);
    return {headSize, finish(tail, end)};
}

} // namespace quorvex
