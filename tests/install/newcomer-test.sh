#!/bin/bash
# The README's first run, its commands exactly as written there, on a machine without a display: the
# first (scripts/run) in the background until it says the gateway serves, then the others in order; each
# must succeed, and the subscription must show the demo counter change. The gateway's configuration in the
# build tree is put aside meanwhile, as on a fresh clone, and put back afterwards.
# Usage: newcomer-test.sh DEMO_PORT
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bin=build/win64/bin
mapfile -t commands < <(awk '/^## First run/ { on = 1; next } on && /^## / { exit }
                             on && /^    scripts\// { sub(/^    /, ""); print }' README.md)
if [ "${#commands[@]}" -lt 2 ] || [ "${commands[0]}" != "scripts/run" ]; then
  echo "newcomer-test: README.md's first run should start with scripts/run, then client commands" >&2
  exit 1
fi

export TW_DEMO_PORT=$1
unset DISPLAY
work=$(mktemp -d)
for f in TARNOWICK.GDB TARNOWICK.GDB-journal Tarnowick.ini; do [ -e "$bin/$f" ] && mv "$bin/$f" "$work/$f"; done
started=$(date +%s)
failed=0
bash -c "exec ${commands[0]}" > "$work/run.log" 2>&1 &
run=$!
finish() {
  local rc=$?
  kill -TERM "$run" 2>/dev/null  # scripts/run closes the gateway and stops the demo device
  for _ in $(seq 600); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$run" 2>/dev/null && { echo "newcomer-test: scripts/run did not stop" >&2; failed=1; kill -KILL "$run"; }
  if grep -q "ended by force" "$work/run.log"; then
    echo "newcomer-test: the gateway did not close as its \"Exit\" message closes it" >&2
    failed=1
  fi
  rm -f "$bin/TARNOWICK.GDB" "$bin/TARNOWICK.GDB-journal" "$bin/Tarnowick.ini"
  for f in TARNOWICK.GDB TARNOWICK.GDB-journal Tarnowick.ini; do [ -e "$work/$f" ] && mv "$work/$f" "$bin/$f"; done
  rm -rf "$work"
  [ "$failed" = 0 ] || rc=1
  exit "$rc"
}
trap finish EXIT

for _ in $(seq 1800); do
  grep -q "serves OPC clients" "$work/run.log" && break
  kill -0 "$run" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "serves OPC clients" "$work/run.log"; then
  echo "newcomer-test: scripts/run did not bring the gateway up:" >&2
  cat "$work/run.log" >&2
  exit 1
fi
echo "scripts/run: the gateway serves after $(( $(date +%s) - started )) s"

changes=0
for c in "${commands[@]:1}"; do
  echo "\$ $c"
  out=$(bash -c "$c" 2>&1)
  rc=$?
  echo "$out"
  if [ "$rc" != 0 ]; then
    echo "newcomer-test: '$c' failed with $rc" >&2
    failed=1
  fi
  # One line per data change of an item: "Demo.Counter value=N quality=0x.. time=...".
  n=$(printf '%s\n' "$out" | sed -n 's/^Demo\.Counter value=\([0-9]*\) .*/\1/p' | sort -u | wc -l)
  [ "$n" -gt "$changes" ] && changes=$n
done
if [ "$changes" -lt 2 ]; then
  echo "newcomer-test: no data change of Demo.Counter arrived through opcda-cli" >&2
  failed=1
fi
echo "the README's first run took $(( $(date +%s) - started )) s"
exit $failed
