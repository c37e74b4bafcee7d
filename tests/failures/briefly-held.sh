#!/usr/bin/env bash
# platforms: windows; needs: hold
# A destination held without sharing for a moment, as a virus scanner does,
# is waited for.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 16 fw.s19
reference fw.s19 want.s37
echo old >out.s37
export QUORVEX_VERBOSE=1
hold out.s37 none 0.6
expect 0 "Converted 5/6 Lines" fw.s19 out.s37
cmp -s out.s37 want.s37 || complain "the file does not hold the records"
wait "$holder"
no_leftovers
exit "$failed"
