#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer and UndefinedBehaviorSanitizer on)
# with every benchmark, and runs every test, then runs each fuzz target for 10 s so they
# keep building and running.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# The benchmarks build here too (never run), so that none stops building unseen.
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORV_TESTS=ON -DQUORV_SANITIZE=ON -DQUORV_BENCH=ON
cmake --build build-test -j8
cd build-test
ctest --output-on-failure -j8
cd ..
if command -v clang++ >/dev/null; then
  bash scripts/fuzz.sh 10
fi
