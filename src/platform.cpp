// What the systems share below the rules.
#include "platform.h"

#include <chrono>
#include <thread>

namespace quorvex {

std::atomic<const PendingFile*> removedOnSignal{nullptr};
static_assert(decltype(removedOnSignal)::is_always_lock_free, "read by signal handlers");

void System::pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Error readWhole(System& system, Handle file, std::string& into) {
    std::uint64_t size = 0;
    if (const Error error = system.size(file, size)) {
        return error;
    }
    into.resize(static_cast<std::size_t>(size));
    std::size_t got = 1;
    for (std::size_t at = 0; at < into.size() && got != 0; at += got) {
        if (const Error error = system.read(file, into.data() + at, into.size() - at, got)) {
            return error;
        }
    }
    return {};
}

bool LockWait::pause(System& system) {
    if (pausesLeft_ == 0) {
        return false;
    }
    --pausesLeft_;
    system.pause(kPauseMs);
    return true;
}

Error lockPatiently(System& system, Handle file, bool exclusive, LockWait& wait) {
    for (;;) {
        const Error error = system.lock(file, exclusive);
        if (error.kind != ErrorKind::Busy || !wait.pause(system)) {
            return error;
        }
    }
}

} // namespace quorvex
