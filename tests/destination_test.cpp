// The rules for writing a destination, over a file system in memory that
// fails at a chosen call: what the old file and any temporary file hold
// afterwards, and what the run is told.
#include "destination.h"
#include "fake_system.h"

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
    New,         // no file under the name
    Replace,     // an old file, renamed over
    InPlace,     // an old file in a folder that takes no new file
    Direct,      // an old file that cannot be renamed over, held open
    Device,      // something that is no file
    CopyOnWrite, // in place, on a disk that copies on write, with room for 48 bytes
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

FakeSystem set(Start setup, const std::string& old) {
    FakeSystem system;
    if (setup == Start::Device) {
        system.files["dev/tty"] = old;
        return system;
    }
    if (setup != Start::New) {
        system.files["fw.s37"] = old;
    }
    system.lockedFolder = setup == Start::InPlace || setup == Start::CopyOnWrite;
    if (setup == Start::CopyOnWrite) {
        system.room = 48;
    }
    system.heldFile = setup == Start::Direct;
    return system;
}

struct Row {
    const char* name;
    Start start;
    std::string old;
    Op op;   // the primitive that fails
    int nth; // at its nth call; 0: none fails
    bool ok;
    std::optional<std::string> target; // what the name holds afterwards
    std::optional<Step> doing;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class FailurePoints : public ::testing::TestWithParam<Row> {};

TEST_P(FailurePoints, LeaveTheFileWholeAndNoTemporaryFile) {
    const Row& row = GetParam();
    FakeSystem system = set(row.start, row.old);
    system.failAt(row.op, row.nth);
    const Outcome outcome = runOn(system);
    EXPECT_EQ(outcome.ok, row.ok);
    EXPECT_EQ(outcome.target, row.target);
    EXPECT_EQ(outcome.doing, row.doing);
    EXPECT_EQ(system.temps(), 0) << "a temporary file was left behind";
    EXPECT_FALSE(system.signalsHeld) << "signals stay held";
    EXPECT_EQ(system.unheldChanges, 0) << "the file was changed while a signal could end the run";
}

const auto kNone = std::nullopt;
const std::optional<Step> kDone; // nothing failed

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ways, FailurePoints, ::testing::Values(
    // Every way, when nothing fails.
    Row{"NewFile", Start::New, "", Op::Write, 0, true, kRecords, kDone},
    Row{"Replace", Start::Replace, kLongOld, Op::Write, 0, true, kRecords, kDone},
    Row{"InPlaceGrowing", Start::InPlace, kShortOld, Op::Write, 0, true, kRecords, kDone},
    Row{"InPlaceShrinking", Start::InPlace, kLongOld, Op::Write, 0, true, kRecords, kDone},
    Row{"DirectGrowing", Start::Direct, kShortOld, Op::Write, 0, true, kRecords, kDone},
    Row{"DirectShrinkingDone", Start::Direct, kLongOld, Op::Write, 0, true, kRecords, kDone},
    // A new file is made whole or not at all.
    Row{"NewFileNotMade", Start::New, "", Op::Create, 1, false, kNone, Step::OpenDestination},
    Row{"NewFileWrite", Start::New, "", Op::Write, 2, false, kNone, Step::Write},
    Row{"NewFileSync", Start::New, "", Op::Sync, 1, false, kNone, Step::Write},
    Row{"NewFileClose", Start::New, "", Op::Close, 1, false, kNone, Step::Write},
    Row{"NewFileRename", Start::New, "", Op::Replace, 1, false, kNone, Step::Replace},
    // A replaced file keeps its old content until the rename.
    Row{"ReplaceWrite", Start::Replace, kLongOld, Op::Write, 3, false, kLongOld, Step::Write},
    Row{"ReplaceSync", Start::Replace, kLongOld, Op::Sync, 1, false, kLongOld, Step::Write},
    Row{"ReplaceRename", Start::Replace, kLongOld, Op::Replace, 1, false, kLongOld, Step::Replace},
    // In place: the growth is written first and cut back when it fails.
    Row{"InPlaceNotOpened", Start::InPlace, kShortOld, Op::OpenFile, 1, false, kShortOld, Step::OpenWhereItStands},
    Row{"InPlaceSize", Start::InPlace, kShortOld, Op::Size, 1, false, kShortOld, Step::Write},
    Row{"InPlaceGrowth", Start::InPlace, kShortOld, Op::Write, 1, false, kShortOld, Step::Write},
    Row{"InPlaceOverlap", Start::InPlace, kShortOld, Op::Write, 2, false, kShortOld, Step::Write},
    Row{"InPlaceSyncGrown", Start::InPlace, kShortOld, Op::Sync, 1, false, kShortOld, Step::Write},
    // In place over a longer file: what was overwritten is put back, the cut tail too.
    Row{"ShrinkingOverwrite", Start::InPlace, kLongOld, Op::Write, 1, false, kLongOld, Step::Write},
    Row{"ShrinkingSync", Start::InPlace, kLongOld, Op::Sync, 1, false, kLongOld, Step::Write},
    Row{"ShrinkingCut", Start::InPlace, kLongOld, Op::Truncate, 1, false, kLongOld, Step::Write},
    Row{"ShrinkingSyncAfterCut", Start::InPlace, kLongOld, Op::Sync, 2, false, kLongOld, Step::Write},
    Row{"InPlaceOldUnread", Start::InPlace, kLongOld, Op::Read, 1, false, kLongOld, Step::Write},
    // Copy on write, the rewrite fails midway and so does putting back what it
    // changed: the file is emptied, which frees its room, and put back whole.
    Row{"CopyOnWriteGrowing", Start::CopyOnWrite, kShortOld, Op::Write, 0, false, kShortOld, Step::Write},
    Row{"CopyOnWriteShrinking", Start::CopyOnWrite, kLongOld, Op::Write, 0, false, kLongOld, Step::Write},
    Row{"InPlaceNotLocked", Start::InPlace, kLongOld, Op::Lock, 1, false, kLongOld, Step::Lock},
    // Directly past a held file, under the same rules; the temporary file goes.
    // (Its three writes come first.)
    Row{"DirectNotOpened", Start::Direct, kLongOld, Op::OpenFile, 1, false, kLongOld, Step::Replace},
    Row{"DirectTempUnread", Start::Direct, kLongOld, Op::Read, 1, false, kLongOld, Step::Write},
    Row{"DirectGrowth", Start::Direct, kShortOld, Op::Write, 4, false, kShortOld, Step::Write},
    Row{"DirectShrinking", Start::Direct, kLongOld, Op::Write, 4, false, kLongOld, Step::Write},
    Row{"DirectCut", Start::Direct, kLongOld, Op::Truncate, 1, false, kLongOld, Step::Write},
    // A device is written as it goes.
    Row{"DeviceWrite", Start::Device, "", Op::Write, 1, false, kNone, Step::Write}
), [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });
// clang-format on

TEST(Destination, AFileLeftIncompleteIsSaidAndItsRecordsKept) {
    // The rewrite fails, and so does every write that would put the old bytes back.
    for (const Start start : {Start::InPlace, Start::Direct}) {
        FakeSystem system = set(start, kLongOld);
        system.failAt(Op::Write, start == Start::Direct ? 4 : 1, true); // past the temporary file
        const Outcome outcome = runOn(system);
        EXPECT_FALSE(outcome.ok);
        const std::vector<std::string> said = explanation(outcome.failure);
        ASSERT_EQ(said.size(), 2u);
        if (start == Start::InPlace) {
            EXPECT_EQ(said[1], "quorvex: 'fw.s37' is left incomplete");
            EXPECT_EQ(system.temps(), 0);
        } else {
            ASSERT_EQ(system.temps(), 1);
            const auto& [temp, records] = *system.files.begin(); // '.' sorts first
            EXPECT_EQ(said[1], "quorvex: 'fw.s37' is left incomplete; the complete result is in '" +
                                   (std::filesystem::path(".") / temp).string() + "'");
            EXPECT_EQ(records, kRecords);
        }
    }
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

TEST(Destination, AnotherRunsRewriteIsWaitedFor) {
    FakeSystem system = set(Start::InPlace, kLongOld);
    system.lockedFor = 3;
    EXPECT_EQ(runOn(system).target, kRecords);
    EXPECT_EQ(system.lockedFor, 0);
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

TEST(Destination, WhatAReplacementWouldLoseIsWrittenDirectly) {
    // An owner or group the runner cannot give the new file, or other names
    // of the file: it is written where it stands, and keeps them all.
    for (const bool otherNames : {false, true}) {
        FakeSystem system = set(Start::Replace, kLongOld);
        system.ownerKept = otherNames ? Error{} : Error{ErrorKind::Denied};
        system.links = otherNames ? 2 : 1;
        system.failAt(Op::Replace, 1);
        const Outcome outcome = runOn(system);
        EXPECT_TRUE(outcome.ok) << "not renamed: a rename would fail";
        EXPECT_EQ(outcome.target, kRecords);
        EXPECT_EQ(system.temps(), 0);
        EXPECT_EQ(system.unheldChanges, 0);
    }
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

TEST(Destination, AnEmptyNameIsRefusedUntouched) {
    FakeSystem system;
    LockWait wait;
    Destination dest(system, "", wait);
    EXPECT_FALSE(dest.open());
    EXPECT_EQ(explanation(dest.failure())[0], "quorvex: cannot open '' for writing: not found");
    EXPECT_TRUE(system.files.empty());
}

TEST(Destination, TheWayFollowsWhatStandsUnderTheName) {
    const std::pair<Start, Way> ways[] = {{Start::New, Way::NewFile},
                                          {Start::Replace, Way::Replace},
                                          {Start::InPlace, Way::Rewrite},
                                          {Start::Direct, Way::Replace}};
    for (const auto& [setup, way] : ways) {
        FakeSystem system = set(setup, kShortOld);
        LockWait wait;
        Destination dest(system, "fw.s37", wait);
        ASSERT_TRUE(dest.open());
        EXPECT_EQ(dest.way(), way);
        EXPECT_EQ(system.files["fw.s37"], setup == Start::New ? "" : kShortOld)
            << "opening touched the file";
    }
}

} // namespace
} // namespace quorvex::testing
