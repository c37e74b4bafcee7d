// The conversion of a whole text: which records it writes and what it counts.
#include "check.h"
#include "convert_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {
namespace {

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

// Past 4 MiB of source, chunks are written by a second thread: alike.
TEST(ConvertBytes, OutputLargerThanOneChunk) {
    for (const int lines : {20000, 400000}) {
        std::string source;
        std::string expected;
        for (int i = 0; i < lines; ++i) {
            source += "S9030000FC\n";
            expected += "S70500000000FA\r\n";
        }
        LineReports reports;
        for (LineReports* checked : {static_cast<LineReports*>(nullptr), &reports}) {
            const Conversion got = convertBytes(source, checked);
            EXPECT_EQ(got.output, expected) << lines;
            EXPECT_EQ(got.counts.written, static_cast<unsigned>(lines));
        }
    }
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
        {"X1031234B6\n" + s2, 1, 0, true, "a record marked X is no data record"},
        {"X1031234B6\nS1031234B6\n", 0, 0, false, "one damaged mark among S1 records converts"},
        {":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n", 0, 0, true, "Intel HEX"},
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

// Fails its `failing`th write, and every one after.
class FailingSink : public Sink {
  public:
    explicit FailingSink(int failing = 1) : failing_(failing) {}
    bool write(std::string_view bytes) override {
        if (++calls >= failing_) {
            return false;
        }
        written.append(bytes);
        return true;
    }
    int calls = 0;
    std::string written;

  private:
    int failing_;
};

// Nothing is written after the write that fails, on one thread or two.
TEST(ConvertText, StopsWhenTheSinkFails) {
    for (const int lines : {20000, 400000}) {
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "S9030000FC\n";
        }
        for (const int failing : {1, 2}) {
            FailingSink sink(failing);
            EXPECT_FALSE(convertText(text, sink).has_value());
            EXPECT_EQ(sink.calls, failing) << lines;
            EXPECT_EQ(sink.written, convertBytes(text).output.substr(0, sink.written.size()));
            EXPECT_EQ(sink.written.empty(), failing == 1);
        }
    }
    FailingSink lastOnly;
    EXPECT_FALSE(convertText("S9030000FC\n", lastOnly).has_value());
}

} // namespace
} // namespace quorvex
