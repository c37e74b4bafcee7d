#include "convert_bytes.h"

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

TEST(ConvertBytes, CarriageReturnsAloneAreNoData) {
    // The survey tells the run whether to say "No data!": it must agree with
    // the line count wherever carriage returns alone make no line.
    const struct {
        std::string source;
        bool data;
        std::uint64_t lines;
    } cases[] = {
        {"", false, 0},    {"\r\r\r", false, 0},  {std::string(1000, '\r'), false, 0},
        {"\r\n", true, 1}, {"\r\r\n\r", true, 1}, {std::string(1, '\0'), true, 1},
    };
    for (const auto& c : cases) {
        const Conversion got = convertBytes(c.source);
        EXPECT_EQ(got.verdict != Survey::Verdict::NoLine, c.data) << c.source.size() << " bytes";
        EXPECT_EQ(got.counts.lines, c.lines) << c.source.size() << " bytes";
    }
}

TEST(ConvertBytes, TextAfterCtrlZIsIgnored) {
    const Conversion got = convertBytes("S9030000FC\n\x1AS1031234B6\n");
    EXPECT_EQ(got.output, "S70500000000FA\r\n");
    EXPECT_EQ(got.counts.lines, 1u);
}

TEST(ConvertBytes, CountsLines) {
    // A line counts one piece per 511 characters, its line feed included.
    const auto line = [](std::size_t size, const char* end) {
        return std::string(size, 'x') + end;
    };
    const struct {
        std::string source;
        std::uint64_t lines;
        const char* why;
    } cases[] = {
        {"", 0, "nothing"},
        {"\n", 1, "a blank line"},
        {"a\nb", 2, "a last line without a line feed"},
        {"a\nb\n", 2, "no line after a final line feed"},
        {"\n\n\r\n\n", 4, "blank lines, one with CR LF"},
        {line(510, "\n"), 1, "510 characters and a line feed: one piece"},
        {line(511, "\n"), 2, "511 and a line feed: the line feed is a piece"},
        {line(511, "\r\n"), 2, "511 and CR LF: the CR is dropped"},
        {line(511, ""), 1, "511 without a line feed"},
        {line(600, "\n"), 2, "511, then 89 and the line feed"},
        {line(1022, ""), 2, "two whole pieces"},
        {line(1023, ""), 3, "two pieces and one character"},
        {line(600, "\n") + line(511, "\n"), 4, "two long lines"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convertBytes(c.source).counts.lines, c.lines) << c.why;
    }
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

TEST(ConvertBytes, DroppedRecordsAndNothingToConvert) {
    const std::string s2 = "S2080100000102030400\n";
    std::string manyS9; // over a chunk of records
    for (int i = 0; i < 20000; ++i) {
        manyS9 += "S9030000FC\n";
    }
    const struct {
        std::string source;
        std::uint64_t s2, s3;
        bool nothing;
        const char* why;
    } cases[] = {
        {"S0030000FC\nS5030001FB\n", 0, 0, false, "no S2 or S3: an empty result stands"},
        {"S9030000FC\n", 0, 0, false, "an S9 alone is converted"},
        {s2 + "S9030000FC\n", 1, 0, true, "an S2 image: not even its S7 is written"},
        {"s3090000010000010203EF\nS70500000000FA\n", 0, 1, true, "a file converted already"},
        {"S1031234B6\n" + s2 + "S3090000010000010203EF\n", 1, 1, false, "mixed: S1 data converted"},
        {"X1031234B6\n" + s2, 1, 0, false, "any '1' piece is data, as converted"},
        {manyS9 + "S1031234B6\n" + s2, 1, 0, false, "the data record after a full chunk"},
        {manyS9 + s2, 1, 0, true, "more than a chunk of records, and no data record"},
        {"hello\nS9030000FC\n", 0, 0, true, "a line of another kind, and no data record"},
        {" \t\r\nS0030000FC\n", 0, 0, false, "a blank line is no line of another kind"},
        {"S0" + std::string(600, '0') + "\n", 0, 0, true, "longer than any record: no data"},
    };
    for (const auto& c : cases) {
        const Conversion got = convertBytes(c.source);
        EXPECT_EQ(got.counts.droppedS2, c.s2) << c.why;
        EXPECT_EQ(got.counts.droppedS3, c.s3) << c.why;
        EXPECT_EQ(got.verdict == Survey::Verdict::NothingToConvert, c.nothing) << c.why;
    }
}

class FailingSink : public Sink {
  public:
    bool write(std::string_view /*bytes*/) override {
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
