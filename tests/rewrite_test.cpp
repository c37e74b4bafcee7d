// The rewrite where a file stands, over a file system in memory that fails
// at a chosen call: the file ends holding the new bytes whole, and the
// rewrite says so, or byte for byte as it was, and the rewrite says why.
#include "rewrite.h"

#include "fake_system.h"
#include "room.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::testing {
namespace {

const std::string kNew = "S30700000000AABB\r\nS30700000002CCDD\r\nS70500000000FA\r\n";
const std::string kShort = "S1 old\r\n";                            // the new bytes grow the file
const std::string kLong = std::string(100, 'o') + "\r\nS9 old\r\n"; // the new bytes shrink it
const std::size_t kEnough = 2 * kNew.size() + kRoomMargin;          // what a rewrite of kNew needs

enum class Ended { Refused, Rewritten, PutBack, LeftIncomplete };

struct Result {
    Ended ended;
    std::string file; // what it holds afterwards
    Failure failure;
};

FakeSystem set(const std::string& old, std::optional<std::size_t> room = std::nullopt) {
    FakeSystem system;
    system.files["fw.s37"] = old;
    system.room = room;
    return system;
}

Result rewriteOn(FakeSystem& system) {
    Handle file = kNoHandle;
    EXPECT_FALSE(system.openFile(Folder{}, "fw.s37", false, file));
    LockWait wait;
    Rewrite rewrite(system, file, "fw.s37", wait);
    Ended ended = Ended::Refused;
    if (rewrite.prepare(kNew.size())) {
        const SignalHold whole(system);
        switch (rewrite.apply(kNew)) {
        case Rewrite::Outcome::Rewritten:
            ended = Ended::Rewritten;
            break;
        case Rewrite::Outcome::PutBack:
            ended = Ended::PutBack;
            break;
        case Rewrite::Outcome::LeftIncomplete:
            ended = Ended::LeftIncomplete;
        }
    }
    (void)system.close(file);
    EXPECT_FALSE(system.signalsHeld);
    EXPECT_EQ(system.unheldChanges, 0) << "the file was changed while a signal could end the run";
    return {ended, system.files["fw.s37"], rewrite.failure()};
}

TEST(Rewrite, EndsWholeOrAsItWasWhereverItFails) {
    for (const std::string& old : {kShort, kLong}) {
        for (const std::optional<std::size_t> room : {std::optional<std::size_t>(), {kEnough}}) {
            FakeSystem clean = set(old, room);
            ASSERT_EQ(rewriteOn(clean).file, kNew) << "nothing fails: the file is rewritten";
            for (int op = 0; op <= static_cast<int>(Op::Replace); ++op) {
                if (static_cast<Op>(op) == Op::OpenFile) {
                    continue; // the test's own
                }
                for (int nth = 1; nth <= clean.calls(static_cast<Op>(op)); ++nth) {
                    FakeSystem system = set(old, room);
                    system.failAt(static_cast<Op>(op), nth);
                    const Result run = rewriteOn(system);
                    const std::string at = "op " + std::to_string(op) + ", call " +
                                           std::to_string(nth) + ", " + std::to_string(old.size());
                    EXPECT_EQ(run.file, run.ended == Ended::Rewritten ? kNew : old) << at;
                    EXPECT_NE(run.ended, Ended::LeftIncomplete) << at;
                    EXPECT_TRUE(run.ended == Ended::Rewritten || !run.failure.reason.empty()) << at;
                }
            }
        }
    }
}

TEST(Rewrite, OutcomesAndWhatTheySay) {
    const struct {
        const char* name;
        std::string old;
        std::optional<std::size_t> room, shown;
        Op op;       // the primitive that fails
        int nth;     // from this call on, if sticky
        bool sticky; //
        int locked;  // calls of lock() that find it busy
        Ended ended;
        std::string said; // the explanation's first line
    } rows[] = {
        {"enough room", kLong, kEnough, {}, Op::Write, 0, false, 0, Ended::Rewritten, ""},
        {"a byte short",
         kLong,
         kEnough - 1,
         {},
         Op::Write,
         0,
         false,
         0,
         Ended::Refused,
         "quorvex: cannot write 'fw.s37': no room"},
        {"a quota allows less than the disk shows", kLong, 100, kEnough, Op::Write, 0, false, 0,
         Ended::Refused, "quorvex: cannot write 'fw.s37': no room"},
        {"room cannot be set aside",
         kLong,
         kEnough,
         {},
         Op::Reserve,
         1,
         false,
         0,
         Ended::Rewritten,
         ""},
        // Short of room midway, and for putting back what changed: it is
        // emptied, which frees its room, and put back whole.
        {"out of room midway, growing", kShort, 48, kEnough, Op::Reserve, 1, false, 0,
         Ended::PutBack, "quorvex: cannot write 'fw.s37': no room"},
        {"out of room midway, shrinking", kLong, 48, kEnough, Op::Reserve, 1, false, 0,
         Ended::PutBack, "quorvex: cannot write 'fw.s37': no room"},
        {"no write goes through",
         kLong,
         {},
         {},
         Op::Write,
         1,
         true,
         0,
         Ended::LeftIncomplete,
         "quorvex: cannot write 'fw.s37': other"},
        {"another run holds it a while",
         kLong,
         {},
         {},
         Op::Write,
         0,
         false,
         3,
         Ended::Rewritten,
         ""},
        {"another run holds it past the wait",
         kLong,
         {},
         {},
         Op::Write,
         0,
         false,
         1000,
         Ended::Refused,
         "quorvex: cannot lock 'fw.s37': another program kept it locked for 10 seconds"},
    };
    for (const auto& row : rows) {
        FakeSystem system = set(row.old, row.room);
        system.shown = row.shown;
        system.lockedFor = row.locked;
        system.failAt(row.op, row.nth, row.sticky);
        const Result run = rewriteOn(system);
        EXPECT_EQ(run.ended, row.ended) << row.name;
        if (row.ended != Ended::LeftIncomplete) {
            EXPECT_EQ(run.file, row.ended == Ended::Rewritten ? kNew : row.old) << row.name;
        }
        const auto said = explanation(run.failure);
        EXPECT_EQ(run.ended == Ended::Rewritten ? "" : said[0], row.said) << row.name;
        EXPECT_EQ(said.size(), row.ended == Ended::LeftIncomplete ? 2u : 1u) << row.name;
        EXPECT_EQ(system.pauses, std::min(row.locked, 500)) << row.name;
    }
}

} // namespace
} // namespace quorvex::testing
