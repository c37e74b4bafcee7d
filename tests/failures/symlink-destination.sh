#!/usr/bin/env bash
# platforms: posix windows
# The file a link points to is replaced; the link stays a link.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 4 fw.s19
mkdir real && echo old >real/fw.s37 && ln -s real/fw.s37 link.s37
expect 0 "Converted 5/6 Lines" fw.s19 link.s37
[ -L link.s37 ] || complain "the link was replaced by a file"
grep -q '^S3' real/fw.s37 || complain "the linked file was not converted"
no_leftovers
exit "$failed"
