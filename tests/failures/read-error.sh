#!/usr/bin/env bash
# platforms: posix; needs: proc
# /proc/self/mem opens but fails to read at 0: "File Read Error", no file made.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
expect 1 "File Read Error" /proc/self/mem out.s37
[ -e out.s37 ] && complain "the destination was created"
exit "$failed"
