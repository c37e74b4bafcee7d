#!/usr/bin/env bash
# platforms: posix; needs: root proc
# With standard output closed (>&-), no file the run opens takes its number: a
# source cut short while converted says so there, not into the file rewritten
# in place, which stays as it was (QUORVEX_VERBOSE says why); /dev/stdout too.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 1 fw.s19
ln -s /proc/self/fd/1 stdout # as /dev/stdout is, but this folder's
"${quorvex[@]}" fw.s19 stdout >&-
[ $? = 1 ] || complain "/dev/stdout, closed: the records went somewhere"
large_s19 big.s19
mkdir locked && echo old >locked/out.s37
lock_folder locked
QUORVEX_VERBOSE=1 "${quorvex[@]}" big.s19 locked/out.s37 >&- 2>err &
pid=$!
# Converting: the file open, the source still mapped.
converting() {
    find "/proc/$pid/fd" -lname "$PWD/locked/out.s37" 2>/dev/null | grep -q . &&
        grep -q "$PWD/big.s19" "/proc/$pid/maps" 2>/dev/null
}
stop_when "$pid" converting && converting ||
    { kill -CONT "$pid"; wait "$pid"; skip "the run could not be stopped while converting"; }
truncate -s 0 big.s19 && kill -CONT "$pid"
wait "$pid"
status=$?
[ "$status" = 1 ] || complain "status $status, expected 1"
[ "$(cat locked/out.s37)" = old ] || complain "the file now begins $(head -c 20 locked/out.s37)"
grep -q "cut short" err || complain "QUORVEX_VERBOSE did not say why: $(cat err)"
exit "$failed"
