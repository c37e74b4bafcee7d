#include "destination.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <system_error>
#include <utility>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Files are written a step at a time, so that a stop signal (as a test
// sends) can land in between.
constexpr std::size_t kStep = std::size_t{1} << 20;

} // namespace

Destination::Destination(System& system, fs::path name)
    : system_(system), name_(std::move(name)), temp_(system) {}

Destination::~Destination() {
    if (handle_ != kNoHandle && way_ != Way::Descriptor) {
        (void)system_.close(handle_);
    }
}

bool Destination::fail(Step step, const Error& error) {
    failure_ = Failure{step, name_, system_.reason(error)};
    return false;
}

// A link that may not be followed may be any of a chain: it is named.
bool Destination::failFollowing(const Error& error) {
    failure_ = Failure{Step::FollowLink, target_.file, system_.reason(error)};
    return false;
}

bool Destination::open() {
    if (const Error error = system_.resolve(name_, target_)) {
        return error.kind == ErrorKind::Denied ? failFollowing(error) : failOpening(error);
    }
    if (target_.descriptor >= 0) {
        way_ = Way::Descriptor;
        const Error error = system_.useDescriptor(target_.descriptor, handle_);
        return !error || failOpening(error);
    }
    Existing found;
    if (const Error error = system_.inspect(target_, found)) {
        return failOpening(error);
    }
    if (found.kind == Existing::Kind::Device) {
        way_ = Way::Device;
        handle_ = found.device;
        return true;
    }
    return openFile(found);
}

// A file is replaced through a temporary file beside it, which stays private
// until it has the old file's metadata; where the folder takes no new file,
// or the disk has no room for one, an existing file that may be written is
// rewritten in place, the only way left, once all its records are made. The
// source, which may be this very file under any name, has then been read
// whole.
bool Destination::openFile(const Existing& found) {
    keep_ = found.keep;
    const bool replacing = found.kind == Existing::Kind::File;
    const fs::path folder =
        target_.file.parent_path().empty() ? fs::path(".") : target_.file.parent_path();
    const Error error = temp_.make(folder, replacing, handle_);
    if (!error) {
        way_ = replacing ? Way::Replace : Way::NewFile;
        return true;
    }
    if (!replacing || (error.kind != ErrorKind::Denied && error.kind != ErrorKind::NoRoom)) {
        return failOpening(error);
    }
    way_ = Way::InPlace;
    const Error opening = system_.openFile(Folder{}, target_.file, false, handle_);
    return !opening || failOpeningBothWays(opening);
}

bool Destination::writesInto(const FileId& source) {
    return way_ == Way::Descriptor && system_.id(handle_) == source;
}

bool Destination::write(std::string_view bytes) {
    if (way_ == Way::InPlace) {
        try {
            records_.append(bytes); // the file untouched
        } catch (const std::bad_alloc&) {
            return noMemory();
        }
        return true;
    }
    std::size_t written = 0;
    const Error error = system_.write(handle_, bytes, written);
    return !error || fail(Step::Write, error);
}

// The old bytes of a file rewritten in place, or the records of a file
// written directly, did not fit in memory: the file is as it was.
bool Destination::noMemory() {
    outOfMemory_ = true;
    failure_ = Failure{Step::HoldRecords, name_, std::generic_category().message(ENOMEM)};
    return false;
}

bool Destination::commit() {
    if (way_ == Way::NewFile || way_ == Way::Replace) {
        return commitTemp();
    }
    Closing file(system_, way_ == Way::Descriptor ? kNoHandle : handle_);
    bool ok = true;
    try {
        ok = way_ != Way::InPlace || rewrite(handle_, records_);
    } catch (const std::bad_alloc&) {
        ok = noMemory();
    }
    handle_ = kNoHandle;
    const Error closing = file.close();
    return ok && (!closing || fail(Step::Write, closing));
}

// A replaced file keeps its metadata; where the temporary file cannot be
// given the owner or group, or the file has other names, the file is written
// directly instead, which keeps them all.
bool Destination::commitTemp() {
    const Error kept =
        way_ == Way::Replace ? system_.setMetadata(handle_, target_.file, keep_) : Error{};
    const Error syncing = system_.sync(handle_);
    const Error closing = system_.close(std::exchange(handle_, kNoHandle));
    if (syncing || closing) {
        return fail(Step::Write, syncing ? syncing : closing);
    }
    if (way_ == Way::Replace && (kept || keep_.links > 1)) {
        return writeDirectly(Error{});
    }
    const Error error = temp_.commit(target_.file.filename());
    if (!error) {
        return true;
    }
    if (way_ == Way::Replace && error.kind == ErrorKind::RenameRefused) {
        return writeDirectly(error);
    }
    return fail(Step::Replace, error);
}

// The file is rewritten in place from the finished temporary file, which
// goes once the file is either rewritten or back as it was, and stays,
// named, as the only complete result when even the undo failed. `refused`:
// the rename that was refused, if that is why.
bool Destination::writeDirectly(const Error& refused) {
    Handle out = kNoHandle;
    if (const Error opening = system_.openFile(Folder{}, target_.file, false, out)) {
        return refused ? fail(Step::Replace, refused) : failOpeningBothWays(opening);
    }
    Closing closingOut(system_, out);
    bool ok = false;
    try {
        ok = readTemp() && rewriteFromTemp(out);
    } catch (const std::bad_alloc&) { // the temporary file still pending
        ok = noMemory();
    }
    const Error closing = closingOut.close();
    return ok && (!closing || fail(Step::Write, closing));
}

// Reads the finished temporary file's records.
bool Destination::readTemp() {
    Handle in = kNoHandle;
    Error error = temp_.openForReading(in);
    if (!error) {
        Closing closing(system_, in);
        error = readAll(in, records_);
    }
    return !error || fail(Step::Write, error);
}

bool Destination::rewriteFromTemp(Handle out) {
    std::string old;
    if (!prepareRewrite(out, records_.size(), old)) {
        return false;
    }
    const SignalHold incomplete(system_);
    const Rewritten result =
        temp_.claim() ? overwriteOrUndo(out, old, records_) : Rewritten::Cancelled;
    if (result == Rewritten::Cancelled) { // a signal has removed it, and ends the run
        return fail(Step::Replace, Error{ErrorKind::Cancelled});
    }
    if (result == Rewritten::Incomplete) {
        temp_.keep();
        failure_.completeCopy = temp_.name();
    } else {
        temp_.remove();
    }
    return result == Rewritten::Done;
}

// Rewrites `file` in place with `records`, under a lock that keeps another
// run out. Nothing of it changes unless the records are written whole: what
// they need beyond the file's present end is written first, the old bytes
// are kept in memory, and whatever stops the rewrite (a full disk, a quota,
// a file-size limit), the bytes it changed are written back and the file is
// cut to its old size, or, should that find no room, it is put back whole.
// While the file is incomplete, a signal waits until it is whole. Should even
// that fail, the failure says so.
bool Destination::rewrite(Handle file, std::string_view records) {
    std::string old;
    if (!prepareRewrite(file, records.size(), old)) {
        return false;
    }
    const SignalHold incomplete(system_);
    return overwriteOrUndo(file, old, records) == Rewritten::Done;
}

// Locks the file, reads its old bytes into `old` and checks that `size`
// bytes may be written over them.
bool Destination::prepareRewrite(Handle file, std::uint64_t size, std::string& old) {
    if (const Error error = lockPatiently(system_, file, true)) {
        fail(Step::Lock, error);
        if (error.kind == ErrorKind::Busy) {
            failure_.reason = lockedFor(kLockSeconds);
        }
        return false;
    }
    Error checked = readAll(file, old);
    checked = checked ? checked : system_.roomToOverwrite(file, size);
    return !checked || fail(Step::Write, checked);
}

// The rewrite proper, while signals are held.
Destination::Rewritten Destination::overwriteOrUndo(Handle file, std::string_view old,
                                                    std::string_view records) {
    Changes changes;
    const Error error = overwrite(file, old.size(), records, changes);
    if (!error) {
        return Rewritten::Done;
    }
    fail(Step::Write, error);
    if (!undo(file, old, records.size(), changes)) {
        return Rewritten::Undone;
    }
    failure_.leftIncomplete = true;
    return Rewritten::Incomplete;
}

// Puts back the old bytes that an overwrite (of records ending at `end`)
// changed, and the file's old size.
// Only what was written is put back: a hole the records never reached stays
// a hole, and takes no room. Where that finds no room (on a copy-on-write
// file system even an overwrite needs it, and a quota may allow less than
// the room check saw), the file is put back whole.
Error Destination::undo(Handle file, std::string_view old, std::uint64_t end,
                        const Changes& changes) {
    std::uint64_t ignored = 0;
    Error error = writeInSteps(file, 0, old.substr(0, changes.start), ignored);
    if (!error && changes.cut) {
        error = writeInSteps(file, end, old.substr(end), ignored); // the cut tail
    }
    error = error ? error : system_.truncate(file, old.size());
    error = error ? error : system_.sync(file);
    return error.kind == ErrorKind::NoRoom ? putBackWhole(file, old) : error;
}

// Empties the file, which frees all its room (synced, for a file system
// that frees it only then), and writes its old bytes back whole: they
// fitted before, in as much room as they take now.
Error Destination::putBackWhole(Handle file, std::string_view old) {
    std::uint64_t ignored = 0;
    Error error = system_.truncate(file, 0);
    error = error ? error : system_.sync(file);
    error = error ? error : writeInSteps(file, 0, old, ignored);
    return error ? error : system_.sync(file);
}

// Writes `records` over a file of `present` bytes, growth first, and leaves
// it that long and synced; notes in `changes` what of the old bytes it changed.
Error Destination::overwrite(Handle file, std::uint64_t present, std::string_view records,
                             Changes& changes) {
    const auto kept = static_cast<std::size_t>(std::min<std::uint64_t>(present, records.size()));
    std::uint64_t grown = 0;
    Error error = writeInSteps(file, kept, records.substr(kept), grown);
    error = error ? error : writeInSteps(file, 0, records.substr(0, kept), changes.start);
    error = error ? error : system_.sync(file);
    if (error) {
        return error;
    }
    changes.cut = records.size() < present;
    error = system_.truncate(file, records.size());
    return error ? error : system_.sync(file);
}

// Writes `bytes` at `offset`; `written` tells how many of them reached the file.
Error Destination::writeInSteps(Handle file, std::uint64_t offset, std::string_view bytes,
                                std::uint64_t& written) {
    written = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kStep) {
        std::size_t done = 0;
        Error error = system_.seek(file, offset + at);
        error = error ? error : system_.write(file, bytes.substr(at, kStep), done);
        written += done;
        if (error) {
            return error;
        }
    }
    return {};
}

// Reads all of `file`, from where it stands, into `into`.
Error Destination::readAll(Handle file, std::string& into) {
    std::uint64_t size = 0;
    if (const Error error = system_.size(file, size)) {
        return error;
    }
    into.resize(static_cast<std::size_t>(size));
    std::size_t got = 1;
    for (std::size_t at = 0; at < into.size() && got != 0; at += got) {
        if (const Error error = system_.read(file, into.data() + at, into.size() - at, got)) {
            return error;
        }
    }
    return {};
}

} // namespace quorvex
