// TempFile's state diagram (temp_file.h), over a file system in memory: what
// each way through it leaves on disk and in the signal handlers' slot. A call
// that a state does not allow stops a debug build, and changes nothing.
#include "fake_system.h"
#include "temp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::testing {
namespace {

// A step on the file, true when it went as its name says.
using Step = bool (*)(TempFile&, FakeSystem&);

// clang-format off
// Makes it, writes "new" into it, and finds it named to the signal handlers.
constexpr Step kMake = [](TempFile& temp, FakeSystem& system) {
    Handle file = kNoHandle;
    std::size_t written = 0;
    const bool made = !temp.make(".", false, file) && !system.write(file, "new", written) && !system.close(file);
    const PendingFile* named = removedOnSignal.load();
    return made && named != nullptr && named->path == temp.name();
};
constexpr Step kMakeAnother = [](TempFile&, FakeSystem& system) { TempFile other(system); return kMake(other, system); };
constexpr Step kCommit = [](TempFile& temp, FakeSystem&) { return !temp.commit("fw.s37"); };
constexpr Step kRead = [](TempFile& temp, FakeSystem&) { std::string in; return !temp.readBack(in) && in == "new"; };
constexpr Step kClaim = [](TempFile& temp, FakeSystem&) { return temp.claim(); };
constexpr Step kClaimGone = [](TempFile& temp, FakeSystem&) { return !temp.claim(); };
constexpr Step kRemove = [](TempFile& temp, FakeSystem&) { temp.remove(); return true; };
constexpr Step kKeep = [](TempFile& temp, FakeSystem&) { temp.keep(); return true; };
// As the handlers do: takes the file named to them and removes it.
constexpr Step kSignal = [](TempFile&, FakeSystem& system) {
    const PendingFile* named = removedOnSignal.exchange(nullptr);
    return named != nullptr && system.files.erase(std::filesystem::path(named->path).lexically_normal().string()) == 1;
};

// Each way ends with the file destroyed, in whatever state its steps left it.
TEST(TempFileDeathTest, EachWayThroughItsStatesLeavesTheFilesAndTheHandlersRight) {
    const struct {
        std::vector<Step> steps;
        const char* misuse; // what the last step, not allowed, stops a debug build with
        bool named;         // still named to the signal handlers after the steps
        std::string target; // what fw.s37, "old" before, holds once the file is destroyed
        int temps;          // temporary files left then
    } ways[] = {
        {{kMake, kRead, kCommit}, nullptr, false, "new", 0},
        {{kMake, kClaim, kRemove}, nullptr, false, "old", 0},
        {{kMake, kSignal, kClaimGone}, nullptr, false, "old", 0},
        {{kCommit}, "commit\\(\\) of a temporary file that is not made", false, "old", 0},
        {{kMake, kCommit, kCommit}, "commit\\(\\) .* committed", false, "new", 0},
        {{kMake, kClaim, kCommit}, "commit\\(\\) .* claimed", false, "old", 0},
        {{kMake, kCommit, kRead}, "readBack\\(\\) .* committed", false, "new", 0},
        {{kMake, kClaim, kRead, kClaim}, "claim\\(\\) .* claimed", false, "old", 0}, // read while claimed
        {{kMake, kRemove}, "remove\\(\\) .* pending", true, "old", 0},
        {{kMake, kKeep}, "keep\\(\\) .* pending", true, "old", 0},
        {{kMake, kClaim, kKeep, kRemove}, "remove\\(\\) .* kept", false, "old", 1},
        {{kMake, kMake}, "make\\(\\) .* pending", true, "old", 0},
        {{kMake, kMakeAnother}, "make\\(\\) .* while another is named to the signal handlers", true, "old", 0},
    };
    // clang-format on
    for (const auto& way : ways) {
        SCOPED_TRACE(::testing::Message() << "way " << &way - ways);
        FakeSystem system;
        system.files["fw.s37"] = "old";
        {
            TempFile temp(system);
            const std::size_t allowed = way.steps.size() - (way.misuse != nullptr ? 1 : 0);
            for (std::size_t step = 0; step < allowed; ++step) {
                ASSERT_TRUE(way.steps[step](temp, system)) << "step " << step;
            }
            if (way.misuse != nullptr) {
                EXPECT_DEBUG_DEATH((void)way.steps.back()(temp, system), way.misuse);
            }
            EXPECT_EQ(removedOnSignal.load() != nullptr, way.named);
        }
        EXPECT_EQ(removedOnSignal.load(), nullptr) << "named to the signal handlers once destroyed";
        EXPECT_EQ(system.files["fw.s37"], way.target);
        EXPECT_EQ(system.temps(), way.temps);
        EXPECT_EQ(system.openFiles(), 0) << "its folder, or a file, was left open";
    }
}

} // namespace
} // namespace quorvex::testing
