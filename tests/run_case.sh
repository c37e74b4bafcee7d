#!/usr/bin/env bash
# Runs one end-to-end case folder against the program:
#   why     one line: what the case pins down, printed when it fails
#   args    the command-line arguments, one a line (none when empty)
#   before/ the files the run starts with (absent: an empty folder)
#   stdout  the exact console text
#   status  the exit status
#   after/  the files the run makes or changes, byte for byte (absent: none); the
#           other files of before/ must stay as they were, and no other may appear
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
mkdir "$tmp/run"
[ -d "$case_dir/before" ] && cp -R "$case_dir/before/." "$tmp/run/"
cp -R "$tmp/run" "$tmp/expected" # before/, with after/ laid over it
[ -d "$case_dir/after" ] && cp -R "$case_dir/after/." "$tmp/expected/"
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
if ! diff -r "$tmp/expected" "$tmp/run" >"$tmp/folder.diff"; then
    complain "the folder differs from before/ with after/ laid over it (< expected, > found):"
    sed "s|$tmp/||g; s/\r/\\\\r/g" "$tmp/folder.diff" | head -20 # CR shown as \r
fi
[ "$failed" = 0 ] || echo "This case checks: $(cat "$case_dir/why")"
exit "$failed"
