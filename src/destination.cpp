#include "destination.h"

#include "explain.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Holds back the signals that end a run while it lives: they then take
// effect, with nothing left half done.
class SignalHold {
  public:
    explicit SignalHold(System& system) : system_(system) { system_.holdSignals(); }
    ~SignalHold() { system_.releaseSignals(); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

  private:
    System& system_;
};

// Files are written a step at a time, so that a stop signal (as a test
// sends) can land in between.
constexpr std::size_t kStep = std::size_t{1} << 20;

} // namespace

Destination::Destination(System& system, fs::path name) : system_(system), name_(std::move(name)) {}

Destination::~Destination() {
    if (handle_ != kNoHandle && way_ != Way::Descriptor) {
        (void)system_.close(handle_);
    }
    if (!temp_.empty()) {
        system_.remove(temp_);
        pendingTemp.store(nullptr);
    }
}

bool Destination::fail(const char* verb, ErrorCode error, const char* after) {
    failure_ = Failure{std::string(verb) + " " + quoted(name_) + after, system_.reason(error), ""};
    return false;
}

bool Destination::open() {
    if (name_.empty()) {
        return failOpening(system_.noSuchFile());
    }
    if (const ErrorCode error = system_.resolve(name_, target_)) {
        return failOpening(error);
    }
    if (target_.descriptor >= 0) {
        way_ = Way::Descriptor;
        const ErrorCode error = system_.useDescriptor(target_.descriptor, handle_);
        return error == 0 || failOpening(error);
    }
    Existing found;
    if (const ErrorCode error = system_.inspect(target_, found)) {
        return failOpening(error);
    }
    if (found.kind == Existing::Kind::Device) {
        way_ = Way::Device;
        handle_ = found.device;
        return true;
    }
    return openFile(found);
}

// A file is replaced through a temporary file beside it; where the folder
// takes no new file, or the disk has no room for one, an existing file that
// may be written is rewritten in place, the only way left, once all its
// records are made. The source, which may be this very file under any name,
// has then been read whole.
bool Destination::openFile(const Existing& found) {
    keep_ = found.keep;
    const bool replacing = found.kind == Existing::Kind::File;
    const ErrorCode error = makeTemp(replacing);
    if (error == 0) {
        way_ = replacing ? Way::Replace : Way::NewFile;
        return true;
    }
    if (!replacing || !(system_.folderRefuses(error) || system_.noRoom(error))) {
        return failOpening(error);
    }
    way_ = Way::InPlace;
    const ErrorCode opening = system_.openFile(target_.file, false, handle_);
    return opening == 0 || failOpening(opening);
}

// Makes the temporary file beside the target, `.quorvex-` and 16 hex digits.
// A file that replaces another stays private until it has that file's
// metadata.
ErrorCode Destination::makeTemp(bool privately) {
    const fs::path dir =
        target_.file.parent_path().empty() ? fs::path(".") : target_.file.parent_path();
    // Two runs that start together part at their first clash.
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<std::uintptr_t>(&seed);
    ErrorCode error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        std::string name = ".quorvex-";
        for (int digit = 15; digit >= 0; --digit) {
            name += "0123456789abcdef"[(seed >> (4 * digit)) & 0xFu];
        }
        // No signal may end the run between making the file and naming it
        // to the handlers that remove it.
        const SignalHold naming(system_);
        error = system_.createFile(dir / name, privately, handle_);
        if (error == 0) {
            temp_ = dir / name;
            pendingTemp.store(temp_.c_str());
            return 0;
        }
        if (!system_.exists(error)) {
            break;
        }
    }
    return error;
}

bool Destination::writesInto(const FileId& source) {
    return way_ == Way::Descriptor && system_.id(handle_) == source;
}

bool Destination::write(std::string_view bytes) {
    if (way_ == Way::InPlace) {
        records_.append(bytes); // throws std::bad_alloc, with the file untouched
        return true;
    }
    std::size_t written = 0;
    const ErrorCode error = system_.write(handle_, bytes, written);
    return error == 0 || fail("write", error);
}

bool Destination::commit() {
    if (way_ == Way::NewFile || way_ == Way::Replace) {
        return commitTemp();
    }
    bool ok = way_ != Way::InPlace || rewrite(handle_, records_, false);
    const Handle file = std::exchange(handle_, kNoHandle);
    if (way_ != Way::Descriptor) {
        const ErrorCode closing = system_.close(file);
        ok = ok && (closing == 0 || fail("write", closing));
    }
    return ok;
}

bool Destination::commitTemp() {
    const ErrorCode grouping =
        way_ == Way::Replace ? system_.setMetadata(handle_, target_.file, keep_) : 0;
    const ErrorCode syncing = system_.sync(handle_);
    const ErrorCode closing = system_.close(std::exchange(handle_, kNoHandle));
    if (syncing != 0 || closing != 0) {
        return fail("write", syncing != 0 ? syncing : closing);
    }
    const ErrorCode error = system_.replace(temp_, target_.file);
    if (error == 0) {
        pendingTemp.store(nullptr);
        temp_.clear();
        if (grouping != 0) {
            notes_.push_back(
                Failure{"give " + quoted(name_) + " its group back, so that group loses its access",
                        system_.reason(grouping), ""});
        }
        return true;
    }
    if (way_ == Way::Replace && system_.renameRefused(error)) {
        return writeDirectly(error);
    }
    return fail("replace", error);
}

// When the file cannot be renamed over (another program holds it open, or
// the folder lets only its owner rename it) but may be written, it is
// rewritten in place from the finished temporary file, which goes once the
// file is either rewritten or back as it was.
bool Destination::writeDirectly(ErrorCode renameError) {
    Handle out = kNoHandle;
    if (system_.openFile(target_.file, false, out) != 0) {
        return fail("replace", renameError);
    }
    Handle in = kNoHandle;
    ErrorCode error = system_.openFile(temp_, true, in);
    if (error == 0) {
        error = readAll(in, records_); // throws std::bad_alloc, the temporary file still pending
        (void)system_.close(in);
    }
    bool ok = error == 0 ? rewrite(out, records_, true) : fail("write", error);
    const ErrorCode closing = system_.close(out);
    return ok && (closing == 0 || fail("write", closing));
}

// Rewrites `file` in place with `records`, under a lock that keeps another
// run out. Nothing of it changes unless the records are written whole: what
// they need beyond the file's present end is written first, the old bytes
// are kept in memory, and whatever stops the rewrite (a full disk, a quota,
// a file-size limit), the bytes it changed are written back and the file is
// cut to its old size. While the file is incomplete, a signal waits until it
// is whole. Should even that fail, the failure says so. `fromTemp`: the
// records are the temporary file's, which goes once the file is whole, or
// else stays, named, as the only complete result.
bool Destination::rewrite(Handle file, std::string_view records, bool fromTemp) {
    bool busy = false;
    if (const ErrorCode error = lockPatiently(system_, file, true, busy)) {
        fail("lock", error);
        if (busy) {
            failure_.reason =
                "another program kept it locked for " + std::to_string(kLockSeconds) + " seconds";
        }
        return false;
    }
    std::string old;
    ErrorCode checked = readAll(file, old);
    checked = checked != 0 ? checked : system_.roomToOverwrite(file, records.size());
    if (checked != 0) {
        return fail("write", checked);
    }
    const SignalHold incomplete(system_);
    if (fromTemp && pendingTemp.exchange(nullptr) == nullptr) { // a signal has removed it
        return fail("replace", system_.cancelled());
    }
    Changes changes;
    const ErrorCode error = overwrite(file, old.size(), records, changes);
    bool whole = error == 0;
    if (!whole) {
        fail("write", error);
        whole = undo(file, old, records.size(), changes) == 0;
    }
    if (!whole) {
        failure_.aftermath = quoted(name_) + " is left incomplete" +
                             (fromTemp ? "; the complete result is in " + quoted(temp_) : "");
    }
    if (fromTemp && whole) {
        system_.remove(temp_);
    }
    if (fromTemp) {
        temp_.clear(); // removed, or kept on purpose
    }
    return error == 0;
}

// Puts back the old bytes that an overwrite (of records ending at `end`)
// changed, and the file's old size.
// Only what was written is put back: a hole the records never reached stays
// a hole, and takes no room.
ErrorCode Destination::undo(Handle file, std::string_view old, std::uint64_t end,
                            const Changes& changes) {
    std::uint64_t ignored = 0;
    ErrorCode error = writeInSteps(file, 0, old.substr(0, changes.start), ignored);
    if (error == 0 && changes.cut) {
        error = writeInSteps(file, end, old.substr(end), ignored); // the cut tail
    }
    error = error != 0 ? error : system_.truncate(file, old.size());
    return error != 0 ? error : system_.sync(file);
}

// Writes `records` over a file of `present` bytes, growth first, and leaves
// it that long and synced; notes in `changes` what of the old bytes it changed.
ErrorCode Destination::overwrite(Handle file, std::uint64_t present, std::string_view records,
                                 Changes& changes) {
    const auto kept = static_cast<std::size_t>(std::min<std::uint64_t>(present, records.size()));
    std::uint64_t grown = 0;
    ErrorCode error = writeInSteps(file, kept, records.substr(kept), grown);
    error = error != 0 ? error : writeInSteps(file, 0, records.substr(0, kept), changes.start);
    error = error != 0 ? error : system_.sync(file);
    if (error != 0) {
        return error;
    }
    changes.cut = records.size() < present;
    error = system_.truncate(file, records.size());
    return error != 0 ? error : system_.sync(file);
}

// Writes `bytes` at `offset`; `written` tells how many of them reached the file.
ErrorCode Destination::writeInSteps(Handle file, std::uint64_t offset, std::string_view bytes,
                                    std::uint64_t& written) {
    written = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kStep) {
        std::size_t done = 0;
        ErrorCode error = system_.seek(file, offset + at);
        error = error != 0 ? error : system_.write(file, bytes.substr(at, kStep), done);
        written += done;
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

// Reads all of `file`, from where it stands, into `into`.
ErrorCode Destination::readAll(Handle file, std::string& into) {
    std::uint64_t size = 0;
    if (const ErrorCode error = system_.size(file, size)) {
        return error;
    }
    into.resize(static_cast<std::size_t>(size));
    std::size_t got = 1;
    for (std::size_t at = 0; at < into.size() && got != 0; at += got) {
        if (const ErrorCode error = system_.read(file, into.data() + at, into.size() - at, got)) {
            return error;
        }
    }
    return 0;
}

} // namespace quorvex
