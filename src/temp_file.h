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
// While pending, a signal that ends the run removes it: its folder and name
// stand in removedOnSignal (platform.h), where the handlers take them. claim() takes it
// back, for a span in which the file must outlive any signal: the direct
// write reads it while signals are held, and keeps it if that write fails
// and cannot be undone, as the only complete result.
//
// What holds in each state:
// - none (before make(), or after it failed): removedOnSignal holds nothing
//   of this one; there is no file, no name, and the folder is closed.
// - pending: removedOnSignal holds its folder and name (unless, on Windows,
//   the console handler took them, removed the file and is ending the run),
//   and no other file may be named there meanwhile; the file exists under
//   its name in the open folder.
// - claimed: removedOnSignal holds nothing of it; the file exists under its
//   name in the open folder, and is this object's alone to remove or keep.
// - committed, removed, kept, gone: removedOnSignal holds nothing of it and
//   the folder is closed. Committed: the file is the target, its old name
//   gone; removed and gone (a signal's handler removed it, and the run is
//   ending): there is no file; kept: the file stays under name(), the user's.
// A call that the diagram does not allow is the caller's error (misused()
// in temp_file.cpp says what follows).
#pragma once

#include "platform.h"

#include <filesystem>
#include <string>

namespace quorvex {

class TempFile {
  public:
    explicit TempFile(System& system) : system_(system) {}
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Makes `.quorvex-` and 16 hex digits in `folder`, open for writing, as
    // System::createFile makes a file (`privately`: for its owner alone).
    // The folder is opened once: the file is made, renamed and removed by
    // its name within it, however long the folder's own path.
    Error make(const std::filesystem::path& folder, bool privately, Handle& out);
    // Renames it over `target`, a name in the same folder, waiting out a brief
    // hold on either by another program, and it is gone from here.
    Error commit(const std::filesystem::path& target);
    // Reads what it holds into `into`, while pending or claimed. Throws
    // std::bad_alloc.
    Error readBack(std::string& into);
    // Takes it from the signal handlers; false when a signal removed it already.
    bool claim();
    // A claimed file goes now, or stays on purpose.
    void remove();
    void keep();

    const std::filesystem::path& name() const { return name_; }

  private:
    enum class State { None, Pending, Claimed, Committed, Removed, Kept, Gone };

    // Whether `call` is `allowed` in this state; if not, a programming error.
    bool allows(bool allowed, const char* call) const;
    // Takes its own folder and name back from the handlers; false if they took them.
    bool takeBack();
    // Into a state in which it holds nothing: the folder is closed.
    void end(State state);

    System& system_;
    Folder folder_;
    std::filesystem::path leaf_; // its name within folder_
    std::filesystem::path name_; // its whole name, for messages and Windows' handler
    PendingFile pending_{};      // what removedOnSignal points to while it is pending
    State state_ = State::None;
};

} // namespace quorvex
