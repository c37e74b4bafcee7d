#!/usr/bin/env bash
# Runs one end-to-end case folder against the program:
#   args    the command-line arguments, one a line (none when empty)
#   before/ the files the run starts with (absent: an empty folder)
#   stdout  the exact console text
#   status  the exit status (standard error must stay empty)
#   after/  every file the folder must hold afterwards, byte for byte, and no other
# usage: run_case.sh CASE COMMAND...   (COMMAND is the program, perhaps behind an emulator)
set -u
# shellcheck source=SCRIPTDIR/lib.sh
. "$(dirname "$0")/lib.sh"
unset QUORVEX_VERBOSE
case_dir=$(cd "$1" && pwd) || exit 1
shift
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/run" "$tmp/after"
[ -d "$case_dir/before" ] && cp -R "$case_dir/before/." "$tmp/run/"
[ -d "$case_dir/after" ] && cp -R "$case_dir/after/." "$tmp/after/"
args=()
mapfile -t args <"$case_dir/args"

(cd "$tmp/run" && "$@" "${args[@]}") >"$tmp/stdout" 2>"$tmp/stderr"
status=$?
# A Windows console writes CR LF; the messages themselves hold no CR.
[ -n "${QUORVEX_CONSOLE_CRLF:-}" ] && tr -d '\r' <"$tmp/stdout" >"$tmp/stdout.lf" && mv "$tmp/stdout.lf" "$tmp/stdout"

[ "$status" = "$(cat "$case_dir/status")" ] || complain "exit status $status, expected $(cat "$case_dir/status")"
if ! cmp -s "$tmp/stdout" "$case_dir/stdout"; then
    complain "console text differs:"
    diff <(od -c "$case_dir/stdout") <(od -c "$tmp/stdout") | head -20
fi
# Nothing ever goes to standard error unless asked for.
[ -s "$tmp/stderr" ] && complain "standard error held: $(cat "$tmp/stderr")"
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }
if ! diff <(listing "$tmp/after") <(listing "$tmp/run") >"$tmp/listing.diff"; then
    complain "the folder holds other files than expected (< expected, > found):"
    cat "$tmp/listing.diff"
fi
while IFS= read -r file; do
    if [ -f "$tmp/after/$file" ] && [ -f "$tmp/run/$file" ] && ! cmp -s "$tmp/after/$file" "$tmp/run/$file"; then
        complain "$file differs:"
        cmp "$tmp/after/$file" "$tmp/run/$file"
    fi
done < <(listing "$tmp/after")
exit "$failed"
