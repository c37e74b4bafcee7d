// Reads quorvex.exe's resources the way Windows does: one application
// manifest, ours, that parses; and version information of this release.
// usage: resources_test PATH-TO-QUORVEX.EXE
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

std::wstring exePath;

// RT_MANIFEST and CREATEPROCESS_MANIFEST_RESOURCE_ID, in their wide form.
const wchar_t* const manifestType = MAKEINTRESOURCEW(24);
const wchar_t* const processManifest = MAKEINTRESOURCEW(1);

class Resources : public testing::Test {
  protected:
    void SetUp() override {
        exe_ = LoadLibraryExW(exePath.c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(exe_, nullptr) << "cannot load the program, error " << GetLastError();
    }
    void TearDown() override {
        if (exe_ != nullptr) {
            FreeLibrary(exe_);
        }
    }
    HMODULE exe_ = nullptr;
};

BOOL CALLBACK countLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK countLanguagesOfName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR count) {
    EnumResourceLanguagesW(module, type, name, countLanguage, count);
    return TRUE;
}

TEST_F(Resources, HoldOneManifestThatIsOurs) {
    // A second manifest (a toolchain's default one, or the same in another
    // language) would leave it to the loader which one counts.
    int manifests = 0;
    EnumResourceNamesW(exe_, manifestType, countLanguagesOfName,
                       reinterpret_cast<LONG_PTR>(&manifests));
    ASSERT_EQ(manifests, 1);

    HRSRC found = FindResourceW(exe_, processManifest, manifestType);
    ASSERT_NE(found, nullptr) << "the manifest is not the one a process is created with";
    const auto* text = static_cast<const char*>(LockResource(LoadResource(exe_, found)));
    const std::string manifest(text, SizeofResource(exe_, found));
    for (const char* setting :
         {"level=\"asInvoker\"", ">true</longPathAware>", ">UTF-8</activeCodePage>",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(setting), std::string::npos) << "no " << setting;
    }

    // Windows refuses to start a program whose manifest does not parse.
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = exePath.c_str();
    context.lpResourceName = processManifest;
    HANDLE activation = CreateActCtxW(&context);
    EXPECT_NE(activation, INVALID_HANDLE_VALUE)
        << "the manifest is refused, error " << GetLastError();
    if (activation != INVALID_HANDLE_VALUE) {
        ReleaseActCtx(activation);
    }
}

// The version resource's block at `path`, or nullptr.
const void* query(const std::string& info, const wchar_t* path, UINT& length) {
    void* block = nullptr;
    length = 0;
    // VerQueryValueW takes a non-const block but only reads it.
    if (!VerQueryValueW(const_cast<char*>(info.data()), path, &block, &length)) {
        return nullptr;
    }
    return block;
}

TEST(VersionInformation, NamesThisRelease) {
    const DWORD size = GetFileVersionInfoSizeW(exePath.c_str(), nullptr);
    ASSERT_NE(size, 0u) << "no version information";
    std::string info(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(exePath.c_str(), 0, size, info.data()));

    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(info, L"\\", length));
    ASSERT_NE(fixed, nullptr);
    const DWORD high = DWORD{EXPECTED_MAJOR} << 16 | EXPECTED_MINOR;
    const DWORD low = DWORD{EXPECTED_PATCH} << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    // The string block the translation names: Explorer shows no other.
    const auto* translation =
        static_cast<const WORD*>(query(info, L"\\VarFileInfo\\Translation", length));
    ASSERT_NE(translation, nullptr);
    ASSERT_GE(length, 4u);
    wchar_t block[64];
    std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    const auto text = [&](const wchar_t* name) {
        const std::wstring path = block + std::wstring(name);
        const auto* value = static_cast<const wchar_t*>(query(info, path.c_str(), length));
        return value == nullptr || length == 0 ? std::wstring(L"(missing)")
                                               : std::wstring(value, length - 1);
    };
    EXPECT_EQ(text(L"FileVersion"), EXPECTED_VERSION);
    EXPECT_EQ(text(L"ProductVersion"), EXPECTED_VERSION);
    EXPECT_EQ(text(L"ProductName"), L"quorvex");
    EXPECT_EQ(text(L"OriginalFilename"), L"quorvex.exe");
    EXPECT_NE(text(L"FileDescription").find(L"S-record"), std::wstring::npos);
    EXPECT_NE(text(L"LegalCopyright").find(L"the quorvex authors"), std::wstring::npos);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fputs("usage: resources_test PATH-TO-QUORVEX.EXE\n", stderr);
        return 2;
    }
    // A full path, so that loading by name cannot pick another file.
    wchar_t full[MAX_PATH];
    const DWORD chars = GetFullPathNameW(argv[1], MAX_PATH, full, nullptr);
    if (chars == 0 || chars >= MAX_PATH) {
        return 2;
    }
    exePath = full;
    return RUN_ALL_TESTS();
}
