#!/usr/bin/env bash
# End-to-end benchmark: quorvex against objcopy on the same files in a tmpfs.
# usage: run.sh QUORVEX MAKE_INPUT [--smoke]
# Prints, for each input, the median wall time of each program (runs
# alternating), their ratio, peak resident memory (/usr/bin/time) and
# instructions per source byte (callgrind), and checks quorvex's output
# against the hashes in expected.sha256; on the stress and mixed inputs also
# quorvex's time with its line check (QUORVEX_VERBOSE=1). --smoke uses tiny
# inputs and one run.
# Environment: QUORVEX_BENCH_RUNS (default 11) runs of each program a full
# input; QUORVEX_BENCH_VERBOSE=1 prints every run's time.
set -euo pipefail
quorvex=$(realpath "$1")
make_input=$(realpath "$2")
smoke=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

if [ "$smoke" = --smoke ]; then
    scale=smoke runs=1 stress_size=1000000 linefeeds=2000000
else
    scale=full runs=${QUORVEX_BENCH_RUNS:-11} stress_size=100000000 linefeeds=200000000
fi
for tool in objcopy valgrind /usr/bin/time sha256sum; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install binutils valgrind time coreutils)"; exit 1; }
done

parent=/tmp
[ -w /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ] && parent=/dev/shm
work=$(mktemp -d -p "$parent" quorvex-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
[ "$parent" = /dev/shm ] || echo "note: no tmpfs at /dev/shm; timing on $(stat -f -c %T /tmp)"

"$make_input" random 65536 image.bin
objcopy -I binary -O srec --srec-len=16 image.bin image.s19
"$make_input" stress "$stress_size" stress.s19
"$make_input" mixed "$stress_size" mixed.s19 # damaged lines, S2 lines, long lines
"$make_input" linefeeds "$linefeeds" linefeeds.s19
inputs=(image stress mixed linefeeds)

now() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; } # microseconds
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wall() { # wall time of one run in microseconds; the output goes to OUT
    local start end
    start=$(now)
    "$@" >/dev/null 2>&1 || true
    end=$(now)
    echo $((end - start))
}
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 || true; } # KiB
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=cg.out "$@" >/dev/null 2>&1 || true
    awk '/^(summary|totals):/ { print $2; exit }' cg.out
    rm -f cg.out
}
per_byte() { awk -v i="$1" -v b="$2" 'BEGIN { printf "%.2f", i / b }'; }

status=0
declare -A q_time o_time v_time q_mem q_ins o_ins size said # by input, for the targets
printf '%-10s %11s | %11s %11s %7s | %9s %9s | %8s %8s | %s\n' input "bytes" "quorvex ms" "objcopy ms" ratio \
    "q. MiB" "o. MiB" "q. ins/B" "o. ins/B" output
for name in "${inputs[@]}"; do
    src=$name.s19
    bytes=$(stat -c %s "$src")
    q=() o=() v=()
    for _ in $(seq "$runs"); do
        q+=("$(wall "$quorvex" "$src" q.s37)")
        o+=("$(wall objcopy -I srec -O srec --srec-forceS3 "$src" o.s37)")
        if [ "$name" = stress ] || [ "$name" = mixed ]; then
            v+=("$(QUORVEX_VERBOSE=1 wall "$quorvex" "$src" q.s37)")
        fi
    done
    if [ "${#v[@]}" != 0 ]; then v_time[$name]=$(median "${v[@]}"); fi
    qt=$(median "${q[@]}") ot=$(median "${o[@]}")
    [ -n "${QUORVEX_BENCH_VERBOSE:-}" ] && echo "runs: quorvex ${q[*]} objcopy ${o[*]}"
    qm=$(rss "$quorvex" "$src" q.s37) om=$(rss objcopy -I srec -O srec --srec-forceS3 "$src" o.s37)
    qi=$(instructions "$quorvex" "$src" q.s37)
    oi=$(instructions objcopy -I srec -O srec --srec-forceS3 "$src" o.s37)
    [ -s o.s37 ] || ot=fails
    summary=$("$quorvex" "$src" q.s37 2>/dev/null)
    hash=$(sha256sum q.s37 | cut -d' ' -f1)
    want=$(awk -v k="$scale/$name" '$2 == k { print $1 }' "$here/expected.sha256")
    if [ "$hash" = "$want" ]; then check=same; else check="CHANGED ($hash)"; status=1; fi
    ratio=$([ "$ot" = fails ] && echo - || awk -v a="$ot" -v b="$qt" 'BEGIN { printf "%.1fx", a / b }')
    printf '%-10s %11d | %11.1f %11s %7s | %9.1f %9.1f | %8s %8s | %s\n' "$name" "$bytes" \
        "$(awk -v t="$qt" 'BEGIN { print t / 1000 }')" \
        "$([ "$ot" = fails ] && echo fails || awk -v t="$ot" 'BEGIN { printf "%.1f", t / 1000 }')" "$ratio" \
        "$(awk -v k="$qm" 'BEGIN { print k / 1024 }')" "$(awk -v k="$om" 'BEGIN { print k / 1024 }')" \
        "$(per_byte "$qi" "$bytes")" "$(per_byte "$oi" "$bytes")" "$check"
    q_time[$name]=$qt o_time[$name]=$ot q_mem[$name]=$qm q_ins[$name]=$qi o_ins[$name]=$oi
    size[$name]=$bytes said[$name]=$summary
    rm -f q.s37 o.s37
done

for name in stress mixed; do
    printf '%s with QUORVEX_VERBOSE=1: %.1f ms\n' "$name" "$(awk -v t="${v_time[$name]}" 'BEGIN { print t / 1000 }')"
done

# The targets, checked on the full-size inputs only.
[ "$scale" = full ] || exit "$status"
verdict() { if awk "BEGIN { exit !($2) }"; then echo "met:     $1"; else echo "NOT MET: $1"; status=1; fi; }
echo
verdict "stress: at least 5x faster than objcopy" "${o_time[stress]} >= 5 * ${q_time[stress]}"
verdict "stress: peak memory at most source + 16 MiB" "${q_mem[stress]} * 1024 <= ${size[stress]} + 16 * 1048576"
verdict "stress: at most 5 instructions per source byte" "${q_ins[stress]} <= 5 * ${size[stress]}"
verdict "mixed: at most 5 instructions per source byte" "${q_ins[mixed]} <= 5 * ${size[mixed]}"
verdict "stress: with QUORVEX_VERBOSE=1 at most 1.5x as long" "${v_time[stress]} <= 1.5 * ${q_time[stress]}"
verdict "mixed: with QUORVEX_VERBOSE=1 at most 1.5x as long" "${v_time[mixed]} <= 1.5 * ${q_time[mixed]}"
verdict "image: at most 1/8 of objcopy's instructions" "8 * ${q_ins[image]} <= ${o_ins[image]}"
verdict "linefeeds: peak memory at most source + 16 MiB" \
    "${q_mem[linefeeds]} * 1024 <= ${size[linefeeds]} + 16 * 1048576"
verdict "linefeeds: says Converted 0/200000000 Lines" "\"${said[linefeeds]}\" == \"Converted 0/200000000 Lines\""
exit "$status"
