#!/usr/bin/env bash
# platforms: posix
# A signal that ends the run while a large file is converted in place (a
# plain kill, Ctrl-\, the user's signals, a timer, a CPU-time limit) leaves
# the source and no temporary file.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
for signal in TERM QUIT USR1 ALRM XCPU; do
    signal_in_place "$signal"
    no_leftovers . "SIG$signal: "
done
exit "$failed"
