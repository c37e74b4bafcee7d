#!/usr/bin/env bash
# platforms: posix; needs: tmpfs
# With no inode left for a temporary file, an existing file is rewritten in
# place; a new one cannot be made, and that is a failure, not an early stop.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 4096 71 fw.s19
reference fw.s19 want.s37
small_fs fs size=1m,nr_inodes=8
cp fw.s19 fs/fw.s19
for n in $(seq 20); do : 2>/dev/null >"fs/filler$n" || break; done
expect 0 "Converted 257/258 Lines" fs/fw.s19 fs/fw.s19
cmp -s fs/fw.s19 want.s37 || complain "in place: the file does not hold the records"
expect 1 "File Write Error" fw.s19 fs/new.s37
[ -e fs/new.s37 ] && complain "a new file was made"
no_leftovers fs
exit "$failed"
