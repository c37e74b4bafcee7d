// Runs one command once and prints what it cost, measured from outside:
//   timed OUTPUT COMMAND [ARG ...]
// The command's standard output and error go to the file OUTPUT. Printed,
// on one line: wall microseconds (from just before the fork to the reaping),
// user and system microseconds and peak resident KiB (the kernel's own
// accounting of the child), and its exit status (128 + N for signal N).
// Timed here, a run's figure holds no start-up of a shell.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long micros(const timeval& t) {
    return static_cast<long long>(t.tv_sec) * 1000000 + static_cast<long long>(t.tv_usec);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: timed OUTPUT COMMAND [ARG ...]\n");
        return 2;
    }
    const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "timed: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execvp(argv[2], argv + 2);
        std::fprintf(stderr, "timed: %s: %s\n", argv[2], std::strerror(errno));
        ::_exit(127);
    }
    if (child < 0) {
        std::fprintf(stderr, "timed: fork: %s\n", std::strerror(errno));
        return 2;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "timed: wait4: %s\n", std::strerror(errno));
            return 2;
        }
    }
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%lld %lld %lld %ld %d\n", static_cast<long long>(wall.count()),
                micros(usage.ru_utime), micros(usage.ru_stime), usage.ru_maxrss, code);
    return 0;
}
