#include "destination.h"

#include "explain.h"

#include <algorithm>
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
    failure_ = Failure{std::string(verb) + " " + quoted(name_) + after, system_.reason(error)};
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
// takes no new file, an existing file that may be written is rewritten in
// place, the only way left, once all its records are made. The source, which
// may be this very file under any name, has then been read whole.
bool Destination::openFile(const Existing& found) {
    keep_ = found.keep;
    const ErrorCode error = makeTemp();
    if (error == 0) {
        way_ = found.kind == Existing::Kind::File ? Way::Replace : Way::NewFile;
        return true;
    }
    if (found.kind != Existing::Kind::File || !system_.folderRefuses(error)) {
        return failOpening(error);
    }
    way_ = Way::InPlace;
    const ErrorCode opening = system_.openFile(target_.file, false, handle_);
    return opening == 0 || failOpening(opening);
}

ErrorCode Destination::makeTemp() {
    // No signal may end the run between making the file and naming it to the
    // handlers that remove it.
    const SignalHold naming(system_);
    const ErrorCode error = system_.makeTemp(target_.file, handle_, temp_);
    if (error == 0) {
        pendingTemp.store(temp_.c_str());
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
    const ErrorCode error = system_.write(handle_, bytes);
    return error == 0 || fail("write", error);
}

bool Destination::commit() {
    if (way_ == Way::NewFile || way_ == Way::Replace) {
        return commitTemp();
    }
    const ErrorCode error = way_ == Way::InPlace ? rewrite(handle_, records_) : 0;
    bool ok = error == 0 || fail("write", error);
    const Handle file = std::exchange(handle_, kNoHandle);
    if (way_ != Way::Descriptor) {
        const ErrorCode closing = system_.close(file);
        ok = ok && (closing == 0 || fail("write", closing));
    }
    return ok;
}

bool Destination::commitTemp() {
    system_.setMetadata(handle_, keep_);
    const ErrorCode syncing = system_.sync(handle_);
    const ErrorCode closing = system_.close(std::exchange(handle_, kNoHandle));
    if (syncing != 0 || closing != 0) {
        return fail("write", syncing != 0 ? syncing : closing);
    }
    const ErrorCode error = system_.replace(temp_, target_.file);
    if (error == 0) {
        pendingTemp.store(nullptr);
        temp_.clear();
        return true;
    }
    if (system_.renameRefused(error)) {
        return writeDirectly(error);
    }
    return fail("replace", error);
}

// When the file cannot be renamed over (another program holds it open) but
// may be written, it is rewritten from the finished temporary file, which is
// removed only once that has succeeded; else the rename's failure stands.
bool Destination::writeDirectly(ErrorCode renameError) {
    Handle out = kNoHandle;
    if (system_.openFile(target_.file, false, out) != 0) {
        return fail("replace", renameError);
    }
    if (pendingTemp.exchange(nullptr) == nullptr) { // a signal has removed it
        (void)system_.close(out);
        return fail("replace", system_.cancelled());
    }
    // From here on the temporary file may hold the only complete result:
    // whatever fails, it stays.
    const fs::path finished = std::exchange(temp_, fs::path());
    Handle in = kNoHandle;
    std::uint64_t size = 0;
    ErrorCode error = system_.openFile(finished, true, in);
    if (error == 0) {
        error = system_.size(in, size);
        records_.resize(static_cast<std::size_t>(size));
        for (std::size_t at = 0, got = 1; error == 0 && at < records_.size() && got != 0;
             at += got) {
            error = system_.read(in, records_.data() + at, records_.size() - at, got);
        }
        (void)system_.close(in);
    }
    error = error != 0 ? error : rewrite(out, records_);
    bool ok = error == 0 || fail("write", error);
    const ErrorCode closing = system_.close(out);
    ok = ok && (closing == 0 || fail("write", closing));
    if (ok) {
        system_.remove(finished);
    }
    return ok;
}

// Rewrites `file` in place with `records`. Nothing of it changes unless there
// is room for them all: what they need beyond the file's present end is
// written first, and should that fail (a full disk, a quota, a file-size
// limit), the file is cut back to what it was. While the file is incomplete,
// a signal waits until it is whole.
ErrorCode Destination::rewrite(Handle file, std::string_view records) {
    std::uint64_t present = 0;
    if (const ErrorCode error = system_.size(file, present)) {
        return error;
    }
    const SignalHold incomplete(system_);
    const std::size_t old = static_cast<std::size_t>(std::min<std::uint64_t>(present, SIZE_MAX));
    if (records.size() > old) {
        if (const ErrorCode error = writeInSteps(file, old, records.substr(old))) {
            (void)system_.truncate(file, present);
            return error;
        }
    }
    ErrorCode error = writeInSteps(file, 0, records.substr(0, old));
    error = error != 0 ? error : system_.truncate(file, records.size());
    return error != 0 ? error : system_.sync(file);
}

ErrorCode Destination::writeInSteps(Handle file, std::uint64_t offset, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kStep) {
        if (const ErrorCode error = system_.writeAt(file, offset + at, bytes.substr(at, kStep))) {
            return error;
        }
    }
    return 0;
}

} // namespace quorvex
