#!/usr/bin/env bash
# platforms: posix; needs: root
# A link in a sticky folder that anyone may write to is followed only when it
# is the runner's or the folder's owner's (the kernel's protected_symlinks
# rule, whatever the system's setting), at every step of a chain: root is not
# led by a link that another user planted in /tmp. Links elsewhere are followed.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
s19 64 23 fw.s19
# link FOLDER_MODE FOLDER_OWNER LINK_OWNER: a fresh folder with link.s37 in
# it, pointing to the missing FOLDER.s37 beside the folder; its name is $folder.
link() {
    folder=$1-$2-$3
    mkdir -m "$1" "$folder" && chown "$2" "$folder" && ln -s "../$folder.s37" "$folder/link.s37" &&
        chown -h "$3" "$folder/link.s37"
}
echo precious >guarded.s37
link 1777 root 65534 && ln -s ../guarded.s37 "$folder/guard.s37" && chown -h 65534 "$folder/guard.s37"
ln -s "$folder/link.s37" chain.s37 # a step that may be followed, then one that may not
export QUORVEX_VERBOSE=1
explained="quorvex: cannot follow '$folder/*.s37', another user's link in a sticky folder*: Permission denied"
for name in "$folder/guard.s37" chain.s37; do
    expect 1 "File Write Error" fw.s19 "$name"
done
unset QUORVEX_VERBOSE
explained=
[ "$(cat guarded.s37)" = precious ] || complain "the file a planted link names was changed"
[ ! -e "$folder.s37" ] || complain "the file a planted link names was made"
[ "$(ls -A "$folder" | tr '\n' ' ')" = "guard.s37 link.s37 " ] || complain "the sticky folder was changed"
for followed in "1777 root root" "1777 65534 65534" "0777 root 65534" "1775 root 65534"; do
    link $followed
    expect 0 "Converted 5/6 Lines" fw.s19 "$folder/link.s37"
    [ -f "$folder.s37" ] || complain "$followed: the link was not followed"
done
no_leftovers
exit "$failed"
