#!/usr/bin/env bash
# Static checks, each failing on any finding: clang-tidy on src/ under the
# committed .clang-tidy, for Linux and for Windows, and cppcheck on all code.
# usage: lint.sh BUILD    (BUILD holds the compile_commands.json of a build)
set -uo pipefail
build=$1
# clang-tidy counts the warnings it hides in system headers on stderr: drop that.
exec 2> >(grep -v 'warnings\? generated\.$' >&2)
cd "$(dirname "$0")/.." || exit 1
failed=0

echo "== clang-tidy, Linux sources"
clang-tidy --quiet -p "$build" src/main.cpp src/run.cpp src/conversion.cpp \
    src/platform_posix.cpp src/record/record.cpp || failed=1

echo "== clang-tidy, Windows sources"
mingw=x86_64-w64-mingw32-g++-posix
if command -v "$mingw" >/dev/null; then
    # clang finds MinGW's C headers by the target, but not its C++ library's.
    cxx_includes=()
    while read -r dir; do
        cxx_includes+=(-isystem "$dir")
    done < <("$mingw" -E -x c++ -v - </dev/null 2>&1 | grep -E '^ .*/include/c\+\+')
    clang-tidy --quiet src/platform_windows.cpp src/main.cpp -- \
        --target=x86_64-w64-mingw32 -std=c++17 -Isrc "${cxx_includes[@]}" || failed=1
else
    echo "SKIP: $mingw is not installed"
fi

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++17 --library=googletest \
    --error-exitcode=1 --inline-suppr --quiet -I src -I "$build/generated" -I tests src tests bench || failed=1

exit "$failed"
