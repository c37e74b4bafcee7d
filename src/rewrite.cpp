#include "rewrite.h"

#include "room.h"

#include <algorithm>

namespace quorvex {
namespace {

// Files are written a step at a time, so that a stop signal (as a test
// sends) can land in between.
constexpr std::size_t kStep = std::size_t{1} << 20;

} // namespace

bool Rewrite::fail(Step step, const Error& error) {
    failure_ = Failure{step, name_, system_.reason(error)};
    return false;
}

bool Rewrite::prepare(std::uint64_t size) {
    if (const Error error = lockPatiently(system_, file_, true, wait_)) {
        fail(Step::Lock, error);
        if (error.kind == ErrorKind::Busy) {
            failure_.reason = lockedFor(wait_.seconds());
        }
        return false;
    }
    if (const Error error = readWhole(system_, file_, old_)) {
        return fail(Step::Write, error);
    }
    Room room;
    const Error error = checkRoom(system_, file_, old_.size(), size, room);
    if (error.kind == ErrorKind::NoRoom) {
        fail(Step::Write, error);
        failure_.reason = roomShort(room.needed, room.free);
        return false;
    }
    return !error || fail(Step::Write, error);
}

Rewrite::Outcome Rewrite::apply(std::string_view bytes, TempFile* copy) {
    const SignalHold whole(system_);
    if (copy != nullptr && !copy->claim()) { // a signal has removed it, and ends the run
        fail(Step::Replace, Error{ErrorKind::Cancelled});
        return Outcome::Cancelled;
    }
    const Outcome outcome = overwriteOrPutBack(bytes);
    if (copy != nullptr && outcome == Outcome::LeftIncomplete) {
        copy->keep();
        failure_.completeCopy = copy->name();
    } else if (copy != nullptr) {
        copy->remove();
    }
    return outcome;
}

Rewrite::Outcome Rewrite::overwriteOrPutBack(std::string_view bytes) {
    Changes changes;
    const Error error = overwrite(bytes, changes);
    if (!error) {
        return Outcome::Rewritten;
    }
    fail(Step::Write, error);
    Error undoing = putBackChanges(bytes.size(), changes);
    if (undoing.kind == ErrorKind::NoRoom) {
        undoing = putBackWhole();
    }
    if (!undoing) {
        return Outcome::PutBack;
    }
    failure_.leftIncomplete = true;
    return Outcome::LeftIncomplete;
}

// Writes `bytes` over the file, growth first, and leaves it that long and
// synced; notes in `changes` what of the old bytes it changed.
Error Rewrite::overwrite(std::string_view bytes, Changes& changes) {
    const std::uint64_t present = old_.size();
    const auto kept = static_cast<std::size_t>(std::min<std::uint64_t>(present, bytes.size()));
    std::uint64_t grown = 0;
    Error error = writeInSteps(kept, bytes.substr(kept), grown);
    error = error ? error : writeInSteps(0, bytes.substr(0, kept), changes.start);
    error = error ? error : system_.sync(file_);
    if (error) {
        return error;
    }
    changes.cut = bytes.size() < present;
    error = system_.truncate(file_, bytes.size());
    return error ? error : system_.sync(file_);
}

// Puts back the old bytes that an overwrite (of new bytes ending at `end`)
// changed, and the file's old size. Only what was written is put back: a
// hole the new bytes never reached stays a hole, and takes no room.
Error Rewrite::putBackChanges(std::uint64_t end, const Changes& changes) {
    std::uint64_t ignored = 0;
    Error error = writeInSteps(0, std::string_view(old_).substr(0, changes.start), ignored);
    if (!error && changes.cut) {
        error = writeInSteps(end, std::string_view(old_).substr(end), ignored); // the cut tail
    }
    error = error ? error : system_.truncate(file_, old_.size());
    return error ? error : system_.sync(file_);
}

// Where putting back the changes finds no room (on a copy-on-write file
// system even an overwrite needs it, and a quota may allow less than the
// room check saw): the file is emptied, which frees all its room (synced,
// for a file system that frees it only then), and its old bytes are written
// back whole, which fitted before in as much room as they take now.
Error Rewrite::putBackWhole() {
    std::uint64_t ignored = 0;
    Error error = system_.truncate(file_, 0);
    error = error ? error : system_.sync(file_);
    error = error ? error : writeInSteps(0, old_, ignored);
    return error ? error : system_.sync(file_);
}

// Writes `bytes` at `offset`; `written` tells how many of them reached the file.
Error Rewrite::writeInSteps(std::uint64_t offset, std::string_view bytes, std::uint64_t& written) {
    written = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kStep) {
        std::size_t done = 0;
        Error error = system_.seek(file_, offset + at);
        error = error ? error : system_.write(file_, bytes.substr(at, kStep), done);
        written += done;
        if (error) {
            return error;
        }
    }
    return {};
}

} // namespace quorvex
