#!/usr/bin/env bash
# platforms: posix; needs: root setpriv
# A replaced file keeps its access ACL (or its lack of one) and its user
# attributes; a new file gets what the folder's default ACL gives any new file.
# shellcheck source=SCRIPTDIR/../lib.sh
. "$(dirname "$0")/../lib.sh"
begin_check "$@"
command -v setfacl >/dev/null && command -v setfattr >/dev/null || skip "acl and attr are not installed"
s19 64 61 fw.s19
echo old >out.s37 && chmod 0600 out.s37
setfacl -m user:nobody:rw out.s37 2>/dev/null && setfattr -n user.origin -v build out.s37 2>/dev/null ||
    skip "this file system keeps no ACLs or user attributes"
getfacl -cp out.s37 >acl.before
expect 0 "Converted 5/6 Lines" fw.s19 out.s37
getfacl -cp out.s37 | diff acl.before - >/dev/null || complain "the ACL is now: $(getfacl -cp out.s37)"
[ "$(getfattr --only-values -n user.origin out.s37 2>/dev/null)" = build ] || complain "user.origin was lost"
mkdir shared && setfacl -d -m user:nobody:rw shared
(umask 077 && : >shared/touched && reference fw.s19 shared/new.s37)
[ "$(getfacl -cp shared/new.s37)" = "$(getfacl -cp shared/touched)" ] ||
    complain "a new file's ACL differs from any new file's: $(getfacl -cp shared/new.s37)"
# A file without an ACL gets none from the folder when it is replaced.
echo old >shared/plain.s37 && setfacl -b shared/plain.s37 && chmod 0640 shared/plain.s37
expect 0 "Converted 5/6 Lines" fw.s19 shared/plain.s37
getfacl -cp shared/plain.s37 | grep -q nobody && complain "the folder's default ACL was added: $(getfacl -cp shared/plain.s37)"
exit "$failed"
