#!/usr/bin/env bash
# platforms: windows
# The replaced file keeps its hidden and system attributes.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 17 fw.s19
echo old >out.s37
"${emulator[@]}" attrib +h out.s37 && "${emulator[@]}" attrib +s out.s37
expect 0 "Converted 5/6 Lines" fw.s19 out.s37
attributes=$("${emulator[@]}" attrib out.s37 | cut -c1-10)
[[ $attributes == *H* && $attributes == *S* ]] || complain "attributes '$attributes', expected H and S"
exit "$failed"
