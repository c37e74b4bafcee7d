# shellcheck shell=bash disable=SC2034 # sets what the scripts that source it use
# Sourced by the test scripts: reporting, repeatable inputs and, for the
# failure checks in tests/failures/ (see HACKING.md), their set-up and common
# pieces. A check runs as `NAME.sh COMMAND...` (the program, perhaps behind an
# emulator) and exits 0 passed, 1 failed or 77 skipped.

failed=0
complain() { echo "FAIL: $*"; failed=1; }
skip() { echo "SKIP: $*"; exit 77; }

# Random-looking but repeatable bytes: bytes COUNT SEED.
bytes() { LC_ALL=C awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }'; }

# Skips unless the named prerequisite holds, saying why it is needed.
require() {
    case $1 in
    root | mknod | tmpfs) [ "$(id -u)" = 0 ] || skip "$1: the set-up needs root" ;;
    setpriv) [ "$(id -u)" != 0 ] || command -v setpriv >/dev/null ||
        skip "root ignores file modes, and setpriv is missing to drop that" ;;
    hold) [ -n "${QUORVEX_HOLD:-}" ] || skip "QUORVEX_HOLD does not name the helper" ;;
    proc) [ -r /proc/self/mem ] || skip "no /proc here" ;;
    unsanitized) [ -z "${QUORVEX_SANITIZED:-}" ] ||
        skip "a sanitizer reserves more address space than any limit allows" ;;
    no-qemu) [[ ${quorvex[0]} != *qemu* ]] ||
        skip "qemu-user's own 128 MiB translation buffer counts against the limit" ;;
    *) echo "FAIL: unknown prerequisite $1" && exit 1 ;;
    esac
}

# begin_check COMMAND...: checks the platform and prerequisites that the
# check's header names, then moves into a fresh work folder, removed on exit.
begin_check() {
    quorvex=("$@")
    emulator=("${quorvex[@]:0:${#quorvex[@]}-1}") # Wine or qemu, if any
    windows=
    [[ ${quorvex[-1]} == *.exe ]] && windows=1
    local header platform=posix need
    header=$(sed -n 2p "$0")
    [[ $header =~ ^#\ platforms:\ ([a-z ]+)(\;\ needs:\ ([a-z -]+))?$ ]] ||
        { echo "FAIL: $0 has no '# platforms: ...; needs: ...' line"; exit 1; }
    [ -n "$windows" ] && platform=windows
    [[ " ${BASH_REMATCH[1]} " == *" $platform "* ]] || skip "a check for ${BASH_REMATCH[1]} only"
    for need in ${BASH_REMATCH[3]}; do require "$need"; done
    unset QUORVEX_VERBOSE QUORVEX_STRICT # asked for only where a check asks for it
    umask 022             # files the checks make are readable by the user they run as
    tmp=$(mktemp -d) || exit 1
    trap cleanup EXIT
    mkdir "$tmp/work" && cd "$tmp/work" || exit 1
}
runner=()    # what the program runs under: nothing, an unprivileged user, a limit
explained=   # what standard error must hold (a pattern): nothing unless asked for
holder=      # the helper holding a file, if any
immutable=() # folders locked with chattr +i or +a, which rm cannot empty
mounts=()    # file systems mounted for the check
cleanup() {
    [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder"
    for folder in "${immutable[@]}"; do chattr -i -a "$folder"; done
    for mount in "${mounts[@]}"; do umount "$mount"; done
    rm -rf "$tmp"
}

# expect STATUS MESSAGE ARGS...: runs the program and checks what it says.
expect() {
    local status=$1 message=$2
    shift 2
    "${runner[@]}" "${quorvex[@]}" "$@" >"$tmp/console" 2>"$tmp/errors"
    local got=$?
    local out errors
    out=$(tr -d '\r' <"$tmp/console") # a Windows console ends lines in CR LF
    errors=$(tr -d '\r' <"$tmp/errors")
    [ "$got" = "$status" ] || complain "status $got, expected $status for: $*"
    [ "$out" = "$message" ] || complain "said '$out', expected '$message' for: $*"
    # shellcheck disable=SC2053 # a pattern
    [[ $errors == $explained ]] || complain "standard error held '$errors', expected '$explained' for: $*"
}
# reference SOURCE DESTINATION: the records of a run that nothing hinders.
reference() { "${quorvex[@]}" "$1" "$2" >/dev/null; }

# s19 COUNT SEED FILE: `bytes` as S19 text made by objcopy: S0, S1 records of
# 16 data bytes, S9, CR LF.
s19() { bytes "$1" "$2" >img.bin && objcopy -I binary -O srec --srec-len=16 img.bin "$3" && rm img.bin; }
# The source of the signal checks: 88 MiB of records, long enough to be caught.
large_s19() {
    s19 4096 7 "$1"
    for _ in $(seq 13); do cat "$1" "$1" >twice.s19 && mv twice.s19 "$1"; done
}

# Whether folder $1 holds a temporary file of the program.
leftovers() { find "$1" -name '.quorvex-*' | grep -q .; }
# Complains if folder $1 (the work folder) holds one; $2 says when.
no_leftovers() { leftovers "${1:-.}" && complain "${2:-}a temporary file was left"; }

# Whether the process $1 is still running (not ended, nor a zombie).
running() {
    local state=
    read -r _ _ state _ <"/proc/$1/stat" 2>/dev/null && [ "$state" != Z ]
}
# Stops the run $1 once the test "${@:2}" holds; false if the run ends first.
stop_when() {
    local pid=$1 until=$((SECONDS + 120))
    shift
    until "$@"; do
        running "$pid" && [ "$SECONDS" -lt "$until" ] || return 1
    done
    kill -STOP "$pid"
}
# Sends SIG$2 to the run $1 in the middle of its work: once the test "${@:3}"
# holds, the run is stopped, and signalled only if the test still holds then.
# Skips, saying so, when the run ends before it can be caught.
interrupt() {
    local pid=$1 signal=$2
    shift 2
    if ! stop_when "$pid" "$@" || ! "$@"; then
        kill -CONT "$pid" 2>/dev/null
        wait "$pid"
        skip "the run ended before SIG$signal could be sent in its middle"
    fi
    kill -"$signal" "$pid"
    kill -CONT "$pid"
}
# Whether the file $1 has begun to be rewritten: its first record is written.
begun() { local first=; IFS= read -r -n 2 first <"$1" && [ "$first" = S3 ]; }
# slow_calls PID CALL MICROSECONDS: has strace make each CALL of the stopped
# run PID (and of its threads) wait that long, where strace can trace it:
# not under Wine, nor where ptrace is refused. The run stays stopped.
slow_calls() {
    local tracer state=''
    until [ "$state" = T ]; do
        read -r _ _ state _ <"/proc/$1/stat" && [ "$state" != Z ] || return 0
    done
    [ -z "$windows" ] && command -v strace >/dev/null || return 0
    strace -f -qq -o "$tmp/strace.log" -e trace="$2" -e inject="$2:delay_enter=$3" -p "$1" 2>"$tmp/strace.err" &
    tracer=$!
    until grep -q '^TracerPid:[[:space:]]*[1-9]' "/proc/$1/status"; do
        kill -0 "$tracer" 2>/dev/null || { echo "strace cannot slow the run: $(cat "$tmp/strace.err")"; return 0; }
    done
}
# stop_mid_rewrite FILE ORIGINAL WANT ARGS...: sets FILE to ORIGINAL, runs the
# program on ARGS in the background as $pid, and stops it midway through its
# rewrite of FILE (begun, but FILE not yet WANT). Each seek of the rewrite,
# one a MiB, waits, for two seconds in all, so that even a busy machine
# catches it there; where that cannot be done, skips after five tries.
stop_mid_rewrite() {
    local file=$1 original=$2 want=$3 delay
    shift 3
    delay=$((2000000 / ($(wc -c <"$want") / 1048576 + 1)))
    for _ in 1 2 3 4 5; do
        cp "$original" "$file" # through a locked folder, as root or as the owner
        # A sanitized run's LeakSanitizer cannot work under ptrace: it is off.
        (kill -STOP "$BASHPID" && exec env --default-signal=INT ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
            "${runner[@]}" "${quorvex[@]}" "$@" >"$tmp/mid.out") &
        pid=$!
        slow_calls "$pid" lseek "$delay"
        kill -CONT "$pid"
        stop_when "$pid" begun "$file" && ! cmp -s "$file" "$want" && return
        kill -CONT "$pid" 2>/dev/null
        wait "$pid"
    done
    skip "five runs rewrote their file before they could be stopped in its middle"
}
# Converts dest/fw.s19, a large source, in place and sends SIG$1 while its
# temporary file is being written: the run ends by the signal, the source whole.
signal_in_place() {
    local signal=$1 pid status want
    [ -d dest ] || { mkdir dest && large_s19 dest/fw.s19 && cp dest/fw.s19 original.s19; }
    ulimit -c 0 # no core for SIGQUIT
    # A background run would ignore SIGQUIT: give it the default back.
    env --default-signal=QUIT "${quorvex[@]}" dest/fw.s19 dest/fw.s19 >/dev/null &
    pid=$!
    interrupt "$pid" "$signal" leftovers dest
    wait "$pid"
    status=$?
    want=$((128 + $(kill -l "$signal")))
    [ "$status" = "$want" ] || complain "status $status, expected $want (killed by SIG$signal)"
    cmp -s dest/fw.s19 original.s19 || complain "SIG$signal: the source was changed"
}

# Root reads and writes files whatever their mode: run as nobody instead.
run_as_nobody() {
    [ "$(id -u)" = 0 ] || return 0
    require setpriv
    chmod 0755 "$tmp" && chmod 0777 "$tmp/work"
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    "${runner[@]}" "${quorvex[@]}" >/dev/null || skip "the program cannot be run as nobody from here"
}
# Makes folder $1 one in which no new file can be made, the files in it still
# writable: immutable, which holds for root too, or else read-only, with the
# program run as nobody if need be.
lock_folder() {
    if [ "$(id -u)" = 0 ] && chattr +i "$1" 2>/dev/null; then
        immutable+=("$1")
        return
    fi
    [ "$(id -u)" = 0 ] && [ -n "$windows" ] && skip "cannot lock a folder against root here (chattr +i)"
    chmod 0555 "$1"
    run_as_nobody
}
# Mounts a tmpfs on the new folder $1, of 192 KiB or as options $2 say (needs: tmpfs).
small_fs() {
    mkdir "$1" && mount -t tmpfs -o "${2:-size=192k}" tmpfs "$1" 2>/dev/null || skip "cannot mount a tmpfs here"
    mounts+=("$PWD/$1")
}
# Runs the program under a file-size limit of $1 KiB (as whoever runs it).
file_limit() { runner=(prlimit --fsize=$(($1 * 1024)) "${runner[@]}"); }

# Windows: has tests/hold.cpp hold file $1 open, sharing $2 (of r, w, d), for
# $3 seconds, in the background as $holder; returns once the file is held.
hold() {
    "${emulator[@]}" "$QUORVEX_HOLD" "$@" >"$tmp/held" &
    holder=$!
    for _ in $(seq 1000); do
        grep -q held "$tmp/held" && return
        kill -0 "$holder" 2>/dev/null || break
        sleep 0.01
    done
    echo "FAIL: the helper could not hold $1"
    exit 1
}
# Fails unless the helper still holds its file: it did for the whole run.
still_held() { kill -0 "$holder" 2>/dev/null || complain "the file was let go before the run ended"; }
# Ends the helper's hold before its time.
let_go() { kill "$holder" && wait "$holder"; holder=; }
