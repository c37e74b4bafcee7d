#!/usr/bin/env bash
# End-to-end benchmark: each figure of quorvex against its peer, in one run.
# usage: run.sh QUORVEX MAKE_INPUT TIMED [--smoke]
# Prints, for each input, quorvex's and objcopy's peak resident memory and
# instructions per source byte (callgrind), and checks quorvex's output
# against the hashes in expected.sha256. Then each comparison: two commands
# run in turn (A B A B ...), each run into a new file, timed from outside by
# TIMED (timed.cpp), with the medians of both, the median of the ratios pair
# by pair, and their interquartile ranges:
#   the 180 KB image against objcopy on a tmpfs, in a folder of a disk, and
#   there while another program writes to that disk (dd ... conv=fsync);
#   the stress input against objcopy, on the tmpfs and on the disk; the
#   stress and mixed inputs with QUORVEX_VERBOSE=1 against a plain run (cpu
#   time); every large input against cp of the same file.
# A target is missed only when missed by more than the noise the run
# itself measured: a ratio 2% above its target with a spread (interquartile
# range over median) of 5% is no miss. The full run fails on any change of
# output and any missed target; --smoke runs everything on tiny inputs
# once, and checks the output alone.
# Environment: QUORVEX_BENCH_RUNS (default 11) runs of each command on a
# large input, 31 on the image; QUORVEX_BENCH_DISK a folder on a disk
# (default /var/tmp, if on ext4, xfs or btrfs); QUORVEX_BENCH_VERBOSE=1
# prints every run's figure.
set -euo pipefail
quorvex=$(realpath "$1")
make_input=$(realpath "$2")
timed=$(realpath "$3")
smoke=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

if [ "$smoke" = --smoke ]; then
    scale=smoke runs=1 image_runs=1 stress_size=1000000 linefeeds=2000000 load_mib=4
else
    scale=full runs=${QUORVEX_BENCH_RUNS:-11} image_runs=31 stress_size=100000000 linefeeds=200000000 load_mib=64
fi
for tool in objcopy valgrind sha256sum dd setsid; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install binutils valgrind coreutils util-linux)"; exit 1; }
done

parent=/tmp
[ -w /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ] && parent=/dev/shm
work=$(mktemp -d -p "$parent" quorvex-bench.XXXXXX)
disk=${QUORVEX_BENCH_DISK:-/var/tmp} disk_work=
case "$(stat -f -c %T "$disk" 2>/dev/null)" in
    ext2/ext3 | xfs | btrfs) disk_work=$(mktemp -d -p "$disk" quorvex-bench.XXXXXX) ;;
esac
writer=
stop_writer() {
    if [ -n "$writer" ]; then
        kill -- "-$writer" 2>/dev/null || true
        while kill -0 -- "-$writer" 2>/dev/null; do sleep 0.05; done
        writer=
    fi
    [ -z "$disk_work" ] || rm -f "$disk_work/load"
}
trap 'stop_writer; rm -rf "$work" ${disk_work:+"$disk_work"}' EXIT
cd "$work"
[ "$parent" = /dev/shm ] || echo "note: no tmpfs at /dev/shm; timing on $(stat -f -c %T /tmp)"
[ -n "$disk_work" ] || echo "note: $disk is on no disk (ext4, xfs or btrfs; QUORVEX_BENCH_DISK): the disk rows are skipped"

"$make_input" random 65536 image.bin
objcopy -I binary -O srec --srec-len=16 image.bin image.s19
"$make_input" stress "$stress_size" stress.s19
"$make_input" mixed "$stress_size" mixed.s19 # damaged lines, S2 lines, long lines
"$make_input" linefeeds "$linefeeds" linefeeds.s19
inputs=(image stress mixed linefeeds)
[ -z "$disk_work" ] || cp image.s19 "$disk_work/"

instructions() {
    valgrind --tool=callgrind --callgrind-out-file=cg.out "$@" >/dev/null 2>&1 || true
    awk '/^(summary|totals):/ { print $2; exit }' cg.out
    rm -f cg.out
}
per_byte() { awk -v i="$1" -v b="$2" 'BEGIN { printf "%.2f", i / b }'; }
peak() { "$timed" run.log "$@" | cut -d' ' -f4; } # KiB
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

status=0
declare -A q_mem q_ins o_ins size said
printf '%-10s %11s | %9s %9s | %8s %8s | %s\n' input bytes "q. MiB" "o. MiB" "q. ins/B" "o. ins/B" output
for name in "${inputs[@]}"; do
    src=$name.s19
    size[$name]=$(stat -c %s "$src")
    q_mem[$name]=$(peak "$quorvex" "$src" q.s37)
    om=$(peak objcopy -I srec -O srec --srec-forceS3 "$src" o.s37)
    q_ins[$name]=$(instructions "$quorvex" "$src" q.s37)
    o_ins[$name]=$(instructions objcopy -I srec -O srec --srec-forceS3 "$src" o.s37)
    rm -f q.s37
    said[$name]=$("$quorvex" "$src" q.s37 2>/dev/null || true)
    hash=$(sha256sum q.s37 | cut -d' ' -f1)
    want=$(awk -v k="$scale/$name" '$2 == k { print $1 }' "$here/expected.sha256")
    if [ "$hash" = "$want" ]; then check=same; else check="CHANGED ($hash)"; status=1; fi
    printf '%-10s %11d | %9s %9s | %8s %8s | %s\n' "$name" "${size[$name]}" "$(mib "${q_mem[$name]}")" \
        "$(mib "$om")" "$(per_byte "${q_ins[$name]}" "${size[$name]}")" \
        "$(per_byte "${o_ins[$name]}" "${size[$name]}")" "$check"
    rm -f q.s37 o.s37
done

# "q1 median q3" of the numbers given.
quartiles() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { q = int((NR + 3) / 4); print v[q], v[int((NR + 1) / 2)], v[NR + 1 - q] }'
}
# One run of a command, timed: its wall or cpu (user + system) microseconds.
measure() {
    local metric=$1 log=$2 wall user sys rest
    shift 2
    read -r wall user sys rest < <("$timed" "$log" "$@")
    if [ "$metric" = cpu ]; then echo $((user + sys)); else echo "$wall"; fi
}
ms() { awk -v a="$1" -v b="$2" -v c="$3" 'BEGIN { printf "%.2f (%.2f-%.2f)", b / 1000, a / 1000, c / 1000 }'; }

# compare KEY LABEL METRIC RUNS DIR: runs the commands in the arrays A and B
# in turn, RUNS times each, each run into a new file (DIR/a.s37 and
# DIR/b.s37 are removed before it), A with the environment in A_ENV.
# Prints a row, and keeps the ratio's quartiles in ratio[KEY].
declare -A ratio
A_ENV=()
compare() {
    local key=$1 label=$2 metric=$3 n=$4 dir=$5 a=() b=() r=() i
    for ((i = 0; i < n; i++)); do
        rm -f "$dir/a.s37" "$dir/b.s37"
        a+=("$([ "${#A_ENV[@]}" = 0 ] || export "${A_ENV[@]}"; measure "$metric" a.log "${A[@]}")")
        b+=("$(measure "$metric" b.log "${B[@]}")")
        r+=("$(awk -v a="${a[i]}" -v b="${b[i]}" 'BEGIN { printf "%.4f", a / b }')")
    done
    rm -f "$dir/a.s37" "$dir/b.s37"
    [ -z "${QUORVEX_BENCH_VERBOSE:-}" ] || echo "runs ($key, us): A ${a[*]}; B ${b[*]}"
    ratio[$key]=$(quartiles "${r[@]}")
    # shellcheck disable=SC2046 # the quartiles are three words
    printf '%-44s %4d %4s | %24s | %24s | %17s\n' "$label" "$n" "$metric" "$(ms $(quartiles "${a[@]}"))" \
        "$(ms $(quartiles "${b[@]}"))" \
        "$(awk -v q="${ratio[$key]}" 'BEGIN { split(q, v, " "); printf "%.2f (%.2f-%.2f)", v[2], v[1], v[3] }')"
}

echo
printf '%-44s %4s %4s | %24s | %24s | %17s\n' "A against B, each run into a new file" runs "" "A ms (IQR)" "B ms (IQR)" "A/B (IQR)"
objcopy_of() { B=(objcopy -I srec -O srec --srec-forceS3 "$1" "$2"); }
A=("$quorvex" image.s19 "$work/a.s37") && objcopy_of image.s19 "$work/b.s37"
compare image-tmpfs "image, tmpfs: quorvex, objcopy" wall "$image_runs" "$work"
if [ -n "$disk_work" ]; then
    A=("$quorvex" "$disk_work/image.s19" "$disk_work/a.s37")
    objcopy_of "$disk_work/image.s19" "$disk_work/b.s37"
    compare image-disk "image, disk: quorvex, objcopy" wall "$image_runs" "$disk_work"
    # Another program writes to the same disk, as in a parallel build: a
    # sync now waits for its data too.
    setsid bash -c 'echo $$ >"$1/writer.pid"; while :; do dd if=/dev/zero of="$1/load" bs=1M count="$2" conv=fsync 2>/dev/null; done' \
        writer "$disk_work" "$load_mib" &
    until [ -s "$disk_work/writer.pid" ]; do sleep 0.05; done
    writer=$(cat "$disk_work/writer.pid")
    sleep 1
    compare image-busy "image, disk being written: quorvex, objcopy" wall "$image_runs" "$disk_work"
    stop_writer
fi
A=("$quorvex" stress.s19 "$work/a.s37") && objcopy_of stress.s19 "$work/b.s37"
compare stress-objcopy "stress: quorvex, objcopy" wall "$runs" "$work"
if [ -n "$disk_work" ]; then
    cp stress.s19 "$disk_work/"
    A=("$quorvex" "$disk_work/stress.s19" "$disk_work/a.s37")
    objcopy_of "$disk_work/stress.s19" "$disk_work/b.s37"
    compare stress-disk "stress, disk: quorvex, objcopy" wall "$runs" "$disk_work"
    rm -f "$disk_work/stress.s19"
fi
for name in stress mixed; do
    A=("$quorvex" "$name.s19" "$work/a.s37") B=("$quorvex" "$name.s19" "$work/b.s37") A_ENV=(QUORVEX_VERBOSE=1)
    compare "$name-verbose" "$name: QUORVEX_VERBOSE=1, plain" cpu "$runs" "$work"
    A_ENV=()
done
for name in stress mixed linefeeds; do
    A=("$quorvex" "$name.s19" "$work/a.s37") B=(cp "$name.s19" "$work/b.s37")
    compare "$name-cp" "$name: quorvex, cp" wall "$runs" "$work"
done
# The floor under the figure against cp: the records alone, 9% more bytes
# than the source, copied as cp copies the source.
"$quorvex" stress.s19 records.s37 >/dev/null
A=(cp records.s37 "$work/a.s37") B=(cp stress.s19 "$work/b.s37")
compare stress-floor "stress: cp of the records, cp of the source" wall "$runs" "$work"
rm records.s37

# The targets, checked on the full-size inputs only.
[ "$scale" = full ] || exit "$status"
verdict() { if awk "BEGIN { exit !($2) }"; then echo "met:     $1"; else echo "NOT MET: $1"; status=1; fi; }
# A ratio's target: met by its median, or missed by less than the noise
# the run measured: by no more, in proportion to the target, than the
# interquartile range in proportion to the median (its spread).
within() { # KEY MOST TEXT
    local q1 med q3 said
    read -r q1 med q3 <<<"${ratio[$1]}"
    said=$(awk -v a="$q1" -v b="$med" -v c="$q3" \
        'BEGIN { printf "%.2f, interquartile range %.2f-%.2f, spread %.0f%%", b, a, c, 100 * (c - a) / b }')
    if awk -v m="$med" -v t="$2" 'BEGIN { exit !(m <= t) }'; then
        echo "met:     $3 ($said)"
    elif awk -v a="$q1" -v m="$med" -v c="$q3" -v t="$2" 'BEGIN { exit !(m <= t * (1 + (c - a) / m)) }'; then
        echo "met:     $3 ($said: missed by less than the spread)"
    else
        echo "NOT MET: $3 ($said)"
        status=1
    fi
}
echo
if [ -n "$disk_work" ]; then
    within image-busy 1 "image on a disk being written: at most objcopy's time"
else
    echo "skipped: image on a disk being written (no disk)"
fi
within stress-objcopy 0.2 "stress: at least 5x faster than objcopy"
within stress-verbose 1.3 "stress: cpu with QUORVEX_VERBOSE=1 at most 1.3x a plain run's"
within mixed-verbose 1.3 "mixed: cpu with QUORVEX_VERBOSE=1 at most 1.3x a plain run's"
within stress-cp 1.25 "stress (100 MB): at most 1.25x cp's time (the floor: $(awk -v q="${ratio[stress-floor]}" 'BEGIN { split(q, v, " "); printf "%.2f", v[2] }')x for the records alone, and the source's mapping)"
verdict "stress: peak memory at most source + 16 MiB" "${q_mem[stress]} * 1024 <= ${size[stress]} + 16 * 1048576"
verdict "stress: at most 5 instructions per source byte" "${q_ins[stress]} <= 5 * ${size[stress]}"
verdict "mixed: at most 5 instructions per source byte" "${q_ins[mixed]} <= 5 * ${size[mixed]}"
verdict "image: at most 1/8 of objcopy's instructions" "8 * ${q_ins[image]} <= ${o_ins[image]}"
verdict "linefeeds: peak memory at most source + 16 MiB" \
    "${q_mem[linefeeds]} * 1024 <= ${size[linefeeds]} + 16 * 1048576"
verdict "linefeeds: says Converted 0/200000000 Lines" "\"${said[linefeeds]}\" == \"Converted 0/200000000 Lines\""
exit "$status"
