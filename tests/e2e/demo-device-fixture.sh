#!/bin/bash
# ctest fixture: the demo Modbus TCP device for the end-to-end tests, on a port of the test's choice.
#   demo-device-fixture.sh start PIDFILE PORT [TRACE] | stop PIDFILE
# TRACE: a file that receives a line for every write a client sends (emptied at start).
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
case "$1" in
start)
  trace=()
  if [ -n "${4:-}" ]; then : > "$4"; trace=(--trace "$4"); fi
  /usr/bin/python3 "$here/scripts/demo-device.py" "$3" "${trace[@]}" > "$2.log" 2>&1 &
  echo $! > "$2"
  for _ in $(seq 50); do
    grep -q listening "$2.log" 2>/dev/null && exit 0
    kill -0 "$(cat "$2")" 2>/dev/null || break
    sleep 0.1
  done
  cat "$2.log" >&2
  exit 1
  ;;
stop)
  # Only the demo device this file names: a stale file may name a process id that is now another's.
  pid=$(cat "$2" 2>/dev/null)
  if [ -n "$pid" ] && grep -q demo-device.py "/proc/$pid/cmdline" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  rm -f "$2"
  exit 0
  ;;
esac
exit 2
