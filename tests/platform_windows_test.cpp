// Paths Windows opens only in their extended form.
#include "platform.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

namespace {

using quorvex::openablePath;

const std::wstring kLong(150, L'f');

// Each code's kind, in the call that meets it, and each kind's usual code.
TEST(ErrorTables, EachCodeHasItsKind) {
    using quorvex::Call;
    using K = quorvex::ErrorKind;
    const struct {
        Call call;
        DWORD code;
        K kind;
    } rows[] = {
        // clang-format off
        {Call::Any, ERROR_FILE_NOT_FOUND, K::NotFound}, {Call::Any, ERROR_ACCESS_DENIED, K::Denied},
        {Call::Any, ERROR_SHARING_VIOLATION, K::Busy}, {Call::Any, ERROR_LOCK_VIOLATION, K::Busy},
        {Call::Lock, ERROR_NOT_SUPPORTED, K::None}, {Call::Read, ERROR_BROKEN_PIPE, K::None},
        // clang-format on
    };
    for (const auto& row : rows) {
        EXPECT_EQ(quorvex::systemError(row.call, row.code).kind, row.kind) << row.code;
    }
    const auto usual = [](K kind) { return quorvex::systemReason(quorvex::Error{kind}); };
    EXPECT_EQ(usual(K::IsFolder), usual(K::Denied)) << "Access is denied";
}

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
