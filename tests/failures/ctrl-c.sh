#!/usr/bin/env bash
# platforms: windows; needs: hold
# Ctrl-C while a large file is converted in place leaves the source and no
# temporary file. The helper holds the source (sharing it), so that the run
# waits for it before the rename and cannot end before the Ctrl-C is
# handled. Wine passes SIGINT on as Ctrl-C.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
mkdir dest && large_s19 dest/fw.s19
cp dest/fw.s19 original.s19
hold dest/fw.s19 rw 30
set -m # a background run takes SIGINT rather than ignore it
"${quorvex[@]}" dest/fw.s19 dest/fw.s19 >"$tmp/console" &
pid=$!
for _ in $(seq 1000); do
    leftovers dest && break
    sleep 0.01
done
leftovers dest || complain "no temporary file was made"
kill -INT "$pid"
wait "$pid" # Wine's status for it is not Windows' STATUS_CONTROL_C_EXIT
grep -q Converted "$tmp/console" && complain "the run was not interrupted"
cmp -s dest/fw.s19 original.s19 || complain "the source was changed"
no_leftovers
let_go
exit "$failed"
