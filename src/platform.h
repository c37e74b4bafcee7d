// What a run needs from the operating system: the console, and the
// primitives its source is read and its destination written with.
// platform_linux.cpp and platform_windows.cpp each define them for their
// system; the rules for using them live once, above them: source.cpp,
// temp_file.cpp and destination.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quorvex {

// Why a primitive failed, in the terms the rules above the systems read.
// Each system turns its own codes into these where it calls the system.
enum class ErrorKind {
    None,
    NotFound,      // no such file or folder
    Exists,        // a file of that name exists
    Denied,        // not permitted: a folder that takes no new file, a file not writable
    IsFolder,      // a folder, where a file is wanted
    NoRoom,        // the disk, a quota or the inodes are full
    Busy,          // locked, or held open, by another program or run
    RenameRefused, // the file may not be renamed over, though it may be written
    Cancelled,     // a signal cut the step short
    Other,
};

// A failure: its kind, and the system's own code (errno, or GetLastError()
// on Windows) for the message; a code of 0 stands for the kind's usual one.
struct Error {
    ErrorKind kind = ErrorKind::None;
    std::uint32_t code = 0;
    explicit operator bool() const { return kind != ErrorKind::None; }
};

// The calls whose codes a system reads its own way.
enum class Call { Any, Lock, Rename, Read };

// A code of the system's and the kind it is, in `call`. Each system lists its
// codes in one table, kKinds, and those that a call reads its own way in
// another, kCallKinds, which is read first. The first code kKinds lists for a
// kind is the kind's usual code: the one a message shows where a rule of the
// program's own refuses (an Error with a kind and no code), and Other's for a
// kind it does not list.
struct CodeKind {
    std::uint32_t code;
    ErrorKind kind;
    Call call = Call::Any;
};

// `code`, met in `call`, as an Error: 0 is none; a code that neither table
// lists is Other.
template <std::size_t M, std::size_t N>
Error errorFrom(Call call, std::uint32_t code, const CodeKind (&calls)[M],
                const CodeKind (&kinds)[N]) {
    for (const CodeKind& known : calls) {
        if (known.call == call && known.code == code) {
            return {known.kind, code};
        }
    }
    for (const CodeKind& known : kinds) {
        if (known.code == code) {
            return {known.kind, code};
        }
    }
    return {code == 0 ? ErrorKind::None : ErrorKind::Other, code};
}

// The code `error` stands for: its own, or its kind's usual one in `kinds`.
template <std::size_t N> std::uint32_t codeOf(const Error& error, const CodeKind (&kinds)[N]) {
    if (error.code != 0) {
        return error.code;
    }
    for (const ErrorKind kind : {error.kind, ErrorKind::Other}) {
        for (const CodeKind& known : kinds) {
            if (known.kind == kind) {
                return known.code;
            }
        }
    }
    return 0;
}

// A code of this system's, met in `call`, as an Error: its tables, which its
// primitives read too.
Error systemError(Call call, std::uint32_t code);

// For the primitives: the code of the system's call that failed last (errno,
// or GetLastError()), met in `call`, as an Error; and that error unless
// `done`, a call's result, says it succeeded.
Error lastError(Call call = Call::Any);
inline Error check(bool done, Call call = Call::Any) {
    return done ? Error{} : lastError(call);
}

// The system's own words for `error`, in the user's language.
std::string systemReason(const Error& error);

#ifdef _WIN32
// `name` in the extended form \\?\C:\... (or \\?\UNC\server\...) when its full
// path, or that of a temporary file beside it, reaches MAX_PATH: the only form
// in which Windows opens such paths. Shorter names and devices are returned
// as they are.
std::filesystem::path openablePath(const std::filesystem::path& name);
#endif

// Writes console text to `out` whole and at once, also when the caller left
// its descriptor non-blocking. A console that cannot take it is no failure of
// the run: the status tells the outcome.
void writeConsole(std::FILE* out, std::string_view text);

// `name` as UTF-8 for a message; what cannot be shown (a name that is not
// valid UTF-16 on Windows) is shown as replacement characters.
std::string displayName(const std::filesystem::path& name);

// Writes one line of UTF-8 text to standard error.
void writeErrorLine(std::string_view line);

// Which file an open descriptor or handle is on: device and inode, or the
// volume and file index on Windows.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId& other) const {
        return volume == other.volume && index == other.index;
    }
};

// What is said should a mapped source fault: cut short by another program,
// or its disk failing. Each text is written whole.
struct FaultTexts {
    std::string message;     // to standard output
    std::string explanation; // to standard error, perhaps empty
};

// An open file, descriptor or device, as the system numbers it.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// What a destination's name leads to.
struct Target {
    std::filesystem::path file; // the name to open, with symbolic links followed
    int descriptor = -1;        // or one of the process's own descriptors it names
};

// A folder in which files are made, opened, renamed and removed by their
// names within it, so that the length of its own path does not count
// against them. Linux holds it open; Windows, whose long paths take the
// extended form (openablePath), joins the names to its path. The default
// Folder is the current one.
struct Folder {
    std::filesystem::path path;
    Handle handle = kNoHandle;
};

// A temporary file that a signal ending the run removes: Linux removes its
// name within its folder's handle, which any length of path allows; Windows
// removes it by its whole name.
struct PendingFile {
    Handle folder;                                 // a Folder's handle
    const std::filesystem::path::value_type* name; // within that folder
    const std::filesystem::path::value_type* path; // whole
};

// The temporary file that a signal ending the run removes, if any: set and
// taken by TempFile alone, read by the systems' signal handlers. Whoever
// takes it out first owns the file.
extern std::atomic<const PendingFile*> removedOnSignal;

// What the metadata of a new or replaced file is to be.
struct Metadata {
    std::uint32_t mode = 0; // permission bits (POSIX)
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t attributes = 0; // file attributes (Windows)
    std::uint32_t links = 1;      // names of the file: a replacement would part them
};

// What a name is, a symbolic link not followed.
struct NameStatus {
    bool link = false;            // a symbolic link
    bool sharedFolder = false;    // a folder with the sticky bit that anyone may write to
    std::uint32_t owner = 0;      // the owner of the name itself
    std::filesystem::path target; // where a link points, as it says
};

// What stands under a destination's name, links followed, as writing it
// would find it.
struct Examined {
    enum class Kind { Missing, Folder, File, Device };
    Kind kind = Kind::Missing;
    bool readOnly = false;      // a File marked read-only, which no one may write
    Error refusal;              // of a File, the system's word against writing it,
                                // if any; Busy: another program holds it for now
    Metadata keep;              // of a File: what a file that replaces it takes
    std::filesystem::path file; // the file itself, where the system tells it
    Handle device = kNoHandle;  // a Device the system opened for writing to tell it
};

// What a file's disk offers a rewrite where it stands.
struct Space {
    bool copiesOnWrite = false; // even an overwrite takes room (btrfs)
    std::uint64_t free = 0;     // bytes the runner may still take, as the disk counts them
};

// The primitives a run reads its source and writes its destination with.
// Each is one system call, or a few that belong together; none decides what
// to do when it fails, and each fails with an Error. Those with a default
// (platform.cpp) do what a system that lacks the facility does: no mapping,
// no links or descriptors by name, no room to set aside, no owners, modes or
// extended attributes to keep, no waiting for a held file.
// Signals: between holdSignals() and releaseSignals(), a signal that ends the
// run (Ctrl-C, a kill, a closed terminal) waits; whenever it comes, it
// removes the file named by removedOnSignal.
class System {
  public:
    virtual ~System() = default;

    // Opens a source for reading; a folder is refused. `size` is a regular
    // file's size, as a first guess of how much there is; else 0.
    virtual Error openSource(const std::filesystem::path& name, Handle& out,
                             std::uint64_t& size) = 0;
    // Maps `size` bytes of a regular file, which spares copying them; false
    // when it cannot be mapped and must be read. The mapping outlives the
    // handle. Should the file be cut short while mapped, or its disk fail,
    // touching the lost part writes `fault`, removes the temporary file and
    // ends the process with status 1.
    virtual bool map(Handle file, std::uint64_t size, const FaultTexts& fault,
                     std::string_view& bytes);
    virtual void unmap(std::string_view bytes);

    // What a destination's name leads to (target.h decides what of it is
    // followed and written): the name in the form the system opens it in;
    // what it is, `follow`ing a symbolic link or not; what
    // stands under it; a device under it, opened for writing; and whose the
    // run is.
    virtual std::filesystem::path openable(const std::filesystem::path& name);
    virtual bool listsOwnDescriptors(const std::filesystem::path& folder);
    virtual Error look(const std::filesystem::path& name, bool follow, NameStatus& out);
    virtual Error examine(const std::filesystem::path& name, Examined& out) = 0;
    virtual Error openDevice(const std::filesystem::path& name, Handle& out);
    virtual std::uint32_t runner();
    // Writes through one of the process's own descriptors, as the caller set
    // it up; refused if it is open only for reading or is a folder.
    virtual Error useDescriptor(int descriptor, Handle& out);
    // Opens `path` as a Folder, kept until closeFolder().
    virtual Error openFolder(const std::filesystem::path& path, Folder& out);
    virtual void closeFolder(Folder& folder);
    // Makes `file` in `in`, which must not exist yet (else Exists), open for
    // writing, as any program makes a file (the umask or the folder's default
    // ACL applies), or `privately`, for its owner alone. Denied: the folder
    // takes no new file.
    virtual Error createFile(const Folder& in, const std::filesystem::path& file, bool privately,
                             Handle& out) = 0;
    // Opens an existing file in `in` for reading and writing in place, or,
    // `forReading`, for reading alone.
    virtual Error openFile(const Folder& in, const std::filesystem::path& file, bool forReading,
                           Handle& out) = 0;
    // Takes a lock on an open file, `exclusive` or shared, kept until the
    // file is closed; Busy when another holds one that excludes it. A file
    // system that has no locks counts as locked.
    virtual Error lock(Handle file, bool exclusive) = 0;
    // Writes where the file stands; `written` tells how much reached the
    // file, also when the rest failed.
    virtual Error write(Handle file, std::string_view bytes, std::size_t& written) = 0;
    // Moves a file's position for the next write to `offset`.
    virtual Error seek(Handle file, std::uint64_t offset) = 0;
    virtual Error read(Handle file, char* into, std::size_t size, std::size_t& got) = 0;
    virtual Error size(Handle file, std::uint64_t& bytes) = 0;
    virtual Error truncate(Handle file, std::uint64_t bytes) = 0;
    // What the disk that holds `file` offers.
    virtual Error space(Handle file, Space& out);
    // Sets `bytes` of room aside for `file` from `offset` on, without
    // changing its size: NoRoom where the disk or a quota has less. A file
    // system that cannot set room aside says Other.
    virtual Error reserve(Handle file, std::uint64_t offset, std::uint64_t bytes);
    // Makes what was written durable.
    virtual Error sync(Handle file) = 0;
    virtual Error close(Handle file) = 0;
    virtual FileId id(Handle file) = 0;
    // What a replaced file keeps (keep.h decides, these only apply it):
    // the metadata a file has now; its owner and group; its permission bits;
    // the extended attributes of a file by name (its ACLs among them), one's
    // value, and one written or removed; its file attributes (Windows). A
    // system that has none of a kind lists none and keeps none.
    virtual Error status(Handle file, Metadata& out);
    virtual Error setOwner(Handle file, std::uint32_t owner, std::uint32_t group);
    virtual Error setMode(Handle file, std::uint32_t mode);
    virtual Error listAttributes(const std::filesystem::path& name, std::vector<std::string>& out);
    virtual Error readAttribute(const std::filesystem::path& name, const std::string& attribute,
                                std::string& value);
    virtual Error writeAttribute(Handle file, const std::string& attribute, std::string_view value);
    virtual Error removeAttribute(Handle file, const std::string& attribute);
    virtual Error setAttributes(Handle file, std::uint32_t attributes);
    // Renames `temp` over `target`, both names within `in`, without syncing
    // the folder (destination.cpp says why). RenameRefused: the target may
    // still be written directly; Busy: another program holds either for now.
    virtual Error rename(const Folder& in, const std::filesystem::path& temp,
                         const std::filesystem::path& target) = 0;
    virtual void remove(const Folder& in, const std::filesystem::path& file) = 0;
    // Not nested: one span at a time.
    virtual void holdSignals() = 0;
    virtual void releaseSignals() = 0;

    // Waits `milliseconds`.
    virtual void pause(int milliseconds);
    // How long, in milliseconds, a file that another program holds is waited
    // for (see patiently()).
    virtual int patience() const { return 0; }

    virtual std::string reason(const Error& error) const { return systemReason(error); }
};

// Holds back the signals that end a run while it lives: they then take
// effect, with nothing left half done.
class SignalHold {
  public:
    explicit SignalHold(System& system) : system_(system) { system_.holdSignals(); }
    ~SignalHold() { system_.releaseSignals(); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

  private:
    System& system_;
};

// Starts `work` on a thread of its own, to which no signal that ends a run
// is delivered: each comes to the main thread, which holds them when it
// must (see SignalHold). Throws std::system_error when no thread can start.
std::thread quietThread(std::function<void()> work);

// Closes a handle when it goes, also when an exception passes.
class Closing {
  public:
    Closing(System& system, Handle file) : system_(system), file_(file) {}
    ~Closing() { (void)close(); }
    Closing(const Closing&) = delete;
    Closing& operator=(const Closing&) = delete;

    // Closes it now, once.
    Error close() {
        const Handle file = file_;
        file_ = kNoHandle;
        return file == kNoHandle ? Error{} : system_.close(file);
    }

  private:
    System& system_;
    Handle file_;
};

// Tries `attempt` until it succeeds, and again after a growing pause while
// it fails because another program holds the file (Busy), for about
// system.patience() milliseconds in all: a virus scanner or an indexer looks
// at a new file for a moment. The error is that of the last attempt.
template <class Attempt> Error patiently(System& system, Attempt attempt) {
    int waited = 0;
    for (int pause = 10;; pause = pause < 125 ? pause * 2 : 250) {
        const Error error = attempt();
        if (error.kind != ErrorKind::Busy || waited >= system.patience()) {
            return error;
        }
        const int step = pause < system.patience() - waited ? pause : system.patience() - waited;
        system.pause(step);
        waited += step;
    }
}

// System::openFile, patiently.
Error openPatiently(System& system, const Folder& in, const std::filesystem::path& file,
                    bool forReading, Handle& out);

// Reads all of `file`, from where it stands, into `into`. Throws
// std::bad_alloc.
Error readWhole(System& system, Handle file, std::string& into);

// How long a run waits, in all, for locks that another run holds: one
// budget for the source's lock and the destination's.
class LockWait {
  public:
    static constexpr int kSeconds = 10;
    static constexpr int kPauseMs = 20;

    explicit LockWait(int seconds = kSeconds) : pausesLeft_(seconds * 1000 / kPauseMs) {}
    // Waits kPauseMs before a busy lock is tried again; false, without
    // waiting, once the budget is spent.
    bool pause(System& system);
    int seconds() const { return kSeconds; }

  private:
    int pausesLeft_;
};

// Locks `file` (see System::lock), waiting for another run that holds it as
// long as `wait` lets it: Busy when another still held it.
Error lockPatiently(System& system, Handle file, bool exclusive, LockWait& wait);

// The running system's primitives, for the composition root alone (run()).
// The first call prepares the process, before any file is opened: a write to a closed pipe or past
// a file-size limit fails instead of ending the process, and the signals that end a run are handled
// as System describes. Holding signals needs that preparation, which is why they are held only
// through this object.
System& nativeSystem();

} // namespace quorvex
