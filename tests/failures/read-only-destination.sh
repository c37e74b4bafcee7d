#!/usr/bin/env bash
# platforms: posix windows
# A read-only destination is refused and left as it was. On Windows the
# read-only attribute holds for everyone; elsewhere the program runs as nobody.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 6 fw.s19
echo old >ro.s37 && chmod 0444 ro.s37
[ -n "$windows" ] || run_as_nobody
expect 1 "File Write Error" fw.s19 ro.s37
[ "$(cat ro.s37)" = old ] || complain "the read-only file was changed"
no_leftovers
exit "$failed"
