// Properties every conversion has, whatever its input. The fuzz targets check
// them on generated inputs, and a unit test on the stored ones.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::properties {

// Each returns an empty text when every property holds, else what failed.

// The whole run on a source's bytes: the records written, the counts, and the
// result's indifference to carriage returns and to what follows a Ctrl-Z.
std::string checkConversion(std::string_view source);

// convert(), convertPlainLine() and the split of an over-long S1 line, on one
// record text (cut to the longest splittable line and its line feed).
std::string checkRecord(std::string_view text);

} // namespace quorvex::properties
