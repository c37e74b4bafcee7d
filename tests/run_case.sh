#!/usr/bin/env bash
# Runs one end-to-end case folder against the program:
#   args    the command-line arguments, one a line (none when empty)
#   before/ the files the run starts with (absent: an empty folder)
#   stdout  the exact console text
#   status  the exit status
#   after/  every file the folder must hold afterwards, byte for byte, and no other
#   env     optional: VAR=value lines, set for the run (else no QUORVEX_ variable is)
#   stderr  optional: the exact text on standard error (absent: it must stay empty)
# usage: run_case.sh CASE COMMAND...   (COMMAND is the program, perhaps behind an emulator)
set -u
# shellcheck source=SCRIPTDIR/lib.sh
. "$(dirname "$0")/lib.sh"
unset QUORVEX_VERBOSE QUORVEX_STRICT
case_dir=$(cd "$1" && pwd) || exit 1
shift
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/run" "$tmp/after"
[ -d "$case_dir/before" ] && cp -R "$case_dir/before/." "$tmp/run/"
[ -d "$case_dir/after" ] && cp -R "$case_dir/after/." "$tmp/after/"
args=()
mapfile -t args <"$case_dir/args"
vars=()
[ -f "$case_dir/env" ] && mapfile -t vars <"$case_dir/env"

(cd "$tmp/run" && env "${vars[@]}" "$@" "${args[@]}") >"$tmp/stdout" 2>"$tmp/stderr"
status=$?
# A Windows console writes CR LF; the messages themselves hold no CR.
if [ -n "${QUORVEX_CONSOLE_CRLF:-}" ]; then
    for stream in stdout stderr; do
        tr -d '\r' <"$tmp/$stream" >"$tmp/$stream.lf" && mv "$tmp/$stream.lf" "$tmp/$stream"
    done
fi

[ "$status" = "$(cat "$case_dir/status")" ] || complain "exit status $status, expected $(cat "$case_dir/status")"
if ! cmp -s "$tmp/stdout" "$case_dir/stdout"; then
    complain "console text differs:"
    diff <(od -c "$case_dir/stdout") <(od -c "$tmp/stdout") | head -20
fi
if [ -f "$case_dir/stderr" ]; then
    if ! cmp -s "$tmp/stderr" "$case_dir/stderr"; then
        complain "standard error differs (< expected, > found):"
        diff "$case_dir/stderr" "$tmp/stderr" | head -20
    fi
elif [ -s "$tmp/stderr" ]; then # nothing goes there unless asked for
    complain "standard error held: $(cat "$tmp/stderr")"
fi
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
