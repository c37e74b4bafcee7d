#!/usr/bin/env bash
# platforms: posix
# A signal that ends the run while a large file is converted in place (a
# plain kill, Ctrl-\, the user's signals, a timer, a CPU-time limit, and the
# signals of a fault, sent by another program: a watchdog, timeout -s ABRT)
# leaves the source and no temporary file. A bus error sent while the source
# is mapped is no source cut short. One the caller ignores stays ignored, a
# fault's too (trap '' ABRT): the run converts.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
signals=(TERM QUIT USR1 ALRM XCPU ABRT)
# qemu-user may die itself of a sent SEGV, BUS, ILL, FPE, SYS or TRAP that came
# while it was stopped, before the program sees it.
[[ ${quorvex[0]} == *qemu* ]] || signals+=(SEGV BUS ILL FPE SYS TRAP)
for signal in "${signals[@]}"; do
    signal_in_place "$signal"
    no_leftovers . "SIG$signal: "
done
env --ignore-signal=ABRT "${quorvex[@]}" dest/fw.s19 ignored.s37 >/dev/null &
pid=$!
interrupt "$pid" ABRT leftovers .
wait "$pid" || complain "ignored SIGABRT: status $?, expected 0"
"${quorvex[@]}" original.s19 want.s37 >/dev/null
cmp -s ignored.s37 want.s37 || complain "ignored SIGABRT: the file is not the whole conversion"
exit "$failed"
