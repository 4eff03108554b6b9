#!/usr/bin/env bash
# Builds the program, starts the demo server with its one account, and starts the
# program from build/dist logging in automatically. Ctrl-C ends the program, then the server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j8

# The demo account, in place in the settings file (CRLF lines: the \r stays).
ini=build/dist/Quorv10.ini
for kv in LoginAccount=demo LoginPassword=demo123 UserID=demo01 UserNo=1001 RememberPassword=1 \
          AutoLoginWhenRun=1 LoginURL=127.0.0.1 LoginPort=18090; do
  sed -i -E "s/^${kv%%=*}=[^\r]*/${kv}/" "$ini"
done

build/quorv_demo_server &
server=$!
# The server is also stopped when the program ends on its own.
trap 'kill -TERM "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
sleep 0.3
kill -0 "$server"  # it ends at once when its port is taken
cd build/dist
./quorvix /autoRun "$@"
