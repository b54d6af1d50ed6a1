#!/bin/sh
# wine-server.sh init|start|stop WINESERVER WINE, with WINEPREFIX and the like in the environment.
# start: one Wine server for the prefix that stays until stopped, with Wine's own services, so
# that each program run afterwards starts at once. A server of the prefix left from listing the
# tests ends by itself a few seconds after its last program: that is waited for, as a server
# killed while Wine's services are still starting leaves some of them behind, hung. Only a server
# that does not end so (one an earlier run never stopped) is killed. Should the lasting one not
# start, programs still run, only slower. Nothing started here holds the caller's output open.
# stop: ends the server and the services, if they still run.
# init: creates the prefix, and returns only once Wine's setup has ended and its server with it
# (wineboot itself returns while services are still starting). Wine's setup also tries the 32-bit
# rundll32.exe, which a 64-bit-only Wine lacks; that harmless line is left out of the output.
exec </dev/null
case "$1" in
  init)
    errors=$(mktemp) || exit 1
    "$3" wineboot --init 2>"$errors"
    status=$?
    timeout 120 "$2" -w || "$2" -k
    grep -v 'syswow64.*rundll32\.exe' "$errors" >&2
    rm -f "$errors"
    exit $status
    ;;
  start)
    timeout 60 "$2" -w >/dev/null 2>&1 || "$2" -k >/dev/null 2>&1
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
