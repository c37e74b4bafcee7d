#!/usr/bin/env bash
# platforms: posix
# A write past the file-size limit fails like any other: said, status 1, the
# temporary file removed, the destination as it was.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 65536 13 fw.s19
echo old >out.s37
file_limit 64
expect 1 "File Write Error" fw.s19 out.s37
[ "$(cat out.s37)" = old ] || complain "the destination was changed"
no_leftovers
exit "$failed"
