#include "temp_file.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace quorvex {
namespace {

// A call that the state diagram in temp_file.h does not allow is a
// programming error. A debug build stops at it, naming the misuse, for the
// tests to find. A release build refuses the call (an error where it returns
// one, else nothing done) and goes on: the run then fails as at any other
// failure, saying so, its target as it was and its temporary file removed.
// An abort would leave the temporary file behind: SIGABRT is none of the
// signals whose handlers remove it.
bool misused(const std::string& misuse) {
#ifndef NDEBUG
    writeErrorLine("quorvex: bug: " + misuse);
    std::abort();
#else
    (void)misuse;
    return false;
#endif
}

const char* const kStateNames[] = {"not made", "pending", "claimed", "committed",
                                   "removed",  "kept",    "gone"};

} // namespace

bool TempFile::allows(bool allowed, const char* call) const {
    return allowed || misused(std::string(call) + " of a temporary file that is " +
                              kStateNames[static_cast<int>(state_)]);
}

bool TempFile::takeBack() {
    const PendingFile* mine = &pending_;
    return removedOnSignal.compare_exchange_strong(mine, nullptr);
}

void TempFile::end(State state) {
    system_.closeFolder(folder_);
    state_ = state;
}

TempFile::~TempFile() {
    if (state_ == State::Pending) {
        (void)claim();
    }
    if (state_ == State::Claimed) {
        remove();
    }
}

Error TempFile::make(const std::filesystem::path& folder, bool privately, Handle& out) {
    if (!allows(state_ == State::None, "make()") ||
        (removedOnSignal.load() != nullptr &&
         !misused("make() of a temporary file while another is named to the signal handlers"))) {
        return {ErrorKind::Other};
    }
    // Two runs that start together part at their first clash.
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<std::uintptr_t>(&seed);
    Error error = system_.openFolder(folder, folder_);
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
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
    system_.closeFolder(folder_);
    return error;
}

Error TempFile::commit(const std::filesystem::path& target) {
    if (!allows(state_ == State::Pending, "commit()")) {
        return {ErrorKind::Other};
    }
    const Error error = patiently(system_, [&] { return system_.rename(folder_, leaf_, target); });
    if (!error) {
        (void)takeBack(); // false only if a signal's handler took it since: its name is gone
        end(State::Committed);
    }
    return error;
}

Error TempFile::readBack(std::string& into) {
    if (!allows(state_ == State::Pending || state_ == State::Claimed, "readBack()")) {
        return {ErrorKind::Other};
    }
    Handle in = kNoHandle;
    Error error = openPatiently(system_, folder_, leaf_, true, in);
    if (!error) {
        const Closing closing(system_, in);
        error = readWhole(system_, in, into);
    }
    return error;
}

bool TempFile::claim() {
    if (!allows(state_ == State::Pending, "claim()")) {
        return state_ == State::Claimed;
    }
    if (!takeBack()) {
        end(State::Gone);
        return false;
    }
    state_ = State::Claimed;
    return true;
}

void TempFile::remove() {
    if (allows(state_ == State::Claimed, "remove()")) {
        system_.remove(folder_, leaf_);
        end(State::Removed);
    }
}

void TempFile::keep() {
    if (allows(state_ == State::Claimed, "keep()")) {
        end(State::Kept);
    }
}

} // namespace quorvex
