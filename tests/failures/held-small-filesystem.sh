#!/usr/bin/env bash
# platforms: windows; needs: tmpfs hold
# When writing a held destination directly fails midway (the disk is full:
# the temporary file takes the room), the run says so, the file is put back
# as it was, and the temporary file goes.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
small_fs fs
s19 40960 18 fw.s19 # 120 KiB of records: room for one copy, not two
echo old >fs/out.s37
hold fs/out.s37 rw 30
export QUORVEX_VERBOSE=1
explained="quorvex: cannot write 'fs/out.s37': ?*"
expect 1 "File Write Error" fw.s19 fs/out.s37
still_held
[ "$(cat fs/out.s37)" = old ] || complain "the held file was not put back as it was"
no_leftovers fs
let_go
exit "$failed"
