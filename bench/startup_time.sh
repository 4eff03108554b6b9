#!/usr/bin/env bash
# Process start to the login window's page ready, median of several runs of the built
# program (build/dist, from scripts/run.sh or a Release build).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
dist="${1:-$(dirname "$0")/../build/dist}"
runs="${2:-9}"
work=$(mktemp -d)
pid=
finish() {
  [ -z "$pid" ] || { kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap finish EXIT
login_window_ready() { grep -qa 'L.o.g.i.n. .w.i.n.d.o.w' "$work"/dist/Log/*.log 2>/dev/null; }
copy_program "$dist" "$work/dist"
times=()
for _ in $(seq 1 "$runs"); do
  rm -rf "$work/dist/Log"
  start=$(date +%s%N)
  XDG_RUNTIME_DIR="$work" "$work/dist/quorvix" > /dev/null 2>&1 &
  pid=$!
  WAIT_POLL=0.001 wait_for 60 login_window_ready
  end=$(date +%s%N)
  kill -TERM "$pid"
  wait "$pid" || true
  pid=
  times+=($(( (end - start) / 1000 )))
done
report "start to login window ready" "${times[@]}"
