// The few file operations the conversion run needs from the operating system.
#pragma once

#include "conversion.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

enum class ReadStatus {
    ok,
    cannotOpen, // missing, not permitted, or a directory
    readError,  // the source was opened but a read failed
    noMemory,
};

// Reads the whole source into `text` under the text reading rules
// (appendText), reading no further than the first Ctrl-Z.
ReadStatus readSource(const std::filesystem::path& name, std::string& text);

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
