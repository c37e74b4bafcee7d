#include "platform.h"

#include "explain.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool writeAll(HANDLE out, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD step =
            bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD done = 0;
        if (::WriteFile(out, bytes.data(), step, &done, nullptr) == FALSE) {
            return false;
        }
        if (done == 0) {
            ::SetLastError(ERROR_WRITE_FAULT); // no progress, and none to expect
            return false;
        }
        bytes.remove_prefix(done);
    }
    return true;
}

std::wstring widen(std::string_view text) {
    std::wstring wide(text.size(), L'\0'); // UTF-8 never takes fewer bytes than UTF-16 units
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

std::string narrow(std::wstring_view wide) {
    std::string text(wide.size() * 3, '\0');
    text.resize(static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                              static_cast<int>(text.size()), nullptr, nullptr)));
    return text;
}

// The system's own words for `error`, in the user's language.
std::string systemReason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring reason = length != 0 ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' ' || reason.back() == L'.')) {
        reason.pop_back();
    }
    return reason.empty() ? "error " + std::to_string(error) : narrow(reason);
}

// Notes that `verb` failed on `file`, for the last error's reason; returns
// false for the caller to pass on.
bool fail(const char* verb, const fs::path& file, const char* after = "") {
    const DWORD error = ::GetLastError();
    noteFailure(std::string(verb) + " " + quoted(file) + after, systemReason(error));
    return false;
}

bool failOpening(const fs::path& file) {
    return fail("open", file, " for writing");
}

// The temporary file being written, for removal when Ctrl-C or a closed
// console ends the run.
std::atomic<const wchar_t*> pendingTemp{nullptr};

BOOL WINAPI removePendingTemp(DWORD /*event*/) {
    const wchar_t* temp = pendingTemp.load();
    if (temp != nullptr) {
        ::DeleteFileW(temp);
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

void installSignalHandlers() {
    ::SetConsoleCtrlHandler(removePendingTemp, TRUE);
}

void writeConsole(std::FILE* out, std::string_view text) {
    (void)std::fwrite(text.data(), 1, text.size(), out); // a console's CR LF line ends
    (void)std::fflush(out);
}

void writeErrorLine(std::string_view line) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(err, &mode) != FALSE) {
        // A console shows UTF-16 whatever its code page.
        const std::wstring wide = widen(line) + L"\r\n";
        DWORD written = 0;
        (void)::WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        writeConsole(stderr, std::string(line) + "\n");
    }
}

struct Mapping::State {};

Mapping::Mapping() = default;
Mapping::~Mapping() = default;

std::string_view Mapping::view() const {
    return {};
}

struct Input::State {
    fs::path name;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint64_t size = 0; // of a file on disk
};

Input::Input() : state_(std::make_unique<State>()) {}

Input::~Input() {
    if (state_->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(state_->handle);
    }
}

bool Input::open(const fs::path& name) {
    State& in = *state_;
    in.name = name;
    // A directory cannot be opened this way, which is what is wanted.
    in.handle = ::CreateFileW(openablePath(name).c_str(), GENERIC_READ, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in.handle == INVALID_HANDLE_VALUE) {
        return fail("open", name, " for reading");
    }
    LARGE_INTEGER size{};
    if (::GetFileType(in.handle) == FILE_TYPE_DISK && ::GetFileSizeEx(in.handle, &size) != FALSE) {
        in.size = static_cast<std::uint64_t>(size.QuadPart);
    }
    return true;
}

std::uint64_t Input::sizeHint() const {
    return state_->size;
}

bool Input::map(Mapping& /*into*/, const char* /*faultMessage*/) {
    return false; // reading is quick enough here, and a mapped file could not be replaced
}

std::ptrdiff_t Input::read(char* into, std::size_t size) {
    const DWORD step = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD got = 0;
    if (::ReadFile(state_->handle, into, step, &got, nullptr) != FALSE) {
        return static_cast<std::ptrdiff_t>(got);
    }
    if (::GetLastError() == ERROR_BROKEN_PIPE) {
        return 0; // a pipe's writer is done
    }
    fail("read", state_->name);
    return -1;
}

struct Destination::State {
    fs::path name;   // as given
    fs::path target; // the name Windows opens
    fs::path temp;   // the temporary file; empty when writing target directly
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool syncable = false;  // a file on disk, so flush it before closing
    bool replacing = false; // target exists and is being replaced
};

Destination::Destination(fs::path name) : state_(std::make_unique<State>()) {
    state_->name = std::move(name);
}

Destination::~Destination() {
    State& d = *state_;
    if (d.handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(d.handle);
    }
    if (!d.temp.empty()) {
        ::DeleteFileW(d.temp.c_str());
        pendingTemp.store(nullptr);
    }
}

bool Destination::open(Mapping& /*source*/) {
    State& d = *state_;
    if (d.name.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return failOpening(d.name);
    }
    d.target = openablePath(d.name);
    const DWORD attributes = ::GetFileAttributesW(d.target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return failOpening(d.name);
    }
    // Refuse what cannot be opened for writing (a read-only file), without
    // truncating it; a device such as NUL is written directly.
    const HANDLE existing = ::CreateFileW(d.target.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            return failOpening(d.name);
        }
    } else if (::GetFileType(existing) != FILE_TYPE_DISK) {
        d.handle = existing;
        return true;
    } else {
        ::CloseHandle(existing);
        d.replacing = true;
    }
    d.syncable = true;

    fs::path temp;
    const HANDLE file = createTemp(d.target, temp);
    if (file != INVALID_HANDLE_VALUE) {
        d.handle = file;
        d.temp = temp;
        pendingTemp.store(d.temp.c_str());
        return true;
    }
    if (!d.replacing || ::GetLastError() != ERROR_ACCESS_DENIED) {
        return failOpening(d.name);
    }
    // The file is writable but its folder is not: write it in place.
    d.handle = ::CreateFileW(d.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return d.handle != INVALID_HANDLE_VALUE || failOpening(d.name);
}

bool Destination::write(std::string_view bytes) {
    return writeAll(state_->handle, bytes) || fail("write", state_->name);
}

bool Destination::commit() {
    State& d = *state_;
    const HANDLE out = d.handle;
    bool ok = !d.syncable || ::FlushFileBuffers(out) != FALSE || fail("write", d.name);
    d.handle = INVALID_HANDLE_VALUE;
    if (::CloseHandle(out) == FALSE && ok) {
        ok = fail("write", d.name);
    }
    if (!ok || d.temp.empty()) {
        return ok;
    }
    if (::MoveFileExW(d.temp.c_str(), d.target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        return fail("replace", d.name);
    }
    pendingTemp.store(nullptr);
    d.temp.clear();
    return true;
}

} // namespace quorvex
