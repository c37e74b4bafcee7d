#!/usr/bin/env bash
# platforms: posix
# A reader that goes away fails the write and says so; a console that goes
# away changes nothing. Neither may end the run by SIGPIPE.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 65536 12 fw.s19 # far more records than a pipe holds
reference fw.s19 want.s37
mkfifo fifo
head -c 100 fifo >/dev/null &
expect 1 "File Write Error" fw.s19 fifo
wait
exec {gone}> >(true) # a console whose reader has already gone
wait $!
"${quorvex[@]}" fw.s19 out.s37 1>&"$gone" 2>errors
status=$?
[ "$status" = 0 ] || complain "with the console gone: status $status, expected 0"
cmp -s out.s37 want.s37 || complain "with the console gone: the file does not hold the records"
[ -s errors ] && complain "with the console gone: standard error held $(cat errors)"
exit "$failed"
