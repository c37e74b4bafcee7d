#!/usr/bin/env bash
# platforms: windows; needs: hold
# A destination held without sharing all along is refused, as a read-only one
# is, after about two seconds.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 16 fw.s19
echo old >out.s37
export QUORVEX_VERBOSE=1
hold out.s37 none 30
milliseconds() { echo $(($(date +%s%N) / 1000000)); }
start=$(milliseconds)
explained="quorvex: cannot open 'out.s37' for writing: ?*"
expect 1 "File Write Error" fw.s19 out.s37
took=$(($(milliseconds) - start))
still_held
[ "$took" -lt 4000 ] || complain "gave up after $took ms, not about 2 s"
[ "$(cat out.s37)" = old ] || complain "the file was changed"
let_go
no_leftovers
exit "$failed"
