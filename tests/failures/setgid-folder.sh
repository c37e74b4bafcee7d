#!/usr/bin/env bash
# platforms: posix; needs: root setpriv
# A replaced file keeps its owner and group, also in a folder that hands its
# group to new files (setgid). A colleague's file, whose owner the runner
# cannot give a new file, is written where it stands instead, as is a file
# with other hard links, which all keep seeing it.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 51 fw.s19
mkdir shared && chgrp daemon shared && chmod 2777 shared
echo old >shared/root.s37 && chgrp root shared/root.s37 && chmod 0640 shared/root.s37
expect 0 "Converted 5/6 Lines" fw.s19 shared/root.s37
[ "$(stat -c %U:%G:%a shared/root.s37)" = root:root:640 ] ||
    complain "root's file is now $(stat -c %U:%G:%a shared/root.s37)"
echo old >shared/own.s37 && chown nobody:nogroup shared/own.s37 && chmod 0664 shared/own.s37
echo old >shared/other.s37 && chgrp root shared/other.s37 && chmod 0666 shared/other.s37
run_as_nobody
expect 0 "Converted 5/6 Lines" fw.s19 shared/own.s37
[ "$(stat -c %U:%G:%a shared/own.s37)" = nobody:nogroup:664 ] ||
    complain "nobody's file is now $(stat -c %U:%G:%a shared/own.s37)"
reference fw.s19 want.s37
expect 0 "Converted 5/6 Lines" fw.s19 shared/other.s37
[ "$(stat -c %U:%G:%a shared/other.s37)" = root:root:666 ] && cmp -s shared/other.s37 want.s37 ||
    complain "a colleague's file: now $(stat -c %U:%G:%a shared/other.s37), records written: $?"
ln shared/other.s37 shared/link.s37 && runner=()
expect 0 "Converted 5/6 Lines" fw.s19 shared/link.s37
[ "$(stat -c %h shared/other.s37)" = 2 ] || complain "a hard-linked file: it was parted from its link"
no_leftovers
exit "$failed"
