#!/usr/bin/env bash
# platforms: posix windows; needs: tmpfs
# In place on a file system with room for the source but not for both;
# and, in a folder where only a rewrite in place is left, without room for
# the records beyond the source's size. Either way the source stays.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
small_fs fs
mkdir fs/locked && s19 49152 2 fs/locked/fw.s19
cp fs/locked/fw.s19 original.s19
expect 1 "File Write Error" fs/locked/fw.s19 fs/locked/fw.s19
cmp -s fs/locked/fw.s19 original.s19 || complain "the source was changed"
no_leftovers fs
dd if=/dev/zero of=fs/filler bs=4k 2>/dev/null # full, but for the records' growth
truncate -s -4096 fs/filler
chmod 0666 fs/locked/fw.s19
lock_folder fs/locked
expect 1 "File Write Error" fs/locked/fw.s19 fs/locked/fw.s19
cmp -s fs/locked/fw.s19 original.s19 || complain "rewritten in place: the source was changed"
exit "$failed"
