#!/bin/sh
# wine-server.sh start|stop WINESERVER WINE, with WINEPREFIX and the like in the environment.
# start: one Wine server for the prefix that stays until stopped, with Wine's own services, so
# that each program run afterwards starts at once. A server of the prefix left from the build or
# from listing the tests ends first. Nothing started here holds the caller's output open.
# stop: ends the server and the services.
case "$1" in
  start)
    "$2" -k >/dev/null 2>&1
    "$2" -p </dev/null >/dev/null 2>&1 && exec "$3" wineboot --init </dev/null >/dev/null 2>&1
    ;;
  stop) exec "$2" -k ;;
  *) exit 2 ;;
esac
