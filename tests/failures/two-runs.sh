#!/usr/bin/env bash
# platforms: posix
# Two runs that rewrite one file in place take turns: the file ends holding
# the records of one of them, whole; a run that reads the file meanwhile
# reads it whole. A run that waits past its bound for another's lock fails,
# the file untouched, and so does one that would read it; a caller's
# flock(1) on the file is not waited for.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 65536 31 a.s19 && s19 65536 32 b.s19
for _ in $(seq 6); do
    cat a.s19 a.s19 >twice.s19 && mv twice.s19 a.s19
    cat b.s19 b.s19 >twice.s19 && mv twice.s19 b.s19
done
reference a.s19 a.s37 && reference b.s19 b.s37
mkdir locked && cp a.s19 locked/out.s37 && chmod 0666 locked/out.s37
lock_folder locked
# The first run is stopped in the middle of its rewrite; the second, started
# then, must wait for it, and write its own records whole after it.
stop_mid_rewrite locked/out.s37 a.s19 a.s37 a.s19 locked/out.s37
first=$pid
"${runner[@]}" "${quorvex[@]}" b.s19 locked/out.s37 >b.out &
second=$!
# A run that reads the file meanwhile waits too, and reads it whole.
"${runner[@]}" "${quorvex[@]}" locked/out.s37 read.s37 >read.out &
reader=$!
sleep 1
running "$second" || complain "the second run did not wait for the first"
running "$reader" || complain "the reading run did not wait for the first"
kill -CONT "$first"
wait "$first" || complain "the first run failed"
wait "$second" || complain "the second run failed: $(cat b.out)"
# Read whole, the first run's records are S3 records alone, which are not
# converted; half rewritten, the old S1 records behind them would be.
wait "$reader"
[ $? = 1 ] && [ "$(cat read.out)" = "No data!" ] ||
    complain "the reading run read the file half rewritten: $(cat read.out)"
cmp -s locked/out.s37 b.s37 || complain "the file does not hold the second run's records whole"
# Past the wait for a run that holds the lock, a run gives up, untouched; so
# does one that would read the file, rather than read it half rewritten.
stop_mid_rewrite locked/out.s37 a.s19 a.s37 a.s19 locked/out.s37
export QUORVEX_VERBOSE=1
"${runner[@]}" "${quorvex[@]}" locked/out.s37 copy.s37 >read.out 2>&1 &
reader=$!
explained="quorvex: cannot lock 'locked/out.s37': another program kept it locked for 10 seconds"
expect 1 "File Write Error" b.s19 locked/out.s37
wait "$reader"
[ $? = 1 ] && [ "$(cat read.out)" = "File Read Error
quorvex: cannot read 'locked/out.s37': another program kept it locked for 10 seconds" ] ||
    complain "a reader past the wait: $(cat read.out)"
[ -e copy.s37 ] && complain "a reader past the wait made its destination"
unset QUORVEX_VERBOSE
explained=
kill -CONT "$pid"
wait "$pid" || complain "the run that held the lock failed"
cmp -s locked/out.s37 a.s37 || complain "past the wait for the lock: the file is not the first run's"
# A caller that serialises its steps with flock(1) on the file is no such run.
SECONDS=0
flock locked/out.s37 "${runner[@]}" "${quorvex[@]}" b.s19 locked/out.s37 >/dev/null ||
    complain "run under flock(1) failed"
[ "$SECONDS" -lt 5 ] || complain "run under flock(1) waited $SECONDS seconds"
no_leftovers
exit "$failed"
