#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

int fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// `name` with every symbolic link along its final component followed, so that
// a link keeps pointing to the file it names after that file is replaced.
fs::path followLinks(fs::path name) {
    for (int hop = 0; hop < 40; ++hop) {
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
    return name;
}

bool writeAll(int out, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = ::write(out, bytes.data(), bytes.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// The temporary file being written, for removal when the run is interrupted.
const char* volatile pendingTemp = nullptr;

extern "C" void removePendingTemp(int sig) {
    if (pendingTemp != nullptr) {
        ::unlink(pendingTemp);
    }
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
}

// What to say when a mapped source cannot be read any more.
const char* volatile sourceFaultMessage = nullptr;

extern "C" void onSourceFault(int /*sig*/) {
    if (pendingTemp != nullptr) {
        ::unlink(pendingTemp);
    }
    const char* message = sourceFaultMessage;
    if (message != nullptr && ::write(STDOUT_FILENO, message, std::strlen(message)) >= 0) {
        const ssize_t ignored = ::write(STDOUT_FILENO, "\n", 1); // the status tells the rest
        (void)ignored;
    }
    ::_exit(1);
}

// Ctrl-C, a closed terminal or a plain kill still leave no temporary file;
// a signal that is ignored (nohup) stays ignored.
void removeTempOnSignals() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            struct sigaction act {};
            act.sa_handler = removePendingTemp;
            ::sigaction(sig, &act, nullptr);
        }
    }
}

unsigned newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

} // namespace

Input::~Input() {
    if (handle_ >= 0) {
        ::close(fd(handle_));
    }
}

bool Input::open(const fs::path& name) {
    handle_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (handle_ < 0 || ::fstat(fd(handle_), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    sizeHint_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

Mapping::~Mapping() {
    if (base_ != nullptr) {
        ::munmap(base_, size_);
    }
}

bool Input::map(Mapping& into, const char* faultMessage) {
    if (sizeHint_ == 0 || sizeHint_ > SIZE_MAX) {
        return false;
    }
    const auto size = static_cast<std::size_t>(sizeHint_);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE; // read it all now, in one go
#endif
    void* base = ::mmap(nullptr, size, PROT_READ, flags, fd(handle_), 0);
    if (base == MAP_FAILED) {
        return false;
    }
    into.base_ = base;
    into.size_ = size;
    sourceFaultMessage = faultMessage;
    struct sigaction act {};
    act.sa_handler = onSourceFault;
    ::sigaction(SIGBUS, &act, nullptr);
    return true;
}

std::ptrdiff_t Input::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd(handle_), into, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

Destination::~Destination() {
    if (handle_ >= 0) {
        ::close(fd(handle_));
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        pendingTemp = nullptr;
    }
}

bool Destination::open() {
    if (name_.empty()) {
        return false;
    }
    target_ = followLinks(name_);
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: written directly, as it cannot be replaced.
            handle_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
            return handle_ >= 0;
        }
        // Refuse what the user could not open for writing, without truncating.
        const int probe = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (probe < 0) {
            return false;
        }
        ::close(probe);
        replacing_ = true;
        mode_ = st.st_mode & 07777u;
        owner_ = st.st_uid;
        group_ = st.st_gid;
    } else if (errno != ENOENT) {
        return false;
    } else {
        mode_ = newFileMode();
    }
    syncable_ = true;

    const fs::path dir = target_.parent_path();
    std::string temp = (dir.empty() ? fs::path(".") : dir) / ".quorvex-XXXXXX";
    handle_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (handle_ >= 0) {
        temp_ = temp;
        removeTempOnSignals();
        pendingTemp = temp_.c_str();
        return true;
    }
    if (replacing_ && (errno == EACCES || errno == EPERM)) {
        // The file is writable but its folder is not: write it in place.
        handle_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        return handle_ >= 0;
    }
    return false;
}

bool Destination::write(std::string_view bytes) {
    return writeAll(fd(handle_), bytes);
}

bool Destination::commit() {
    const int out = fd(handle_);
    bool ok = true;
    if (!temp_.empty()) {
        // Best effort: a file system without owners or modes keeps its own.
        if (replacing_ && (owner_ != ::geteuid() || group_ != ::getegid())) {
            (void)::fchown(out, owner_, group_);
        }
        (void)::fchmod(out, static_cast<mode_t>(mode_));
    }
    if (syncable_ && ::fsync(out) != 0) {
        ok = false;
    }
    handle_ = -1;
    if (::close(out) != 0) {
        ok = false;
    }
    if (!ok || temp_.empty()) {
        return ok;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        return false;
    }
    pendingTemp = nullptr;
    temp_.clear();
    // Make the rename itself durable; not every file system can sync a folder.
    const fs::path dir = target_.parent_path();
    const int folder = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace quorvex
