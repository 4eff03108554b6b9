#!/usr/bin/env bash
# Runs every benchmark program of a build once, briefly, all at the same time: each
# benchmark for the shortest time Google Benchmark allows (QUORV_BENCH_BRIEF set, so that
# the few long ones run a smaller workload), each program under a time-out. Fails, showing
# the program's output, when one hangs, crashes or fails its own check.
#
#   bench/brief_run.sh <build folder> [time-out per program in seconds, default 90]
set -uo pipefail
build=$1
limit=${2:-90}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

names=()
pids=()
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  name=$(basename "$program")
  QUORV_BENCH_BRIEF=1 timeout -k 10 "$limit" "$program" --benchmark_min_time=0 > "$logs/$name" 2>&1 &
  names+=("$name")
  pids+=($!)
done
[ "${#names[@]}" -gt 0 ] || { echo "no benchmark programs in $build/bench" >&2; exit 1; }

failed=0
for i in "${!names[@]}"; do
  name=${names[$i]}
  wait "${pids[$i]}"
  status=$?
  # A program with a main of its own ends with 0 even after a benchmark failed its check.
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "$name: did not end within $limit s"
  elif [ "$status" -ne 0 ] || grep -q 'ERROR OCCURRED' "$logs/$name"; then
    echo "$name: failed (exit status $status)"
  else
    echo "$name: ok"
    continue
  fi
  failed=1
  cat "$logs/$name"
done
echo "brief benchmark run: ${#names[@]} programs in ${SECONDS} s"
exit "$failed"
