#!/usr/bin/env bash
# platforms: posix; needs: root
# On a copy-on-write file system (btrfs) even an overwrite needs free room:
# a rewrite in place that lacks it is refused before it begins, the file
# untouched.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
command -v mkfs.btrfs >/dev/null || skip "btrfs-progs is not installed"
s19 65536 81 half.s19
for _ in 1 2 3 4 5; do cat half.s19 half.s19 >twice.s19 && mv twice.s19 half.s19; done
sed 's/^S1.*/S0030000FC\r\n&/' half.s19 >fw.s19 # 7 MiB, longer than its records
truncate -s 120M btrfs.img && mkfs.btrfs -q btrfs.img >/dev/null 2>&1 || skip "cannot make a btrfs image"
mkdir fs && mount -o loop btrfs.img fs 2>/dev/null || skip "cannot mount a btrfs image here"
mounts+=("$PWD/fs")
mkdir fs/locked && cp fw.s19 fs/locked/fw.s19
dd if=/dev/zero of=fs/fill bs=1M >/dev/null 2>&1 # the disk is full ...
sync && truncate -s -3M fs/fill && sync          # ... but for 3 MiB
lock_folder fs/locked
export QUORVEX_VERBOSE=1
explained="quorvex: cannot write 'fs/locked/fw.s19': it needs * MiB free, to be rewritten and put back should that fail, and * MiB are free"
expect 1 "File Write Error" fs/locked/fw.s19 fs/locked/fw.s19
cmp -s fs/locked/fw.s19 fw.s19 || complain "the file was changed"
exit "$failed"
