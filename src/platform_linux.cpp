#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// errno in the rules' terms.
constexpr CodeKind kKinds[] = {
    {ENOENT, ErrorKind::NotFound}, {ENOTDIR, ErrorKind::NotFound},    {EEXIST, ErrorKind::Exists},
    {EACCES, ErrorKind::Denied},   {EPERM, ErrorKind::Denied},        {ENOSPC, ErrorKind::NoRoom},
    {EDQUOT, ErrorKind::NoRoom},   {EBUSY, ErrorKind::Busy},          {EAGAIN, ErrorKind::Busy},
    {EIO, ErrorKind::Other},       {ECANCELED, ErrorKind::Cancelled}, {EISDIR, ErrorKind::IsFolder},
};
// An OFD lock that another holds is Busy, EACCES as well as EAGAIN; a file
// system that has no locks counts as locked. Only its owner may rename a file
// in a sticky folder; a file mounted over a name (a container's file volume)
// cannot be renamed over: either may still be written.
constexpr CodeKind kCallKinds[] = {
    {EACCES, ErrorKind::Busy, Call::Lock},
    {ENOLCK, ErrorKind::None, Call::Lock},
    {EINVAL, ErrorKind::None, Call::Lock},
    {EOPNOTSUPP, ErrorKind::None, Call::Lock},
    {EPERM, ErrorKind::RenameRefused, Call::Rename},
    {EBUSY, ErrorKind::RenameRefused, Call::Rename},
};

Error errorOf(int code) {
    return systemError(Call::Any, static_cast<std::uint32_t>(code));
}

int fd(Handle file) {
    return static_cast<int>(file);
}

// What names in `in` are taken relative to.
int at(Handle folder) {
    return folder == kNoHandle ? AT_FDCWD : fd(folder);
}

Metadata metadataOf(const struct stat& st) {
    return {st.st_mode & 07777u, st.st_uid, st.st_gid, 0, static_cast<std::uint32_t>(st.st_nlink)};
}

// Writes all of `bytes`; `written` tells how many were, also on failure.
bool writeAll(int out, std::string_view bytes, std::size_t& written) {
    written = 0;
    while (!bytes.empty()) {
        const ssize_t done = ::write(out, bytes.data(), bytes.size());
        if (done > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(done));
            written += static_cast<std::size_t>(done);
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

// The signals a fault raises. Sent by another program (a watchdog,
// timeout -s ABRT, kill -ABRT for a core), each ends the run as any other
// does; raised by a fault of the program's own, it ends it at once. Holding
// them does not stop the kernel from delivering a real fault.
constexpr int kFaultSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGSYS, SIGTRAP};

// Every signal that ends the run by default: Ctrl-C and Ctrl-\, kill, a
// closed terminal, timers and limits (a CPU-time limit), the user's and the
// real-time signals, and the faults' when sent. SIGPIPE and SIGXFSZ are
// ignored, so that a write fails instead.
sigset_t endingSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                          SIGPROF, SIGXCPU, SIGIO, SIGPWR, SIGSTKFLT}) {
        ::sigaddset(&set, sig);
    }
    for (const int sig : kFaultSignals) {
        ::sigaddset(&set, sig);
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        ::sigaddset(&set, sig);
    }
    return set;
}

// The faults' signals that the caller ignored: sent, each stays ignored,
// as every other ignored signal does (see LinuxSystem). Set before any is
// handled.
bool ignoredAtStart[NSIG] = {};

std::atomic<const FaultTexts*> sourceFault{nullptr};
FaultTexts faultTexts; // of the one source mapped at a time

void writeText(int out, const std::string& text) {
    if (!text.empty()) {
        const ssize_t ignored = ::write(out, text.data(), text.size()); // the status tells the rest
        (void)ignored;
    }
}

// Removes the temporary file, if one is pending, and ends the run as the
// signal would have: the handler is reset, and the signal raised again comes
// once it returns. A fault of the program's own in its mapped source (cut
// short by another program, or its disk failing) is said as a read error.
extern "C" void onSignal(int sig, siginfo_t* info, void* /*context*/) {
    const bool sent = info->si_code <= 0 && info->si_pid != ::getpid();
    if (sent && ignoredAtStart[sig]) {
        return;
    }
    const FaultTexts* texts = sourceFault.load();
    const PendingFile* temp = removedOnSignal.exchange(nullptr);
    if (temp != nullptr) {
        ::unlinkat(at(temp->folder), temp->name, 0);
    }
    if (sig == SIGBUS && !sent && texts != nullptr) {
        writeText(STDOUT_FILENO, texts->message);
        writeText(STDERR_FILENO, texts->explanation);
        ::_exit(1);
    }
    struct sigaction act {};
    act.sa_handler = SIG_DFL;
    ::sigaction(sig, &act, nullptr);
    (void)std::raise(sig);
}

// An append-only file can be neither replaced nor emptied; an append-only
// folder lets no name in it be renamed or removed.
bool appendOnly(int dir, const char* name, int flags = 0) {
#ifdef STATX_ATTR_APPEND
    struct statx st {};
    return ::statx(dir, name, flags, STATX_BASIC_STATS, &st) == 0 &&
           (st.stx_attributes & st.stx_attributes_mask & STATX_ATTR_APPEND) != 0;
#else
    (void)dir, (void)name, (void)flags;
    return false;
#endif
}

class LinuxSystem final : public System {
  public:
    LinuxSystem() {
        // A closed standard descriptor would be the number of the next file
        // opened, and a message meant for it would land in that file: each is
        // kept open, on the null device if need be.
        for (int descriptor = 0; descriptor <= 2; ++descriptor) {
            if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
                closedAtStart_ |= 1u << descriptor;
                (void)::open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY); // the lowest free
            }
        }
        // A closed pipe or a file-size limit then fails the write, which is reported.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (const int sig : {SIGPIPE, SIGXFSZ}) {
            ::sigaction(sig, &ignore, nullptr);
        }
        // A signal that is ignored (nohup) stays ignored; a fault's is
        // handled whatever, to tell the program's own from a sent one.
        const sigset_t ending = endingSignals();
        for (int sig = 1; sig < NSIG; ++sig) {
            struct sigaction old {};
            if (::sigismember(&ending, sig) != 1 || ::sigaction(sig, nullptr, &old) != 0) {
                continue;
            }
            const bool fault =
                std::count(std::begin(kFaultSignals), std::end(kFaultSignals), sig) != 0;
            ignoredAtStart[sig] = fault && old.sa_handler == SIG_IGN;
            if (old.sa_handler != SIG_IGN || fault) {
                struct sigaction act {};
                act.sa_sigaction = onSignal;
                act.sa_flags = SA_SIGINFO;
                ::sigaction(sig, &act, nullptr);
            }
        }
    }

    Error openSource(const fs::path& name, Handle& out, std::uint64_t& size) override {
        const int file = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) {
            return lastError();
        }
        struct stat st {};
        Error error = check(::fstat(file, &st) == 0);
        if (!error && S_ISDIR(st.st_mode)) {
            error = errorOf(EISDIR);
        }
        if (error) {
            ::close(file);
            return error;
        }
        out = file;
        size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        return {};
    }

    bool map(Handle file, std::uint64_t size, const FaultTexts& fault,
             std::string_view& bytes) override {
        if (size == 0 || size > SIZE_MAX) {
            return false;
        }
        void* base = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ,
                            MAP_PRIVATE | MAP_POPULATE, fd(file), 0); // read it all now, in one go
        if (base == MAP_FAILED) {
            return false;
        }
        bytes = {static_cast<const char*>(base), static_cast<std::size_t>(size)};
        faultTexts = fault;
        sourceFault.store(&faultTexts);
        return true;
    }

    void unmap(std::string_view bytes) override {
        sourceFault.store(nullptr); // faults elsewhere are no longer this file's
        ::munmap(const_cast<char*>(bytes.data()), bytes.size());
    }

    bool listsOwnDescriptors(const fs::path& folder) override {
        std::error_code ignored;
        return fs::equivalent(folder, "/proc/self/fd", ignored) ||
               fs::equivalent(folder, "/proc/thread-self/fd", ignored);
    }

    Error look(const fs::path& name, bool follow, NameStatus& out) override {
        struct stat st {};
        if ((follow ? ::stat(name.c_str(), &st) : ::lstat(name.c_str(), &st)) != 0) {
            return lastError();
        }
        constexpr mode_t kShared = S_ISVTX | S_IWOTH;
        out.link = S_ISLNK(st.st_mode);
        out.sharedFolder = S_ISDIR(st.st_mode) && (st.st_mode & kShared) == kShared;
        out.owner = st.st_uid;
        if (out.link) {
            std::error_code error;
            out.target = fs::read_symlink(name, error);
            return error ? errorOf(error.value()) : Error{};
        }
        return {};
    }

    // A file that the user could not open for writing is refused without
    // opening it: an open for writing alone tells watchers the file was
    // written. An append-only file can be neither replaced nor emptied.
    Error examine(const fs::path& name, Examined& out) override {
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0) {
            return errno == ENOENT ? Error{} : lastError();
        }
        if (S_ISDIR(st.st_mode)) {
            out.kind = Examined::Kind::Folder;
        } else if (!S_ISREG(st.st_mode)) {
            out.kind = Examined::Kind::Device;
        } else {
            out.kind = Examined::Kind::File;
            out.refusal = check(::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0);
            if (!out.refusal && appendOnly(AT_FDCWD, name.c_str())) {
                out.refusal = errorOf(EPERM);
            }
            out.keep = metadataOf(st);
        }
        return {};
    }

    Error openDevice(const fs::path& name, Handle& out) override {
        out = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        return check(out >= 0);
    }

    std::uint32_t runner() override { return ::geteuid(); }

    // A standard descriptor that was closed is as closed as it was.
    Error useDescriptor(int descriptor, Handle& out) override {
        const bool closed = descriptor <= 2 && ((closedAtStart_ >> descriptor) & 1u) != 0;
        const int flags = closed ? -1 : ::fcntl(descriptor, F_GETFL);
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
            return errorOf(EBADF);
        }
        struct stat st {};
        if (::fstat(descriptor, &st) != 0) {
            return lastError();
        }
        if (S_ISDIR(st.st_mode)) {
            return errorOf(EISDIR);
        }
        out = descriptor;
        return {};
    }

    // A path alone: it serves to find names in, and opens where even the
    // folder's listing is not readable.
    Error openFolder(const fs::path& path, Folder& out) override {
        const int folder = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const Error error = check(folder >= 0);
        out = Folder{path, folder};
        return error;
    }

    void closeFolder(Folder& folder) override {
        if (folder.handle != kNoHandle) {
            ::close(fd(std::exchange(folder.handle, kNoHandle)));
        }
    }

    // A folder that is append-only takes a new file but lets none be renamed
    // or removed: none is made there, as it could not be committed or cleaned.
    Error createFile(const Folder& in, const fs::path& file, bool privately, Handle& out) override {
        if (appendOnly(at(in.handle), "", AT_EMPTY_PATH)) {
            return errorOf(EPERM);
        }
        out = ::openat(at(in.handle), file.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, privately ? 0600 : 0666);
        return check(out >= 0);
    }

    Error openFile(const Folder& in, const fs::path& file, bool forReading, Handle& out) override {
        const int flags = forReading ? O_RDONLY : O_RDWR | O_NOCTTY;
        out = ::openat(at(in.handle), file.c_str(), flags | O_CLOEXEC);
        return check(out >= 0);
    }

    // An open file description's lock (OFD), which a caller's flock(1) on
    // the same file does not meet.
    Error lock(Handle file, bool exclusive) override {
        struct flock whole {}; // from the start, to any end
        whole.l_type = exclusive ? F_WRLCK : F_RDLCK;
        whole.l_whence = SEEK_SET;
        int done = 0;
        while ((done = ::fcntl(fd(file), F_OFD_SETLK, &whole)) != 0 && errno == EINTR) {
        }
        return check(done == 0, Call::Lock);
    }

    Error write(Handle file, std::string_view bytes, std::size_t& written) override {
        return check(writeAll(fd(file), bytes, written));
    }

    Error seek(Handle file, std::uint64_t offset) override {
        return check(::lseek(fd(file), static_cast<off_t>(offset), SEEK_SET) >= 0);
    }

    Error read(Handle file, char* into, std::size_t size, std::size_t& got) override {
        ssize_t done = 0;
        while ((done = ::read(fd(file), into, size)) < 0 && errno == EINTR) {
        }
        got = done > 0 ? static_cast<std::size_t>(done) : 0;
        return check(done >= 0);
    }

    Error size(Handle file, std::uint64_t& bytes) override {
        struct stat st {};
        const Error error = check(::fstat(fd(file), &st) == 0);
        bytes = static_cast<std::uint64_t>(st.st_size);
        return error;
    }

    Error truncate(Handle file, std::uint64_t bytes) override {
        return check(::ftruncate(fd(file), static_cast<off_t>(bytes)) == 0);
    }

    Error space(Handle file, Space& out) override {
        constexpr decltype(statfs::f_type) kBtrfs = 0x9123683E;
        struct statfs fs {};
        if (::fstatfs(fd(file), &fs) != 0) {
            return lastError();
        }
        out = Space{fs.f_type == kBtrfs, static_cast<std::uint64_t>(fs.f_bavail) *
                                             static_cast<std::uint64_t>(fs.f_bsize)};
        return {};
    }

    Error reserve(Handle file, std::uint64_t offset, std::uint64_t bytes) override {
        return check(::fallocate(fd(file), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                                 static_cast<off_t>(bytes)) == 0);
    }

    Error sync(Handle file) override { return check(::fsync(fd(file)) == 0); }

    Error close(Handle file) override { return check(::close(fd(file)) == 0); }

    FileId id(Handle file) override {
        struct stat st {};
        if (::fstat(fd(file), &st) != 0) {
            return {~std::uint64_t{0}, ~std::uint64_t{0}};
        }
        return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }

    Error status(Handle file, Metadata& out) override {
        struct stat st {};
        const Error error = check(::fstat(fd(file), &st) == 0);
        out = metadataOf(st);
        return error;
    }

    Error setOwner(Handle file, std::uint32_t owner, std::uint32_t group) override {
        return check(::fchown(fd(file), owner, group) == 0);
    }

    Error setMode(Handle file, std::uint32_t mode) override {
        return check(::fchmod(fd(file), mode) == 0);
    }

    // Each name ends in a NUL; one that does not (the list changed in
    // between) ends the list.
    Error listAttributes(const fs::path& name, std::vector<std::string>& out) override {
        const ssize_t listed = ::listxattr(name.c_str(), nullptr, 0);
        std::string names(listed > 0 ? static_cast<std::size_t>(listed) : 0, '\0');
        if (!names.empty() && ::listxattr(name.c_str(), names.data(), names.size()) != listed) {
            return lastError();
        }
        for (std::size_t at = 0, end = 0; (end = names.find('\0', at)) != std::string::npos;
             at = end + 1) {
            out.push_back(names.substr(at, end - at));
        }
        return check(listed >= 0);
    }

    Error readAttribute(const fs::path& name, const std::string& attribute,
                        std::string& value) override {
        const ssize_t size = ::getxattr(name.c_str(), attribute.c_str(), nullptr, 0);
        value.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        return check(size >= 0 && ::getxattr(name.c_str(), attribute.c_str(), value.data(),
                                             value.size()) == size);
    }

    Error writeAttribute(Handle file, const std::string& attribute,
                         std::string_view value) override {
        return check(::fsetxattr(fd(file), attribute.c_str(), value.data(), value.size(), 0) == 0);
    }

    Error removeAttribute(Handle file, const std::string& attribute) override {
        return check(::fremovexattr(fd(file), attribute.c_str()) == 0);
    }

    Error rename(const Folder& in, const fs::path& temp, const fs::path& target) override {
        const int dir = at(in.handle);
        return check(::renameat(dir, temp.c_str(), dir, target.c_str()) == 0, Call::Rename);
    }

    void remove(const Folder& in, const fs::path& file) override {
        ::unlinkat(at(in.handle), file.c_str(), 0);
    }

    void holdSignals() override {
        const sigset_t ending = endingSignals();
        ::sigprocmask(SIG_BLOCK, &ending, &before_);
    }

    void releaseSignals() override { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }

  private:
    sigset_t before_{};
    unsigned closedAtStart_ = 0; // standard descriptors, a bit each
};

} // namespace

std::thread quietThread(std::function<void()> work) {
    const sigset_t ending = endingSignals();
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &ending, &before); // which the thread inherits
    struct Restore {
        const sigset_t& mask;
        ~Restore() { ::pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    return std::thread(std::move(work));
}

Error systemError(Call call, std::uint32_t code) {
    return errorFrom(call, code, kCallKinds, kKinds);
}

Error lastError(Call call) {
    return systemError(call, static_cast<std::uint32_t>(errno));
}

std::string systemReason(const Error& error) {
    return std::generic_category().message(static_cast<int>(codeOf(error, kKinds)));
}

System& nativeSystem() {
    static LinuxSystem system;
    return system;
}

void writeConsole(std::FILE* out, std::string_view text) {
    (void)std::fflush(out);
    std::size_t written = 0;
    (void)writeAll(::fileno(out), text, written);
}

std::string displayName(const fs::path& name) {
    return name.native(); // the bytes of the name, as the terminal shows them
}

void writeErrorLine(std::string_view line) {
    writeConsole(stderr, std::string(line) + "\n");
}

} // namespace quorvex
