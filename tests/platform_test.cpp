#include "platform.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <sys/inotify.h>
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

void (*faultHandler())(int) {
    struct sigaction current {};
    ::sigaction(SIGBUS, nullptr, &current);
    return current.sa_handler;
}

TEST(InputMap, SourceCutShortWhileMappedIsAReadError) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("source.s19");
    std::ofstream(name) << std::string(64 * 1024, 'S');

    Input in;
    ASSERT_TRUE(in.open(name));
    Mapping mapping;
    ASSERT_TRUE(in.map(mapping, "File Read Error"));
    ASSERT_EQ(::truncate(name.c_str(), 0), 0);
    EXPECT_EXIT(
        {
            volatile char last = mapping.view().back();
            (void)last;
        },
        testing::ExitedWithCode(1), "");
}

TEST(InputMap, FaultsAreTheSourcesOnlyWhileItIsMapped) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("source.s19");
    std::ofstream(name) << "S9030000FC\n";
    const auto before = faultHandler();
    {
        Input in;
        ASSERT_TRUE(in.open(name));
        Mapping mapping;
        ASSERT_TRUE(in.map(mapping, "File Read Error"));
        EXPECT_NE(faultHandler(), before);
    }
    EXPECT_EQ(faultHandler(), before) << "a later fault would be taken for a read error";
}

TEST(InputMap, EmptyFilesAndFoldersAreNotMapped) {
    const TempFolder folder;
    ASSERT_TRUE(folder.made());
    const std::string name = folder.file("empty.s19");
    std::ofstream{name};
    Input empty;
    ASSERT_TRUE(empty.open(name));
    Mapping mapping;
    EXPECT_FALSE(empty.map(mapping, "")) << "an empty file cannot be mapped";

    Input folderInput;
    EXPECT_FALSE(folderInput.open("/")) << "a directory is no source";
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

    Mapping none;
    Destination dest(name);
    ASSERT_TRUE(dest.open(none));
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
