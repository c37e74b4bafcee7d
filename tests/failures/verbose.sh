#!/usr/bin/env bash
# platforms: posix windows
# Asked for, each failure also says on standard error why; a completed run
# still says nothing there. Windows words its reasons its own way.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 14 fw.s19
mkdir folder
export QUORVEX_VERBOSE=1
reason() { if [ -n "$windows" ]; then echo '?*'; else echo "$1"; fi; }
explained="quorvex: cannot open 'missing.s19' for reading: $(reason 'No such file or directory')"
expect 1 "File Read Error" missing.s19 out.s37
explained="quorvex: cannot open 'gone/out.s37' for writing: $(reason 'No such file or directory')"
expect 1 "File Write Error" fw.s19 gone/out.s37
explained="quorvex: cannot open 'folder' for writing: $(reason 'Is a directory')"
expect 1 "File Write Error" fw.s19 folder
if [ -z "$windows" ]; then
    s19 1024 15 big.s19 # more records than the 1 KiB limit takes
    explained="quorvex: cannot write 'out.s37': File too large"
    (file_limit 1 && expect 1 "File Write Error" big.s19 out.s37 && exit "$failed") || failed=1
fi
explained=
expect 0 "Converted 5/6 Lines" fw.s19 out.s37
exit "$failed"
