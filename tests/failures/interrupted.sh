#!/usr/bin/env bash
# platforms: posix
# A plain kill or Ctrl-\ while a large file is converted in place leaves the
# source and no temporary file.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
for signal in TERM QUIT; do
    signal_in_place "$signal"
    no_leftovers . "SIG$signal: "
done
exit "$failed"
