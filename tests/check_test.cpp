#include "check.h"

#include "conversion.h"
#include "record/record.h"
#include "switches.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quorvex {
namespace {

// What the check says of one line: its reason, or "" when it is not reported.
std::string reasonFor(const std::string& line) {
    const auto problem = lineProblem(shapeOf(line));
    return problem ? describe(*problem) : "";
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
        {"S1130000285G245F2212226A000424290008237C2A", "'G' in column 12 is no hex digit"},
        {std::string("S903\0"
                     "000FC",
                     10),
         "byte 0x00 in column 5 is no hex digit"},
        {"S903000FC", "an odd number of hex digits"},
        {"S1130000285F245F2212226A00042429000823", "the count says 19 but the line holds 17 bytes"},
        {"S10201FC", "the count says 2, too few for an address and a checksum"},
        {"S1130000285F245F2212226A000424290008237C2B", "the checksum is 2B but the bytes give 2A"},
        {s1(252, '9'), "an S9 record longer than 511 characters, cut short by the conversion"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reasonFor(c.line), c.reason) << c.line.substr(0, 60);
        // The plain fast path judges the lines it takes alike.
        char record[kMaxRecordText + 8];
        const PlainLine plain = convertPlainLine(c.line + "\n", record);
        if (plain.consumed != 0) {
            EXPECT_EQ(soundPlainLine(c.line, std::string_view(record, plain.written)),
                      *c.reason == '\0')
                << c.line;
        }
    }
}

TEST(Switches, ReadAsPeopleWriteThem) {
    const struct {
        const char* text;
        std::optional<bool> value;
    } cases[] = {
        {"1", true},         {"TRUE", true},        {" yes\t", true},      {"On", true},
        {"1 ", true},        {"0", false},          {"False", false},      {"no", false},
        {" OFF", false},     {"", false},           {"  ", false},         {"2", std::nullopt},
        {"y", std::nullopt}, {"1 1", std::nullopt}, {"onn", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(switchValue(c.text), c.value) << "'" << c.text << "'";
    }
}

TEST(LineReports, NumbersLinesAsAnEditorDoes) {
    // A blank line, CR LF, an over-long line of three pieces, a line split
    // by carriage returns, and nothing after the Ctrl-Z.
    const std::string source = "S0030000FC\n\nS1" + std::string(1100, '0') +
                               "\nS1130000285F245F2212226A000424290008237C2B\r\n"
                               "S9\r03\r0000FC\nS2\x1AS2\n";
    LineReports reports;
    const Conversion checked = convertBytes(source, &reports);
    ASSERT_EQ(reports.total(), 3u);
    EXPECT_EQ(reports.shown()[0].line, 3u);
    EXPECT_EQ(reports.shown()[1].line, 4u);
    EXPECT_EQ(reports.shown()[2].line, 6u);
    const Conversion plain = convertBytes(source);
    EXPECT_EQ(checked.output, plain.output);
    EXPECT_EQ(checked.counts.lines, plain.counts.lines);
}

TEST(LineReports, ShowsTwentyThenHowManyMore) {
    for (const unsigned count : {20u, 21u, 25u}) {
        LineReports reports;
        for (unsigned line = 1; line <= count; ++line) {
            reports.add(line, Problem{Fault::tooShort});
        }
        const auto text = reports.text("'fw.s19'");
        ASSERT_EQ(text.size(), count == 20 ? 20u : 21u);
        EXPECT_EQ(text[0], "quorvex: 'fw.s19' line 1: too short to be a record (skipped)");
        if (count == 21) {
            EXPECT_EQ(text.back(), "quorvex: 'fw.s19': 1 more line not shown");
        } else if (count == 25) {
            EXPECT_EQ(text.back(), "quorvex: 'fw.s19': 5 more lines not shown");
        }
    }
}

} // namespace
} // namespace quorvex
