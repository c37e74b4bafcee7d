#include "room.h"

namespace quorvex {

Error checkRoom(System& system, Handle file, std::uint64_t size, std::uint64_t bytes, Room& room) {
    Space space;
    if (const Error error = system.space(file, space); error || !space.copiesOnWrite) {
        return {};
    }
    room = Room{2 * bytes + kRoomMargin, space.free};
    if (space.free / 2 < bytes) {
        return {ErrorKind::NoRoom};
    }
    const SignalHold taken(system);
    const Error reserved = system.reserve(file, size, room.needed);
    if (reserved.kind == ErrorKind::NoRoom) {
        return reserved;
    }
    // Where room cannot be set aside (a file-size limit), the disk's free
    // room is all there is to go by; where it was, it is given back.
    return reserved ? Error{} : system.truncate(file, size);
}

} // namespace quorvex
