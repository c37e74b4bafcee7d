#!/usr/bin/env bash
# platforms: posix; needs: proc
# Reading the program's own memory from address 0 opens but fails to read.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
expect 1 "File Read Error" /proc/self/mem out.s37
[ -e out.s37 ] && complain "the destination was created"
exit "$failed"
