// Reading the source, over a file system in memory that fails at a chosen
// call: what the run reads, what it is told, and that the file is let go.
#include "fake_system.h"
#include "source.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::testing {
namespace {

const std::string kLong(std::size_t{200} * 1024, '\n'); // read in several steps

struct Row {
    const char* name;
    std::string content; // of fw.s19; "-": there is none
    bool mappable;
    Op op;   // the primitive that fails
    int nth; // at its nth call; 0: none fails
    int lockedFor;
    const char* doing; // what the failure says was being done; "": none
    std::string text;  // what is read
    int pauses;        // waiting for another run's lock
};

TEST(SourceText, ReadsWholeOrSaysWhy) {
    const Row rows[] = {
        {"read", "S1\nS9\x1Amore", false, Op::Read, 0, 0, "", "S1\nS9", 0},
        {"mapped", "S1\nS9\x1Amore", true, Op::Read, 0, 0, "", "S1\nS9", 0},
        {"long", kLong, false, Op::Read, 0, 0, "", kLong, 0},
        {"missing", "-", false, Op::Read, 0, 0, "cannot open 'fw.s19' for reading: not found", "",
         0},
        {"not opened", "S9", false, Op::OpenSource, 1, 0,
         "cannot open 'fw.s19' for reading: not found", "", 0},
        {"read fails", "S9", false, Op::Read, 1, 0, "cannot read 'fw.s19': other", "", 0},
        {"cut short midway", kLong, false, Op::Read, 2, 0, "cannot read 'fw.s19': other", "", 0},
        {"a rewrite waited for", "S9", false, Op::Read, 0, 3, "", "S9", 3},
        {"a lock never released", "S9", false, Op::Read, 0, 1000,
         "cannot read 'fw.s19': another program kept it locked for 10 seconds", "", 500},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        if (row.content != "-") {
            system.files["fw.s19"] = row.content;
        }
        system.mappable = row.mappable;
        system.lockedFor = row.lockedFor;
        system.failAt(row.op, row.nth);
        Failure why;
        {
            LockWait wait;
            SourceText source(system, wait);
            EXPECT_EQ(source.load("fw.s19", row.mappable, why), *row.doing == '\0') << row.name;
            EXPECT_EQ(*row.doing == '\0' ? "" : explanation(why)[0].substr(9), row.doing)
                << row.name;
            if (*row.doing == '\0') {
                EXPECT_EQ(source.view(), row.text) << row.name;
                // What follows a Ctrl-Z is there for the check, mapped or asked for.
                EXPECT_EQ(source.rest(), row.content.substr(row.text.size())) << row.name;
            }
        }
        EXPECT_EQ(system.pauses, row.pauses) << row.name;
        EXPECT_EQ(system.openFiles(), 0) << row.name << ": the source is not let go";
    }
}

} // namespace
} // namespace quorvex::testing
