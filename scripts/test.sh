#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer on)
# with every benchmark, runs every test, then every benchmark program once, briefly, and
# each fuzz target for 10 s, so that they keep building, ending and running.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# The benchmarks build here too, so that none stops building unseen.
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORV_TESTS=ON -DQUORV_SANITIZE=ON -DQUORV_BENCH=ON
cmake --build build-test -j8
cd build-test
ctest --output-on-failure -j8
cd ..
# A benchmark that hangs, crashes or fails its own check fails here too.
bash bench/brief_run.sh build-test
if command -v clang++ >/dev/null; then
  bash scripts/fuzz.sh 10
fi
