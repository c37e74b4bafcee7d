#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace quorvex {
namespace {

TEST(InputMap, SourceCutShortWhileMappedIsAReadError) {
    char folder[] = "/tmp/quorvex-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string name = std::string(folder) + "/source.s19";
    std::ofstream(name) << std::string(64 * 1024, 'S');

    Input in;
    ASSERT_TRUE(in.open(name));
    Mapping mapping;
    ASSERT_TRUE(in.map(mapping, "File Read Error"));
    ASSERT_EQ(::truncate(name.c_str(), 0), 0);
    EXPECT_EXIT(
        {
            volatile char last = mapping.view().back();
            (void)last;
        },
        testing::ExitedWithCode(1), "");
    ::unlink(name.c_str());
    ::rmdir(folder);
}

TEST(InputMap, EmptyAndSpecialFilesAreRead) {
    char folder[] = "/tmp/quorvex-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string name = std::string(folder) + "/empty.s19";
    std::ofstream{name};
    Input empty;
    ASSERT_TRUE(empty.open(name));
    Mapping mapping;
    EXPECT_FALSE(empty.map(mapping, "")) << "an empty file cannot be mapped";
    ::unlink(name.c_str());
    ::rmdir(folder);

    Input folderInput;
    EXPECT_FALSE(folderInput.open("/")) << "a directory is no source";
}

} // namespace
} // namespace quorvex
