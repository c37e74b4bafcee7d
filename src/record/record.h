// Widening of Motorola S-records from 16-bit to 32-bit addresses:
// S1 becomes S3, S9 becomes S7, with a new byte count and checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace quorvex {

// Lines are read in pieces of at most this many characters (a longer line
// yields several, each a line of its own), and a piece is the longest record
// text convert() takes.
inline constexpr std::size_t kPiece = 511;

// The longest record line: a count of FF and the 255 bytes after it. It is
// also the longest S1 line convertSplitLine() takes (252 data bytes), and the
// length of the first record it writes (250 data bytes behind count FF).
inline constexpr std::size_t kMaxRecordLine = 514;

// The shortest record text: mark, type, count and checksum. A selected
// piece shorter than this is skipped.
inline constexpr std::size_t kShortestRecord = 6;

// The conversion takes a line piece whose second character is '1' (an S1
// record, written as S3) or '9' (S9, written as S7); every other is dropped.
constexpr bool isSelectedType(char type) {
    return type == '1' || type == '9';
}

// The mark that begins a record: 'S', or 's' as some tools write it.
constexpr bool isMark(char ch) {
    return ch == 'S' || ch == 's';
}

// A record line begins with a mark and a type digit.
constexpr bool isRecordStart(char mark, char type) {
    return isMark(mark) && type >= '0' && type <= '9';
}

constexpr bool isHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

// Room convert() needs in `result` for a record text of `size` characters.
constexpr std::size_t convertRoom(std::size_t size) {
    return size + 5;
}

// Checksum of a record text whose first two characters are the mark and the
// type: the ones' complement of the byte sum of the character pairs from
// position 2 on. Digits are read case-insensitively and any other byte still
// has a value (see digitValue); an unpaired last character counts as a high
// digit followed by 0.
std::uint8_t calcSum(std::string_view str);

// The byte sum, not yet reduced modulo 256, of the pairs of `digits`, an
// even number of at most 512 hex digits; false when one is no hex digit.
// One pass, as the check reads every record so.
bool hexPairSum(std::string_view digits, unsigned& sum);

// Value of one hex digit character: upper-cased (a-z only), then ch - 48 below
// 'A' and ch - 55 from 'A' on, modulo 256. '0'-'9', 'A'-'F', 'a'-'f' give 0-15.
std::uint8_t digitValue(char ch);

// The byte a pair of digits stands for, from position `at` of `digits`:
// (16 * digitValue(high) + digitValue(low)) modulo 256.
unsigned byteAt(std::string_view digits, std::size_t at);

// Writes `byte` as two upper-case hex digits; returns the position after them.
char* putHex2(char* out, unsigned byte);

// Widens one record text (a trailing line feed is ignored): position 0 is
// copied, type '1' becomes '3' and anything else '7', the count is derived
// from the length, "0000" goes in front of the address, address and data are
// copied as they came and a new checksum is appended. Writes the record and a
// terminating NUL to `result`, which must hold convertRoom(str.size()) chars,
// and returns the record's length: the text's length + 4, or 0 (nothing
// written) for a text shorter than 6 characters, which cannot hold a record.
std::size_t convert(std::string_view str, char* result);

// The common case in one pass. If `text` starts with a plain record line,
// one whose count field gives its length (4 + 2 * count characters, 6 to 510)
// with only hex digits after its type, then a line feed or CR LF, and whose
// type digit is '1' or '9', writes convert()'s record for it
// to `result` and returns how many characters the line spans with its line
// end and how many the record has. Otherwise returns zeros: take the line the
// general way.
struct PlainLine {
    std::size_t consumed = 0;
    std::size_t written = 0;
};
PlainLine convertPlainLine(std::string_view text, char* result);

// True for the S1 lines too long for one S3 record: 251 or 252 data bytes,
// a record text of 512 to 514 characters (a trailing line feed is ignored).
bool needsSplit(std::string_view line);

// Writes such a line as two S3 records: `head` gets the first 250 data bytes
// at the line's own address (count FF, kMaxRecordLine characters), `tail`
// the rest at that address + 250, without 16-bit wrap. Each buffer needs
// convertRoom(kPiece) chars and receives a terminated record, the
// head's terminator written before the tail; returns the two lengths.
std::pair<std::size_t, std::size_t> convertSplitLine(std::string_view line, char* head, char* tail);

} // namespace quorvex
