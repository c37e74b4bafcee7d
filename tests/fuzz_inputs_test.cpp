// The fuzz targets' stored inputs, checked on every test run: the seeds and
// every input that once broke a property (fuzz/regressions/, one file each).
#include "fuzz/properties.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using Check = std::function<std::string(std::string_view)>;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `check` on every file stored for `target`; returns how many there are.
int checkStored(const std::string& target, const Check& check) {
    int files = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = fs::path(QUORVEX_FUZZ_DATA) / kind / target;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(check(contents(entry.path())), "") << entry.path();
            ++files;
        }
    }
    return files;
}

TEST(FuzzInputs, ConversionPropertiesHold) {
    EXPECT_GT(checkStored("conversion", quorvex::properties::checkConversion), 0);
}

TEST(FuzzInputs, RecordPropertiesHold) {
    EXPECT_GT(checkStored("record", quorvex::properties::checkRecord), 0);
}

} // namespace
