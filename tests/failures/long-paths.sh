#!/usr/bin/env bash
# platforms: posix windows
# Names past the 259 characters of a classic Windows path, both relative and
# absolute, in folders nested past it; on Linux, a short name whose path of
# 4,090 characters leaves no room for the temporary file's name beside it,
# as cp writes it.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 9 fw.s19
reference fw.s19 short.s37
deep=$(printf 'folder-%.0s0123456789012345678901234567890123456789/' 1 2 3 4 5 6)
mkdir -p "$deep" && cp fw.s19 "$deep/fw.s19"
expect 0 "Converted 5/6 Lines" "$deep/fw.s19" "$deep/fw.s37"
cmp -s short.s37 "$deep/fw.s37" || complain "the relative long-named destination differs"
[ "${#deep}" -gt 259 ] || complain "the path is only ${#deep} characters"
absolute=$(pwd)/$deep
[ -n "$windows" ] && absolute=Z:$(tr / '\\' <<<"$absolute") # Wine's drive for /
expect 0 "Converted 5/6 Lines" "${absolute}fw.s19" "${absolute}again.s37"
cmp -s short.s37 "$deep/again.s37" || complain "the absolute long-named destination differs"
if [ -z "$windows" ]; then
    deepest=$(printf '%0250d/' $(seq 16))$(printf '%067d/' 0)fw.s37
    mkdir -p "${deepest%/*}" && cp short.s37 "$deepest" || complain "cp cannot write the ${#deepest}-character path"
    expect 0 "Converted 5/6 Lines" fw.s19 "$deepest"
    cmp -s short.s37 "$deepest" || complain "the ${#deepest}-character destination differs"
fi
no_leftovers
exit "$failed"
