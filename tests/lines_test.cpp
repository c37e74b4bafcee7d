// The reading rules, as every run meets them: the Ctrl-Z, carriage returns
// anywhere, the pieces a line counts as, and the numbers an editor shows.
#include "check.h"
#include "convert_bytes.h"
#include "lines.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {
namespace {

TEST(Lines, CarriageReturnsAnywhereAreDropped) {
    // Wherever they stand, the records written and the lines counted are the clean text's.
    const std::string lines[] = {
        "S1051000abcd72\nS9030000FC\n", std::string(600, 'x') + "\nS1031234B6\n",
        "S1" + std::string(1200, '1') + "\n", "S1031234B6",
        "S1FEFF80" + std::string(502, '0') + "82\n"}; // the last split in two records
    for (const std::string& clean : lines) {
        const Conversion want = convertBytes(clean);
        for (const std::size_t every : {1u, 2u, 7u, 510u, 511u, 512u}) {
            std::string source; // a carriage return after every `every` characters
            for (std::size_t at = 0; at < clean.size(); ++at) {
                source += clean.substr(at, 1) + (at % every == every - 1 ? "\r" : "");
            }
            const Conversion got = convertBytes(source);
            EXPECT_EQ(got.output, want.output) << "every " << every << ": " << source.substr(0, 40);
            EXPECT_EQ(got.counts.lines, want.counts.lines) << "every " << every;
            EXPECT_EQ(got.counts.written, want.counts.written) << "every " << every;
        }
    }
}

TEST(Lines, CountsLines) {
    // A line counts one piece per 511 characters, its line feed included;
    // nothing after the first Ctrl-Z is read, and carriage returns alone make
    // no line. The survey tells the run whether to say "No data!": it must
    // agree with the count.
    const auto line = [](std::size_t n, const char* end) { return std::string(n, 'x') + end; };
    const struct {
        std::string source;
        std::uint64_t lines;
        const char* why;
    } cases[] = {
        {"", 0, "nothing"},
        {"\r\r\r", 0, "carriage returns alone"},
        {std::string(1000, '\r'), 0, "carriage returns alone, more than a piece holds"},
        {"\r\n", 1, "a blank line in CR LF"},
        {"\r\r\n\r", 1, "carriage returns about a line feed"},
        {std::string(1, '\0'), 1, "a NUL alone"},
        {"\x1AS1\n", 0, "a Ctrl-Z first"},
        {"S1\nS9\n\x1AS1\n\x1A", 2, "a record and a second Ctrl-Z after the first"},
        {std::string("\0\x01\x7F\x80\xFF\nS9\n", 9), 2, "no other byte ends the data"},
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
        const Conversion got = convertBytes(c.source);
        EXPECT_EQ(got.counts.lines, c.lines) << c.why;
        EXPECT_EQ(got.verdict != Survey::Verdict::NoLine, c.lines != 0) << c.why;
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
    EXPECT_EQ(checked.output, convertBytes(source).output);
    EXPECT_EQ(checked.counts.lines, convertBytes(source).counts.lines);
}

} // namespace
} // namespace quorvex
