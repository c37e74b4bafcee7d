#!/usr/bin/env bash
# platforms: windows
# Windows device names are written directly, never replaced.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 512 1 fw.s19
expect 0 "Converted 33/34 Lines" fw.s19 NUL
[ "$(ls)" = fw.s19 ] || complain "the folder holds $(ls)"
exit "$failed"
