#!/usr/bin/env bash
# platforms: posix
# A replaced file keeps its mode; a new one gets the umask's.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 5 fw.s19
echo old >kept.s37 && chmod 0640 kept.s37
expect 0 "Converted 5/6 Lines" fw.s19 kept.s37
[ "$(stat -c %a kept.s37)" = 640 ] || complain "mode $(stat -c %a kept.s37), expected 640"
(umask 027 && reference fw.s19 new.s37)
[ "$(stat -c %a new.s37)" = 640 ] || complain "new file mode $(stat -c %a new.s37) under umask 027"
exit "$failed"
