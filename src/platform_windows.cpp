#include "platform.h"

#include "explain.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes a replaced file keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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
// console ends the run. Whoever takes the name out first owns the file.
std::atomic<const wchar_t*> pendingTemp{nullptr};

// Reset while a file is rewritten where it stands, so that Ctrl-C or a closed
// console waits until the file is whole again; set otherwise.
std::atomic<HANDLE> fileWhole{nullptr};

// Holds back the end of the run while it lives: the file being rewritten
// where it stands is not left half written.
class KeepWhole {
  public:
    KeepWhole() { (void)::ResetEvent(fileWhole.load()); }
    ~KeepWhole() { (void)::SetEvent(fileWhole.load()); }
    KeepWhole(const KeepWhole&) = delete;
    KeepWhole& operator=(const KeepWhole&) = delete;
};

BOOL WINAPI removePendingTemp(DWORD /*event*/) {
    const HANDLE whole = fileWhole.load();
    if (whole != nullptr) {
        (void)::WaitForSingleObject(whole, INFINITE);
    }
    const wchar_t* temp = pendingTemp.exchange(nullptr);
    if (temp != nullptr) {
        // The file is shared for deletion: it goes when the process's handle
        // closes, even while the run still writes it.
        ::DeleteFileW(temp);
    }
    return FALSE; // and let the process end as it would
}

// How long in all a file that another program holds is waited for: a virus
// scanner or an indexer looks at a new file for a moment.
constexpr DWORD kPatienceMs = 2000;

// Whether `error`, met on `file`, may end by itself when another program lets
// go of the file. Access is denied to a held file too, but for good to a
// read-only file or a folder.
bool mayPass(DWORD error, const fs::path& file) {
    bool passing = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        passing = attributes == INVALID_FILE_ATTRIBUTES ||
                  (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    }
    ::SetLastError(error);
    return passing;
}

// Runs `attempt` until it succeeds, tries it again after a growing pause while
// it fails in a way that may pass (see mayPass), and gives up after about
// kPatienceMs. The last error is that of the last attempt.
template <typename Attempt> bool patiently(const fs::path& file, Attempt attempt) {
    DWORD waited = 0;
    for (DWORD pause = 10;; pause = std::min<DWORD>(pause * 2, 250)) {
        if (attempt()) {
            return true;
        }
        if (waited >= kPatienceMs || !mayPass(::GetLastError(), file)) {
            return false;
        }
        const DWORD step = std::min(pause, kPatienceMs - waited);
        ::Sleep(step);
        waited += step;
    }
}

// Opens `file` as it exists, for `access`, sharing it with every other program.
HANDLE openExisting(const fs::path& file, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return ::CreateFileW(file.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The file `handle` is open on, with every link followed; empty if unknown.
fs::path finalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) {
            break;
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length); // the room needed, terminator included
    }
    return {};
}

// Creates a new file beside `target` under a name no other file has, open for
// writing it and reading it back. It is shared for deletion, which renaming
// it while it is open needs, and so that the console control handler can
// remove it.
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
        const HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Marks the file open as `handle` for deletion when it is closed.
bool removeOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove) !=
           FALSE;
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
    fileWhole.store(::CreateEventW(nullptr, TRUE, TRUE, nullptr)); // kept for the whole run
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
    fs::path target; // the name Windows opens: the file itself, links followed
    fs::path temp;   // the temporary file; empty when writing target directly
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool syncable = false;  // a file on disk, so flush it before closing
    bool replacing = false; // target exists and is being replaced
    DWORD kept = 0;         // the replaced file's attributes that its replacement keeps
    bool inPlace = false;   // the file itself is rewritten, from `records`, by commit()
    std::string records;    // all of them, when written in place

    // Rewrites the file in place with the records. Nothing of it changes
    // unless there is room for them all: what they need beyond the file's
    // present end is written first, and should that fail (a full disk), the
    // file is cut back to what it was. While the file is incomplete, Ctrl-C
    // waits until it is whole.
    bool rewrite() {
        LARGE_INTEGER present{};
        if (::GetFileSizeEx(handle, &present) == FALSE) {
            return false;
        }
        const auto old = static_cast<std::size_t>(present.QuadPart);
        const std::string_view all(records);
        const KeepWhole whole;
        if (all.size() > old && !writeAt(old, all.substr(old))) {
            const DWORD error = ::GetLastError();
            (void)(::SetFilePointerEx(handle, present, nullptr, FILE_BEGIN) != FALSE &&
                   ::SetEndOfFile(handle) != FALSE);
            ::SetLastError(error);
            return false;
        }
        return writeAt(0, all.substr(0, old)) && writeAt(all.size(), {}) &&
               ::SetEndOfFile(handle) != FALSE && ::FlushFileBuffers(handle) != FALSE;
    }

    // Writes `bytes` at `offset`, a step at a time, so that a stop signal
    // (as a test sends) can land in between; leaves the file pointer behind
    // them.
    bool writeAt(std::size_t offset, std::string_view bytes) const {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (::SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) == FALSE) {
            return false;
        }
        constexpr std::size_t kStep = std::size_t{1} << 20;
        for (std::size_t done = 0; done < bytes.size(); done += kStep) {
            if (!writeAll(handle, bytes.substr(done, kStep))) {
                return false;
            }
        }
        return true;
    }

    // Looks at what exists under the name: a folder or a read-only file is
    // refused without opening it, a device is opened to be written directly,
    // and a file is checked to be writable (without truncating it) once any
    // brief hold on it has passed. The same open finds the file itself, links
    // followed: the temporary file is made beside it, so that a link keeps
    // pointing to the replaced file. False when the destination is refused.
    bool inspect() {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return failOpening(name);
        }
        HANDLE existing = INVALID_HANDLE_VALUE;
        if (!patiently(target, [&] {
                existing = openExisting(target, GENERIC_WRITE);
                return existing != INVALID_HANDLE_VALUE;
            })) {
            return ::GetLastError() == ERROR_FILE_NOT_FOUND || failOpening(name);
        }
        if (::GetFileType(existing) != FILE_TYPE_DISK) { // a device such as NUL
            handle = existing;
            return true;
        }
        const fs::path file = finalPath(existing);
        ::CloseHandle(existing);
        if (!file.empty()) {
            target = file;
        }
        replacing = true;
        // The archive bit is set whatever it was: the content is new, and a
        // backup must see it, as it would after a write in place.
        const DWORD old = ::GetFileAttributesW(target.c_str());
        kept =
            FILE_ATTRIBUTE_ARCHIVE | (old != INVALID_FILE_ATTRIBUTES ? old & kKeptAttributes : 0);
        return true;
    }

    // Gives the temporary file the attributes the replaced file keeps; best
    // effort, as the content matters more.
    void keepAttributes() const {
        FILE_BASIC_INFO basic{}; // times of 0 stay as they are
        basic.FileAttributes = kept;
        (void)::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }

    // Renames the temporary file over the target, waiting out a brief hold
    // on either; false with the last error set when it cannot.
    bool replace() {
        if (!patiently(target, [&] {
                return ::MoveFileExW(temp.c_str(), target.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
            })) {
            return false;
        }
        pendingTemp.store(nullptr);
        temp.clear();
        ::CloseHandle(handle); // now the target's
        handle = INVALID_HANDLE_VALUE;
        return true;
    }

    // When another program holds the destination open, the rename cannot
    // replace it. If that program lets others write, the destination is
    // written directly from the finished temporary file, which is removed only
    // once that has succeeded; else the rename's failure (`error`) stands.
    bool writeDirectly(DWORD error) {
        HANDLE out = INVALID_HANDLE_VALUE;
        if (!patiently(target, [&] {
                out = openExisting(target, GENERIC_WRITE);
                return out != INVALID_HANDLE_VALUE;
            })) {
            ::SetLastError(error);
            return fail("replace", name);
        }
        if (pendingTemp.exchange(nullptr) == nullptr) { // Ctrl-C has removed it
            ::CloseHandle(out);
            ::SetLastError(ERROR_OPERATION_ABORTED);
            return fail("replace", name);
        }
        // From here on the temporary file may hold the only complete result:
        // whatever fails, it stays. Ctrl-C waits until the file is whole.
        temp.clear();
        const KeepWhole whole;
        LARGE_INTEGER start{};
        bool ok = ::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) != FALSE &&
                  ::SetEndOfFile(out) != FALSE;
        std::string buffer(std::size_t{64} * 1024, '\0');
        for (DWORD got = 1; ok && got != 0;) {
            ok = ::ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                            nullptr) != FALSE &&
                 writeAll(out, std::string_view(buffer.data(), got));
        }
        ok = (ok && ::FlushFileBuffers(out) != FALSE) || fail("write", name);
        if (::CloseHandle(out) == FALSE && ok) {
            ok = fail("write", name);
        }
        if (ok) {
            (void)removeOnClose(handle);
        }
        return ok;
    }
};

Destination::Destination(fs::path name) : state_(std::make_unique<State>()) {
    state_->name = std::move(name);
}

Destination::~Destination() {
    State& d = *state_;
    if (!d.temp.empty() && (d.handle == INVALID_HANDLE_VALUE || !removeOnClose(d.handle))) {
        ::DeleteFileW(d.temp.c_str());
    }
    if (d.handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(d.handle);
    }
    if (!d.temp.empty()) {
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
    if (!d.inspect()) {
        return false;
    }
    if (d.handle != INVALID_HANDLE_VALUE) {
        return true; // a device
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
    // The file is writable but its folder is not: it is rewritten in place,
    // the only way left, once all its records are made (the source has been
    // read whole).
    d.handle = openExisting(d.target, GENERIC_WRITE);
    if (d.handle == INVALID_HANDLE_VALUE) {
        return failOpening(d.name);
    }
    d.inPlace = true;
    return true;
}

bool Destination::write(std::string_view bytes) {
    State& d = *state_;
    if (d.inPlace) {
        d.records.append(bytes); // throws std::bad_alloc, with the file untouched
        return true;
    }
    return writeAll(d.handle, bytes) || fail("write", d.name);
}

bool Destination::commit() {
    State& d = *state_;
    if (!d.temp.empty()) {
        if (::FlushFileBuffers(d.handle) == FALSE) {
            return fail("write", d.name);
        }
        if (d.replacing) {
            d.keepAttributes();
        }
        if (d.replace()) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
            error != ERROR_ACCESS_DENIED) {
            return fail("replace", d.name);
        }
        return d.writeDirectly(error);
    }
    const HANDLE out = d.handle; // a device, or the file rewritten in place
    bool ok = (d.inPlace ? d.rewrite() : !d.syncable || ::FlushFileBuffers(out) != FALSE) ||
              fail("write", d.name);
    d.handle = INVALID_HANDLE_VALUE;
    if (::CloseHandle(out) == FALSE && ok) {
        ok = fail("write", d.name);
    }
    return ok;
}

} // namespace quorvex
