#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs every test, builds every benchmark, then runs each fuzz target for 10 s so they
# keep building and running.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORV_TESTS=ON -DQUORV_SANITIZE=ON
cmake --build build-test -j8
cd build-test
ctest --output-on-failure -j8
cd ..
# Every benchmark builds as the README builds them, so none stops building unseen; none runs here.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORV_BENCH=ON
cmake --build build-bench --target benchmarks -j8
if command -v clang++ >/dev/null; then
  bash scripts/fuzz.sh 10
fi
