#include "platform.h"

#include "explain.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Notes that `verb` failed on `file`, for errno's reason; returns false for the
// caller to pass on.
bool fail(const char* verb, const fs::path& file, const char* after = "") {
    const int error = errno;
    noteFailure(std::string(verb) + " " + quoted(file) + after,
                std::generic_category().message(error));
    return false;
}

bool failOpening(const fs::path& file) {
    return fail("open", file, " for writing");
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The process's own descriptor that `name` stands for, /dev/fd/N,
// /proc/self/fd/N or /proc/thread-self/fd/N, where /dev/stdout and bash's
// >(...) lead; else -1.
int ownDescriptor(const fs::path& name) {
    const std::string digits = name.filename().string();
    if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1) ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const fs::path dir = name.parent_path();
    struct stat named {};
    if (::stat(dir.empty() ? "." : dir.c_str(), &named) != 0) {
        return -1;
    }
    struct stat own {};
    const bool listsOwn = (::stat("/proc/self/fd", &own) == 0 && sameFile(named, own)) ||
                          (::stat("/proc/thread-self/fd", &own) == 0 && sameFile(named, own));
    if (!listsOwn) {
        return -1;
    }
    int descriptor = 0;
    for (const char digit : digits) {
        descriptor = descriptor * 10 + (digit - '0');
    }
    return descriptor;
}

struct Resolved {
    fs::path path;       // the name with every symbolic link followed
    int descriptor = -1; // or the process's own descriptor it leads to
};

// Follows every symbolic link along the final component of `name`, so that a
// link keeps pointing to the file it names after that file is replaced; stops
// at one of the process's own descriptors, whose "links" lead nowhere a file
// could be made.
Resolved resolve(fs::path name) {
    for (int hop = 0; hop < 40; ++hop) {
        const int descriptor = ownDescriptor(name);
        if (descriptor >= 0) {
            return {name, descriptor};
        }
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            break;
        }
        std::string to(static_cast<std::size_t>(st.st_size) + 256, '\0');
        const ssize_t got = ::readlink(name.c_str(), to.data(), to.size());
        if (got < 0 || static_cast<std::size_t>(got) == to.size()) {
            break;
        }
        to.resize(static_cast<std::size_t>(got));
        const fs::path next(to);
        name = next.is_absolute() ? next : name.parent_path() / next;
    }
    return {name, -1};
}

bool writeAll(int out, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = ::write(out, bytes.data(), bytes.size());
        if (done > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(done));
        } else if (done == 0) {
            errno = EIO; // no progress, and none to expect
            return false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{out, POLLOUT, 0}; // a descriptor the caller made non-blocking
            (void)::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The temporary file being written, for the signal handlers to remove. Its
// name lives in the Destination until after the pointer is cleared.
std::atomic<const char*> pendingTemp{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "read from signal handlers");

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void removePendingTemp(int sig) {
    const char* temp = pendingTemp.load();
    if (temp != nullptr) {
        ::unlink(temp);
    }
    (void)std::raise(sig); // the handler is reset: the process ends as it would have
}

// Holds back the signals that end a run until released: they then take
// effect, with nothing left half done.
class SignalHold {
  public:
    SignalHold() = default;
    ~SignalHold() { release(); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

    void hold() {
        if (held_) {
            return;
        }
        sigset_t ending;
        ::sigemptyset(&ending);
        for (const int sig : kEndingSignals) {
            ::sigaddset(&ending, sig);
        }
        held_ = ::sigprocmask(SIG_BLOCK, &ending, &before_) == 0;
    }

    void release() {
        if (held_) {
            ::sigprocmask(SIG_SETMASK, &before_, nullptr);
            held_ = false;
        }
    }

  private:
    sigset_t before_{};
    bool held_ = false;
};

// What the handler of a fault in the mapped source writes, each text whole.
struct FaultTexts {
    std::string message;     // to standard output
    std::string explanation; // to standard error, perhaps empty
};
std::atomic<const FaultTexts*> sourceFault{nullptr};

void writeText(int out, const std::string& text) {
    if (!text.empty()) {
        const ssize_t ignored = ::write(out, text.data(), text.size()); // the status tells the rest
        (void)ignored;
    }
}

extern "C" void onSourceFault(int /*sig*/) {
    const char* temp = pendingTemp.load();
    if (temp != nullptr) {
        ::unlink(temp);
    }
    const FaultTexts* texts = sourceFault.load();
    if (texts != nullptr) {
        writeText(STDOUT_FILENO, texts->message);
        writeText(STDERR_FILENO, texts->explanation);
    }
    ::_exit(1);
}

// An append-only file can be neither replaced nor emptied; errno says so.
bool appendOnly(const fs::path& name) {
#ifdef STATX_ATTR_APPEND
    struct statx st {};
    if (::statx(AT_FDCWD, name.c_str(), 0, STATX_BASIC_STATS, &st) == 0 &&
        (st.stx_attributes & st.stx_attributes_mask & STATX_ATTR_APPEND) != 0) {
        errno = EPERM;
        return true;
    }
#else
    (void)name;
#endif
    return false;
}

unsigned newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

} // namespace

void installSignalHandlers() {
    // A closed pipe or a file-size limit then fails the write, which is reported.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (const int sig : {SIGPIPE, SIGXFSZ}) {
        ::sigaction(sig, &ignore, nullptr);
    }
    // A signal that is ignored (nohup) stays ignored.
    for (const int sig : kEndingSignals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            struct sigaction act {};
            act.sa_handler = removePendingTemp;
            act.sa_flags = static_cast<int>(SA_RESETHAND);
            ::sigaction(sig, &act, nullptr);
        }
    }
}

void writeConsole(std::FILE* out, std::string_view text) {
    (void)std::fflush(out);
    (void)writeAll(::fileno(out), text);
}

void writeErrorLine(std::string_view line) {
    writeConsole(stderr, std::string(line) + "\n");
}

struct Mapping::State {
    void* base = nullptr;
    std::size_t size = 0;
    bool fromFile = false; // else a private copy
    dev_t device = 0;      // the mapped file
    ino_t inode = 0;
    struct sigaction oldFaultAction {};
    FaultTexts fault;

    void unmap() {
        if (base == nullptr) {
            return;
        }
        if (fromFile) {
            // Faults elsewhere are no longer this file's.
            sourceFault.store(nullptr);
            ::sigaction(SIGBUS, &oldFaultAction, nullptr);
        }
        ::munmap(base, size);
        base = nullptr;
        size = 0;
        fromFile = false;
    }

    // Before the file behind `fd` is rewritten in place: if it is the mapped
    // file, whose mapping would show the new bytes or fault where the file was
    // cut, the bytes are first copied into memory of their own.
    void spare(int fd) {
        struct stat st {};
        if (!fromFile || ::fstat(fd, &st) != 0 || st.st_dev != device || st.st_ino != inode) {
            return;
        }
        void* copy =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (copy == MAP_FAILED) {
            throw std::bad_alloc();
        }
        std::memcpy(copy, base, size);
        const std::size_t copied = size;
        unmap();
        base = copy;
        size = copied;
    }
};

Mapping::Mapping() : state_(std::make_unique<State>()) {}

Mapping::~Mapping() {
    state_->unmap();
}

std::string_view Mapping::view() const {
    return {static_cast<const char*>(state_->base), state_->size};
}

struct Input::State {
    fs::path name;
    int fd = -1;
    std::uint64_t size = 0; // of a regular file
    dev_t device = 0;
    ino_t inode = 0;
};

Input::Input() : state_(std::make_unique<State>()) {}

Input::~Input() {
    if (state_->fd >= 0) {
        ::close(state_->fd);
    }
}

bool Input::open(const fs::path& name) {
    State& in = *state_;
    in.name = name;
    in.fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0) {
        return fail("open", name, " for reading");
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return fail("open", name, " for reading");
    }
    in.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    in.device = st.st_dev;
    in.inode = st.st_ino;
    return true;
}

std::uint64_t Input::sizeHint() const {
    return state_->size;
}

bool Input::map(Mapping& into, const char* faultMessage) {
    const State& in = *state_;
    if (in.size == 0 || in.size > SIZE_MAX) {
        return false;
    }
    const auto size = static_cast<std::size_t>(in.size);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE; // read it all now, in one go
#endif
    void* base = ::mmap(nullptr, size, PROT_READ, flags, in.fd, 0);
    if (base == MAP_FAILED) {
        return false;
    }
    Mapping::State& mapped = *into.state_;
    mapped.base = base;
    mapped.size = size;
    mapped.fromFile = true;
    mapped.device = in.device;
    mapped.inode = in.inode;
    mapped.fault.message = std::string(faultMessage) + "\n";
    mapped.fault.explanation = explanation("read " + quoted(in.name),
                                           "it was cut short, or its device failed, while read");
    if (!mapped.fault.explanation.empty()) {
        mapped.fault.explanation += "\n";
    }
    sourceFault.store(&mapped.fault);
    struct sigaction act {};
    act.sa_handler = onSourceFault;
    ::sigaction(SIGBUS, &act, &mapped.oldFaultAction);
    return true;
}

std::ptrdiff_t Input::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(state_->fd, into, size);
        if (got >= 0) {
            return got;
        }
        if (errno != EINTR) {
            fail("read", state_->name);
            return -1;
        }
    }
}

struct Destination::State {
    fs::path name;    // as given
    fs::path target;  // with symbolic links followed
    std::string temp; // the temporary file; empty when writing target directly
    int fd = -1;
    bool ownsFd = true;     // false for one of the process's own descriptors
    bool syncable = false;  // a regular file, so sync it before closing
    bool replacing = false; // target exists and is being replaced
    mode_t mode = 0;        // permission bits for the new file
    uid_t owner = 0;
    gid_t group = 0;
    bool inPlace = false; // the file itself is rewritten, from `records`, by commit()
    std::string records;  // all of them, when written in place

    // Writes through one of the process's own descriptors, as the caller set
    // it up: a pipe stays a pipe, and a file opened for appending is appended to.
    bool useDescriptor(int descriptor) {
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
            errno = EBADF;
            return failOpening(name);
        }
        struct stat st {};
        if (::fstat(descriptor, &st) != 0) {
            return failOpening(name);
        }
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return failOpening(name);
        }
        fd = descriptor;
        ownsFd = false;
        return true;
    }

    // Looks at what the target is: a folder is refused, a device or a pipe
    // opened to be written directly, and a file that the user could not open
    // for writing is refused without opening it (an open for writing alone
    // tells watchers the file was written). Else notes how to replace it.
    bool inspect() {
        struct stat st {};
        if (::stat(target.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                return failOpening(name);
            }
            mode = static_cast<mode_t>(newFileMode());
            syncable = true;
            return true;
        }
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return failOpening(name);
        }
        if (!S_ISREG(st.st_mode)) {
            fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
            return fd >= 0 || failOpening(name);
        }
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 || appendOnly(target)) {
            return failOpening(name);
        }
        replacing = true;
        syncable = true;
        mode = st.st_mode & 07777u;
        owner = st.st_uid;
        group = st.st_gid;
        return true;
    }

    // Makes the temporary file beside the target; false with errno set when
    // it cannot be made.
    bool makeTemp() {
        const fs::path dir = target.parent_path();
        std::string made = (dir.empty() ? fs::path(".") : dir) / ".quorvex-XXXXXX";
        // No signal may end the run between making the file and naming it to
        // the handlers that remove it.
        SignalHold naming;
        naming.hold();
        fd = ::mkostemp(made.data(), O_CLOEXEC);
        const int error = errno;
        if (fd >= 0) {
            temp = std::move(made);
            pendingTemp.store(temp.c_str());
        }
        naming.release();
        errno = error;
        return fd >= 0;
    }

    // Rewrites the file in place with the records. Nothing of it changes
    // unless there is room for them all: what they need beyond the file's
    // present end is written first, and should that fail (a full disk, a
    // quota, a file-size limit), the file is cut back to what it was. While
    // the file is incomplete, a signal waits until it is whole.
    bool rewrite() {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return false;
        }
        const auto present = static_cast<std::size_t>(st.st_size);
        const std::string_view all(records);
        SignalHold incomplete;
        incomplete.hold();
        if (all.size() > present && !writeAt(present, all.substr(present))) {
            const int error = errno;
            (void)::ftruncate(fd, st.st_size);
            errno = error;
            return false;
        }
        return writeAt(0, all.substr(0, present)) &&
               ::ftruncate(fd, static_cast<off_t>(all.size())) == 0 && ::fsync(fd) == 0;
    }

    // Writes `bytes` at `offset`, a step at a time, so that a stop signal
    // (as a test sends) can land in between.
    bool writeAt(std::size_t offset, std::string_view bytes) const {
        constexpr std::size_t kStep = std::size_t{1} << 20;
        for (std::size_t at = 0; at < bytes.size(); at += kStep) {
            if (::lseek(fd, static_cast<off_t>(offset + at), SEEK_SET) < 0 ||
                !writeAll(fd, bytes.substr(at, kStep))) {
                return false;
            }
        }
        return true;
    }
};

Destination::Destination(fs::path name) : state_(std::make_unique<State>()) {
    state_->name = std::move(name);
}

Destination::~Destination() {
    State& d = *state_;
    if (d.fd >= 0 && d.ownsFd) {
        ::close(d.fd);
    }
    if (!d.temp.empty()) {
        ::unlink(d.temp.c_str());
        pendingTemp.store(nullptr);
    }
}

bool Destination::open(Mapping& source) {
    State& d = *state_;
    if (d.name.empty()) {
        errno = ENOENT;
        return failOpening(d.name);
    }
    const Resolved resolved = resolve(d.name);
    d.target = resolved.path;
    if (resolved.descriptor >= 0) {
        if (!d.useDescriptor(resolved.descriptor)) {
            return false;
        }
        source.state_->spare(d.fd);
        return true;
    }
    if (!d.inspect()) {
        return false;
    }
    if (d.fd >= 0 || d.makeTemp()) {
        return true;
    }
    if (!d.replacing || (errno != EACCES && errno != EPERM)) {
        return failOpening(d.name);
    }
    // The file is writable but its folder is not: it is rewritten in place,
    // the only way left, once all its records are made. The source, which may
    // be this very file under any name, has then been read whole.
    d.fd = ::open(d.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (d.fd < 0) {
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
    return writeAll(d.fd, bytes) || fail("write", d.name);
}

bool Destination::commit() {
    State& d = *state_;
    const int out = d.fd;
    if (!d.temp.empty()) {
        // Best effort: a file system without owners or modes keeps its own.
        if (d.replacing && (d.owner != ::geteuid() || d.group != ::getegid()) &&
            ::fchown(out, d.owner, d.group) != 0) {
            (void)::fchown(out, static_cast<uid_t>(-1), d.group); // the group may be allowed
        }
        (void)::fchmod(out, d.mode);
    }
    bool ok = (d.inPlace ? d.rewrite() : !d.syncable || ::fsync(out) == 0) || fail("write", d.name);
    d.fd = -1;
    if (d.ownsFd && ::close(out) != 0 && ok) {
        ok = fail("write", d.name);
    }
    if (!ok || d.temp.empty()) {
        return ok;
    }
    if (::rename(d.temp.c_str(), d.target.c_str()) != 0) {
        return fail("replace", d.name);
    }
    pendingTemp.store(nullptr);
    d.temp.clear();
    // Make the rename itself durable; not every file system can sync a folder.
    const fs::path dir = d.target.parent_path();
    const int folder = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace quorvex
