// What the systems share below the rules.
#include "platform.h"

#include <chrono>
#include <thread>

namespace quorvex {

std::atomic<const PendingFile*> removedOnSignal{nullptr};
static_assert(decltype(removedOnSignal)::is_always_lock_free, "read by signal handlers");

// What a system does that lacks a facility.
bool System::map(Handle /*file*/, std::uint64_t /*size*/, const FaultTexts& /*fault*/,
                 std::string_view& /*bytes*/) {
    return false;
}
void System::unmap(std::string_view /*bytes*/) {}
std::filesystem::path System::openable(const std::filesystem::path& name) {
    return name;
}
bool System::listsOwnDescriptors(const std::filesystem::path& /*folder*/) {
    return false;
}
Error System::look(const std::filesystem::path& /*name*/, bool /*follow*/, NameStatus& out) {
    out = NameStatus{};
    return {};
}
Error System::openDevice(const std::filesystem::path& /*name*/, Handle& /*out*/) {
    return {ErrorKind::Other};
}
std::uint32_t System::runner() {
    return 0;
}
Error System::useDescriptor(int /*descriptor*/, Handle& /*out*/) {
    return {ErrorKind::Other};
}
Error System::openFolder(const std::filesystem::path& path, Folder& out) {
    out = Folder{path, kNoHandle};
    return {};
}
void System::closeFolder(Folder& /*folder*/) {}
Error System::space(Handle /*file*/, Space& out) {
    out = Space{};
    return {};
}
Error System::reserve(Handle /*file*/, std::uint64_t /*offset*/, std::uint64_t /*bytes*/) {
    return {ErrorKind::Other};
}
Error System::status(Handle /*file*/, Metadata& out) {
    out = Metadata{};
    return {};
}
Error System::setOwner(Handle /*file*/, std::uint32_t /*owner*/, std::uint32_t /*group*/) {
    return {};
}
Error System::setMode(Handle /*file*/, std::uint32_t /*mode*/) {
    return {};
}
Error System::listAttributes(const std::filesystem::path& /*name*/,
                             std::vector<std::string>& /*out*/) {
    return {};
}
Error System::readAttribute(const std::filesystem::path& /*name*/, const std::string& /*attribute*/,
                            std::string& /*value*/) {
    return {ErrorKind::Other};
}
Error System::writeAttribute(Handle /*file*/, const std::string& /*attribute*/,
                             std::string_view /*value*/) {
    return {ErrorKind::Other};
}
Error System::removeAttribute(Handle /*file*/, const std::string& /*attribute*/) {
    return {};
}
Error System::setAttributes(Handle /*file*/, std::uint32_t /*attributes*/) {
    return {};
}

void System::pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Error openPatiently(System& system, const Folder& in, const std::filesystem::path& file,
                    bool forReading, Handle& out) {
    return patiently(system, [&] { return system.openFile(in, file, forReading, out); });
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
