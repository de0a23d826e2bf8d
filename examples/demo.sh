#!/usr/bin/env bash
# Loads the Nym sample into a simulated drive and verifies it, with no
# hardware: drive-sim plays the drive on a pseudo-terminal and holds each
# reply back as long as a real serial line of that speed would, so the
# progress count moves visibly. The drive's flash is kept afterwards in
# demo-flash.bin of the build directory.
#
#   examples/demo.sh [build directory] [baud rate]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
baud=${2:-115200}
work=$(mktemp -d)
sim_pid=""

cleanup() {
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid"
    wait "$sim_pid" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/drive-sim" --family nym --pace --baud "$baud" \
  --flash-out "$build/demo-flash.bin" --log "$work/requests.log" >"$work/sim.out" &
sim_pid=$!

# drive-sim names its pseudo-terminal on its first line.
for _ in $(seq 100); do
  if [[ $(head -n 1 "$work/sim.out") == /* ]]; then break; fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: drive-sim did not start" >&2
    exit 1
  fi
  sleep 0.1
done
pty=$(head -n 1 "$work/sim.out")
if [[ $pty != /* ]]; then
  echo "demo: drive-sim named no pseudo-terminal" >&2
  exit 1
fi

echo "demo: drive-sim serves a Nym drive on $pty"
# Run from examples/ so that the file is named as a user would name it.
status=0
(cd "$root/examples" && "$build/bin/kelvane" "/c$pty" "/b$baud" nym_sample.s) || status=$?

kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
echo "demo: the drive received $(wc -l <"$work/requests.log") requests and keeps its flash in" \
  "$build/demo-flash.bin; kelvane exited with $status"
exit "$status"
