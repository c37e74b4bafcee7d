#!/usr/bin/env bash
# Starts a persistent Wine server with a ready prefix (WINEPREFIX), so that the
# tests do not each pay for it; or stops it.
# usage: wine.sh start|stop WINE WINESERVER
set -u
case $1 in
start)
    # Nothing that stays may hold the test runner's output open.
    mkdir -p "$WINEPREFIX" && "$3" -p </dev/null >/dev/null 2>&1 || exit 1
    "$2" wineboot --init </dev/null >/dev/null 2>&1
    ;;
stop)
    "$3" -k
    "$3" -w
    ;;
esac
exit 0
