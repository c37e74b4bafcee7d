// Why a run failed, for the user who asks: with QUORVEX_VERBOSE=1 in the
// environment, a failure also writes one line to standard error naming the
// file, what was being done and the system's reason. Without it, nothing goes
// there at all.
#pragma once

#include "platform.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

// `name` as the line shows it, in single quotes: 'fw.s19'.
std::string quoted(const std::filesystem::path& name);

// The line that tells why a step failed, "quorvex: cannot DOING: REASON", or
// an empty text when the user has not asked for it.
std::string explanation(const std::string& doing, const std::string& reason);

// Writes the explanation of `failure` to standard error, if asked for.
void explainFailure(const Failure& failure);

} // namespace quorvex
