#!/usr/bin/env bash
# Builds the program and starts it from build/dist on its built-in defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j8
cd build/dist
exec ./quorvix "$@"
