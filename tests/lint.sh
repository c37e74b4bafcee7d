#!/usr/bin/env bash
# Static checks, each failing on any finding: clang-tidy under the committed
# .clang-tidy on every file of src/ and tests/ that a build compiles, as the compile
# database says, for Linux (BUILD's) and for Windows (a MinGW-w64
# configuration's, made in BUILD/windows-database); cppcheck on all code; and
# ShellCheck on every shell script.
# usage: lint.sh BUILD    (BUILD holds the compile_commands.json of a build)
set -uo pipefail
build=$(cd "$1" && pwd -P) || exit 1
# clang-tidy counts the warnings it hides in system headers on stderr: drop that.
exec 2> >(grep -v 'warnings\? generated\.$' >&2)
cd "$(dirname "$0")/.." || exit 1
root=$(pwd -P)
failed=0

# tidy DATABASE [CLANG-TIDY OPTIONS...]: clang-tidy on the database's files of
# src/ and tests/ (GoogleTest's own sources, built from Debian's, excepted).
tidy() {
    local database=$1 sources=()
    shift
    mapfile -t sources < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database/compile_commands.json" |
        grep -E "^$root/(src|tests)/" | sort -u)
    ((${#sources[@]})) || { echo "FAIL: $database/compile_commands.json names no file of src/"; return 1; }
    echo "${sources[@]#"$root/"}"
    clang-tidy --quiet -p "$database" "$@" "${sources[@]}"
}

echo "== clang-tidy, Linux sources"
tidy "$build" || failed=1

echo "== clang-tidy, Windows sources"
mingw=x86_64-w64-mingw32-g++-posix
if command -v "$mingw" >/dev/null; then
    windows=$build/windows-database
    cmake -S . -B "$windows" --toolchain cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null || failed=1
    # clang finds MinGW's C headers by the target, but not its C++ library's.
    options=(--extra-arg=--target=x86_64-w64-mingw32)
    while read -r dir; do
        options+=("--extra-arg=-isystem$dir")
    done < <("$mingw" -E -x c++ -v - </dev/null 2>&1 | grep -E '^ .*/include/c\+\+')
    tidy "$windows" "${options[@]}" || failed=1
else
    echo "SKIP: $mingw is not installed"
fi

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++17 --library=googletest \
    --error-exitcode=1 --inline-suppr --quiet -I src -I "$build/generated" -I tests src tests bench || failed=1

echo "== shellcheck"
# Every script: named *.sh, or starting with a shell's #! line.
scripts=()
while IFS= read -r -d '' file; do
    [[ $file == *.sh ]] || head -n 1 "$file" | grep -qE '^#!.*[/ ](ba)?sh$' && scripts+=("${file#./}")
done < <(find . \( -name .git -o -name build -o -name dist \) -prune -o -type f -print0)
if command -v shellcheck >/dev/null; then
    shellcheck --severity=warning --external-sources "${scripts[@]}" && echo "${#scripts[@]} scripts" || failed=1
else
    echo "FAIL: shellcheck is not installed"
    failed=1
fi

exit "$failed"
