// The few file operations the conversion run needs from the operating system.
#pragma once

#include "conversion.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace quorvex {

#ifdef _WIN32
// `name` in the extended form \\?\C:\... (or \\?\UNC\server\...) when its full
// path, or that of a temporary file beside it, reaches MAX_PATH: the only form
// in which Windows opens such paths. Shorter names and devices are returned
// as they are.
std::filesystem::path openablePath(const std::filesystem::path& name);
#endif

// A regular file's bytes mapped read-only into memory; the view stays valid
// after the file is closed.
class Mapping {
  public:
    Mapping() = default;
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    std::string_view view() const { return {static_cast<const char*>(base_), size_}; }

  private:
    friend class Input;
    void* base_ = nullptr;
    std::size_t size_ = 0;
};

// The source, open for reading bytes as they are stored.
class Input {
  public:
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // False when the file cannot be opened: missing, not permitted, a directory.
    bool open(const std::filesystem::path& name);
    // A regular file's size, as a first guess of how much there is; else 0.
    std::uint64_t sizeHint() const { return sizeHint_; }
    // Maps a regular, non-empty file whole, which spares copying it; false
    // when it cannot be mapped and must be read. Should another program cut
    // the file short while it is mapped, or its disk fail, touching the lost
    // part prints `faultMessage` as a line and ends the process with status 1,
    // after removing any temporary file.
    bool map(Mapping& into, const char* faultMessage);
    // Reads up to `size` bytes into `into`: the number read, 0 at the end of
    // the file, or -1 when reading failed.
    std::ptrdiff_t read(char* into, std::size_t size);

  private:
    std::intptr_t handle_ = -1;
    std::uint64_t sizeHint_ = 0;
};

// The destination of a run. A regular file (or a missing one) is replaced
// atomically: the records go to a temporary file beside it, which is synced
// and renamed over it by commit(). A symbolic link keeps pointing to the
// replaced file. Anything else that exists (a device, a pipe) is written
// directly. Destroying an uncommitted destination removes its temporary file.
class Destination : public Sink {
  public:
    explicit Destination(std::filesystem::path name) : name_(std::move(name)) {}
    ~Destination() override;
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // False when the destination cannot be opened for writing; then nothing
    // has been touched.
    bool open();
    bool write(std::string_view bytes) override;
    // Makes the written bytes the destination's content; false on failure, in
    // which case a replaced file keeps its old content.
    bool commit();

  private:
    std::filesystem::path name_;
    std::filesystem::path target_; // name_ with symbolic links followed
    std::filesystem::path temp_;   // empty when writing target_ directly
    std::intptr_t handle_ = -1;
    unsigned mode_ = 0;      // permission bits for the new file
    bool syncable_ = false;  // a regular file, so sync it before closing
    bool replacing_ = false; // target_ exists and is being replaced
    unsigned owner_ = 0;
    unsigned group_ = 0;
};

} // namespace quorvex
