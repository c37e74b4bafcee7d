#!/usr/bin/env bash
# Cross-checks the records with an independent S-record reader: objcopy must
# read the same bytes from quorvex's S3 records as from the S1 records they
# came from. S1 records of 251 and 252 data bytes are split in two S3
# records, the one place where quorvex's records differ in shape from the
# input's, so they are fed too. CR LF and LF line ends both.
# usage: objcopy_roundtrip.sh COMMAND...   exit 0 passed, 1 failed, 77 skipped
# (COMMAND is the program, perhaps behind an emulator)
set -u
# shellcheck source=SCRIPTDIR/lib.sh
. "$(dirname "$0")/lib.sh"
quorvex=("$@")
command -v objcopy >/dev/null || skip "objcopy is not installed"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1

for length in 16 251 252; do
    for seed in 1 2; do
        # Sizes that end in a short record, and addresses that pass FFFF.
        bytes $((20000 * seed + length + seed)) "$seed" >img.bin
        objcopy -I binary -O srec --srec-len="$length" img.bin crlf.s19
        tr -d '\r' <crlf.s19 >lf.s19
        for src in crlf.s19 lf.s19; do
            what="$src, $length data bytes a record, seed $seed"
            "${quorvex[@]}" "$src" out.s37 >/dev/null || complain "$what: the conversion failed"
            objcopy -I srec -O binary "$src" want.bin && objcopy -I srec -O binary out.s37 got.bin ||
                complain "$what: objcopy cannot read the result"
            cmp -s want.bin got.bin || complain "$what: objcopy reads other bytes"
            grep -qv $'^S[37]' out.s37 && complain "$what: a record is not S3 or S7"
            if [ "$length" != 16 ]; then
                grep -q '^S3FF' out.s37 || complain "$what: no line was split"
            fi
        done
    done
done
exit "$failed"
