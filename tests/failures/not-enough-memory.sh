#!/usr/bin/env bash
# platforms: posix; needs: unsanitized no-qemu
# A (sparse) source past the memory limit: "Not enough memory", no file made.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
truncate -s 256M big.s19
out=$(ulimit -v 131072 && "${quorvex[@]}" big.s19 big.s37)
status=$?
[ "$status" = 1 ] || complain "status $status, expected 1"
[ "$out" = "Not enough memory" ] || complain "said '$out'"
[ -e big.s37 ] && complain "the destination was created"
exit "$failed"
