#include "platform.h"

#include <windows.h>

#include <string>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// The shared header keeps handles as integers, as POSIX descriptors are.
HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle); // NOLINT(performance-no-int-to-ptr)
}

std::intptr_t fromHandle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

constexpr std::intptr_t kNoHandle = -1; // INVALID_HANDLE_VALUE
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool writeAll(HANDLE out, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD step =
            bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD done = 0;
        if (::WriteFile(out, bytes.data(), step, &done, nullptr) == FALSE || done == 0) {
            return false;
        }
        bytes.remove_prefix(done);
    }
    return true;
}

// The temporary file being written, for removal when Ctrl-C or a closed
// console ends the run.
const wchar_t* volatile pendingTemp = nullptr;

BOOL WINAPI removePendingTemp(DWORD /*event*/) {
    if (pendingTemp != nullptr) {
        ::DeleteFileW(pendingTemp);
    }
    return FALSE; // and let the process end as it would
}

// Creates a new file beside `target` under a name no other file has.
HANDLE createTemp(const fs::path& target, fs::path& temp) {
    const fs::path dir = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
    ULONGLONG seed = ::GetTickCount64() * 2654435761u ^ ::GetCurrentProcessId();
    for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005u + 1) {
        wchar_t suffix[17];
        for (int i = 0; i < 16; ++i) {
            suffix[i] = L"0123456789abcdef"[(seed >> (4 * i)) & 0xF];
        }
        suffix[16] = L'\0';
        temp = dir / (std::wstring(L".quorvex-") + suffix);
        const HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

fs::path openablePath(const fs::path& name) {
    // Room for the temporary file's name beside it: "\.quorvex-" and 16 digits.
    constexpr std::size_t kTempRoom = 26;
    const std::wstring& text = name.native();
    if (text.empty() || text.rfind(LR"(\\?\)", 0) == 0) {
        return name;
    }
    std::wstring full(::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr), L'\0');
    if (full.empty()) {
        return name;
    }
    full.resize(
        ::GetFullPathNameW(text.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    if (full.size() + kTempRoom < MAX_PATH || full.rfind(LR"(\\.\)", 0) == 0) {
        return name; // short enough as it is, or a device such as \\.\NUL
    }
    if (full.rfind(LR"(\\)", 0) == 0) {
        return LR"(\\?\UNC\)" + full.substr(2); // \\server\share\...
    }
    return LR"(\\?\)" + full;
}

Mapping::~Mapping() = default;

Input::~Input() {
    if (handle_ != kNoHandle) {
        ::CloseHandle(asHandle(handle_));
    }
}

bool Input::open(const fs::path& name) {
    // A directory cannot be opened this way, which is what is wanted.
    handle_ = fromHandle(::CreateFileW(openablePath(name).c_str(), GENERIC_READ, kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (handle_ == kNoHandle) {
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(asHandle(handle_)) == FILE_TYPE_DISK &&
        ::GetFileSizeEx(asHandle(handle_), &size) != FALSE) {
        sizeHint_ = static_cast<std::uint64_t>(size.QuadPart);
    }
    return true;
}

bool Input::map(Mapping& /*into*/, const char* /*faultMessage*/) {
    return false; // reading is quick enough here, and a mapped file could not be replaced
}

std::ptrdiff_t Input::read(char* into, std::size_t size) {
    const DWORD step = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD got = 0;
    if (::ReadFile(asHandle(handle_), into, step, &got, nullptr) != FALSE) {
        return static_cast<std::ptrdiff_t>(got);
    }
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1; // a pipe's writer is done
}

Destination::~Destination() {
    if (handle_ != kNoHandle) {
        ::CloseHandle(asHandle(handle_));
    }
    if (!temp_.empty()) {
        ::DeleteFileW(temp_.c_str());
        pendingTemp = nullptr;
    }
}

bool Destination::open() {
    if (name_.empty()) {
        return false;
    }
    target_ = openablePath(name_);
    const DWORD attributes = ::GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return false;
    }
    // Refuse what cannot be opened for writing (a read-only file), without
    // truncating it; a device such as NUL is written directly.
    const HANDLE existing = ::CreateFileW(target_.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            return false;
        }
    } else if (::GetFileType(existing) != FILE_TYPE_DISK) {
        handle_ = fromHandle(existing);
        return true;
    } else {
        ::CloseHandle(existing);
        replacing_ = true;
    }
    syncable_ = true;

    fs::path temp;
    const HANDLE file = createTemp(target_, temp);
    if (file != INVALID_HANDLE_VALUE) {
        handle_ = fromHandle(file);
        temp_ = temp;
        pendingTemp = temp_.c_str();
        ::SetConsoleCtrlHandler(removePendingTemp, TRUE);
        return true;
    }
    if (replacing_ && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // The file is writable but its folder is not: write it in place.
        handle_ = fromHandle(::CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return handle_ != kNoHandle;
    }
    return false;
}

bool Destination::write(std::string_view bytes) {
    return writeAll(asHandle(handle_), bytes);
}

bool Destination::commit() {
    const HANDLE out = asHandle(handle_);
    bool ok = !syncable_ || ::FlushFileBuffers(out) != FALSE;
    handle_ = kNoHandle;
    ok = ::CloseHandle(out) != FALSE && ok;
    if (!ok || temp_.empty()) {
        return ok;
    }
    if (::MoveFileExW(temp_.c_str(), target_.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        return false;
    }
    pendingTemp = nullptr;
    temp_.clear();
    return true;
}

} // namespace quorvex
