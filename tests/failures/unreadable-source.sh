#!/usr/bin/env bash
# platforms: posix; needs: setpriv
# A source that cannot be read is said so, and nothing is created or changed.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 8 fw.s19 && chmod 0000 fw.s19
run_as_nobody
expect 1 "File Read Error" fw.s19 fw.s37
[ -e fw.s37 ] && complain "the destination was created"
[ "$(stat -c %a fw.s19)" = 0 ] || complain "the source's mode was changed"
exit "$failed"
