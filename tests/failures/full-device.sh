#!/usr/bin/env bash
# platforms: posix; needs: mknod
# Devices are written directly; a write that fails at once must be said.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
mknod device c 1 7 2>/dev/null || skip "cannot make device nodes here"
s19 512 1 fw.s19
expect 1 "File Write Error" fw.s19 device
[ -c device ] || complain "the device node was replaced"
no_leftovers
exit "$failed"
