#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for the given seconds (default 60), all at once, from its seed corpus in
# tests/fuzz/corpus/<target>/. Prints per target the inputs run and the coverage reached;
# any finding (crash, sanitizer report, time-out, broken promise) fails the run, and its
# input is kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUORV_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzzers -j"$(nproc)"

root=$PWD/build-fuzz
targets=(reply_fuzzer dispatcher_fuzzer sync_fuzzer profile_fuzzer html_fuzzer json_fuzzer model_fuzzer xml_guard_fuzzer)
mkdir -p "$root/runs" "$root/findings"
for t in "${targets[@]}"; do
  # Inputs found in earlier runs go on; the seeds are read, never written.
  mkdir -p "$root/corpus/$t"
  "$root/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$root/findings/$t-" "$root/corpus/$t" "$PWD/tests/fuzz/corpus/$t" \
    >"$root/runs/$t.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  status=ok
  wait "${pids[$i]}" || { status="FINDING (see build-fuzz/runs/$t.log)"; failed=1; }
  inputs=$(sed -n 's/^stat::number_of_executed_units: //p' "$root/runs/$t.log")
  coverage=$(grep -o 'cov: [0-9]*' "$root/runs/$t.log" | tail -1)
  printf '%-16s inputs %-9s %-10s %s\n' "$t" "${inputs:-?}" "${coverage:-cov: ?}" "$status"
done
exit $failed
