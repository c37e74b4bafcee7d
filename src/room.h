// Whether a file may be rewritten where it stands without running out of
// room midway, with no way to put its old bytes back.
#pragma once

#include "platform.h"

#include <cstdint>

namespace quorvex {

// What a rewrite needs beyond its records on a disk that copies on write,
// where even an overwrite takes room: the records twice (as much again to
// put the old bytes back should it fail) and this margin for the file
// system's own records.
inline constexpr std::uint64_t kRoomMargin = std::uint64_t{1} << 20;

// The room a rewrite needs and the room there is, as a refusal names them.
struct Room {
    std::uint64_t needed = 0;
    std::uint64_t free = 0;
};

// Checks that `bytes` may be written over `file`, of `size` bytes, and its
// old bytes put back. Elsewhere than on a disk that copies on write, any room
// the rewrite lacks shows when it grows the file, first. There, the room is
// set aside past the file's end and given back, so that a quota counts too,
// which the disk's free room does not show, and at whose limit btrfs would
// not even cut the file; signals wait meanwhile, so that none leaves it
// taken. NoRoom, with `room` filled in, where there is too little.
Error checkRoom(System& system, Handle file, std::uint64_t size, std::uint64_t bytes, Room& room);

} // namespace quorvex
