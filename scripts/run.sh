#!/usr/bin/env bash
# Builds the program, starts the demo server with its one account, and starts the
# program from build/dist logging in automatically. Ctrl-C ends the program, then the script
# stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j8

source scripts/demo_account.sh
set_demo_account build/dist/Quorv10.ini LoginURL=127.0.0.1 LoginPort=18090

# In a process group of its own, so that Ctrl-C reaches the program alone: the program
# logs out from the server as it ends, and the server is stopped once the program has ended.
set -m
build/quorv_demo_server &
server=$!
set +m
trap 'kill -TERM "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
sleep 0.3
kill -0 "$server"  # it ends at once when its port is taken
cd build/dist
./quorvix /autoRun "$@"
