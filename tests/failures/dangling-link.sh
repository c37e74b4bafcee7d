#!/usr/bin/env bash
# platforms: posix windows
# A link to a file yet to be made: the file is made where it points,
# relative to the link's folder, and the link stays.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
# Wine 8 lists no dangling link and opens none: a program there sees no file.
[ -n "$windows" ] && skip "Wine shows a program no dangling symbolic link"
s19 64 19 fw.s19
mkdir out real && ln -s ../real/new.s37 out/link.s37
expect 0 "Converted 5/6 Lines" fw.s19 out/link.s37
[ -L out/link.s37 ] || complain "the link was replaced by a file"
grep -q '^S3' real/new.s37 || complain "the file the link points to was not made"
no_leftovers
exit "$failed"
