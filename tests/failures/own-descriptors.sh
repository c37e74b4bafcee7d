#!/usr/bin/env bash
# platforms: posix
# /dev/stdout and its kin name the program's own descriptors: they are written
# as the caller set them up, records first and then the summary.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 11 fw.s19
ln -s /proc/self/fd/1 stdout # as /dev/stdout is, but this folder's, should a run replace it
"${quorvex[@]}" fw.s19 want.s37 >console && cat want.s37 console >want.log
cp fw.s19 original.s19
"${quorvex[@]}" fw.s19 stdout 2>&1 | cat >piped.log
[ "${PIPESTATUS[0]}" = 0 ] || complain "through a pipe: status ${PIPESTATUS[0]}"
cmp -s piped.log want.log || complain "through a pipe: not the records, then the summary"
echo "an earlier line" >build.log
"${quorvex[@]}" fw.s19 /proc/self/fd/1 >>build.log 2>&1
{ echo "an earlier line" && cat want.log; } | cmp -s - build.log ||
    complain "appended to a log: not the earlier line, the records, then the summary"
# A descriptor open only for reading is not written, nor is its file replaced.
expect 1 "File Write Error" fw.s19 /dev/fd/9 9<fw.s19
cmp -s fw.s19 original.s19 || complain "the file read through descriptor 9 was changed"
# A descriptor open for reading and writing on the source itself: the source
# is copied before the records overwrite it as they go.
s19 65536 11 big.s19 # more records than are held back before the first write
"${quorvex[@]}" big.s19 big.s37 >big.console && cat big.s37 big.console >want.big
"${quorvex[@]}" big.s19 stdout 1<>big.s19
cmp -s big.s19 want.big || complain "written over its own source: not the records, then the summary"
no_leftovers
exit "$failed"
