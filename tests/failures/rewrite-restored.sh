#!/usr/bin/env bash
# platforms: posix
# In a folder where no new file can be made, a rewrite in place that stops
# partway, here at a file-size limit or a full disk, puts the old bytes back:
# the file ends byte for byte as it was, and the run fails.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
# A source of S0 and S1 lines, longer than its records: the rewrite shrinks it.
s19 65536 21 plain.s19
sed 's/^S1.*/S0030000FC\r\n&/' plain.s19 >half.s19 && cat half.s19 half.s19 >fw.s19
mkdir locked && cp fw.s19 locked/fw.s19 && chmod 0666 locked/fw.s19
s19 65536 22 half.s19 && cat half.s19 half.s19 >big.s19
reference big.s19 big.s37
cat big.s19 half.s19 >old.s37 # longer than its records
cp old.s37 locked/out.s37 && chmod 0666 locked/out.s37
lock_folder locked
file_limit 64
expect 1 "File Write Error" locked/fw.s19 locked/fw.s19
cmp -s locked/fw.s19 fw.s19 || complain "in place past the file-size limit: the source was changed"
expect 1 "File Write Error" big.s19 locked/out.s37
cmp -s locked/out.s37 old.s37 || complain "past the file-size limit: the old destination was changed"
no_leftovers

# A sparse file on a full disk: what was overwritten is put back, the holes stay.
if [ "$(id -u)" = 0 ]; then
    runner=()
    small_fs fs size=100k
    mkdir fs/ro && truncate -s 1M fs/ro/out.s37 && chmod 0666 fs/ro/out.s37
    lock_folder fs/ro
    expect 1 "File Write Error" big.s19 fs/ro/out.s37
    cmp -s fs/ro/out.s37 <(head -c 1048576 /dev/zero) || complain "a full disk: the sparse file was changed"
fi
exit "$failed"
