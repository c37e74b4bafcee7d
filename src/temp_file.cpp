#include "temp_file.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvex {

TempFile::~TempFile() {
    if (state_ == State::Pending) {
        (void)claim();
    }
    remove();
    system_.closeFolder(folder_);
}

Error TempFile::make(const std::filesystem::path& folder, bool privately, Handle& out) {
    // Two runs that start together part at their first clash.
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<std::uintptr_t>(&seed);
    Error error = system_.openFolder(folder, folder_);
    if (error) {
        return error;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        std::string name = ".quorvex-";
        for (int digit = 15; digit >= 0; --digit) {
            name += "0123456789abcdef"[(seed >> (4 * digit)) & 0xFu];
        }
        // No signal may end the run between making the file and naming it
        // to the handlers that remove it.
        const SignalHold naming(system_);
        error = system_.createFile(folder_, name, privately, out);
        if (!error) {
            leaf_ = name;
            name_ = folder / name;
            state_ = State::Pending;
            pending_ = PendingFile{folder_.handle, leaf_.c_str(), name_.c_str()};
            removedOnSignal.store(&pending_);
            return error;
        }
        if (error.kind != ErrorKind::Exists) {
            break;
        }
    }
    return error;
}

Error TempFile::commit(const std::filesystem::path& target) {
    const Error error = patiently(system_, [&] { return system_.rename(folder_, leaf_, target); });
    if (!error) {
        removedOnSignal.store(nullptr);
        state_ = State::None;
    }
    return error;
}

Error TempFile::openForReading(Handle& in) {
    return openPatiently(system_, folder_, leaf_, true, in);
}

bool TempFile::claim() {
    if (state_ != State::Pending) {
        return state_ == State::Claimed;
    }
    const bool mine = removedOnSignal.exchange(nullptr) != nullptr;
    state_ = mine ? State::Claimed : State::None;
    return mine;
}

void TempFile::remove() {
    if (state_ == State::Claimed) {
        system_.remove(folder_, leaf_);
    }
    state_ = State::None;
}

void TempFile::keep() {
    state_ = State::None;
}

} // namespace quorvex
