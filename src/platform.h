// What a run needs from the operating system: the console, the source, and
// the primitives a destination is written with. platform_posix.cpp and
// platform_windows.cpp each define them for their system; the rules for
// using the primitives live once, above them, in destination.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

// A system error: errno, or GetLastError() on Windows. 0 is success.
using ErrorCode = std::uint32_t;

// The system's own words for `code`, in the user's language.
std::string systemReason(ErrorCode code);

// A step that failed: what was done to which file ("open 'fw.s19' for
// writing") and the system's words for why; perhaps what that left behind.
struct Failure {
    std::string doing;
    std::string reason;
    std::string aftermath; // "'fw.s37' is left incomplete ..."
};

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

// The source, open for reading bytes as they are stored.
class Input {
  public:
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // 0, or why the file cannot be opened: missing, not permitted, a directory.
    ErrorCode open(const std::filesystem::path& name);
    // A regular file's size, as a first guess of how much there is; else 0.
    std::uint64_t sizeHint() const { return size_; }
    // The file open, for telling whether a destination is the same file.
    FileId id() const { return id_; }
    // Maps a regular, non-empty file whole, which spares copying it; false
    // when it cannot be mapped and must be read. Should another program cut
    // the file short while it is mapped, or its disk fail, touching the lost
    // part writes `message` to standard output and `explanation` (if any) to
    // standard error, each whole, and ends the process with status 1, after
    // removing any temporary file.
    bool map(const std::string& message, const std::string& explanation);
    // The mapped bytes, which stay after close(); empty when nothing is mapped.
    std::string_view mapped() const { return mapped_; }
    void unmap();
    // Reads up to `size` bytes into `into`, setting `got` (0 at the end).
    ErrorCode read(char* into, std::size_t size, std::size_t& got);
    // Waits, a while, for a run that rewrites the file in place to finish:
    // what is read then is whole. Past the wait it is read all the same.
    void waitForWriters();
    // Lets go of the file; a mapping stays.
    void close();

  private:
    std::intptr_t handle_ = -1;
    std::uint64_t size_ = 0;
    FileId id_;
    std::string_view mapped_;
};

// The temporary file that a signal ending the run removes, if any. Whoever
// takes the name out first owns the file.
extern std::atomic<const std::filesystem::path::value_type*> pendingTemp;

// An open file, descriptor or device, as the system numbers it.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// What a destination's name leads to.
struct Target {
    std::filesystem::path file; // the name to open, with symbolic links followed
    int descriptor = -1;        // or one of the process's own descriptors it names
};

// What the metadata of a new or replaced file is to be.
struct Metadata {
    std::uint32_t mode = 0; // permission bits (POSIX)
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t attributes = 0; // attributes kept (Windows)
};

// What stands under a destination's name before the run writes it.
struct Existing {
    enum class Kind { Missing, File, Device };
    Kind kind = Kind::Missing;
    Handle device = kNoHandle; // a Device, opened for writing
    Metadata keep;             // what the new file takes
};

// The primitives a destination is written with. Each is one system call, or
// a few that belong together; none decides what to do when it fails.
// Signals: between holdSignals() and releaseSignals(), a signal that ends the
// run (Ctrl-C, a kill, a closed terminal) waits; whenever it comes, it
// removes the file named by pendingTemp.
class System {
  public:
    virtual ~System() = default;

    // Where a destination's name leads: its file, links followed, or a
    // descriptor of the process's own.
    virtual ErrorCode resolve(const std::filesystem::path& name, Target& to) = 0;
    // Writes through one of the process's own descriptors, as the caller set
    // it up; refused if it is open only for reading or is a folder.
    virtual ErrorCode useDescriptor(int descriptor, Handle& out) = 0;
    // Looks at what stands under `target` without writing it: a folder or a
    // file the user may not write is refused, a device is opened for writing.
    // May set `target.file` to the file itself.
    virtual ErrorCode inspect(Target& target, Existing& found) = 0;
    // Makes `file`, which must not exist yet, open for writing, as any
    // program makes a file (the umask or the folder's default ACL applies),
    // or `privately`, for its owner alone.
    virtual ErrorCode createFile(const std::filesystem::path& file, bool privately,
                                 Handle& out) = 0;
    // Opens an existing file for reading and writing in place, or,
    // `forReading`, for reading alone.
    virtual ErrorCode openFile(const std::filesystem::path& file, bool forReading, Handle& out) = 0;
    // Takes a lock on an open file, `exclusive` or shared, kept until the
    // file is closed; `busy` when another holds one that excludes it. A file
    // system that has no locks counts as locked.
    virtual ErrorCode lock(Handle file, bool exclusive, bool& busy) = 0;
    // Writes where the file stands; `written` tells how much reached the
    // file, also when the rest failed.
    virtual ErrorCode write(Handle file, std::string_view bytes, std::size_t& written) = 0;
    // Moves a file's position for the next write to `offset`.
    virtual ErrorCode seek(Handle file, std::uint64_t offset) = 0;
    virtual ErrorCode read(Handle file, char* into, std::size_t size, std::size_t& got) = 0;
    virtual ErrorCode size(Handle file, std::uint64_t& bytes) = 0;
    virtual ErrorCode truncate(Handle file, std::uint64_t bytes) = 0;
    // Whether `bytes` may be written over a file's old bytes: a file system
    // that copies on write needs room even for that, and as much again to
    // put the old bytes back.
    virtual ErrorCode roomToOverwrite(Handle file, std::uint64_t bytes) = 0;
    // Makes what was written durable.
    virtual ErrorCode sync(Handle file) = 0;
    virtual ErrorCode close(Handle file) = 0;
    virtual FileId id(Handle file) = 0;
    // Gives the file that replaces `old` the metadata it keeps: owner, group,
    // permissions, access ACL and user attributes, or attributes on Windows.
    // Best effort, as the content matters more, but for the group: if it
    // cannot be kept, the group loses its permissions and the error says so.
    virtual ErrorCode setMetadata(Handle file, const std::filesystem::path& old,
                                  const Metadata& keep) = 0;
    // Renames `temp` over `target` and makes that durable, waiting out a brief
    // hold on either by another program.
    virtual ErrorCode replace(const std::filesystem::path& temp,
                              const std::filesystem::path& target) = 0;
    virtual void remove(const std::filesystem::path& file) = 0;
    // Not nested: one span at a time.
    virtual void holdSignals() = 0;
    virtual void releaseSignals() = 0;

    // Whether makeTemp() failed because the folder refuses new files, while
    // an existing, writable file in it may still be rewritten in place.
    virtual bool folderRefuses(ErrorCode error) const = 0;
    // Whether createFile() failed because the file exists.
    virtual bool exists(ErrorCode error) const = 0;
    // Whether an error says the disk (or a quota, or the inodes) is full.
    virtual bool noRoom(ErrorCode error) const = 0;
    // Whether replace() failed because the file cannot be renamed over, while
    // it may still be written directly.
    virtual bool renameRefused(ErrorCode error) const = 0;
    // The error of a destination with an empty name.
    virtual ErrorCode noSuchFile() const = 0;
    // The error of a step that a signal cut short.
    virtual ErrorCode cancelled() const = 0;
    virtual std::string reason(ErrorCode error) const { return systemReason(error); }
};

// How long a lock that another run holds is waited for.
inline constexpr int kLockSeconds = 10;

// Locks `file` (see System::lock), waiting up to kLockSeconds for another run
// that holds it: 0, or the error; `busy` when another still held it then.
ErrorCode lockPatiently(System& system, Handle file, bool exclusive, bool& busy);

// The running system's primitives. The first call prepares the process,
// before any file is opened: a write to a closed pipe or past a file-size
// limit fails instead of ending the process, and the signals that end a run
// are handled as System describes. Holding signals needs that preparation,
// which is why they are held only through this object.
System& nativeSystem();

} // namespace quorvex
