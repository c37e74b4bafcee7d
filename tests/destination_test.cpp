// The rules for writing a destination, over a file system in memory that
// fails at a chosen call: what the old file and any temporary file hold
// afterwards, and what the run is told.
#include "destination.h"
#include "fake_system.h"
#include "room.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvex::testing {
namespace {

const std::vector<std::string> kChunks = {"S30700000000AABB\r\n", "S30700000002CCDD\r\n",
                                          "S70500000000FA\r\n"};
const std::string kRecords = kChunks[0] + kChunks[1] + kChunks[2];
const std::string kShortOld = "S1 old\r\n";                            // the records grow the file
const std::string kLongOld = std::string(100, 'o') + "\r\nS9 old\r\n"; // the records shrink it

enum class Start {
    New,     // no file under the name
    Replace, // an old file, renamed over
    Rewrite, // an old file in a folder that takes no new file
    Direct,  // an old file that cannot be renamed over, held open
    Device,  // something that is no file
};

struct Outcome {
    bool ok;
    std::optional<std::string> target; // what the name holds afterwards, if anything
    std::optional<Step> doing;         // what the failure says was being done
    Failure failure;
};

// Opens, writes the records chunk by chunk (stopping at a failure, as the run
// does), commits when all went well, and lets the destination go.
Outcome runOn(FakeSystem& system) {
    Outcome outcome{false, std::nullopt, std::nullopt, Failure{}};
    {
        LockWait wait;
        Destination dest(system, "fw.s37", wait);
        bool ok = dest.open();
        for (const std::string& chunk : kChunks) {
            ok = ok && dest.write(chunk);
        }
        outcome.ok = ok && dest.commit();
        if (!outcome.ok) {
            outcome.doing = dest.failure().step;
        }
        outcome.failure = dest.failure();
    }
    if (system.files.count("fw.s37") != 0) {
        outcome.target = system.files["fw.s37"];
    }
    return outcome;
}

FakeSystem set(Start setup, const std::string& old, std::optional<std::size_t> room = {}) {
    FakeSystem system;
    system.room = room; // on a disk that copies on write
    if (setup == Start::Device) {
        system.files["dev/tty"] = old;
        return system;
    }
    if (setup != Start::New) {
        system.files["fw.s37"] = old;
    }
    system.lockedFolder = setup == Start::Rewrite;
    system.heldFile = setup == Start::Direct;
    return system;
}

// Every call of every primitive, failing in turn: the name holds the records
// whole and the run says so, or it holds what it held before and the run
// says why; no temporary file stays, and no file was changed while a signal
// could end the run.
TEST(Destination, EndsWholeOrAsItWasWhereverItFails) {
    // Copy on write: room for the temporary file, and for a rewrite that can
    // be put back.
    const std::optional<std::size_t> rooms[] = {{}, 3 * kRecords.size() + kRoomMargin};
    for (const Start start : {Start::New, Start::Replace, Start::Rewrite, Start::Direct}) {
        for (const auto& [old, room] : {std::pair{kShortOld, rooms[0]},
                                        {kLongOld, rooms[0]},
                                        {kShortOld, rooms[1]},
                                        {kLongOld, rooms[1]}}) {
            FakeSystem clean = set(start, old, room);
            ASSERT_EQ(runOn(clean).target, kRecords) << "nothing fails: the records are written";
            const std::optional<std::string> before =
                start == Start::New ? std::nullopt : std::optional<std::string>(old);
            for (int op = 0; op <= static_cast<int>(Op::Replace); ++op) {
                for (int nth = 1; nth <= clean.calls(static_cast<Op>(op)); ++nth) {
                    FakeSystem system = set(start, old, room);
                    system.failAt(static_cast<Op>(op), nth);
                    const Outcome outcome = runOn(system);
                    const std::string at = "way " + std::to_string(static_cast<int>(start)) +
                                           ", op " + std::to_string(op) + ", call " +
                                           std::to_string(nth);
                    // A close that fails once a file written where it stands is
                    // synced is said, and leaves the records there.
                    const bool closed = static_cast<Op>(op) == Op::Close && start >= Start::Rewrite;
                    EXPECT_TRUE(outcome.target == (outcome.ok ? kRecords : before) ||
                                (closed && outcome.target == kRecords))
                        << at;
                    EXPECT_TRUE(outcome.ok || !outcome.failure.reason.empty()) << at;
                    EXPECT_EQ(system.temps(), 0) << at << ": a temporary file was left behind";
                    EXPECT_FALSE(system.signalsHeld) << at;
                    EXPECT_EQ(system.unheldChanges, 0) << at;
                }
            }
        }
    }
}

TEST(Destination, SaysWhatFailed) {
    const struct {
        Start start;
        Op op; // the primitive that fails
        int nth;
        Step step;
    } rows[] = {
        // clang-format off
        {Start::New, Op::Create, 1, Step::OpenDestination}, {Start::New, Op::Write, 1, Step::Write},
        {Start::Replace, Op::Sync, 1, Step::Write}, {Start::New, Op::Replace, 1, Step::Replace},
        {Start::Rewrite, Op::OpenFile, 1, Step::OpenWhereItStands}, {Start::Rewrite, Op::Lock, 1, Step::Lock},
        {Start::Direct, Op::OpenFile, 1, Step::Replace}, // the rename that was refused
        {Start::Direct, Op::Truncate, 1, Step::Write},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system = set(row.start, kLongOld);
        system.failAt(row.op, row.nth);
        const Outcome outcome = runOn(system);
        EXPECT_EQ(outcome.doing, row.step) << static_cast<int>(row.start) << " " << row.nth;
    }
}

TEST(Destination, AFileLeftIncompleteIsSaidAndItsRecordsKept) {
    // Written directly, the rewrite fails, and so does every write that would
    // put the old bytes back.
    FakeSystem system = set(Start::Direct, kLongOld);
    system.failAt(Op::Write, 4, true); // past the temporary file's three
    const Outcome outcome = runOn(system);
    EXPECT_FALSE(outcome.ok);
    const std::vector<std::string> said = explanation(outcome.failure);
    ASSERT_EQ(said.size(), 2u);
    ASSERT_EQ(system.temps(), 1);
    const auto& [temp, records] = *system.files.begin(); // '.' sorts first
    EXPECT_EQ(said[1], "quorvex: 'fw.s37' is left incomplete; the complete result is in '" +
                           (std::filesystem::path(".") / temp).string() + "'");
    EXPECT_EQ(records, kRecords);
}

TEST(Destination, AFullDiskRewritesAFileInPlaceOrFails) {
    FakeSystem system = set(Start::Replace, kLongOld);
    system.fullDisk = true;
    EXPECT_EQ(runOn(system).target, kRecords) << "the records fit where the old file was";

    system = set(Start::Replace, kShortOld);
    system.fullDisk = true;
    const Outcome grown = runOn(system);
    EXPECT_EQ(grown.target, kShortOld) << "no room to grow: the file stays as it was";
    EXPECT_EQ(grown.doing, Step::Write);

    system = set(Start::New, "");
    system.fullDisk = true;
    LockWait wait;
    Destination dest(system, "fw.s37", wait);
    EXPECT_FALSE(dest.open()) << "no room for a new file";
}

TEST(Destination, ADirectWriteLeavesNoTemporaryFileToASignalBeforeItBegins) {
    // Until the file is changed, a signal ends the run and removes the
    // temporary file; from then on it waits, and the file goes after it.
    FakeSystem system = set(Start::Direct, kLongOld);
    system.lockedFor = 2;
    EXPECT_EQ(runOn(system).target, kRecords);
    EXPECT_TRUE(system.pendingWhenLocked);
    EXPECT_EQ(removedOnSignal.load(), nullptr);
    EXPECT_EQ(system.temps(), 0);
}

TEST(Destination, RecordsThatDoNotFitInMemoryLeaveTheFileAsItWas) {
    FakeSystem system = set(Start::Direct, kLongOld);
    system.noMemory = true; // reading the finished temporary file back
    const Outcome outcome = runOn(system);
    EXPECT_EQ(outcome.target, kLongOld);
    EXPECT_EQ(outcome.doing, Step::HoldRecords);
    EXPECT_EQ(system.openFiles(), 0) << "a file was left open";
    EXPECT_EQ(system.temps(), 0);
}

TEST(Destination, ADeviceIsWrittenAsItIs) {
    FakeSystem system;
    system.files["dev/tty"] = "before";
    LockWait wait;
    Destination dest(system, "dev/tty", wait);
    ASSERT_TRUE(dest.open());
    EXPECT_EQ(dest.way(), Way::Device);
    ASSERT_TRUE(dest.write(kRecords));
    ASSERT_TRUE(dest.commit());
    EXPECT_EQ(system.files["dev/tty"], kRecords);
}

} // namespace
} // namespace quorvex::testing
