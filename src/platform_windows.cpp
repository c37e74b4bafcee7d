#include "platform.h"

#include <windows.h>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// GetLastError()'s codes in the rules' terms.
constexpr CodeKind kKinds[] = {
    {ERROR_PATH_NOT_FOUND, ErrorKind::NotFound}, {ERROR_FILE_NOT_FOUND, ErrorKind::NotFound},
    {ERROR_FILE_EXISTS, ErrorKind::Exists},      {ERROR_ACCESS_DENIED, ErrorKind::Denied},
    {ERROR_ACCESS_DENIED, ErrorKind::IsFolder}, // the usual code for it alone
    {ERROR_DISK_FULL, ErrorKind::NoRoom},        {ERROR_HANDLE_DISK_FULL, ErrorKind::NoRoom},
    {ERROR_SHARING_VIOLATION, ErrorKind::Busy},  {ERROR_LOCK_VIOLATION, ErrorKind::Busy},
    {ERROR_GEN_FAILURE, ErrorKind::Other},       {ERROR_OPERATION_ABORTED, ErrorKind::Cancelled},
};
// A file system that has no locks counts as locked; a pipe whose writer is
// done has simply ended.
constexpr CodeKind kCallKinds[] = {
    {ERROR_NOT_SUPPORTED, ErrorKind::None, Call::Lock},
    {ERROR_INVALID_FUNCTION, ErrorKind::None, Call::Lock},
    {ERROR_BROKEN_PIPE, ErrorKind::None, Call::Read},
};

} // namespace

Error systemError(Call call, std::uint32_t code) {
    return errorFrom(call, code, kCallKinds, kKinds);
}

Error lastError(Call call) {
    return systemError(call, ::GetLastError());
}

std::string systemReason(const Error& error) {
    const DWORD code = codeOf(error, kKinds);
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring reason = length != 0 ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    reason.erase(reason.find_last_not_of(L"\r\n .") + 1);
    return reason.empty() ? "error " + std::to_string(code) : narrow(reason);
}

namespace {

HANDLE handleOf(Handle file) {
    // A handle is a pointer on Windows; the layer above carries it as an integer.
    return reinterpret_cast<HANDLE>(file); // NOLINT(performance-no-int-to-ptr)
}

// Reset while signals are held, so that Ctrl-C or a closed console waits
// until the file being rewritten is whole again; set otherwise. Made with the
// system's primitives, before any can hold it.
std::atomic<HANDLE> fileWhole{nullptr};

BOOL WINAPI onConsoleEnd(DWORD /*event*/) {
    (void)::WaitForSingleObject(fileWhole.load(), INFINITE);
    const PendingFile* temp = removedOnSignal.exchange(nullptr);
    if (temp != nullptr) {
        // The file is shared for deletion: it goes when the process's handle
        // closes, even while the run still writes it.
        ::DeleteFileW(temp->path);
    }
    return FALSE; // and let the process end as it would
}

// The failure of a call on `file` that another program's hold may explain:
// access is denied to a held file too, but for good to a read-only file or
// a folder. A held file is Busy: patiently() tries again.
Error failureOn(const fs::path& file) {
    Error error = lastError();
    if (error.code == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0) {
            error.kind = ErrorKind::Busy;
        }
    }
    return error;
}

// The file `handle` is open on, with every link followed; empty if unknown.
fs::path finalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    if (length >= MAX_PATH) {
        path.resize(length); // the room needed, terminator included
        length = ::GetFinalPathNameByHandleW(handle, path.data(), length, FILE_NAME_NORMALIZED);
    }
    path.resize(length < path.size() ? length : 0);
    return path;
}

class WindowsSystem final : public System {
  public:
    WindowsSystem() {
        fileWhole.store(::CreateEventW(nullptr, TRUE, TRUE, nullptr)); // kept for the whole run
        ::SetConsoleCtrlHandler(onConsoleEnd, TRUE);
    }

    Error openSource(const fs::path& name, Handle& out, std::uint64_t& size) override {
        // A directory cannot be opened this way, which is what is wanted.
        const HANDLE file =
            ::CreateFileW(openablePath(name).c_str(), GENERIC_READ, kShareAll, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return lastError();
        }
        out = reinterpret_cast<Handle>(file);
        LARGE_INTEGER bytes{};
        const bool regular =
            ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &bytes) != FALSE;
        size = regular ? static_cast<std::uint64_t>(bytes.QuadPart) : 0;
        return {};
    }

    fs::path openable(const fs::path& name) override { return openablePath(name); }

    // A folder or a read-only file is told without opening it; a file is
    // opened for writing (without truncating it), which tells whether it may
    // be written and, links followed, which file it is: the temporary file is
    // made beside it, so that a link keeps pointing to the replaced file.
    // Names lead to no descriptor of the process here, and the system follows
    // links: this tells the file they lead to.
    Error examine(const fs::path& name, Examined& out) override {
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            out.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Examined::Kind::Folder
                                                                    : Examined::Kind::File;
            out.readOnly = out.kind == Examined::Kind::File;
            return {};
        }
        const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const Error error = failureOn(name);
            out.kind =
                error.code == ERROR_FILE_NOT_FOUND ? Examined::Kind::Missing : Examined::Kind::File;
            out.refusal = error.code == ERROR_FILE_NOT_FOUND ? Error{} : error;
            return {};
        }
        if (::GetFileType(file) != FILE_TYPE_DISK) { // a device such as NUL
            out.kind = Examined::Kind::Device;
            out.device = reinterpret_cast<Handle>(file);
            return {};
        }
        out.kind = Examined::Kind::File;
        out.file = finalPath(file);
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(file, &info) != FALSE) {
            out.keep.links = info.nNumberOfLinks;
        }
        ::CloseHandle(file);
        const DWORD old = ::GetFileAttributesW((out.file.empty() ? name : out.file).c_str());
        out.keep.attributes = old != INVALID_FILE_ATTRIBUTES ? old : 0;
        return {};
    }

    int patience() const override { return 2000; }
    // Names are joined to the folder's path, which openablePath has made long
    // enough for them (the default Folder). Reading is quick enough here, and
    // a mapped file could not be replaced (the default map()).

    // Open for writing it and reading it back, and shared for deletion, which
    // renaming it while it is open needs, and so that the console control
    // handler can remove it.
    Error createFile(const Folder& in, const fs::path& file, bool /*privately*/,
                     Handle& out) override {
        const HANDLE made =
            ::CreateFileW((in.path / file).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        out = reinterpret_cast<Handle>(made);
        return check(made != INVALID_HANDLE_VALUE);
    }

    // The file as it exists, shared with every other program.
    Error openFile(const Folder& in, const fs::path& file, bool forReading, Handle& out) override {
        const fs::path path = in.path / file;
        const HANDLE opened =
            ::CreateFileW(path.c_str(), forReading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                          kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        out = reinterpret_cast<Handle>(opened);
        return opened != INVALID_HANDLE_VALUE ? Error{} : failureOn(path);
    }

    Error lock(Handle file, bool exclusive) override {
        OVERLAPPED whole{};
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        return check(::LockFileEx(handleOf(file), flags, 0, MAXDWORD, MAXDWORD, &whole) != FALSE,
                     Call::Lock);
    }

    Error write(Handle file, std::string_view bytes, std::size_t& written) override {
        written = 0;
        while (!bytes.empty()) {
            const DWORD step =
                bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
            DWORD done = 0;
            if (::WriteFile(handleOf(file), bytes.data(), step, &done, nullptr) == FALSE) {
                return lastError();
            }
            if (done == 0) {
                return systemError(Call::Any, ERROR_WRITE_FAULT); // no progress, and none to expect
            }
            bytes.remove_prefix(done);
            written += done;
        }
        return {};
    }

    Error seek(Handle file, std::uint64_t offset) override {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        return check(::SetFilePointerEx(handleOf(file), at, nullptr, FILE_BEGIN) != FALSE);
    }

    Error read(Handle file, char* into, std::size_t size, std::size_t& got) override {
        const DWORD step = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        const bool ok = ::ReadFile(handleOf(file), into, step, &done, nullptr) != FALSE;
        got = done;
        return check(ok, Call::Read);
    }

    Error size(Handle file, std::uint64_t& bytes) override {
        LARGE_INTEGER size{};
        const bool ok = ::GetFileSizeEx(handleOf(file), &size) != FALSE;
        bytes = static_cast<std::uint64_t>(size.QuadPart);
        return check(ok);
    }

    Error truncate(Handle file, std::uint64_t bytes) override {
        const Error error = seek(file, bytes);
        return error ? error : check(::SetEndOfFile(handleOf(file)) != FALSE);
    }

    Error sync(Handle file) override { return check(::FlushFileBuffers(handleOf(file)) != FALSE); }

    Error close(Handle file) override { return check(::CloseHandle(handleOf(file)) != FALSE); }

    FileId id(Handle file) override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(handleOf(file), &info) == FALSE) {
            return {~std::uint64_t{0}, ~std::uint64_t{0}};
        }
        return {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    }

    Error setAttributes(Handle file, std::uint32_t attributes) override {
        FILE_BASIC_INFO basic{}; // times of 0 stay as they are
        basic.FileAttributes = attributes;
        return check(::SetFileInformationByHandle(handleOf(file), FileBasicInfo, &basic,
                                                  sizeof basic) != FALSE);
    }

    // A file that another program holds open cannot be renamed over: Busy.
    // Without MOVEFILE_WRITE_THROUGH, which would wait for the file system's
    // log as a folder's sync does (destination.cpp says why neither is).
    Error rename(const Folder& in, const fs::path& temp, const fs::path& target) override {
        const fs::path to = in.path / target;
        const bool moved =
            ::MoveFileExW((in.path / temp).c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        return moved ? Error{} : failureOn(to);
    }

    void remove(const Folder& in, const fs::path& file) override {
        ::DeleteFileW((in.path / file).c_str());
    }

    void holdSignals() override { (void)::ResetEvent(fileWhole.load()); }

    void releaseSignals() override { (void)::SetEvent(fileWhole.load()); }
};

} // namespace

// No signal is delivered to a thread here: a console's Ctrl-C comes on a
// thread of the system's own.
std::thread quietThread(std::function<void()> work) {
    return std::thread(std::move(work));
}

System& nativeSystem() {
    static WindowsSystem system;
    return system;
}

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

void writeConsole(std::FILE* out, std::string_view text) {
    (void)std::fwrite(text.data(), 1, text.size(), out); // a console's CR LF line ends
    (void)std::fflush(out);
}

// An unpaired surrogate, which NTFS allows in a name, becomes U+FFFD.
std::string displayName(const fs::path& name) {
    return narrow(name.native());
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

} // namespace quorvex
