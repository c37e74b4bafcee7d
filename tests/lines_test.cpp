// The reading rules, as every run meets them: the Ctrl-Z, carriage returns
// anywhere, the pieces a line counts as, and the numbers an editor shows.
#include "check.h"
#include "convert_bytes.h"
#include "lines.h"

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

TEST(Lines, EndsAtFirstCtrlZ) {
    EXPECT_EQ(dataLength("S1\nS9\n\x1AS1\n\x1A"), 6u);
    EXPECT_EQ(dataLength("\x1AS1\n"), 0u);
    EXPECT_EQ(dataLength("S1\n"), 3u);
    EXPECT_EQ(dataLength(std::string("\0\x01\x7F\x80\xFF\n", 6)), 6u) << "other bytes pass";
}

TEST(Lines, CarriageReturnsAnywhereAreDropped) {
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

TEST(Lines, CarriageReturnsAloneAreNoData) {
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

TEST(Lines, TextAfterCtrlZIsIgnored) {
    const Conversion got = convertBytes("S9030000FC\n\x1AS1031234B6\n");
    EXPECT_EQ(got.output, "S70500000000FA\r\n");
    EXPECT_EQ(got.counts.lines, 1u);
}

TEST(Lines, CountsLines) {
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
        {"S1\rS9\r\rs0\rx\r1S\r", 3, "a carriage return alone ends a line where a record follows"},
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

TEST(Lines, AreNumberedAsAnEditorDoes) {
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

} // namespace
} // namespace quorvex
