// The switches as people write them.
#include "switches.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(Switches, ReadAsPeopleWriteThem) {
    const struct {
        const char* text;
        std::optional<bool> value;
    } cases[] = {
        {"1", true},         {"TRUE", true},        {" yes\t", true},      {"On", true},
        {"1 ", true},        {"0", false},          {"False", false},      {"no", false},
        {" OFF", false},     {"", false},           {"  ", false},         {"2", std::nullopt},
        {"y", std::nullopt}, {"1 1", std::nullopt}, {"onn", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(switchValue(c.text), c.value) << "'" << c.text << "'";
    }
}

} // namespace
} // namespace quorvex
