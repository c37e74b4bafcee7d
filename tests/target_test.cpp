// Where a destination's name leads, and what the run does with what stands
// there, over a file system in memory: which file is written, and what is
// refused, and why.
#include "destination.h"
#include "fake_system.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::testing {
namespace {

const std::string kRecords = "S70500000000FA\r\n";

// A link in tmp/, a sticky folder that anyone may write to, is followed only
// when it is the runner's or the folder's owner's, at every step of a chain.
TEST(Target, LinksAreFollowedAsTheKernelWould) {
    constexpr std::uint32_t kMine = FakeSystem::kRunner;
    constexpr std::uint32_t kOther = 65534;
    const struct {
        const char* name;
        std::map<std::string, FakeSystem::Link> links;
        const char* given;
        const char* written; // "" where the last link, in sorted order, is refused
    } rows[] = {
        // clang-format off
        {"the runner's", {{"tmp/out.s37", {"../fw.s37", kMine}}}, "tmp/out.s37", "fw.s37"},
        {"the folder's owner's", {{"tmp/out.s37", {"/fw.s37", 0}}}, "tmp/out.s37", "/fw.s37"},
        {"another user's, elsewhere", {{"out.s37", {"tmp/fw.s37", kOther}}}, "out.s37", "tmp/fw.s37"},
        {"another user's", {{"tmp/out.s37", {"../fw.s37", kOther}}}, "tmp/out.s37", ""},
        {"a chain, a step another user's", {{"out.s37", {"tmp/a.s37", kMine}}, {"tmp/a.s37", {"../b.s37", kOther}}}, "out.s37", ""},
        {"a chain", {{"tmp/out.s37", {"../a.s37", 0}}, {"a.s37", {"b.s37", kOther}}}, "tmp/out.s37", "b.s37"},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system;
        system.links = row.links;
        system.shared = {"tmp"};
        LockWait wait;
        Destination dest(system, row.given, wait);
        const bool written = dest.open() && dest.write(kRecords) && dest.commit();
        EXPECT_EQ(written, *row.written != '\0') << row.name;
        if (!written) {
            EXPECT_EQ(explanation(dest.failure())[0],
                      "quorvex: cannot follow '" + std::prev(row.links.end())->first +
                          "', another user's link in a sticky folder that anyone may write to: "
                          "denied")
                << row.name;
        }
        EXPECT_EQ(system.files.size(), written ? 1u : 0u) << row.name;
        EXPECT_EQ(system.files[row.written], written ? kRecords : "") << row.name;
    }
}

TEST(Target, WhatStandsUnderTheNameDecidesTheWay) {
    const struct {
        const char* name;
        std::string given;
        int held; // looks that find it held by another program
        Way way;  // if opened
        const char* said;
        int waited; // milliseconds
    } rows[] = {
        // clang-format off
        {"nothing", "fw.s37", 0, Way::NewFile, "", 0},
        {"a file", "old.s37", 0, Way::Replace, "", 0},
        {"a device", "dev/tty", 0, Way::Device, "", 0},
        {"a file in a folder that takes no new file", "locked/old.s37", 0, Way::Rewrite, "", 0},
        {"held for a moment", "old.s37", 3, Way::Replace, "", 10 + 20 + 40},
        {"held past the wait", "old.s37", 1000, {}, "quorvex: cannot open 'old.s37' for writing: busy", 2000},
        {"a folder", "folder", 0, {}, "quorvex: cannot open 'folder' for writing: a folder", 0},
        {"a read-only file", "ro/old.s37", 0, {}, "quorvex: cannot open 'ro/old.s37' for writing: denied", 0},
        {"no name", "", 0, {}, "quorvex: cannot open '' for writing: not found", 0},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system;
        for (const char* old : {"old.s37", "dev/tty", "ro/old.s37", "locked/old.s37"}) {
            system.files[old] = "old";
        }
        system.folders = {"folder"};
        system.lockedFolder = row.given.rfind("locked/", 0) == 0;
        system.heldFor = row.held;
        system.patienceMs = 2000;
        LockWait wait;
        Destination dest(system, row.given, wait);
        const bool opened = dest.open();
        EXPECT_EQ(opened ? "" : explanation(dest.failure())[0], row.said) << row.name;
        EXPECT_EQ(opened ? dest.way() : Way{}, row.way) << row.name;
        EXPECT_EQ(system.waited, row.waited) << row.name;
        EXPECT_EQ(system.files["old.s37"], "old") << row.name << ": opening touched it";
    }
}

} // namespace
} // namespace quorvex::testing
