#include "destination.h"

#include "keep.h"
#include "rewrite.h"
#include "target.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace quorvex {

namespace fs = std::filesystem;

Destination::Destination(System& system, fs::path name, LockWait& wait)
    : system_(system), wait_(wait), name_(std::move(name)), temp_(system) {}

Destination::~Destination() {
    if (handle_ != kNoHandle && way_ != Way::Descriptor) {
        (void)system_.close(handle_);
    }
}

bool Destination::fail(Step step, const Error& error) {
    failure_ = Failure{step, name_, system_.reason(error)};
    return false;
}

bool Destination::open() {
    if (const Error error = resolve(system_, name_, target_)) {
        if (error.kind != ErrorKind::Denied) {
            return fail(Step::OpenDestination, error);
        }
        // A link that may not be followed may be any of a chain: it is named.
        failure_ = Failure{Step::FollowLink, target_.file, system_.reason(error)};
        return false;
    }
    if (target_.descriptor >= 0) {
        way_ = Way::Descriptor;
        const Error error = system_.useDescriptor(target_.descriptor, handle_);
        return !error || fail(Step::OpenDestination, error);
    }
    Existing found;
    if (const Error error = inspect(system_, target_, found)) {
        return fail(Step::OpenDestination, error);
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
// rewritten where it stands, the only way left, once all its records are
// made. The source, which may be this very file under any name, has then
// been read whole.
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
        return fail(Step::OpenDestination, error);
    }
    way_ = Way::Rewrite;
    // A file written where it stands is read too: its old bytes are kept to
    // put back should the write fail.
    const Error opening = openPatiently(system_, Folder{}, target_.file, false, handle_);
    return !opening || fail(Step::OpenWhereItStands, opening);
}

bool Destination::writesInto(const FileId& source) {
    return way_ == Way::Descriptor && system_.id(handle_) == source;
}

bool Destination::write(std::string_view bytes) {
    if (way_ == Way::Rewrite) {
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

// The old bytes of a file rewritten where it stands, or the records of a
// file written directly, did not fit in memory: the file is as it was.
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
    const bool ok = way_ != Way::Rewrite || rewrite(handle_, false);
    handle_ = kNoHandle;
    const Error closing = file.close();
    return ok && (!closing || fail(Step::Write, closing));
}

namespace {

// What is synced, the one rule every way follows. A file that existed
// before the run has its new bytes made durable before it is renamed over or
// said to be written: once it is replaced its old bytes exist nowhere else,
// and a machine that stops (a crash, a power cut) must leave the old file or
// the new one, each whole. So a replacement syncs its temporary file before
// the rename, its one sync; a file written where it stands syncs as part of
// its transaction (rewrite.h), and one written directly has the temporary
// file synced first, so that a stop in the middle leaves the whole records
// there. A file that did not exist is not synced, as compilers, linkers and
// objcopy do not sync what they write: a stop soon after the run may leave
// it empty or short, and nothing else is lost. The folder is not synced: a
// stop may find the old file still under its name, whole, and the synced
// temporary file beside it. A device, a pipe or one of the process's own
// descriptors is written as it is, unsynced.
bool syncsBeforeCommit(Way way) {
    return way == Way::Replace;
}

} // namespace

// A replaced file keeps its metadata; where the temporary file cannot be
// given the owner or group, or the file has other names, the file is written
// directly instead, which keeps them all.
bool Destination::commitTemp() {
    const bool kept = way_ != Way::Replace || keepFrom(system_, handle_, target_.file, keep_);
    const Error syncing = syncsBeforeCommit(way_) ? system_.sync(handle_) : Error{};
    const Error closing = system_.close(std::exchange(handle_, kNoHandle));
    if (syncing || closing) {
        return fail(Step::Write, syncing ? syncing : closing);
    }
    if (way_ == Way::Replace && (!kept || !mayReplace(keep_))) {
        return writeDirectly(Error{});
    }
    const Error error = temp_.commit(target_.file.filename());
    if (!error) {
        return true;
    }
    // Refused, or held past the wait by another program: the file may still
    // be written where it stands.
    if (way_ == Way::Replace &&
        (error.kind == ErrorKind::RenameRefused || error.kind == ErrorKind::Busy)) {
        return writeDirectly(error);
    }
    return fail(Step::Replace, error);
}

// The file is rewritten where it stands from the finished temporary file,
// which goes once the file is either rewritten or back as it was, and
// stays, named, as the only complete result when even putting it back
// failed. `refused`: the rename that was refused, if that is why.
bool Destination::writeDirectly(const Error& refused) {
    Handle out = kNoHandle;
    if (const Error opening = openPatiently(system_, Folder{}, target_.file, false, out)) {
        // Where another program holds the file, its hold is the reason (a
        // sharing violation), not the rename it made fail.
        return refused && opening.kind != ErrorKind::Busy ? fail(Step::Replace, refused)
                                                          : fail(Step::OpenWhereItStands, opening);
    }
    Closing closingOut(system_, out);
    Error reading;
    try {
        reading = temp_.readBack(records_);
    } catch (const std::bad_alloc&) { // the temporary file still pending
        return noMemory();
    }
    const bool ok = reading ? fail(Step::Write, reading) : rewrite(out, true);
    const Error closing = closingOut.close();
    return ok && (!closing || fail(Step::Write, closing));
}

// Rewrites `file` where it stands with the records (rewrite.h). `fromTemp`:
// they are the temporary file's, which goes once the file is whole.
bool Destination::rewrite(Handle file, bool fromTemp) {
    Rewrite rewrite(system_, file, name_, wait_);
    bool done = false;
    try {
        done = rewrite.prepare(records_.size()) &&
               rewrite.apply(records_, fromTemp ? &temp_ : nullptr) == Rewrite::Outcome::Rewritten;
    } catch (const std::bad_alloc&) {
        return noMemory();
    }
    failure_ = rewrite.failure();
    return done;
}

} // namespace quorvex
