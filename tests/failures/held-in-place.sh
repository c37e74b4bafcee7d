#!/usr/bin/env bash
# platforms: windows; needs: hold
# A source that another program holds open for the whole run, sharing reading
# and writing, cannot be renamed over: converted in place, it is written
# directly.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 15 fw.s19
reference fw.s19 want.s37
cp fw.s19 in.s19
hold in.s19 rw 8
expect 0 "Converted 5/6 Lines" in.s19 in.s19
still_held
cmp -s in.s19 want.s37 || complain "held sharing rw: the file does not hold the records"
let_go
no_leftovers
exit "$failed"
