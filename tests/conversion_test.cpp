#include "conversion.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {
namespace {

std::string load(std::string_view source) {
    std::string text;
    appendText(text, source);
    return text;
}

TEST(AppendText, DropsEveryCarriageReturn) {
    EXPECT_EQ(load("S1\r\n\rS9\r\r\n\r"), "S1\nS9\n");
    EXPECT_EQ(load("a\rb"), "ab");
    EXPECT_EQ(load("\r\r\r"), "");
}

TEST(AppendText, StopsAtFirstCtrlZ) {
    std::string text;
    EXPECT_FALSE(appendText(text, "S1\n"));
    EXPECT_TRUE(appendText(text, "S9\n\x1AS1\n\x1A"));
    EXPECT_EQ(text, "S1\nS9\n");
    EXPECT_EQ(load("\x1A"
                   "S1\n"),
              "");
}

TEST(AppendText, KeepsOtherBytes) {
    const std::string bytes("\0\x01\x7F\x80\xFF\n", 6);
    EXPECT_EQ(load(bytes), bytes);
}

TEST(GetLineNum, CountsPieces) {
    const struct {
        const char* why;
        std::string text;
        std::uint64_t pieces;
    } cases[] = {
        {"empty", "", 0},
        {"one line feed", "\n", 1},
        {"no line feed at the end", "a\nb", 2},
        {"no empty line after a final line feed", "a\nb\n", 2},
        {"510 characters and a line feed make one piece", std::string(510, 'x') + "\n", 1},
        {"511 characters and a line feed: the line feed is a piece of its own",
         std::string(511, 'x') + "\n", 2},
        {"600 characters and a line feed: 511 and 89 + 1", std::string(600, 'x') + "\n", 2},
        {"1022 characters, no line feed", std::string(1022, 'x'), 2},
        {"1023 characters, no line feed", std::string(1023, 'x'), 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(getLineNum(c.text), c.pieces) << c.why;
    }
}

TEST(ConvertBytes, TypicalFile) {
    const Conversion got = convertBytes("S00600004844521B\r\n"
                                        "S1051000abcd72\r\n"
                                        "\r\n"
                                        "S5030001FB\r\n"
                                        "S9030000FC");
    EXPECT_EQ(got.output, "S30700001000abcd70\r\nS70500000000FA\r\n");
    EXPECT_EQ(got.lines, 5u);
    EXPECT_EQ(got.written, 2u);
}

TEST(ConvertBytes, TypeTestLooksAtPositionOneOnly) {
    // "X1..." passes; "S11" in a continuation piece passes as well, and a
    // piece too short to hold a record is skipped without being counted.
    const std::string longLine = std::string(511, 'x') + "S1031234B6\n";
    const Conversion got = convertBytes("X1031234B6\n1S\nS1\n" + longLine);
    EXPECT_EQ(got.output, "X30500001234B4\r\nS30500001234B4\r\n");
    EXPECT_EQ(got.lines, 5u);
    EXPECT_EQ(got.written, 2u);
}

TEST(ConvertBytes, SplitsS1LinesOf251DataBytes) {
    const std::string line = "S1FEFF80" + std::string(502, '0') + "00\r\n";
    const Conversion got = convertBytes(line + "S9030000FC\r\n");
    EXPECT_EQ(got.output, "S3FF0000FF80" + std::string(500, '0') +
                              "81\r\nS3060001007A007E\r\nS70500000000FA\r\n");
    EXPECT_EQ(got.lines, 3u) << "the split line is still two pieces";
    EXPECT_EQ(got.written, 3u);
}

TEST(ConvertBytes, LongerLinesAreCutIntoPieces) {
    // 600 characters: a 511-character S1 piece (L = 511, count FF) and an
    // 89-character continuation that starts "0S", which is skipped.
    const std::string line = "S1" + std::string(509, '0') + "0S" + std::string(87, '0') + "\n";
    const Conversion got = convertBytes(line);
    EXPECT_EQ(got.lines, 2u);
    EXPECT_EQ(got.written, 1u);
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
    EXPECT_EQ(got.written, 20000u);
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
