// A file rewritten where it stands, as one transaction: the way left where
// no new file can be made beside it, and the way to write a file that a
// replacement would change. Nothing of it changes unless the new bytes are
// written whole, and while it is changed, no signal ends the run.
//
// The steps, in order:
//   prepare(size)    locks the file against another run (waiting for one
//                    that holds it), reads its old bytes into memory, and
//                    checks the room for `size` new bytes (room.h). Nothing
//                    is changed yet; false: refused, and failure() says why.
//   apply(bytes)     holds every signal that would end the run until the
//                    file is whole again, then writes what the new bytes
//                    need beyond the old end first, then over the old bytes,
//                    cuts the file to its new size and syncs.
//                    Should a step fail (a full disk, a quota, a file-size
//                    limit), the changed old bytes are written back and the
//                    file is cut to its old size; should even that find no
//                    room, the file is emptied, which frees its room, and its
//                    old bytes are written back whole.
//
// apply()'s outcomes:
//   Rewritten        the file holds the new bytes, synced;
//   PutBack          it failed, and the file is byte for byte as it was;
//   LeftIncomplete   it failed, and so did putting the old bytes back;
//   Cancelled        a signal removed the temporary file that holds the new
//                    bytes (see apply()) before the hold: nothing changed.
#pragma once

#include "messages.h"
#include "platform.h"
#include "temp_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex {

class Rewrite {
  public:
    enum class Outcome { Rewritten, PutBack, LeftIncomplete, Cancelled };

    // `name` is the file as the user named it, for the failure.
    Rewrite(System& system, Handle file, std::filesystem::path name, LockWait& wait)
        : system_(system), file_(file), name_(std::move(name)), wait_(wait) {}

    // Throws std::bad_alloc when the old bytes do not fit in memory.
    bool prepare(std::uint64_t size);
    // `copy`, if any, is the temporary file that holds `bytes`: it is taken
    // back from the signal handlers within the hold, removed once the file
    // is whole, old or new, and kept, named in the failure, as the only
    // complete result when the file is left incomplete.
    Outcome apply(std::string_view bytes, TempFile* copy = nullptr);

    const Failure& failure() const { return failure_; }

  private:
    // What the rewrite changed of the old bytes.
    struct Changes {
        std::uint64_t start = 0; // the first bytes, overwritten
        bool cut = false;        // all past the new end
    };
    bool fail(Step step, const Error& error);
    Outcome overwriteOrPutBack(std::string_view bytes);
    Error overwrite(std::string_view bytes, Changes& changes);
    Error putBackChanges(std::uint64_t end, const Changes& changes);
    Error putBackWhole();
    Error writeInSteps(std::uint64_t offset, std::string_view bytes, std::uint64_t& written);

    System& system_;
    Handle file_;
    std::filesystem::path name_;
    LockWait& wait_;
    std::string old_;
    Failure failure_;
};

} // namespace quorvex
