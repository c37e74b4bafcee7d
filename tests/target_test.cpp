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

// What stands under the name decides the way it is written, or why it is
// refused. A link in tmp/, a sticky folder that anyone may write to, is
// followed only when it is the runner's or the folder's owner's, at every
// step of a chain, as the kernel would. Opening touches no file; the records
// reach the file the name leads to, and no other.
TEST(Target, WhereTheNameLeadsDecidesTheFileAndTheWay) {
    constexpr std::uint32_t kOther = 65534;
    const struct {
        const char* name;
        std::string given;
        std::map<std::string, FakeSystem::Link> links;
        int held;            // looks that find it held by another program
        Way way;             // if opened
        const char* written; // if opened: the file that then holds the records
        const char* said;    // if refused: the explanation's first line
        int waited;          // milliseconds
    } rows[] = {
        // clang-format off
        {"nothing", "fw.s37", {}, 0, Way::NewFile, "fw.s37", "", 0},
        {"a file", "old.s37", {}, 0, Way::Replace, "old.s37", "", 0},
        {"a device", "dev/tty", {}, 0, Way::Device, "dev/tty", "", 0},
        {"a file in a folder that takes no new file", "locked/old.s37", {}, 0, Way::Rewrite, "locked/old.s37", "", 0},
        {"held for a moment", "old.s37", {}, 3, Way::Replace, "old.s37", "", 10 + 20 + 40},
        {"held past the wait", "old.s37", {}, 1000, {}, "", "quorvex: cannot open 'old.s37' for writing: busy", 2000},
        {"a folder", "folder", {}, 0, {}, "", "quorvex: cannot open 'folder' for writing: a folder", 0},
        {"a read-only file", "ro/old.s37", {}, 0, {}, "", "quorvex: cannot open 'ro/old.s37' for writing: denied", 0},
        {"no name", "", {}, 0, {}, "", "quorvex: cannot open '' for writing: not found", 0},
        {"the runner's link", "tmp/out.s37", {{"tmp/out.s37", {"../fw.s37", FakeSystem::kRunner}}}, 0, Way::NewFile, "fw.s37", "", 0},
        {"the folder's owner's link", "tmp/out.s37", {{"tmp/out.s37", {"/fw.s37", 0}}}, 0, Way::NewFile, "/fw.s37", "", 0},
        {"another user's link, elsewhere", "out.s37", {{"out.s37", {"tmp/fw.s37", kOther}}}, 0, Way::NewFile, "tmp/fw.s37", "", 0},
        {"another user's link", "tmp/out.s37", {{"tmp/out.s37", {"../fw.s37", kOther}}}, 0, {}, "", "quorvex: cannot follow 'tmp/out.s37', another user's link in a sticky folder that anyone may write to: denied", 0},
        {"a chain, a step another user's", "out.s37", {{"out.s37", {"tmp/a.s37", FakeSystem::kRunner}}, {"tmp/a.s37", {"../b.s37", kOther}}}, 0, {}, "", "quorvex: cannot follow 'tmp/a.s37', another user's link in a sticky folder that anyone may write to: denied", 0},
        {"a chain", "tmp/out.s37", {{"tmp/out.s37", {"../a.s37", 0}}, {"a.s37", {"b.s37", kOther}}}, 0, Way::NewFile, "b.s37", "", 0},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system;
        for (const char* old : {"old.s37", "dev/tty", "ro/old.s37", "locked/old.s37"}) {
            system.files[old] = "old";
        }
        auto files = system.files;
        system.folders = {"folder"};
        system.shared = {"tmp"};
        system.links = row.links;
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
        if (opened) {
            EXPECT_TRUE(dest.write(kRecords) && dest.commit()) << row.name;
            files[row.written] = kRecords;
        }
        EXPECT_EQ(system.files, files) << row.name;
    }
}

} // namespace
} // namespace quorvex::testing
