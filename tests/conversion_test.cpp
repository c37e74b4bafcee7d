#include "conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quorvex {
namespace {

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Puts a carriage return after every `every` characters.
std::string sprinkled(const std::string& text, std::size_t every) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (i % every == every - 1) {
            out += '\r';
        }
    }
    return out;
}

TEST(DataLength, EndsAtFirstCtrlZ) {
    EXPECT_EQ(dataLength("S1\nS9\n\x1AS1\n\x1A"), 6u);
    EXPECT_EQ(dataLength("\x1AS1\n"), 0u);
    EXPECT_EQ(dataLength("S1\n"), 3u);
    EXPECT_EQ(dataLength(std::string("\0\x01\x7F\x80\xFF\n", 6)), 6u) << "other bytes pass";
}

TEST(ConvertBytes, CarriageReturnsAnywhereAreDropped) {
    const std::string s1 = "S1FEFF80" + std::string(502, '0') + "82\n"; // split in two records
    const std::string lines[] = {
        "S1051000abcd72\nS9030000FC\n",
        std::string(600, 'x') + "\nS1031234B6\n",
        s1,
        "S1" + std::string(1200, '1') + "\n",
        "S1031234B6",
    };
    const std::size_t spacings[] = {1, 2, 7, 510, 511, 512};
    for (const std::string& clean : lines) {
        const Conversion want = convertBytes(clean);
        for (const std::size_t every : spacings) {
            const std::string source = sprinkled(clean, every);
            const Conversion got = convertBytes(source);
            EXPECT_EQ(got.output, want.output) << "every " << every << ": " << source.substr(0, 40);
            EXPECT_EQ(got.counts.lines, want.counts.lines) << "every " << every;
            EXPECT_EQ(got.counts.written, want.counts.written) << "every " << every;
            EXPECT_EQ(got.counts.lines, convertBytes(withoutCarriageReturns(source)).counts.lines);
        }
    }
}

TEST(ConvertBytes, NothingButCarriageReturnsIsNoLine) {
    EXPECT_EQ(convertBytes("\r\r\r").counts.lines, 0u);
    EXPECT_EQ(convertBytes("\r\r\n\r").counts.lines, 1u);
    EXPECT_EQ(convertBytes(std::string(1000, '\r')).counts.lines, 0u);
}

TEST(ConvertBytes, TextAfterCtrlZIsIgnored) {
    const Conversion got = convertBytes("S9030000FC\n\x1AS1031234B6\n");
    EXPECT_EQ(got.output, "S70500000000FA\r\n");
    EXPECT_EQ(got.counts.lines, 1u);
}

TEST(GetLineNum, CountsPieces) {
    EXPECT_EQ(getLineNum(0, true), 1u) << "a blank line";
    EXPECT_EQ(getLineNum(0, false), 0u) << "no line after a final line feed";
    EXPECT_EQ(getLineNum(1, false), 1u) << "a last line without a line feed";
    EXPECT_EQ(getLineNum(510, true), 1u) << "510 characters and a line feed: one piece";
    EXPECT_EQ(getLineNum(511, true), 2u) << "511 and a line feed: the line feed is a piece";
    EXPECT_EQ(getLineNum(511, false), 1u);
    EXPECT_EQ(getLineNum(600, true), 2u) << "511, then 89 and the line feed";
    EXPECT_EQ(getLineNum(1022, false), 2u);
    EXPECT_EQ(getLineNum(1023, false), 3u);
}

TEST(ConvertBytes, CountsLines) {
    const struct {
        std::string source;
        std::uint64_t lines;
    } cases[] = {
        {"", 0},           {"\n", 1},
        {"a\nb", 2},       {"a\nb\n", 2},
        {"\n\n\r\n\n", 4}, {std::string(600, 'x') + "\n" + std::string(511, 'x') + "\n", 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convertBytes(c.source).counts.lines, c.lines) << c.source.substr(0, 10);
    }
}

TEST(HoldsData, AnythingButCarriageReturns) {
    EXPECT_FALSE(holdsData(""));
    EXPECT_FALSE(holdsData("\r\r\r"));
    EXPECT_TRUE(holdsData("\r\n"));
    EXPECT_TRUE(holdsData(std::string(1, '\0')));
}

TEST(ConvertBytes, TypicalFile) {
    const Conversion got = convertBytes("S00600004844521B\r\n"
                                        "S1051000abcd72\r\n"
                                        "\r\n"
                                        "S5030001FB\r\n"
                                        "S9030000FC");
    EXPECT_EQ(got.output, "S30700001000abcd70\r\nS70500000000FA\r\n");
    EXPECT_EQ(got.counts.lines, 5u);
    EXPECT_EQ(got.counts.written, 2u);
}

TEST(ConvertBytes, TypeTestLooksAtPositionOneOnly) {
    // "X1..." passes; "S11" in a continuation piece passes as well, and a
    // piece too short to hold a record is skipped without being counted.
    const std::string longLine = std::string(511, 'x') + "S1031234B6\n";
    const Conversion got = convertBytes("X1031234B6\n1S\nS1\n" + longLine);
    EXPECT_EQ(got.output, "X30500001234B4\r\nS30500001234B4\r\n");
    EXPECT_EQ(got.counts.lines, 5u);
    EXPECT_EQ(got.counts.written, 2u);
}

TEST(ConvertBytes, SplitsS1LinesOf251DataBytes) {
    const std::string line = "S1FEFF80" + std::string(502, '0') + "00\r\n";
    const Conversion got = convertBytes(line + "S9030000FC\r\n");
    EXPECT_EQ(got.output, "S3FF0000FF80" + std::string(500, '0') +
                              "81\r\nS3060001007A007E\r\nS70500000000FA\r\n");
    EXPECT_EQ(got.counts.lines, 3u) << "the split line is still two pieces";
    EXPECT_EQ(got.counts.written, 3u);
}

TEST(ConvertBytes, LongerLinesAreCutIntoPieces) {
    // 600 characters: a 511-character S1 piece (L = 511, count FF) and an
    // 89-character continuation that starts "0S", which is skipped.
    const std::string line = "S1" + std::string(509, '0') + "0S" + std::string(87, '0') + "\n";
    const Conversion got = convertBytes(line);
    EXPECT_EQ(got.counts.lines, 2u);
    EXPECT_EQ(got.counts.written, 1u);
    EXPECT_EQ(got.output.substr(0, 4), "S3FF");
    EXPECT_EQ(got.output.size(), 511u + 4 + 2);
}

TEST(ConvertBytes, OutputLargerThanOneChunk) {
    std::string source;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        source += "S9030000FC\n";
        expected += "S70500000000FA\r\n";
    }
    const Conversion got = convertBytes(source);
    EXPECT_EQ(got.output, expected);
    EXPECT_EQ(got.counts.written, 20000u);
}

class FailingSink : public Sink {
  public:
    bool write(std::string_view) override {
        ++calls;
        return false;
    }
    int calls = 0;
};

TEST(ConvertText, StopsWhenTheSinkFails) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "S9030000FC\n";
    }
    FailingSink sink;
    EXPECT_FALSE(convertText(text, sink).has_value());
    EXPECT_EQ(sink.calls, 1);

    FailingSink lastOnly;
    EXPECT_FALSE(convertText("S9030000FC\n", lastOnly).has_value());
}

} // namespace
} // namespace quorvex
