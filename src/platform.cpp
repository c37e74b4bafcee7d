// What the systems share below the destination layer.
#include "platform.h"

#include <chrono>
#include <thread>

namespace quorvex {

std::atomic<const std::filesystem::path::value_type*> pendingTemp{nullptr};
static_assert(decltype(pendingTemp)::is_always_lock_free, "read by signal handlers");

Input::~Input() {
    unmap();
    close();
}

ErrorCode Input::read(char* into, std::size_t size, std::size_t& got) {
    return nativeSystem().read(handle_, into, size, got);
}

ErrorCode lockPatiently(System& system, Handle file, bool exclusive, bool& busy) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(kLockSeconds);
    for (;;) {
        const ErrorCode error = system.lock(file, exclusive, busy);
        if (!busy || std::chrono::steady_clock::now() >= giveUp) {
            return error;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Input::waitForWriters() {
    bool busy = false;
    (void)lockPatiently(nativeSystem(), handle_, false, busy);
}

void Input::close() {
    if (handle_ != kNoHandle) {
        (void)nativeSystem().close(handle_);
        handle_ = kNoHandle;
    }
}

} // namespace quorvex
