#!/usr/bin/env bash
# platforms: posix windows
# In a folder where no new file can be made, the file is rewritten in place,
# the only way left, once all its records are made: in place, or over a hard
# link to the source, the source has been read whole by then. A file-size
# limit refuses it untouched, and Ctrl-C (or any signal that ends the run)
# while it is being rewritten waits until it is whole.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 4096 10 fw.s19
reference fw.s19 want.s37
large_s19 large.s19
reference large.s19 large.s37
mkdir locked && cp fw.s19 locked/fw.s19 && cp fw.s19 locked/a.s19 && ln locked/a.s19 locked/b.s37
chmod 0666 locked/*.s19
lock_folder locked
expect 0 "Converted 257/258 Lines" locked/fw.s19 locked/fw.s19
cmp -s locked/fw.s19 want.s37 || complain "in place: the file does not hold the records"
expect 0 "Converted 257/258 Lines" locked/a.s19 locked/b.s37
cmp -s locked/a.s19 want.s37 && cmp -s locked/b.s37 want.s37 ||
    complain "over a hard link: the two names do not hold the records"
signals=(INT)
[ -n "$windows" ] || signals+=(USR2 VTALRM PROF ABRT)
# qemu-user may die itself of a sent SEGV or BUS that came while it was stopped.
[ -n "$windows" ] || [[ ${quorvex[0]} == *qemu* ]] || signals+=(SEGV BUS)
ulimit -c 0 # no core for the signals of a fault
for signal in "${signals[@]}"; do
    stop_mid_rewrite locked/fw.s19 large.s19 large.s37 locked/fw.s19 locked/fw.s19
    kill -"$signal" "$pid" && kill -CONT "$pid"
    wait "$pid"
    status=$?
    [ -n "$windows" ] || [ "$status" = $((128 + $(kill -l "$signal"))) ] ||
        complain "SIG$signal while rewritten: status $status"
    cmp -s locked/fw.s19 large.s37 || complain "SIG$signal while rewritten: the file is not whole"
done
if [ -z "$windows" ]; then # Windows has no file-size limit
    cp fw.s19 locked/fw.s19
    file_limit 4
    expect 1 "File Write Error" locked/fw.s19 locked/fw.s19
    cmp -s locked/fw.s19 fw.s19 || complain "past the file-size limit: the file was changed"
fi
no_leftovers
exit "$failed"
