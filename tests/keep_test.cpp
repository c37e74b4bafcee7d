// What a replaced file keeps, over a file system in memory: each entry of the
// list is kept; where a required one cannot be, the file is written where it
// stands instead, and keeps everything.
#include "destination.h"
#include "fake_system.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace quorvex::testing {
namespace {

using Attributes = std::map<std::string, std::string>;

TEST(Keep, AReplacedFileKeepsWhatTheListSays) {
    const Attributes acl = {{FakeSystem::kAcl, "nobody rw"}, {"user.origin", "build"}};
    const Attributes noAcl = {{"user.origin", "build"}, {"security.selinux", "label"}};
    const struct {
        const char* name;
        Attributes old;
        std::uint32_t links;
        Error owner; // what giving the new file the old owner says
        Attributes kept;
    } rows[] = {
        // clang-format off
        {"its ACL and user attributes", acl, 1, {}, acl},
        {"no ACL: not the folder's either; not the system's attributes", noAcl, 1, {}, {{"user.origin", "build"}}},
        // Written where it stands: it keeps everything.
        {"an owner the runner cannot give", noAcl, 1, {ErrorKind::Denied}, noAcl},
        {"other names", noAcl, 2, {}, noAcl},
        // clang-format on
    };
    for (const auto& row : rows) {
        FakeSystem system;
        system.files["fw.s37"] = "old";
        system.metadata["fw.s37"] = Metadata{0640, 0, 50, 0x22, row.links};
        system.attributes["fw.s37"] = row.old;
        system.ownerKept = row.owner;
        {
            LockWait wait;
            Destination dest(system, "fw.s37", wait);
            ASSERT_TRUE(dest.open() && dest.write("S70500000000FA\r\n") && dest.commit());
        }
        const Metadata& meta = system.metadata["fw.s37"];
        EXPECT_EQ(system.files["fw.s37"], "S70500000000FA\r\n") << row.name;
        EXPECT_EQ(system.attributes["fw.s37"], row.kept) << row.name;
        EXPECT_EQ(meta.mode, 0640u) << row.name;
        EXPECT_EQ(meta.owner, 0u) << row.name;
        EXPECT_EQ(meta.group, 50u) << row.name;
        EXPECT_EQ(meta.attributes, 0x22u) << row.name;
        EXPECT_EQ(system.temps(), 0) << row.name;
        EXPECT_EQ(system.unheldChanges, 0) << row.name << ": changed while a signal could end it";
    }
}

} // namespace
} // namespace quorvex::testing
