#include "check.h"

#include "convert_bytes.h"
#include "lines.h"
#include "messages.h"
#include "record/record.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace quorvex {
namespace {

// What the check says of one line: its reason, or "" when it is not reported.
std::string reasonFor(const std::string& line) {
    LineReader reader(line);
    const auto problem = lineProblem(reader.take());
    return problem ? reason(*problem) : "";
}

// An S1 record of `bytes` data bytes, with its right count and checksum.
std::string s1(std::size_t bytes, char type = '1') {
    const std::string data(2 * bytes, 'A');
    const auto count = static_cast<unsigned>(bytes + 3);
    unsigned sum = count + 0x12 + 0x34 + 0xAAu * static_cast<unsigned>(bytes);
    char digits[3];
    (void)std::snprintf(digits, sizeof digits, "%02X", count);
    std::string line = std::string("S") + type + digits + "1234" + data;
    (void)std::snprintf(digits, sizeof digits, "%02X", 0xFFu - (sum & 0xFFu));
    return line + digits;
}

// A record of `type` with its count and checksum; `fields` is its address
// and data in hex.
std::string rec(char type, const std::string& fields) {
    unsigned sum = static_cast<unsigned>(fields.size() / 2 + 1);
    for (std::size_t at = 0; at < fields.size(); at += 2) {
        sum += static_cast<unsigned>(std::stoul(fields.substr(at, 2), nullptr, 16));
    }
    char digits[8];
    (void)std::snprintf(digits, sizeof digits, "%02X",
                        static_cast<unsigned>(fields.size() / 2 + 1));
    std::string record = std::string("S") + type + digits + fields;
    (void)std::snprintf(digits, sizeof digits, "%02X", 0xFFu - (sum & 0xFFu));
    return record + digits + "\n";
}

// "LINE: REASON" for each reported line of a whole source, as strict mode
// finds them.
std::string reportsOf(const std::string& source) {
    const std::size_t length = dataLength(source);
    LineReports reports;
    checkText(std::string_view(source).substr(0, length), reports,
              std::string_view(source).substr(length));
    std::string text;
    for (const auto& entry : reports.shown()) {
        text += std::to_string(entry.line) + ": " + reason(entry.problem) + "\n";
    }
    return text;
}

TEST(SourceCheck, EachFileRuleHasItsReason) {
    const std::string head = rec('0', "0000484452");
    const std::string data = rec('1', "0010AABB");
    const std::string end = rec('9', "0000");
    const std::string sound = head + data + end;
    const struct {
        std::string source;
        const char* reports;
    } cases[] = {
        {sound, ""},
        {"S00600004844521b\r\nS1050010aabb85\r\nS9030000fc\r\n", ""},
        {data + rec('5', "0001") + end + std::string("\x1A\x1A\r\n\0 \t", 7), ""},
        {data + " \t\n\n" + end, ""},
        {data + rec('1', "0011BBCC") + rec('1', "FFFFAABB") + rec('1', "0000CC") + end, ""},
        {data + rec('1', "000FCCAA") + end, ""}, // a new byte, then one given alike
        {"\xEF\xBB\xBF" + data + end,
         "1: not a record: it starts with byte 0xEF\n3: no S1 record: there is no data to flash\n"},
        {" " + sound, "1: not a record: it starts with byte 0x20\n"},
        {":0400000001020304F2\n",
         "1: not a record: it starts with ':'\n2: no S1 record: there is no data to flash\n"},
        {head, "2: no S1 record: there is no data to flash\n"}, // cut after its header
        {head + data + rec('5', "0001"), ""},   // the count shows it whole, without an S9
        {head + data + rec('6', "000001"), ""}, // a count of 24 bits
        {data + rec('5', "0001") + data,        // a count, but not the last record
         "4: no S9 record at the end: the file may be cut short\n"},
        {data + rec('6', "000002"),
         "2: the S6 record counts 000002 (2) S1 records, but 1 comes "
         "before it\n3: no S9 record at the end: the file may be cut short\n"},
        {data + "S!030000FC\n" + end, "2: not a record: no type digit after the S\n"},
        {data + "s9030000FC\n", "2: a lower-case 's' mark, which other tools may not read\n"},
        {"S0030000FD\n" + data + end, "1: the checksum is FD but the bytes give FC\n"},
        {data + "S5040001FA\n" + end,
         "2: the count says 04 (4 bytes) but the line holds 3 bytes\n"},
        {data + rec('8', "000000") + end, "2: an S8 record, which an S1/S9 file does not hold\n"},
        {data + head + end, "2: an S0 header that is not the first record\n"},
        {rec('0', "0100") + data + end, "1: an S0 header at address 0100, not 0000\n"},
        {data + rec('5', "000001") + end, "2: an S5 record whose count is 04, not 03\n"},
        {data + data + rec('5', "0001") + end,
         "3: the S5 record counts 0001 (1) S1 records, but 2 come before it\n"},
        {head + data, "3: no S9 record at the end: the file may be cut short\n"},
        {head + data.substr(0, data.size() - 1),
         "3: no S9 record at the end: the file may be cut short\n"},
        {sound + end, "4: a second S9 record (the first is on line 3)\n"},
        {sound + sound, "4: a record after the S9 on line 3\n5: a record after the S9 on line 3\n"
                        "6: a second S9 record (the first is on line 3)\n"},
        {data + rec('1', "0020") + end, "2: an S1 record without data\n"},
        {data + rec('9', "000000"),
         "2: an S9 record that carries data: the count says 04, not 03\n"},
        {sound + "\x1A\r\n" + data, "4: data after the Ctrl-Z, which is never read ('S' first)\n"},
        {head + data.substr(0, data.size() - 1) + "\x1A" + end,
         "2: data after the Ctrl-Z, which is never read ('S' first)\n"
         "3: no S9 record at the end: the file may be cut short\n"},
        {data + rec('1', "0011CC") + end,
         "2: gives address 0011 the byte CC, which line 1 gave as BB\n"},
        {data + "S104\r0011CC1E\n" + end, // the same, on a line the fast path leaves
         "2: gives address 0011 the byte CC, which line 1 gave as BB\n"},
        {rec('1', "FFFFAABB") + rec('1', "FFFFAACC") + end,
         "2: gives address 10000 the byte CC, which line 1 gave as BB\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reportsOf(c.source), c.reports) << c.source;
    }
}

// Every single-bit flip of a sound image that changes the converted image is
// refused, but for a header at 0000 whose type turns 0 <-> 1: the checksum
// does not cover the type, and the header's bytes land where nothing else is.
TEST(SourceCheck, RefusesEveryFlipThatChangesTheImage) {
    std::ifstream in(QUORVEX_EXAMPLES "/firmware.s19", std::ios::binary);
    const std::string image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string lower = image; // lower-case hex
    std::string dos;           // CR LF, no header, an S5 and a Ctrl-Z
    std::transform(image.begin(), image.end(), lower.begin(), [](char ch) {
        return ch == 'S' ? ch : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    });
    for (std::size_t at = image.find('\n') + 1; at < image.size(); at = image.find('\n', at) + 1) {
        dos += image.substr(at, image.find('\n', at) - at) + "\n";
    }
    dos.insert(dos.rfind("S9"), rec('5', "0014"));
    for (const std::string& source : {image, lower, dos + "\x1A"}) {
        ASSERT_EQ(reportsOf(source), "");
        const auto upper = [](std::string text) {
            std::transform(text.begin(), text.end(), text.begin(), [](char ch) {
                return static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            });
            return text;
        };
        const std::string converted = upper(convertBytes(source).output);
        for (std::size_t bit = 0; bit < 8 * source.size(); ++bit) {
            std::string flipped = source;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << bit % 8));
            const bool header = bit / 8 == 1 && source.compare(4, 4, "0000") == 0 &&
                                (flipped[1] == '0' || flipped[1] == '1');
            if (!header && upper(convertBytes(flipped).output) != converted) {
                EXPECT_NE(reportsOf(flipped), "") << "bit " << bit % 8 << " of byte " << bit / 8;
            }
        }
    }
}

TEST(LineProblem, EachRuleHasItsReason) {
    const struct {
        std::string line;
        const char* reason;
    } cases[] = {
        {"S1130000285F245F2212226A000424290008237C2A", ""},
        {"s1130000285f245f2212226a000424290008237c2a", ""},
        {"S9030000FC", ""},
        {s1(252), ""}, // 514 characters, written as two records
        {s1(250, '9'), ""},
        {"S0030000FC", ""},
        {"S5030001FB", ""},
        {"S70500000000FA", ""},
        {"S804000000FB", ""},
        {"", ""},
        {"hello", ""},
        {"S0" + std::string(1200, '0'), ""}, // no piece is selected
        {"S2080000000102030400", "an S2 record: its data is dropped"},
        {"s3", "an S3 record: its data is dropped"},
        {"S2" + std::string(511, '0'),
         "an S2 record: its data is dropped"}, // its last piece "0" is no record
        {"S9", "too short to be a record (skipped)"},
        {"S1030", "too short to be a record (skipped)"},
        {"S1" + std::string(513, '0'), "longer than any record"},
        {"S0" + std::string(509, '0') + "S1" + std::string(100, '0'), "longer than any record"},
        {"X9030000FC", "starts with 'X', not S"},
        {"S1130000285G245F2212226A000424290008237C2A", "'G' is no hex digit"},
        {std::string("S903\0"
                     "000FC",
                     10),
         "byte 0x00 is no hex digit"},
        {"S903000FC", "an odd number of hex digits"},
        {"S1130000285F245F2212226A00042429000823",
         "the count says 13 (19 bytes) but the line holds 17 bytes"},
        {"S10201FC", "the count says 02 (2 bytes), too few for an address and a checksum"},
        {"S1130000285F245F2212226A000424290008237C2B", "the checksum is 2B but the bytes give 2A"},
        {s1(252, '9'), "an S9 record longer than 511 characters, cut short by the conversion"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reasonFor(c.line), c.reason) << c.line.substr(0, 60);
        // The plain fast path judges the lines it takes alike.
        char record[kPiece + 8];
        const PlainLine plain = convertPlainLine(c.line + "\n", record);
        if (plain.consumed != 0) {
            EXPECT_EQ(soundPlainLine(c.line, std::string_view(record, plain.written)),
                      *c.reason == '\0')
                << c.line;
        }
    }
}

// Past the twenty shown, overlaps are only counted, each line once: 24
// records, then a copy with other bytes (24 lines), a copy of that copy
// (none), and one more with one byte changed in the middle of its last line.
TEST(SourceCheck, CountsOverlapsPastThoseShown) {
    const auto copy = [](const std::string& data, const std::string& last) {
        std::string text;
        for (unsigned line = 0; line < 24; ++line) {
            char address[5];
            (void)std::snprintf(address, sizeof address, "%04X", 16 * line);
            text += rec('1', address + (line == 23 ? last : data));
        }
        return text;
    };
    const std::string other(32, '1');
    const std::string source = copy(std::string(32, '0'), std::string(32, '0')) +
                               copy(other, other) + copy(other, other) +
                               copy(other, std::string(18, '1') + "22" + std::string(12, '1'));
    LineReports reports;
    checkText(source, reports, "");
    EXPECT_EQ(reports.total(), 24u + 1u + 1u); // and the last line: no S9
}

TEST(LineReports, ShowsTwentyThenHowManyMore) {
    for (const unsigned count : {20u, 21u, 25u}) {
        LineReports reports;
        for (unsigned line = 1; line <= count; ++line) {
            reports.add(line, Problem{Fault::tooShort});
        }
        ASSERT_EQ(reports.shown().size(), 20u);
        EXPECT_EQ(reports.total(), count);
        EXPECT_EQ(report("fw.s19", reports.shown()[0].line, reports.shown()[0].problem, false),
                  "fw.s19:1:1: warning: too short to be a record (skipped)");
    }
    EXPECT_EQ(notShown("'fw.s19'", 1), "quorvex: 'fw.s19': 1 more line not shown");
    EXPECT_EQ(notShown("'fw.s19'", 5), "quorvex: 'fw.s19': 5 more lines not shown");
}

} // namespace
} // namespace quorvex
