// What a file that replaces another keeps of it, in one place, as cp's
// --preserve and --require-preserve say it for a copy.
//
//   what                              required   where it is kept from
//   owner and group                   yes        inspect's Metadata
//   its other names (hard links)      yes        inspect's Metadata
//   permission bits                   no         inspect's Metadata
//   access ACL, or having none        no         the old file's attributes
//   user.* extended attributes        no         the old file's attributes
//   file attributes (Windows: hidden, no         inspect's Metadata
//     system, not content-indexed;
//     the archive bit set)
//
// A replacement that cannot keep a required one is not made: the old file is
// written where it stands instead (from the finished temporary file, see
// Destination), which keeps everything. The others are kept where the
// system lets them be: a file system without extended attributes has none
// to keep.
#pragma once

#include "platform.h"

#include <filesystem>

namespace quorvex {

// Whether a replacement may keep everything `old`'s `meta` says it has that
// is required: false for a file with other names, which a rename would part
// from the records.
bool mayReplace(const Metadata& meta);

// Gives `file`, the temporary file that is to replace `old`, what it keeps of
// it, the owner and group first (a change of owner clears the set-user-ID
// bit) and the permission bits last (it stays private until it has all).
// False when the owner or group cannot be kept.
bool keepFrom(System& system, Handle file, const std::filesystem::path& old, const Metadata& meta);

} // namespace quorvex
