// The destination of a run and the rules for writing it, the same on every
// system; the system's part is the primitives of platform.h.
#pragma once

#include "messages.h"
#include "platform.h"
#include "sink.h"
#include "temp_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// How a destination is written.
enum class Way {
    Descriptor, // one of the process's own descriptors (/dev/stdout, /dev/fd/N), as it is
    Device,     // anything that exists and is no file (a device, a pipe), directly
    NewFile,    // a file made beside the name, then renamed to it
    Replace,    // the same over an existing file, whose metadata it keeps
    InPlace,    // an existing file in a folder that takes no new file, rewritten where it stands
};

// A regular file (or a missing one) is replaced atomically: the records go to
// a temporary file beside it, which is synced and renamed over it by
// commit(). A symbolic link keeps pointing to the replaced file. Where a
// replacement would lose something (the file's owner or group, which the
// runner cannot give it; its other hard links) or the rename is refused
// while the file may be written (another program holds it open), the file is
// written directly from the finished temporary file. A file whose folder
// takes no new file is rewritten in place, once every record is made.
// Destroying an uncommitted destination removes its temporary file.
class Destination : public Sink {
  public:
    Destination(System& system, std::filesystem::path name);
    ~Destination() override;
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // False when the destination cannot be opened for writing; then nothing
    // has been touched.
    bool open();
    // Whether the bytes written go at once into the file `source` is open on,
    // which the caller must then no longer read from that file.
    bool writesInto(const FileId& source);
    // Takes the bytes; those of a file rewritten in place wait in memory for
    // commit() (throwing std::bad_alloc when there is no room).
    bool write(std::string_view bytes) override;
    // Makes the written bytes the destination's content; false on failure, in
    // which case a replaced file keeps its old content, unless writing it
    // directly failed midway: then the temporary file stays, holding them.
    bool commit();

    Way way() const { return way_; }
    // Why open(), write() or commit() failed.
    const Failure& failure() const { return failure_; }
    // Whether write() or commit() failed for want of memory.
    bool outOfMemory() const { return outOfMemory_; }

  private:
    bool fail(Step step, const Error& error);
    bool failOpening(const Error& error) { return fail(Step::OpenDestination, error); }
    // A file written where it stands is read too: its old bytes are kept to
    // put back should the write fail.
    bool failOpeningBothWays(const Error& error) { return fail(Step::OpenWhereItStands, error); }
    bool failFollowing(const Error& error);
    bool openFile(const Existing& found);
    bool commitTemp();
    bool noMemory();
    bool writeDirectly(const Error& refused);
    bool readTemp();
    bool rewriteFromTemp(Handle out);
    bool rewrite(Handle file, std::string_view records);
    // How a rewrite in place ended.
    enum class Rewritten { Done, Undone, Incomplete, Cancelled };
    bool prepareRewrite(Handle file, std::uint64_t size, std::string& old);
    Rewritten overwriteOrUndo(Handle file, std::string_view old, std::string_view records);
    // What a rewrite changed of the old bytes.
    struct Changes {
        std::uint64_t start = 0; // the first bytes, overwritten
        bool cut = false;        // all past the records' end
    };
    Error overwrite(Handle file, std::uint64_t present, std::string_view records, Changes& changes);
    Error undo(Handle file, std::string_view old, std::uint64_t end, const Changes& changes);
    Error putBackWhole(Handle file, std::string_view old);
    Error writeInSteps(Handle file, std::uint64_t offset, std::string_view bytes,
                       std::uint64_t& written);
    Error readAll(Handle file, std::string& into);

    System& system_;
    std::filesystem::path name_; // as given
    Target target_;
    Way way_ = Way::Device;
    Handle handle_ = kNoHandle;
    TempFile temp_;
    Metadata keep_;
    std::string records_; // all of them, when rewritten in place
    Failure failure_;
    bool outOfMemory_ = false;
};

} // namespace quorvex
