// The temporary file that a new content is written to beside its target,
// so that no reader ever sees the target half made.
//
//   none --make()--> pending --commit()--> committed: it is the target now
//                     |   |
//                     |   +--destroyed, or a signal ends the run--> removed
//                     +--claim()--> claimed --remove(), or destroyed--> removed
//                     |                |
//                     |                +--keep()--> kept, its name told to the user
//                     +--claim() after a signal removed it--> gone
//
// While pending, a signal that ends the run removes it: its name stands in
// removedOnSignal (platform.h), where the handlers take it. claim() takes it
// back, for a span in which the file must outlive any signal: the direct
// write reads it while signals are held, and keeps it if that write fails
// and cannot be undone, as the only complete result.
#pragma once

#include "platform.h"

#include <filesystem>

namespace quorvex {

class TempFile {
  public:
    explicit TempFile(System& system) : system_(system) {}
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Makes `.quorvex-` and 16 hex digits in `folder`, open for writing, as
    // System::createFile makes a file (`privately`: for its owner alone).
    Error make(const std::filesystem::path& folder, bool privately, Handle& out);
    // Renames it over `target`, and it is gone from here.
    Error commit(const std::filesystem::path& target);
    // Takes it from the signal handlers; false when a signal removed it already.
    bool claim();
    // A claimed file goes now, or stays on purpose.
    void remove();
    void keep();

    const std::filesystem::path& name() const { return name_; }

  private:
    enum class State { None, Pending, Claimed };

    System& system_;
    std::filesystem::path name_;
    State state_ = State::None;
};

} // namespace quorvex
