#!/usr/bin/env bash
# platforms: posix; needs: root setpriv
# A writable file that cannot be renamed over is written directly from the
# finished temporary file: another user's file in a sticky folder, and a file
# mounted over a name, as a container's file volume is.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 4096 41 fw.s19
reference fw.s19 want.s37
mkdir sticky && chmod 1777 sticky
echo old >sticky/out.s37 && chmod 0666 sticky/out.s37 # root's
run_as_nobody
expect 0 "Converted 257/258 Lines" fw.s19 sticky/out.s37
cmp -s sticky/out.s37 want.s37 || complain "sticky folder: the file does not hold the records"
[ "$(stat -c %U:%a sticky/out.s37)" = root:666 ] ||
    complain "sticky folder: the file is now $(stat -c %U:%a sticky/out.s37)"
no_leftovers
runner=()
echo old >volume.s37 && echo mounted-over >out.s37
mount --bind volume.s37 out.s37 2>/dev/null || skip "cannot bind-mount a file here"
mounts+=("$PWD/out.s37")
expect 0 "Converted 257/258 Lines" fw.s19 out.s37
cmp -s volume.s37 want.s37 || complain "a mounted file: it does not hold the records"
no_leftovers
exit "$failed"
