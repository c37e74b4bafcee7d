#!/usr/bin/env bash
# platforms: posix; needs: root
# An append-only folder (chattr +a) takes new files but lets none be renamed
# or removed: a file there is rewritten in place, the last resort; a new one
# is refused, nothing made; no temporary file is left either way.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 61 fw.s19 && reference fw.s19 want.s37
mkdir folder && cp fw.s19 folder/fw.s19
chattr +a folder 2>/dev/null || skip "cannot make a folder append-only here (chattr +a)"
immutable+=("$PWD/folder")
expect 0 "Converted 5/6 Lines" folder/fw.s19 folder/fw.s19
cmp -s folder/fw.s19 want.s37 || complain "in place: the file does not hold the records"
expect 1 "File Write Error" fw.s19 folder/new.s37
[ -e folder/new.s37 ] && complain "a new file was made"
no_leftovers
exit "$failed"
