// The reports' form, as editors and CI read it: the gcc problem matcher's
// pattern (VS Code's $gcc, GitHub's annotations) over a report of every
// reason, as a warning and as an error, for a name with a colon in it.
#include "check.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace quorvex {
namespace {

TEST(Messages, ReportsReadAsCompilersWriteThem) {
    const std::regex gcc(R"(^(.*):(\d+):(\d+):\s+(?:fatal\s+)?(warning|error):\s+(.*)$)");
    for (int fault = 0; fault <= static_cast<int>(Fault::noData); ++fault) {
        Problem problem{static_cast<Fault>(fault), 'G', fault % 3 == 0 ? 0u : 12u, 1, 2, 3, "0013"};
        for (const bool error : {false, true}) {
            const std::string line = report("build/a:b.s19", 7, problem, error);
            std::smatch parts;
            ASSERT_TRUE(std::regex_match(line, parts, gcc)) << line;
            EXPECT_EQ(parts[1], "build/a:b.s19") << line;
            EXPECT_EQ(parts[2], "7");
            EXPECT_EQ(parts[3], fault % 3 == 0 ? "1" : "12") << "no column is column 1";
            EXPECT_EQ(parts[4], error ? "error" : "warning");
            EXPECT_EQ(parts[5], reason(problem));
            EXPECT_FALSE(reason(problem).empty()) << fault;
        }
    }
    EXPECT_EQ(report("a\nb.s19", 1, Problem{Fault::tooShort}, false),
              "a?b.s19:1:1: warning: too short to be a record (skipped)")
        << "a line feed in the name would part the report";
}

} // namespace
} // namespace quorvex
