// What a destination's name leads to, and what the run may do with what it
// finds there: the rules above the systems' primitives, the same on every
// system.
#pragma once

#include "platform.h"

#include <filesystem>

namespace quorvex {

// Where a destination's name leads: its file, with every symbolic link along
// the last part of the name followed, so that a link keeps pointing to the
// file it names after that file is replaced; or one of the process's own
// descriptors, whose "links" lead nowhere a file could be made. An empty
// name is NotFound. A link is followed only as the kernel's
// protected_symlinks rule would, whatever the system's setting (mayFollow):
// one that may not be is Denied, with `to.file` naming it.
Error resolve(System& system, const std::filesystem::path& name, Target& to);

// Whether the link `name`, whose status is `link`, may be followed: it is
// the runner's, or its folder is no sticky folder that anyone may write to,
// or the folder's owner owns it too. So no other user leads the run (as
// root, say) through a link planted in /tmp.
bool mayFollow(System& system, const std::filesystem::path& name, const NameStatus& link);

// What stands under a destination's name before the run writes it.
struct Existing {
    enum class Kind { Missing, File, Device };
    Kind kind = Kind::Missing;
    Handle device = kNoHandle; // a Device, opened for writing
    Metadata keep;             // what a file that replaces a File takes
};

// Looks at what stands under `target` without writing it: nothing, a file to
// replace, or a device (anything that is no file) to write as it is, opened
// for writing. A folder, a read-only file and one the system says may not
// be written are refused; one that another program holds is waited for
// (patiently()).
// Sets `target.file` to the file itself where the system tells it.
Error inspect(System& system, Target& target, Existing& found);

} // namespace quorvex
