#!/usr/bin/env bash
# End-to-end checks that need more than a case folder: device nodes, a small
# file system, links, permission bits and an independent S-record reader.
# usage: failures.sh CHECK COMMAND...     exit 0 passed, 1 failed, 77 skipped
# (COMMAND is the program, perhaps behind an emulator)
set -u
check=$1
shift
quorvex=("$@")
windows=
[[ ${quorvex[-1]} == *.exe ]] && windows=1
tmp=$(mktemp -d) || exit 1
cleanup() {
    mountpoint -q "$tmp/work/fs" 2>/dev/null && umount "$tmp/work/fs"
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir "$tmp/work" && cd "$tmp/work" || exit 1

failed=0
complain() { echo "FAIL: $*"; failed=1; }
skip() { echo "SKIP: $*"; exit 77; }
runner=() # what the program runs under: nothing, or an unprivileged user
expect() { # expect STATUS MESSAGE ARGS...: runs the program and checks what it says
    local status=$1 message=$2
    shift 2
    "${runner[@]}" "${quorvex[@]}" "$@" >"$tmp/console"
    local got=$?
    local out
    out=$(tr -d '\r' <"$tmp/console") # a Windows console ends lines in CR LF
    [ "$got" = "$status" ] || complain "status $got, expected $status for: $*"
    [ "$out" = "$message" ] || complain "said '$out', expected '$message' for: $*"
}
# Random-looking but repeatable bytes.
bytes() { LC_ALL=C awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }'; }
# S19 text for `bytes` made by objcopy: S0, S1 records of 16 data bytes, S9, CR LF.
s19() { bytes "$1" "$2" >img.bin && objcopy -I binary -O srec --srec-len=16 img.bin "$3" && rm img.bin; }
leftovers() { find "$1" -name '.quorvex-*' | grep -q .; }
# Root reads and writes files whatever their mode: run as nobody instead.
unprivileged() {
    [ "$(id -u)" = 0 ] || return 0
    command -v setpriv >/dev/null || skip "root ignores file modes, and setpriv is missing to drop that"
    chmod 0755 "$tmp" && chmod 0777 "$tmp/work"
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    "${runner[@]}" "${quorvex[@]}" >/dev/null || skip "the program cannot be run as nobody from here"
}

case $check in
full-device | null-device)
    # Devices are written directly; a write that fails at once must be said.
    [ "$(id -u)" = 0 ] || skip "making device nodes needs root"
    if [ "$check" = full-device ]; then minor=7; else minor=3; fi
    mknod device c 1 "$minor" 2>/dev/null || skip "cannot make device nodes here"
    s19 512 1 fw.s19
    if [ "$check" = full-device ]; then
        expect 1 "File Write Error" fw.s19 device
    else
        expect 0 "Converted 33/34 Lines" fw.s19 device
    fi
    [ -c device ] || complain "the device node was replaced"
    leftovers . && complain "a temporary file was left"
    ;;
small-filesystem)
    # In place on a file system with room for the source but not for both.
    [ "$(id -u)" = 0 ] || skip "mounting a tmpfs needs root"
    mkdir fs && mount -t tmpfs -o size=192k tmpfs fs 2>/dev/null || skip "cannot mount a tmpfs here"
    s19 49152 2 fs/fw.s19
    cp fs/fw.s19 original.s19
    expect 1 "File Write Error" fs/fw.s19 fs/fw.s19
    cmp -s fs/fw.s19 original.s19 || complain "the source was changed"
    leftovers fs && complain "a temporary file was left"
    ;;
objcopy-roundtrip)
    # objcopy must read the same bytes from our S3 records as from its S1 ones,
    # with CR LF and with LF line ends.
    command -v objcopy >/dev/null || skip "objcopy is not installed"
    for seed in 1 2 3; do
        s19 $((4000 * seed + seed)) "$seed" crlf.s19
        tr -d '\r' <crlf.s19 >lf.s19
        for src in crlf.s19 lf.s19; do
            "${quorvex[@]}" "$src" out.s37 >/dev/null || complain "$src: conversion failed"
            objcopy -I srec -O binary "$src" want.bin && objcopy -I srec -O binary out.s37 got.bin ||
                complain "$src: objcopy cannot read the result"
            cmp -s want.bin got.bin || complain "$src (seed $seed): objcopy reads other bytes"
            grep -qv $'^S[37]' out.s37 && complain "$src: a record is not S3 or S7"
        done
    done
    ;;
symlink-destination)
    # The file a link points to is replaced; the link stays a link.
    s19 64 4 fw.s19
    mkdir real && echo old >real/fw.s37 && ln -s real/fw.s37 link.s37
    expect 0 "Converted 5/6 Lines" fw.s19 link.s37
    [ -L link.s37 ] || complain "the link was replaced by a file"
    grep -q '^S3' real/fw.s37 || complain "the linked file was not converted"
    leftovers . && complain "a temporary file was left"
    ;;
permission-bits)
    # A replaced file keeps its mode; a new one gets the umask's.
    s19 64 5 fw.s19
    echo old >kept.s37 && chmod 0640 kept.s37
    expect 0 "Converted 5/6 Lines" fw.s19 kept.s37
    [ "$(stat -c %a kept.s37)" = 640 ] || complain "mode $(stat -c %a kept.s37), expected 640"
    (umask 027 && "${quorvex[@]}" fw.s19 new.s37 >/dev/null)
    [ "$(stat -c %a new.s37)" = 640 ] || complain "new file mode $(stat -c %a new.s37) under umask 027"
    ;;
interrupted | killed)
    # Ctrl-C or a plain kill while writing leaves the source and no temporary
    # file. SIGKILL cannot be caught: the source is still whole, and only the
    # temporary file in the destination's folder may be left behind.
    if [ "$check" = interrupted ]; then signal=TERM; else signal=KILL; fi
    mkdir dest && s19 4096 7 dest/fw.s19 # 8192 times over: large enough to be caught
    for _ in $(seq 13); do cat dest/fw.s19 dest/fw.s19 >twice.s19 && mv twice.s19 dest/fw.s19; done
    cp dest/fw.s19 original.s19
    "${quorvex[@]}" dest/fw.s19 dest/fw.s19 >/dev/null &
    pid=$!
    for _ in $(seq 500); do
        leftovers dest && break
        sleep 0.01
    done
    leftovers dest || skip "the run ended before it could be interrupted"
    kill -"$signal" "$pid"
    wait "$pid"
    status=$?
    want=$((128 + $(kill -l "$signal")))
    [ "$status" = "$want" ] || complain "status $status, expected $want (killed by SIG$signal)"
    cmp -s dest/fw.s19 original.s19 || complain "the source was changed"
    if [ "$signal" = TERM ]; then
        leftovers . && complain "a temporary file was left"
    else
        stray=$(find . -name '.quorvex-*' ! -regex '\./dest/\.quorvex-[A-Za-z0-9]*')
        [ -z "$stray" ] || complain "a temporary file elsewhere than beside the destination: $stray"
    fi
    ;;
unreadable-source)
    [ -z "$windows" ] || skip "file modes are POSIX"
    s19 64 8 fw.s19 && chmod 0000 fw.s19
    unprivileged
    expect 0 "File Read Error" fw.s19 fw.s37
    [ -e fw.s37 ] && complain "the destination was created"
    [ "$(stat -c %a fw.s19)" = 0 ] || complain "the source's mode was changed"
    ;;
long-paths)
    # Names past the 259 characters of a classic Windows path, both relative
    # and absolute, in folders nested past it.
    s19 64 9 fw.s19
    "${quorvex[@]}" fw.s19 short.s37 >/dev/null
    deep=$(printf 'folder-%.0s0123456789012345678901234567890123456789/' 1 2 3 4 5 6)
    mkdir -p "$deep" && cp fw.s19 "$deep/fw.s19"
    expect 0 "Converted 5/6 Lines" "$deep/fw.s19" "$deep/fw.s37"
    cmp -s short.s37 "$deep/fw.s37" || complain "the relative long-named destination differs"
    [ "${#deep}" -gt 259 ] || complain "the path is only ${#deep} characters"
    absolute=$(pwd)/$deep
    [ -n "$windows" ] && absolute=Z:$(tr / '\\' <<<"$absolute") # Wine's drive for /
    expect 0 "Converted 5/6 Lines" "${absolute}fw.s19" "${absolute}again.s37"
    cmp -s short.s37 "$deep/again.s37" || complain "the absolute long-named destination differs"
    leftovers . && complain "a temporary file was left"
    ;;
read-error)
    # Reading the program's own memory from address 0 opens but fails to read.
    [ -r /proc/self/mem ] || skip "no /proc here"
    expect 1 "File Read Error" /proc/self/mem out.s37
    [ -e out.s37 ] && complain "the destination was created"
    ;;
not-enough-memory)
    # A source larger than the memory the process may take (a sparse file).
    [ -z "${QUORVEX_SANITIZED:-}" ] || skip "a sanitizer reserves more address space than any limit allows"
    [[ ${quorvex[0]} != *qemu* ]] || skip "qemu-user's own 128 MiB translation buffer counts against the limit"
    truncate -s 256M big.s19
    out=$(ulimit -v 131072 && "${quorvex[@]}" big.s19 big.s37)
    status=$?
    [ "$status" = 1 ] || complain "status $status, expected 1"
    [ "$out" = "Not enough memory" ] || complain "said '$out'"
    [ -e big.s37 ] && complain "the destination was created"
    ;;
read-only-destination)
    # On Windows the read-only attribute holds for everyone.
    s19 64 6 fw.s19
    echo old >ro.s37 && chmod 0444 ro.s37
    [ -n "$windows" ] || unprivileged
    expect 0 "File Write Error" fw.s19 ro.s37
    [ "$(cat ro.s37)" = old ] || complain "the read-only file was changed"
    leftovers . && complain "a temporary file was left"
    ;;
nul-device)
    # Windows device names are written directly, never replaced.
    s19 512 1 fw.s19
    expect 0 "Converted 33/34 Lines" fw.s19 NUL
    [ "$(ls)" = fw.s19 ] || complain "the folder holds $(ls)"
    ;;
*)
    echo "unknown check $check"
    exit 1
    ;;
esac
exit "$failed"
