// libFuzzer entry for one property check, named by QUORVEX_FUZZ_CHECK. A broken
// property aborts, so libFuzzer keeps the input as a finding.
#include "properties.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = quorvex::properties::QUORVEX_FUZZ_CHECK(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!problem.empty()) {
        std::fprintf(stderr, "property broken: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
