#!/usr/bin/env bash
# platforms: posix; needs: root
# Under a btrfs quota (a qgroup) just above a file's use, which the disk's
# free room does not show and at whose limit btrfs refuses even to cut a
# file, a rewrite in place ends whole with the new records, or fails with
# status 1 and the file byte for byte as it was: never old and new mixed.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
command -v mkfs.btrfs >/dev/null || skip "btrfs-progs is not installed"
s19 65536 23 fw.s19
for _ in 1 2 3 4 5; do cat fw.s19 fw.s19 >twice.s19 && mv twice.s19 fw.s19; done
reference fw.s19 fw.s37 # 5.5 MiB of S1 records, 6 MiB of S3 records
truncate -s 200M btrfs.img && mkfs.btrfs -q btrfs.img >/dev/null 2>&1 || skip "cannot make a btrfs image"
mkdir fs && mount -o loop btrfs.img fs 2>/dev/null || skip "cannot mount a btrfs image here"
mounts+=("$PWD/fs")
btrfs quota enable fs || skip "no btrfs quotas here"
for more in 2 4 6 8 10 12 14 16; do # MiB allowed above the file's use
    sub=fs/sub$more file=fs/sub$more/locked/fw.s19
    btrfs subvolume create "$sub" >/dev/null && mkdir "$sub/locked" && cp fw.s19 "$file"
    lock_folder "$sub/locked"
    sync && btrfs quota rescan -w fs >/dev/null
    used=$(btrfs qgroup show --raw -r fs |
        awk -v id="0/$(btrfs inspect-internal rootid "$sub")" '$1 == id {print $2}')
    btrfs qgroup limit $((used + more * 1048576)) "$sub" || complain "cannot limit $sub"
    "${quorvex[@]}" "$file" "$file" >/dev/null
    status=$?
    if cmp -s "$file" fw.s37; then
        [ "$status" = 0 ] || complain "+$more MiB: converted, but status $status"
    elif cmp -s "$file" fw.s19; then
        [ "$status" = 1 ] || complain "+$more MiB: untouched, but status $status"
    else
        complain "+$more MiB: the file holds neither the old nor the new records (status $status)"
    fi
done
exit "$failed"
