#!/usr/bin/env bash
# The README's make and CMake recipes, taken from its "```make build" and
# "```cmake build" blocks: each makes the image, makes it again when the source
# changes and not when it does not, and a source that fails to convert (an S2
# image: "No data!") stops the build, leaving no image that a second build
# would take for current.
# usage: build_recipes.sh README COMMAND...   exit 0 passed, 1 failed, 77 skipped
# (COMMAND is the program, perhaps behind an emulator)
set -u
# shellcheck source=SCRIPTDIR/lib.sh
. "$(dirname "$0")/lib.sh"
readme=$1 && shift
command -v make >/dev/null || skip "make is not installed"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
# The recipes call quorvex by name.
mkdir "$tmp/bin" && printf '#!/bin/sh\nexec %s "$@"\n' "$(printf '%q ' "$@")" >"$tmp/bin/quorvex" &&
    chmod +x "$tmp/bin/quorvex" && export PATH=$tmp/bin:$PATH || exit 1
recipe() { awk -v open="\`\`\`$1 build" '$0 == "```" { on = 0 } on { print } $0 == open { on = 1 }' "$readme"; }
# converted: the image holds the conversion of the source as it is now.
converted() { quorvex "$source" "$tmp/want.s37" >/dev/null && cmp -s "$image" "$tmp/want.s37"; }

mkdir -p "$tmp/make" "$tmp/cmake/out"
recipe make >"$tmp/make/Makefile"
{ echo 'cmake_minimum_required(VERSION 3.25)' && echo 'project(image NONE)' && recipe cmake; } >"$tmp/cmake/CMakeLists.txt"
build() { # build KIND: the build of that recipe, its output in $tmp/KIND.log
    case $1 in
    make) make -C "$tmp/make" ;;
    cmake) cmake -S "$tmp/cmake" -B "$tmp/cmake/out" && cmake --build "$tmp/cmake/out" ;;
    esac >"$tmp/$1.log" 2>&1
}
for kind in make cmake; do
    source=$tmp/$kind/firmware.s19 image=$tmp/$kind/firmware.s37
    [ "$kind" = cmake ] && image=$tmp/cmake/out/firmware.s37
    printf 'S1130000285F245F2212226A000424290008237C2A\r\nS9030000FC\r\n' >"$source"
    build "$kind" && converted ||
        complain "$kind: the first build did not make the image: $(cat "$tmp/$kind.log")"
    # Both dated long ago, the image after its source: it is current.
    touch -d @1000000000 "$source" && touch -d @1000000001 "$image"
    build "$kind" && [ "$(stat -c %Y "$image")" = 1000000001 ] ||
        complain "$kind: an image newer than its source was made again"
    printf 'S107001011223344E0\nS9030000FC\n' >"$source"
    build "$kind" && converted ||
        complain "$kind: a changed source did not make the image again"
    printf 'S2080000001122334455AC\r\n' >"$source"
    for run in first second; do
        build "$kind" && complain "$kind: the $run build passed over a source that is no S1 image"
        grep -q 'No data!' "$tmp/$kind.log" || complain "$kind: the $run build did not run quorvex"
    done
done
exit "$failed"
