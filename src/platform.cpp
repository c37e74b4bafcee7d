// What the systems share below the rules.
#include "platform.h"

#include <chrono>
#include <thread>

namespace quorvex {

std::atomic<const PendingFile*> removedOnSignal{nullptr};
static_assert(decltype(removedOnSignal)::is_always_lock_free, "read by signal handlers");

std::string quotedText(std::string_view text) {
    std::string shown(text);
    for (char& ch : shown) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
            ch = '?';
        }
    }
    return "'" + shown + "'";
}

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
