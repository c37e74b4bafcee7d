#include "record/record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex {
namespace {

std::string widen(const std::string& text) {
    std::vector<char> out(convertRoom(text.size()));
    const std::size_t size = convert(text, out.data());
    return std::string(out.data(), size);
}

std::pair<std::string, std::string> split(const std::string& line) {
    std::vector<char> head(convertRoom(kPiece));
    std::vector<char> tail(convertRoom(kPiece));
    auto sizes = convertSplitLine(line, head.data(), tail.data());
    return {std::string(head.data(), sizes.first), std::string(tail.data(), sizes.second)};
}

std::string repeat(const std::string& unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += unit;
    }
    return out;
}

struct Case {
    const char* why;
    std::string input;
    std::string expected;
};

TEST(Convert, WidensRecords) {
    const Case cases[] = {
        {"S9 at 0000: count 03+2, checksum over 05 00 00 00 00", "S9030000FC", "S70500000000FA"},
        {"S1 with 16 data bytes", "S1130000285F245F2212226A000424290008237C2A",
         "S31500000000285F245F2212226A000424290008237C28"},
        {"lower case is copied, new count and checksum are upper case", "s1051000abcd72",
         "s30700001000abcd70"},
        {"no data bytes: count 05; 05+12+34=4B, FF-4B=B4", "S1031234B6", "S30500001234B4"},
        {"count field FF is ignored; count 07 follows from the length", "S1FF1234AABB00",
         "S30700001234AABB4D"},
        {"input checksum 00 plays no part", "S1130000285F245F2212226A000424290008237C00",
         "S31500000000285F245F2212226A000424290008237C28"},
        {"a trailing line feed is not part of the record", "S9030000FC\n", "S70500000000FA"},
        {"type 5 becomes 7", "S5030000FC", "S70500000000FA"},
        {"type 2 becomes 7", "S2030000FC", "S70500000000FA"},
        {"odd length: the last '1' counts as 0x10; 05+10=15, FF-15=EA", "S10300001FF",
         "S305000000001EA"},
        {"shortest record text: no address or data", "S12345", "S3030000FC"},
        {"'G' has the value 16: G0 is 0x100, which wraps to 00", "S1050000G0FF",
         "S30600000000G0F9"},
        {"a byte above 127 has the value ch-55: 0xFF 0 gives 0x80; 06+80=86, FF-86=79",
         "S1050000\xFF"
         "0FF",
         "S30600000000\xFF"
         "079"},
        {"a NUL is an ordinary character, worth 0xD0: NUL 0 wraps to 00",
         std::string("S1050000\0"
                     "0FF",
                     12),
         std::string("S30600000000\0"
                     "0F9",
                     16)},
        {"the mark is copied unexamined", "X1031234B6", "X30500001234B4"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(widen(c.input), c.expected) << c.why;
    }
}

TEST(Convert, SkipsTextsTooShortForARecord) {
    for (const char* text : {"", "S", "S1", "S1\n", "S1234", "S1234\n"}) {
        std::vector<char> out(16, 'x');
        EXPECT_EQ(convert(text, out.data()), 0u) << text;
        EXPECT_EQ(out[0], 'x') << "nothing may be written for " << text;
    }
}

TEST(Convert, LongestRecordsFitInOneS3Record) {
    // 250 data bytes: L = 8 + 500 + 2 = 510, count (510-4)/2+2 = 255 = FF.
    const std::string line = "S1FC0000" + repeat("00", 250) + "03";
    const std::string out = widen(line);
    EXPECT_EQ(out.size(), 514u);
    EXPECT_EQ(out.substr(0, 12), "S3FF00000000");
    // FF + zeros: sum FF, checksum 00.
    EXPECT_EQ(out.substr(512), "00");

    // A 511-character piece (a cut line) still gets a two-digit count: FF.
    EXPECT_EQ(widen(repeat("S1", 255) + "S").substr(0, 4), "S3FF");
}

TEST(CalcSum, OnesComplementOfByteSum) {
    EXPECT_EQ(calcSum("S70500000000"), 0xFA);
    EXPECT_EQ(calcSum("S3"), 0xFF) << "no pairs: the sum is 0";
    EXPECT_EQ(calcSum("S3FFFF"), 0x01) << "FF+FF wraps to FE";
    EXPECT_EQ(calcSum("S3ab"), calcSum("S3AB")) << "digits are read case-insensitively";
    EXPECT_EQ(calcSum("S31"), 0xEF) << "an unpaired digit is a high digit";
}

TEST(DigitValue, HexAndOtherCharacters) {
    EXPECT_EQ(digitValue('0'), 0);
    EXPECT_EQ(digitValue('9'), 9);
    EXPECT_EQ(digitValue('A'), 10);
    EXPECT_EQ(digitValue('f'), 15);
    EXPECT_EQ(digitValue('G'), 16);
    EXPECT_EQ(digitValue('z'), 35);
    EXPECT_EQ(digitValue(' '), static_cast<std::uint8_t>(32 - 48));
    EXPECT_EQ(digitValue('\0'), static_cast<std::uint8_t>(-48));
    EXPECT_EQ(digitValue('\xE9'), 0xE9 - 55) << "only a-z are upper-cased";
}

TEST(ConvertSplitLine, OnlyS1LinesOf251Or252DataBytes) {
    const std::string s1 = "S1FE0000" + repeat("00", 256);
    const struct {
        std::size_t size; // of the record text, cut from s1
        bool split;
    } cases[] = {{510, false}, {511, false}, {512, true}, {513, true}, {514, true}, {515, false}};
    for (const auto& c : cases) {
        const std::string line = s1.substr(0, c.size);
        EXPECT_EQ(needsSplit(line), c.split) << c.size << " characters";
        EXPECT_EQ(needsSplit(line + "\n"), c.split) << c.size << " characters and a line feed";
    }
    EXPECT_FALSE(needsSplit("S9" + s1.substr(2, 510))) << "only S1";
}

TEST(ConvertSplitLine, WritesTwoS3Records) {
    // 251 zero bytes at FF80. Head: FF+FF+80 = 27E, checksum FF-7E = 81.
    // Tail: FF80 + 250 = 1007A (no 16-bit wrap), one byte, count 2/2+5 = 06;
    // 06+01+7A = 81, checksum 7E.
    auto records = split("S1FEFF80" + repeat("00", 251) + "00");
    EXPECT_EQ(records.first, "S3FF0000FF80" + repeat("00", 250) + "81");
    EXPECT_EQ(records.second, "S3060001007A007E");

    // 252 bytes of 11 at 1234. Head: FF+12+34 + 250*11 = 45+9A = DF, checksum 20.
    // Tail at 132E, count 07: 07+13+2E+11+11 = 6A, checksum 95.
    records = split("S1FF1234" + repeat("11", 252) + "00\n");
    EXPECT_EQ(records.first, "S3FF00001234" + repeat("11", 250) + "20");
    EXPECT_EQ(records.second, "S3070000132E111195");

    // 513 characters: three digits remain, count 3/2+5 = 06; the unpaired '0'
    // adds nothing: 06+FA = 100, checksum FF.
    records = split("s1FF0000" + repeat("0", 503) + "00");
    EXPECT_EQ(records.first, "s3FF00000000" + repeat("0", 500) + "00");
    EXPECT_EQ(records.second, "s306000000FA000FF");
}

struct PlainCase {
    const char* why;
    std::string text;
    std::size_t consumed; // 0: the line must be left to the general way
};

TEST(ConvertPlainLine, TakesOnlyLinesWhoseCountGivesTheirEnd) {
    const std::string s1 = "S1130000285F245F2212226A000424290008237C2A"; // count 13: 42 characters
    const PlainCase cases[] = {
        {"LF line end", s1 + "\nS9", 43},
        {"CR LF line end", s1 + "\r\nS9", 44},
        {"S9", "S9030000FC\n", 11},
        {"lower case s1", "s1051000abcd72\r\n", 16},
        {"no line end yet: the last line", s1, 0},
        {"a lone CR at the end", s1 + "\r", 0},
        {"CR not followed by LF", s1 + "\rS", 0},
        {"count too small: the line goes on", "S1031234B6FF\n", 0},
        {"count too large", "S1051234B6\n", 0},
        {"CR inside the data", "S1051000ab\rd72\n", 0},
        {"CR in the mark", "\r1051000abcd72\n", 0},
        {"CR in the checksum", "S1051000abcd7\r\n", 0},
        {"LF inside", "S1051000a\nbcd72\n", 0},
        {"type 0 is not converted", "S0030000FC\n", 0},
        {"count 00 is too short for a record", "S100\n", 0},
        {"count FF gives 514 characters: more than a piece", "S1FF" + std::string(510, '0') + "\n",
         0},
        {"count FC gives 508 characters", "S1FC" + std::string(504, '0') + "\n", 509},
        {"too short to hold a count", "S1\n", 0},
    };
    for (const PlainCase& c : cases) {
        std::vector<char> out(convertRoom(kPiece));
        const PlainLine got = convertPlainLine(c.text, out.data());
        EXPECT_EQ(got.consumed, c.consumed) << c.why;
        if (c.consumed != 0) {
            // The same record the general way gives.
            const std::string line = c.text.substr(0, c.text.find_first_of("\r\n"));
            EXPECT_EQ(std::string(out.data(), got.written), widen(line)) << c.why;
        }
    }
}

} // namespace
} // namespace quorvex
