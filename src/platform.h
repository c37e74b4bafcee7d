// The few file operations the conversion run needs from the operating system.
// Each platform file defines the state behind these classes for itself.
#pragma once

#include "conversion.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quorvex {

#ifdef _WIN32
// `name` in the extended form \\?\C:\... (or \\?\UNC\server\...) when its full
// path, or that of a temporary file beside it, reaches MAX_PATH: the only form
// in which Windows opens such paths. Shorter names and devices are returned
// as they are.
std::filesystem::path openablePath(const std::filesystem::path& name);
#endif

// Prepares the process for a run, before any file is opened: a write to a
// closed pipe or past a file-size limit fails instead of ending the process,
// and Ctrl-C, Ctrl-\, a plain kill or a closed terminal remove the pending
// temporary file before the process ends as it would have.
void installSignalHandlers();

// Writes console text to `out` whole and at once, also when the caller left
// its descriptor non-blocking. A console that cannot take it is no failure of
// the run: the status tells the outcome.
void writeConsole(std::FILE* out, std::string_view text);

// Writes one line of UTF-8 text to standard error.
void writeErrorLine(std::string_view line);

// A regular file's bytes mapped read-only into memory; the view stays valid
// after the file is closed.
class Mapping {
  public:
    Mapping();
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    // The mapped bytes; empty when nothing is mapped.
    std::string_view view() const;

  private:
    friend class Input;
    friend class Destination;
    struct State;
    std::unique_ptr<State> state_;
};

// The source, open for reading bytes as they are stored.
class Input {
  public:
    Input();
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // False when the file cannot be opened: missing, not permitted, a directory.
    bool open(const std::filesystem::path& name);
    // A regular file's size, as a first guess of how much there is; else 0.
    std::uint64_t sizeHint() const;
    // Maps a regular, non-empty file whole, which spares copying it; false
    // when it cannot be mapped and must be read. Should another program cut
    // the file short while it is mapped, or its disk fail, touching the lost
    // part prints `faultMessage` as a line and ends the process with status 1,
    // after removing any temporary file. That holds only while `into` maps it.
    bool map(Mapping& into, const char* faultMessage);
    // Reads up to `size` bytes into `into`: the number read, 0 at the end of
    // the file, or -1 when reading failed.
    std::ptrdiff_t read(char* into, std::size_t size);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The destination of a run. A regular file (or a missing one) is replaced
// atomically: the records go to a temporary file beside it, which is synced
// and renamed over it by commit(). A symbolic link keeps pointing to the
// replaced file. One of the process's own descriptors (/dev/stdout,
// /dev/fd/N) is written through that descriptor, and anything else that
// exists (a device, a pipe) is written directly. On Windows, a file that
// another program holds open cannot be renamed over: if that program lets
// others write it, commit() writes it directly from the temporary file.
// Destroying an uncommitted destination removes its temporary file.
class Destination : public Sink {
  public:
    explicit Destination(std::filesystem::path name);
    ~Destination() override;
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // False when the destination cannot be opened for writing; then nothing
    // has been touched. A file that can only be rewritten in place is
    // touched by commit() alone, once every record is made. Should the
    // destination be a descriptor open on the very file `source` maps,
    // `source` first takes a private copy of its bytes (throwing
    // std::bad_alloc when there is no room for it): its view must be taken
    // again afterwards.
    bool open(Mapping& source);
    bool write(std::string_view bytes) override;
    // Makes the written bytes the destination's content; false on failure, in
    // which case a replaced file keeps its old content, unless writing it
    // directly failed midway: then the temporary file stays, holding them.
    bool commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quorvex
