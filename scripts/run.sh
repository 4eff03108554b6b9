#!/usr/bin/env bash
# Builds the program and runs the demo (scripts/demo_run.sh): the demo server with its one
# account, the simulated pedometer and blood-pressure monitor plugged in, and the program
# from build/dist logging in automatically.
# Ctrl-C ends the program in order; the script then stops the devices and the server.
#
#   bash scripts/run.sh [--no-devices] [program arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
devices=()
if [[ ${1:-} == --no-devices ]]; then
  devices=(--no-devices)
  shift
fi
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec bash scripts/demo_run.sh --bin build --program build/dist "${devices[@]}" -- "$@"
