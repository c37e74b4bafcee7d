// The environment switches QUORVEX_VERBOSE and QUORVEX_STRICT, read once.
#pragma once

#include <optional>
#include <string_view>

namespace quorvex {

// A switch's value as people write it: 1, true, yes, on or 0, false, no,
// off, in any case, blanks around ignored; empty is off. nullopt for any
// other value.
std::optional<bool> switchValue(std::string_view text);

struct Switches {
    bool verbose = false; // QUORVEX_VERBOSE: say why a step failed, report source lines
    bool strict = false;  // QUORVEX_STRICT: refuse a source with reported lines
};

// The switches of this process, read from the environment at the first call.
// A value that is not understood is said on standard error, once, and taken
// as on: the safe side for strict.
const Switches& switches();

} // namespace quorvex
