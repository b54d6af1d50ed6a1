#!/bin/sh
# wine-server.sh start|stop WINESERVER WINE, with WINEPREFIX and the like in the environment.
# start: one Wine server for the prefix that stays until stopped, with Wine's own services, so
# that each program run afterwards starts at once. A server of the prefix left from the build or
# from listing the tests is ended first; should the lasting one not start, programs still run,
# only slower. Nothing started here holds the caller's output open.
# stop: ends the server and the services, if they still run.
exec </dev/null
case "$1" in
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
