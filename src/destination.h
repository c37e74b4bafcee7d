// The destination of a run: which way it is written, and the commit that
// makes the records its content, the same on every system.
#pragma once

#include "messages.h"
#include "platform.h"
#include "sink.h"
#include "target.h"
#include "temp_file.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

// How a destination is written.
enum class Way {
    Descriptor, // one of the process's own descriptors (/dev/stdout, /dev/fd/N), as it is
    Device,     // anything that exists and is no file (a device, a pipe), directly
    NewFile,    // a file made beside the name, then renamed to it
    Replace,    // the same over an existing file, whose metadata it keeps
    Rewrite,    // an existing file whose folder takes no new file, rewritten where it stands
};

// A regular file (or a missing one) is replaced atomically: the records go to
// a temporary file beside it, which commit() renames over it (synced first
// where it replaces a file: the rule is in destination.cpp). A symbolic
// link keeps pointing to the replaced file. Where a replacement would lose
// something (the file's owner or group, which the runner cannot give it; its
// other hard links) or the rename is refused while the file may be written
// (another program holds it open), the file is written directly from the
// finished temporary file, as a Rewrite (rewrite.h). A file whose folder
// takes no new file is rewritten where it stands, once every record is made.
// Destroying an uncommitted destination removes its temporary file.
class Destination : public Sink {
  public:
    Destination(System& system, std::filesystem::path name, LockWait& wait);
    ~Destination() override;
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // False when the destination cannot be opened for writing; then nothing
    // has been touched.
    bool open();
    // Whether the bytes written go at once into the file `source` is open on,
    // which the caller must then no longer read from that file.
    bool writesInto(const FileId& source);
    // Takes the bytes; those of a file rewritten where it stands wait in
    // memory for commit() (throwing std::bad_alloc when there is no room).
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
    bool openFile(const Existing& found);
    bool noMemory();
    bool commitTemp();
    bool writeDirectly(const Error& refused);
    bool rewrite(Handle file, bool fromTemp);

    System& system_;
    LockWait& wait_;
    std::filesystem::path name_; // as given
    Target target_;
    Way way_ = Way::Device;
    Handle handle_ = kNoHandle;
    TempFile temp_;
    Metadata keep_;
    std::string records_; // all of them, when written where the file stands
    Failure failure_;
    bool outOfMemory_ = false;
};

} // namespace quorvex
