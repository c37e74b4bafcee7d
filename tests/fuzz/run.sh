#!/usr/bin/env bash
# Runs each fuzz target for QUORVEX_FUZZ_SECONDS (30 unless set) on a working
# copy of its stored inputs, and prints what it did. A finding fails the run;
# libFuzzer leaves the input in WORK/findings/, to be kept as a named file in
# regressions/TARGET/.
# usage: [QUORVEX_FUZZ_SECONDS=N] run.sh WORK FUZZER...   (a fuzzer's name is fuzz_TARGET)
set -uo pipefail
seconds=${QUORVEX_FUZZ_SECONDS:-30}
# libFuzzer takes 0 for no limit at all.
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: QUORVEX_FUZZ_SECONDS='$seconds' is no number of seconds" >&2; exit 1; }
work=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
status=0
for fuzzer in "$@"; do
    target=$(basename "$fuzzer")
    target=${target#fuzz_}
    case $target in
    conversion) max_len=4096 ;; # room for several lines past the 511-character piece
    *) max_len=1024 ;;
    esac
    mkdir -p "$work/corpus/$target" "$work/findings"
    inputs=("$here/corpus/$target")
    [ -d "$here/regressions/$target" ] && inputs+=("$here/regressions/$target")
    log=$work/$target.log
    echo "== fuzz_$target, $seconds s"
    if "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -use_value_profile=1 \
        -dict="$here/srecord.dict" -print_final_stats=1 -artifact_prefix="$work/findings/$target-" \
        "$work/corpus/$target" "${inputs[@]}" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
        echo "corpus: $(find "$work/corpus/$target" -type f | wc -l) files"
    else
        status=1
        tail -n 40 "$log"
        echo "FINDING in fuzz_$target: see $log and $work/findings/"
    fi
done
exit "$status"
