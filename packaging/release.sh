#!/usr/bin/env bash
# Builds the release packages of the commit checked out into dist/:
#   quorvex-V-windows-x64.zip        quorvex-V/ with quorvex.exe and the documents
#   quorvex-V-linux-ARCH.tar.gz      static binary, manual page and documents,
#                                    laid out as 'cmake --install' lays them out
#   quorvex_V_DEBIAN-ARCH.deb
#   SHA256SUMS
# for the targets of release.conf (x86_64/amd64, aarch64/arm64).
# The same commit gives the same bytes, whatever the clone's path and time:
# every date is the last commit's (SOURCE_DATE_EPOCH), paths are mapped out of
# the binaries, and archives are sorted with fixed owners.
# Needs: cmake, g++, g++-aarch64-linux-gnu, g++-mingw-w64-x86-64-posix, zip,
# dpkg-deb, git, mandoc.
# usage: packaging/release.sh     (from anywhere in a clone)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=SCRIPTDIR/release.conf
. packaging/release.conf

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release.sh: the clone has uncommitted changes; packages must be those of a commit" >&2
    exit 1
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022
jobs=${QUORVEX_RELEASE_JOBS:-2}

rm -rf dist build/release-*
mkdir -p dist build/release-stage
stage=$root/build/release-stage

# build NAME LINKER-FLAGS [CMAKE ARGUMENTS...]: a Release build of the tool
# alone, warnings as errors, without the clone's path in it (quoted: it may
# hold spaces), installed into the stage as NAME/.
# The linker strips it: strip would stamp a Windows program with a time.
build() {
    local name=$1 linker_flags=$2
    shift 2
    cmake -S . -B "build/release-$name" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUORVEX_WERROR=ON \
        -DCMAKE_CXX_FLAGS="\"-ffile-prefix-map=$root=.\"" -DCMAKE_EXE_LINKER_FLAGS="$linker_flags" \
        "$@" >/dev/null
    cmake --build "build/release-$name" -j "$jobs" >/dev/null
    cmake --install "build/release-$name" --prefix "$stage/$name" >/dev/null
}
for target in "${linux_targets[@]}"; do
    read -r arch _ toolchain _ <<<"$target"
    options=()
    [ "$toolchain" = - ] || options=(--toolchain "$toolchain")
    build "linux-$arch" -s "${options[@]}"
done
build windows-x64 "-s -Wl,--no-insert-timestamp" --toolchain "$windows_toolchain"

version=$(version_of "build/release-linux-$arch") # any build's
[ -n "$version" ] || { echo "release.sh: no version in the build" >&2; exit 1; }
grep -q "^## \[$version\] - " CHANGELOG.md ||
    { echo "release.sh: CHANGELOG.md has no entry for $version" >&2; exit 1; }
echo "quorvex $version, commit $(git rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

# Files and folders dated as the commit, so that no archive holds a build time.
settle() { find "$@" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }
tarball() { # tarball FOLDER ARCHIVE: FOLDER of the stage, as ARCHIVE.tar.gz
    settle "$stage/$1"
    tar -C "$stage" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
        --numeric-owner -cf - "$1" | gzip -9n >"dist/$2.tar.gz"
}

# Linux tarballs: the install tree under quorvex-V-linux-ARCH/, the binary
# without the compiler's name and version (.comment), which it does not need.
for target in "${linux_targets[@]}"; do
    read -r arch _ <<<"$target"
    name=$(tarball_name "$arch")
    mv "$stage/linux-$arch" "$stage/$name"
    objcopy=$(sed -n 's/^CMAKE_OBJCOPY:FILEPATH=//p' "build/release-linux-$arch/CMakeCache.txt")
    "$objcopy" --remove-section=.comment "$stage/$name/bin/quorvex"
    tarball "$name" "$name"
done

# Windows zip: quorvex-V/ with the program, the documents and the manual page
# as HTML, no folders beneath; zip stores local times, hence TZ=UTC.
folder=$stage/zip/$(zip_folder)
mkdir -p "$folder"
cp "$stage/windows-x64/bin/quorvex.exe" "$stage/windows-x64/share/doc/quorvex/"* "$folder/"
mandoc -Thtml build/release-windows-x64/quorvex.1 >"$folder/quorvex.html"
settle "$stage/zip"
(cd "$stage/zip" && find "$(zip_folder)" -type f | sort | zip -q -X -D -9 "$root/dist/$(zip_name)" -@)

# built_using BUILD: the Debian source packages, with their versions, of the
# libraries that the build's compiler linked into the static program, as a
# Built-Using field wants them: "gcc-12 (= 12.2.0-14), glibc (= 2.36-9)".
# The files are those that g++ -static links; a cross compiler's come from
# the cross toolchain's packages. Any file not found stops the release.
built_using() {
    local compiler file path
    compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$1"/CMakeFiles/*/CMakeCXXCompiler.cmake)
    for file in crt1.o libc.a libm.a crtbeginT.o libgcc.a libgcc_eh.a libstdc++.a; do
        path=$(realpath "$("$compiler" -print-file-name="$file")") && dpkg -S "$path" || exit 1
    done | sed 's/: .*//' | sort -u | xargs dpkg-query -W -f='${source:Package} (= ${source:Version})\n' |
        sort -u | paste -sd, | sed 's/,/, /g'
}

# Debian packages, built by hand: the binary of the tarball, the manual page
# and changelog compressed, the licences as a machine-readable copyright file.
debian() { # debian ARCH FROM BUILD: a .deb for Debian's ARCH from the stage's FROM/
    local arch=$1 from=$stage/$2 tree=$stage/deb-$1 using copyright
    using=$(built_using "$3")
    copyright=$(sed -n 's/^Copyright (c) //p' LICENSE)
    local doc=$tree/usr/share/doc/quorvex
    mkdir -p "$tree/DEBIAN" "$tree/usr/bin" "$tree/usr/share/man/man1" "$doc" \
        "$tree/usr/share/lintian/overrides"
    cp "$from/bin/quorvex" "$tree/usr/bin/"
    gzip -9n <"$from/share/man/man1/quorvex.1" >"$tree/usr/share/man/man1/quorvex.1.gz"
    gzip -9n <README.md >"$doc/README.md.gz"
    cp THIRD-PARTY-NOTICES "$doc/"
    awk -v maintainer="$maintainer" -f packaging/debian/changelog.awk CHANGELOG.md |
        gzip -9n >"$doc/changelog.gz"
    {
        printf '%s\n' 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
            'Upstream-Name: quorvex' '' 'Files: *' "Copyright: $copyright" 'License: Expat'
        # The licence text of LICENSE, from its first paragraph, as a field's lines.
        sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
        # The static program, which holds parts of the C and C++ runtimes too.
        echo && sed "s/@COPYRIGHT@/$copyright/" packaging/debian/copyright-libraries
    } >"$doc/copyright"
    cp packaging/debian/lintian-overrides "$tree/usr/share/lintian/overrides/quorvex"
    local size
    size=$(find "$tree/usr" -type f -printf '%s\n' | awk '{ k += int(($1 + 1023) / 1024) } END { print k }')
    sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@INSTALLED_SIZE@/$size/" \
        -e "s|@MAINTAINER@|$maintainer|" -e "s/@BUILT_USING@/$using/" packaging/debian/control \
        >"$tree/DEBIAN/control"
    (cd "$tree" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
    chmod -R u=rwX,go=rX "$tree"
    settle "$tree"
    dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$tree" "dist/$(deb_name "$arch")" >/dev/null
}
for target in "${linux_targets[@]}"; do
    read -r arch debian_arch _ <<<"$target"
    debian "$debian_arch" "$(tarball_name "$arch")" "build/release-linux-$arch"
done

(cd dist && sha256sum -- *.zip *.tar.gz *.deb >SHA256SUMS)
ls -l dist
