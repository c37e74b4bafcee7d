#!/usr/bin/env bash
# platforms: windows; needs: hold
# A destination that another program holds open for the whole run, sharing
# reading and writing (and deletion, or not), cannot be renamed over: it is
# written directly.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 15 fw.s19
reference fw.s19 want.s37
for share in rw rwd; do
    echo old >"out-$share.s37"
    hold "out-$share.s37" "$share" 8
    expect 0 "Converted 5/6 Lines" fw.s19 "out-$share.s37"
    still_held
    cmp -s "out-$share.s37" want.s37 || complain "held sharing $share: the file does not hold the records"
    let_go
done
no_leftovers
exit "$failed"
