#!/usr/bin/env bash
# platforms: posix
# A signal that ends the run while a large file is converted in place (a
# plain kill, Ctrl-\, the user's signals, a timer, a CPU-time limit, and the
# signals of a fault, sent by another program: a watchdog, timeout -s ABRT)
# leaves the source and no temporary file. A bus error sent while the source
# is mapped is no source cut short.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
for signal in TERM QUIT USR1 ALRM XCPU ABRT SEGV BUS ILL FPE SYS TRAP; do
    signal_in_place "$signal"
    no_leftovers . "SIG$signal: "
done
exit "$failed"
