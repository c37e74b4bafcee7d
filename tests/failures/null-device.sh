#!/usr/bin/env bash
# platforms: posix; needs: mknod
# Devices are written directly, never replaced.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
mknod device c 1 3 2>/dev/null || skip "cannot make device nodes here"
s19 512 1 fw.s19
expect 0 "Converted 33/34 Lines" fw.s19 device
[ -c device ] || complain "the device node was replaced"
no_leftovers
exit "$failed"
