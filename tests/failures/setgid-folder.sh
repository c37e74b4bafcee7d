#!/usr/bin/env bash
# platforms: posix; needs: root setpriv
# In a folder that hands its group to new files (setgid), a replaced file
# keeps its own group; where that is refused, the folder's group gets no
# access rather than the old group's, and the verbose line says so.
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
export QUORVEX_VERBOSE=1
explained="quorvex: cannot give 'shared/other.s37' its group back, so that group loses its access: ?*"
expect 0 "Converted 5/6 Lines" fw.s19 shared/other.s37
[ "$(stat -c %G:%a shared/other.s37)" = daemon:606 ] ||
    complain "a group not kept: the file is now $(stat -c %G:%a shared/other.s37)"
exit "$failed"
