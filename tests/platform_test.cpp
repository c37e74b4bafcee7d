#include "destination.h"
#include "platform.h"
#include "source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace quorvex {
namespace {

// A folder of the test's own, removed with what it holds.
class TempFolder {
  public:
    TempFolder() : path_(testing::TempDir() + "quorvex-test-XXXXXX") {
        if (::mkdtemp(path_.data()) == nullptr) {
            path_.clear();
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    bool made() const { return !path_.empty(); }

  private:
    std::string path_;
};

// Each code's kind, in the call that meets it, and each kind's usual code
// as a message shows it where a rule of the program's own refuses.
TEST(ErrorTables, EachCodeHasItsKind) {
    using K = ErrorKind;
    const struct {
        Call call;
        int code;
        ErrorKind kind;
    } rows[] = {
        // clang-format off
        {Call::Any, 0, K::None}, {Call::Any, ENOENT, K::NotFound}, {Call::Any, ENOTDIR, K::NotFound},
        {Call::Any, EEXIST, K::Exists}, {Call::Any, EACCES, K::Denied}, {Call::Any, EPERM, K::Denied},
        {Call::Any, EISDIR, K::IsFolder}, {Call::Any, ENOSPC, K::NoRoom}, {Call::Any, EDQUOT, K::NoRoom},
        {Call::Any, EBUSY, K::Busy}, {Call::Any, EAGAIN, K::Busy}, {Call::Any, ECANCELED, K::Cancelled},
        {Call::Any, EROFS, K::Other}, {Call::Lock, EAGAIN, K::Busy}, {Call::Lock, EACCES, K::Busy},
        {Call::Lock, ENOLCK, K::None}, {Call::Lock, EINVAL, K::None}, {Call::Lock, EOPNOTSUPP, K::None},
        {Call::Lock, ENOSPC, K::NoRoom}, {Call::Rename, EPERM, K::RenameRefused},
        {Call::Rename, EBUSY, K::RenameRefused}, {Call::Rename, EACCES, K::Denied},
        // clang-format on
    };
    for (const auto& row : rows) {
        const Error error = systemError(row.call, static_cast<std::uint32_t>(row.code));
        EXPECT_EQ(error.kind, row.kind) << std::strerror(row.code);
        EXPECT_EQ(error.code, static_cast<std::uint32_t>(row.code));
    }
    for (const auto& [kind, code] : {std::pair{K::NotFound, ENOENT},
                                     {K::Denied, EACCES},
                                     {K::IsFolder, EISDIR},
                                     {K::NoRoom, ENOSPC},
                                     {K::Cancelled, ECANCELED},
                                     {K::RenameRefused, EIO}}) {
        EXPECT_EQ(systemReason(Error{kind}), std::strerror(code));
    }
}

TEST(SourceMap, SourceCutShortWhileMappedIsAReadError) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("source.s19");
    std::ofstream(name) << std::string(std::size_t{64} * 1024, 'S');

    System& system = nativeSystem();
    Handle file = kNoHandle;
    std::uint64_t size = 0;
    ASSERT_FALSE(system.openSource(name, file, size));
    std::string_view bytes;
    ASSERT_TRUE(system.map(
        file, size,
        FaultTexts{"File Read Error\n", "quorvex: cannot read '" + name + "': it was cut short\n"},
        bytes));
    (void)system.close(file); // the mapping outlives the file's descriptor
    ASSERT_EQ(::truncate(name.c_str(), 0), 0);
    EXPECT_EXIT(
        {
            volatile char last = bytes.back();
            (void)last;
        },
        testing::ExitedWithCode(1), "^quorvex: cannot read '.*/source.s19': it was cut short");
    system.unmap(bytes);
}

// A bus fault of the program's own (raised by itself, not sent by another
// program) is said as a read error while a source is mapped, and only then.
TEST(SourceMap, FaultsAreTheSourcesOnlyWhileItIsMapped) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("source.s19");
    std::ofstream(name) << "S9030000FC\n";
    Failure why;
    LockWait wait;
    SourceText text(nativeSystem(), wait);
    ASSERT_TRUE(text.load(name, false, why));
    EXPECT_EXIT((void)std::raise(SIGBUS), testing::ExitedWithCode(1), "");
    text.keepOwnCopy();
    EXPECT_EQ(text.view(), "S9030000FC\n");
    EXPECT_EXIT((void)std::raise(SIGBUS), testing::KilledBySignal(SIGBUS), "")
        << "a later fault would be taken for a read error";
}

TEST(SourceMap, EmptyFilesAndFoldersAreNotMapped) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("empty.s19");
    std::ofstream(name).close();
    System& system = nativeSystem();
    Handle file = kNoHandle;
    std::uint64_t size = 1;
    ASSERT_FALSE(system.openSource(name, file, size));
    std::string_view bytes;
    EXPECT_FALSE(system.map(file, size, FaultTexts{}, bytes)) << "an empty file cannot be mapped";
    (void)system.close(file);

    EXPECT_EQ(system.openSource("/", file, size).code, static_cast<std::uint32_t>(EISDIR))
        << "a directory is no source";
}

TEST(WriteConsole, WaitsForAFullNonBlockingPipe) {
    // A caller may leave standard output non-blocking; the summary line,
    // which scripts look for, must still arrive whole.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    std::size_t queued = 0;
    for (ssize_t put = 0; (put = ::write(ends[1], filler.data(), filler.size())) > 0;) {
        queued += static_cast<std::size_t>(put);
    }
    std::string got;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        char chunk[4096];
        for (ssize_t n = 0; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;) {
            got.append(chunk, static_cast<std::size_t>(n));
        }
    });
    std::FILE* out = ::fdopen(ends[1], "w");
    ASSERT_NE(out, nullptr);
    writeConsole(out, "Converted 1/2 Lines\n");
    (void)std::fclose(out);
    reader.join();
    ::close(ends[0]);
    EXPECT_EQ(got.substr(std::min(queued, got.size())), "Converted 1/2 Lines\n");
}

TEST(Destination, ReplacingAFileDoesNotOpenItForWriting) {
    // An open for writing tells file watchers, and a lease holder, that the
    // file was written, though it never is: it is replaced.
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("out.s37");
    std::ofstream(name) << "old\n";
    constexpr std::uint32_t kWritten = IN_OPEN | IN_CLOSE_WRITE | IN_MODIFY;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, name.c_str(), kWritten), 0);

    LockWait wait;

    Destination dest(nativeSystem(), name, wait);
    ASSERT_TRUE(dest.open());
    ASSERT_TRUE(dest.write("S70500000000FA\r\n"));
    ASSERT_TRUE(dest.commit());

    // The old file's watch ends when it is replaced (IN_IGNORED): only that may come.
    alignas(inotify_event) char events[4 * (sizeof(inotify_event) + NAME_MAX + 1)];
    const ssize_t got = ::read(watch, events, sizeof events);
    for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        EXPECT_EQ(event->mask & kWritten, 0u) << "event mask " << event->mask;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    ::close(watch);
}

} // namespace
} // namespace quorvex
