#!/bin/sh
# wine-server.sh init|start|stop WINESERVER WINE, with WINEPREFIX and the like in the environment.
# start: one Wine server for the prefix that stays until stopped, with Wine's own services, so
# that each program run afterwards starts at once. A server of the prefix left from the build or
# from listing the tests is ended first; should the lasting one not start, programs still run,
# only slower. Nothing started here holds the caller's output open.
# stop: ends the server and the services, if they still run.
# init: creates the prefix. Wine's setup also tries the 32-bit rundll32.exe, which a 64-bit-only
# Wine lacks; that harmless line is left out of the output.
exec </dev/null
case "$1" in
  init)
    errors=$(mktemp) || exit 1
    "$3" wineboot --init 2>"$errors"
    status=$?
    grep -v 'syswow64.*rundll32\.exe' "$errors" >&2
    rm -f "$errors"
    exit $status
    ;;
  start)
    "$2" -k >/dev/null 2>&1
    "$2" -w >/dev/null 2>&1
    "$2" -p >/dev/null 2>&1
    exec "$3" wineboot --init >/dev/null 2>&1
    ;;
  stop)
    "$2" -k >/dev/null 2>&1
    exec "$2" -w
    ;;
  *) exit 2 ;;
esac
