// The rewrite where a file stands, over a file system in memory: its outcomes
// and what it says of them. (What it leaves wherever a call fails is
// destination_test's, for every way a file is written.)
#include "rewrite.h"

#include "fake_system.h"
#include "room.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::testing {
namespace {

using Outcome = Rewrite::Outcome;
const std::string kNew = "S30700000000AABB\r\nS30700000002CCDD\r\nS70500000000FA\r\n";
const std::string kShort = "S1 old\r\n";                            // the new bytes grow the file
const std::string kLong = std::string(100, 'o') + "\r\nS9 old\r\n"; // the new bytes shrink it
const std::size_t kEnough = 2 * kNew.size() + kRoomMargin;          // what a rewrite of kNew needs

TEST(Rewrite, OutcomesAndWhatTheySay) {
    const struct {
        const char* name;
        std::string old;
        std::optional<std::size_t> room, shown; // copy on write: what writes may take, df's figure
        Op op;                                  // the primitive that fails
        int nth;                                // at this call, or from it on if sticky
        bool sticky;
        int locked;                     // calls of lock() that find it busy
        std::optional<Outcome> outcome; // none: refused, untouched
        std::string said;               // the explanation's first line
    } rows[] = {
        // clang-format off
        {"enough room", kLong, kEnough, {}, Op::Write, 0, false, 0, Outcome::Rewritten, ""},
        {"a byte short", kLong, kEnough - 1, {}, Op::Write, 0, false, 0, {}, "quorvex: cannot write 'fw.s37': it needs 1.1 MiB free, to be rewritten and put back should that fail, and 1.0 MiB are free"},
        {"a quota allows less than the disk shows", kLong, 100, kEnough, Op::Write, 0, false, 0, {}, "quorvex: cannot write 'fw.s37': it needs 1.0 MiB free, to be rewritten and put back should that fail; 1.0 MiB are free, but a quota allows less"},
        {"room cannot be set aside", kLong, kEnough, {}, Op::Reserve, 1, false, 0, Outcome::Rewritten, ""},
        // Short of room midway, and for putting back what changed: it is
        // emptied, which frees its room, and put back whole.
        {"out of room midway, growing", kShort, 48, kEnough, Op::Reserve, 1, false, 0, Outcome::PutBack, "quorvex: cannot write 'fw.s37': no room"},
        {"out of room midway, shrinking", kLong, 48, kEnough, Op::Reserve, 1, false, 0, Outcome::PutBack, "quorvex: cannot write 'fw.s37': no room"},
        {"no write goes through", kLong, {}, {}, Op::Write, 1, true, 0, Outcome::LeftIncomplete, "quorvex: cannot write 'fw.s37': other"},
        {"another run holds it a while", kLong, {}, {}, Op::Write, 0, false, 3, Outcome::Rewritten, ""},
        {"another run holds it past the wait", kLong, {}, {}, Op::Write, 0, false, 1000, {}, "quorvex: cannot lock 'fw.s37': another program kept it locked for 10 seconds"},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system;
        system.files["fw.s37"] = row.old;
        system.room = row.room;
        system.shown = row.shown;
        system.lockedFor = row.locked;
        system.failAt(row.op, row.nth, row.sticky);
        Handle file = kNoHandle;
        ASSERT_FALSE(system.openFile(Folder{}, "fw.s37", false, file));
        LockWait wait;
        Rewrite rewrite(system, file, "fw.s37", wait);
        const auto outcome =
            rewrite.prepare(kNew.size()) ? std::optional(rewrite.apply(kNew)) : std::nullopt;
        (void)system.close(file);
        EXPECT_EQ(outcome, row.outcome) << row.name;
        if (outcome != Outcome::LeftIncomplete) {
            EXPECT_EQ(system.files["fw.s37"], outcome == Outcome::Rewritten ? kNew : row.old)
                << row.name;
        }
        const auto said = explanation(rewrite.failure());
        EXPECT_EQ(outcome == Outcome::Rewritten ? "" : said[0], row.said) << row.name;
        EXPECT_EQ(said.size(), outcome == Outcome::LeftIncomplete ? 2u : 1u) << row.name;
        EXPECT_EQ(system.pauses, std::min(row.locked, 500)) << row.name;
        EXPECT_FALSE(system.signalsHeld) << row.name;
        EXPECT_EQ(system.unheldChanges, 0) << row.name << ": changed while a signal could end it";
    }
}

} // namespace
} // namespace quorvex::testing
