#!/usr/bin/env bash
# platforms: posix
# SIGKILL cannot be caught: the source is still whole, and only the temporary
# file in the destination's folder may be left behind.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
signal_in_place KILL
stray=$(find . -name '.quorvex-*' ! -regex '\./dest/\.quorvex-[A-Za-z0-9]*')
[ -z "$stray" ] || complain "a temporary file elsewhere than beside the destination: $stray"
exit "$failed"
