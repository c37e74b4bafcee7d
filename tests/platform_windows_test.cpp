// Paths Windows opens only in their extended form.
#include "platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quorvex::openablePath;

// A folder name that takes a path past MAX_PATH (260) in two steps.
const std::wstring kLong(150, L'f');

TEST(OpenablePath, ShortPathsStayAsGiven) {
    EXPECT_EQ(openablePath(L"fw.s19").native(), L"fw.s19");
    EXPECT_EQ(openablePath(L"C:/build/fw.s19").native(), L"C:/build/fw.s19");
    EXPECT_TRUE(openablePath(std::filesystem::path()).empty());
}

TEST(OpenablePath, LongDrivePathsBecomeExtended) {
    EXPECT_EQ(openablePath(L"C:\\" + kLong + L"\\" + kLong + L"\\fw.s19").native(),
              L"\\\\?\\C:\\" + kLong + L"\\" + kLong + L"\\fw.s19");
}

TEST(OpenablePath, SlashesAndDotsAreResolvedFirst) {
    // The extended form takes every character literally.
    EXPECT_EQ(openablePath(L"C:/x/../" + kLong + L"/./" + kLong + L"/fw.s19").native(),
              L"\\\\?\\C:\\" + kLong + L"\\" + kLong + L"\\fw.s19");
}

TEST(OpenablePath, LongNetworkPathsBecomeExtended) {
    EXPECT_EQ(openablePath(L"\\\\server\\share\\" + kLong + L"\\" + kLong).native(),
              L"\\\\?\\UNC\\server\\share\\" + kLong + L"\\" + kLong);
}

TEST(OpenablePath, NearlyLongPathsLeaveRoomForTheTemporaryFile) {
    // 240 characters: the temporary file beside it would pass MAX_PATH.
    const std::wstring name = L"C:\\" + std::wstring(230, L'n') + L".s37";
    ASSERT_EQ(name.size() + 26, 263u);
    EXPECT_EQ(openablePath(name).native(), L"\\\\?\\" + name);
}

TEST(OpenablePath, ExtendedPathsAndDevicesStayAsGiven) {
    const std::wstring extended = L"\\\\?\\C:\\" + kLong + L"\\" + kLong;
    EXPECT_EQ(openablePath(extended).native(), extended);
    EXPECT_EQ(openablePath(L"NUL").native(), L"NUL");
}

} // namespace
