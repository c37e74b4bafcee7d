// What the systems share below the rules.
#include "platform.h"

#include <chrono>
#include <thread>

namespace quorvex {

std::atomic<const PendingFile*> removedOnSignal{nullptr};
static_assert(decltype(removedOnSignal)::is_always_lock_free, "read by signal handlers");

void System::pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPauseMs));
}

bool System::pauseForLock() {
    if (pausesLeft_ == 0) {
        return false;
    }
    --pausesLeft_;
    pause();
    return true;
}

Error lockPatiently(System& system, Handle file, bool exclusive) {
    for (;;) {
        const Error error = system.lock(file, exclusive);
        if (error.kind != ErrorKind::Busy || !system.pauseForLock()) {
            return error;
        }
    }
}

} // namespace quorvex
