#!/usr/bin/env bash
# Checks the release of the commit checked out: builds it with release.sh in
# two clones at different paths and compares their dist/ folders byte for
# byte, then checks the packages of one: checksums, the contents of every
# archive, the Debian control fields and lintian, and that every packaged
# binary converts the bundled example on its platform (natively, under
# qemu-aarch64 and under Wine), as objcopy reads it.
# Needs what release.sh needs, and unzip, lintian, qemu-user, wine64, binutils.
# usage: packaging/check.sh     (from anywhere in a clone)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=SCRIPTDIR/release.conf
. "$root/packaging/release.conf"
# shellcheck source=SCRIPTDIR/../tests/lib.sh
. "$root/tests/lib.sh"
tmp=$(mktemp -d) || exit 1
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$tmp/wineprefix WINEDEBUG=-all
cleanup() {
    [ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
export LC_ALL=C

section() { echo "== $*"; }

section "release.sh in two clones"
commit=$(git -C "$root" rev-parse HEAD) || exit 1
clones=("$tmp/one/quorvex" "$tmp/second clone/of-quorvex") # any folder names
for clone in "${clones[@]}"; do
    git clone -q "$root" "$clone" && git -C "$clone" checkout -q --detach "$commit" &&
        (cd "$clone" && bash packaging/release.sh) || exit 1
done
dist=${clones[0]}/dist
if diff -r "$dist" "${clones[1]}/dist"; then
    echo "the same bytes in both"
else
    complain "the two clones' packages differ"
fi

section "checksums"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || complain "SHA256SUMS does not match"
read -r arch _ <<<"${linux_targets[0]}"
version=$(version_of "${clones[0]}/build/release-linux-$arch")
epoch=$(git -C "$root" log -1 --format=%ct)
mapfile -t expected < <(packages | sort)
[ "$(cut -d' ' -f3 "$dist/SHA256SUMS" | sort)" = "$(printf '%s\n' "${expected[@]}")" ] ||
    complain "SHA256SUMS covers other files than the packages"
[ "$(ls "$dist" | sort)" = "$(printf '%s\n' SHA256SUMS "${expected[@]}" | sort)" ] ||
    complain "dist/ holds other files: $(ls "$dist")"

section "archive contents"
# listing WHAT NAMES...: complains unless the listing on stdin is exactly NAMES.
listing() {
    local what=$1
    shift
    diff <(sort) <(printf '%s\n' "$@" | sort) >"$tmp/listing.diff" ||
        complain "$what holds other files (< found, > expected): $(cat "$tmp/listing.diff")"
}
docs=(share/doc/quorvex/CHANGELOG.md share/doc/quorvex/LICENSE share/doc/quorvex/README.md
      share/doc/quorvex/THIRD-PARTY-NOTICES)
for target in "${linux_targets[@]}"; do
    read -r arch _ <<<"$target"
    name=$(tarball_name "$arch")
    tar -tzf "$dist/$name.tar.gz" | grep -v '/$' |
        listing "$name.tar.gz" "${docs[@]/#/$name/}" "$name/bin/quorvex" "$name/share/man/man1/quorvex.1"
    # Owners and times are fixed: root, and the commit's time.
    tar --numeric-owner --full-time -tvzf "$dist/$name.tar.gz" |
        awk -v date="$(date -u -d "@$epoch" '+%F %T')" '$2 != "0/0" || $4 " " $5 != date { bad = 1 }
                                                         END { exit bad }' ||
        complain "$name.tar.gz: an entry is not root's or not dated as the commit"
done
zip=$dist/$(zip_name) folder=$(zip_folder)
unzip -Z1 "$zip" | listing "the zip" \
    "$folder"/{quorvex.exe,quorvex.html,README.md,LICENSE,CHANGELOG.md,THIRD-PARTY-NOTICES}
unzip -p "$zip" "$folder/quorvex.html" | grep -q 'CHECKING THE SOURCE' ||
    complain "the zip's quorvex.html is not the manual page"
# The PE header's time stamp (at offset 8 of the header that offset 60 names).
exe=$tmp/quorvex.exe
unzip -p "$zip" "$folder/quorvex.exe" >"$exe"
header=$(od -An -tu4 -j60 -N4 "$exe")
[ "$(od -An -tu4 -j$((header + 8)) -N4 "$exe" | tr -d ' ')" = 0 ] ||
    complain "quorvex.exe carries a time stamp"

for target in "${linux_targets[@]}"; do
    read -r _ arch _ <<<"$target"
    deb=$dist/$(deb_name "$arch")
    dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | listing "quorvex_$arch.deb" \
        ./usr/bin/quorvex ./usr/share/man/man1/quorvex.1.gz ./usr/share/doc/quorvex/README.md.gz \
        ./usr/share/doc/quorvex/changelog.gz ./usr/share/doc/quorvex/copyright \
        ./usr/share/doc/quorvex/THIRD-PARTY-NOTICES \
        ./usr/share/lintian/overrides/quorvex
    [ "$(dpkg-deb -f "$deb" Package Version Architecture Maintainer)" = \
        "$(printf 'Package: quorvex\nVersion: %s\nArchitecture: %s\nMaintainer: %s' "$version" "$arch" \
            "$maintainer")" ] || complain "$arch.deb: wrong package, version, architecture or maintainer"
    for field in Section Priority Installed-Size Description; do
        [ -n "$(dpkg-deb -f "$deb" "$field")" ] || complain "$arch.deb: no $field"
    done
    # The static program names the sources of the C library and the GCC runtime.
    dpkg-deb -f "$deb" Built-Using | grep -Eqx '[a-z0-9.+-]+ \(= [^)]+\)(, [a-z0-9.+-]+ \(= [^)]+\))+' ||
        complain "$arch.deb: Built-Using does not name the libraries' sources: $(dpkg-deb -f "$deb" Built-Using)"
    [ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 2 ] ||
        complain "$arch.deb: the description has no paragraph below its synopsis"
done

section "lintian"
lintian_options=(--display-info --display-experimental --show-overrides)
[ "$(id -u)" = 0 ] && lintian_options+=(--allow-root)
lintian "${lintian_options[@]}" "$dist"/*.deb | tee "$tmp/lintian"
grep -q '^E:' "$tmp/lintian" && complain "lintian found errors"
grep -q '^O: ' "$tmp/lintian" || complain "lintian saw no override: is the static link still declared?"

section "the packaged binaries convert the example"
unpacked=$tmp/unpacked
mkdir -p "$unpacked"
for target in "${linux_targets[@]}"; do
    read -r arch debian_arch _ <<<"$target"
    tar -xzf "$dist/$(tarball_name "$arch").tar.gz" -C "$unpacked"
    dpkg-deb -x "$dist/$(deb_name "$debian_arch")" "$unpacked/$debian_arch"
    cmp -s "$unpacked/$debian_arch/usr/bin/quorvex" "$unpacked/$(tarball_name "$arch")/bin/quorvex" ||
        complain "the $debian_arch .deb's binary is not the tarball's"
done
unzip -q "$zip" -d "$unpacked/windows"

mkdir -p "$WINEPREFIX" && timeout 300 "$wine" wineboot --init >/dev/null 2>&1
objcopy -I srec -O binary "$root/examples/firmware.s19" "$tmp/want.bin" || exit 1
first= # the first platform, whose records the others must match
# convert PLATFORM COMMAND...: runs the example and its usage text through
# COMMAND, two minutes at most, and checks what it says, writes and exits with.
convert() {
    local platform=$1 work=$tmp/run-$1
    shift
    mkdir -p "$work" && cp "$root/examples/firmware.s19" "$work/"
    (cd "$work" && timeout 120 "$@" firmware.s19 firmware.s37 >console)
    local status=$? said
    said=$(tr -d '\r' <"$work/console") # a Windows console ends lines in CR LF
    [ "$status" = 0 ] || complain "$platform: status $status"
    [ "$said" = "Converted 21/22 Lines" ] || complain "$platform: said '$said'"
    objcopy -I srec -O binary "$work/firmware.s37" "$work/got.bin" &&
        cmp -s "$tmp/want.bin" "$work/got.bin" || complain "$platform: objcopy reads other data"
    [ "$(cd "$work" && timeout 120 "$@" | tr -d '\r' | tail -n 3 | head -n 1)" = "quorvex $version" ] ||
        complain "$platform: the usage text does not name quorvex $version"
    if [ -z "$first" ]; then
        first=$platform
    else
        cmp -s "$tmp/run-$first/firmware.s37" "$work/firmware.s37" ||
            complain "$platform: other records than on $first"
    fi
    echo "$platform: $said"
}
for target in "${linux_targets[@]}"; do
    read -r arch _ _ emulator <<<"$target"
    runner=()
    [ "$emulator" = - ] || runner=("$emulator")
    convert "linux-$arch" "${runner[@]}" "$unpacked/$(tarball_name "$arch")/bin/quorvex"
done
convert windows-x64 "$wine" "$unpacked/windows/$folder/quorvex.exe"

section "packages"
(cd "$dist" && for file in "${expected[@]}"; do
    printf '%-36s %9s  %s\n' "$file" "$(stat -c %s "$file")" "$(sha256sum "$file" | cut -d' ' -f1)"
done)
((failed)) && echo "packaging/check.sh: FAILED" || echo "packaging/check.sh: passed"
exit "$failed"
