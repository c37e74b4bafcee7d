// What the systems share below the destination layer.
#include "platform.h"

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

void Input::close() {
    if (handle_ != kNoHandle) {
        (void)nativeSystem().close(handle_);
        handle_ = kNoHandle;
    }
}

} // namespace quorvex
