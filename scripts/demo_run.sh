#!/usr/bin/env bash
# The run command's demo, without the build: the demo server, the simulated pedometer and
# blood-pressure monitor, and the program logging in to the server automatically, until
# the program ends (Ctrl-C, or SIGINT or SIGTERM to this script: the program gets one
# SIGINT and ends in order). Then the devices and the server are stopped and the devices'
# tree is removed. scripts/run.sh builds and calls it; tests call it with folders and
# ports of their own.
#
#   bash scripts/demo_run.sh --bin <build folder> --program <program folder>
#        [--port <n>] [--tree <folder>] [--no-devices] [-- <program arguments>]
#
# --bin: where quorv_demo_server, quorv_sim_pedometer and quorv_sim_monitor are.
# --port: the server's packet port, 18090 by default with HTTP on 18092 as the shipped
#   settings say; 0 takes two free ports and points the settings file at them.
# --tree: the folder made for the devices' sysfs and dev tree, a new one (default: a
#   temporary one).
# The blood-pressure monitor is plugged in before the program starts: the main window reads
# the devices present when it shows. The pedometer is plugged in once the device watch runs
# (it starts when the main page reports its element panel, and fills the page's element
# list: "RefashElementList" on the program's output), so the watch sees it arrive.
# QUORV_SYSFS_ROOT, QUORV_DEV_ROOT and QUORV_COMPORTS are pointed at them unless already
# set (a real device). The simulated monitor's model goes into <program>/System/bpmdl.vpx
# unless that file is there, and is removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/demo_account.sh"

bin="" program_dir="" port=18090 tree="" devices=1
while (($#)); do
  case $1 in
    --bin) bin=$(cd "$2" && pwd); shift 2 ;;
    --program) program_dir=$(cd "$2" && pwd); shift 2 ;;
    --port) port=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    --no-devices) devices=0; shift ;;
    --) shift; break ;;
    *) echo "demo: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ -n $bin && -n $program_dir ]] || { echo "demo: --bin and --program are needed" >&2; exit 2; }

# The tree is removed at the end: never one that holds something already.
if [[ -n $tree && -e $tree ]]; then
  echo "demo: $tree exists; the devices' folder must be a new one" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quorv-demo.XXXXXX")
[[ -n $tree ]] || tree=$work/devices
model_file=$program_dir/System/bpmdl.vpx
[[ -e $model_file ]] && keep_model=1 || keep_model=0
pids=()   # the server and the devices, stopped in reverse order
tails=()  # what shows their output, waited for so that their last lines are out

cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  for i in "${tails[@]}"; do wait "$i" 2>/dev/null || true; done
  ((keep_model)) || rm -f "$model_file"
  rmdir "$program_dir/System" 2>/dev/null || true
  rm -rf "$tree" "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # until the program runs: everything started so far is stopped

# start <name> <command...>: runs it in a process group of its own (so that Ctrl-C reaches
# this script alone), its output in $work/<name>.out and shown here as it comes.
start() {
  local name=$1
  shift
  : >"$work/$name.out"  # there before tail looks for it
  set -m
  "$@" >>"$work/$name.out" 2>&1 &
  started=$!
  tail -n +1 -f --pid="$started" "$work/$name.out" &
  tails+=($!)
  set +m
}

# await <pid> <file> <text> [seconds]: waits until the file holds the text; fails when the
# process ends first or after the seconds (10 by default).
await() {
  local i
  for ((i = 0; i < ${4:-10} * 20; i++)); do
    grep -q -- "$3" "$2" 2>/dev/null && return 0
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

start server "$bin/quorv_demo_server" "$port"
server=$started
pids+=("$server")
await "$server" "$work/server.out" "article synchronisation on" || {
  echo "demo: the demo server did not start" >&2
  exit 1
}
echo "demo: server $server"
packet_port=$(sed -n 's/^demo server: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.out")
http_url=$(sed -n 's/^demo server: article synchronisation on \(.*\)$/\1/p' "$work/server.out")
settings=(LoginURL=127.0.0.1 "LoginPort=$packet_port")
if [[ $port == 0 ]]; then
  # Nothing may reach the fixed ports, where another demo server may run.
  settings+=(LoginURLBak=127.0.0.1 "LoginPortBak=$packet_port" "HttpServiceAddr=$http_url")
fi
set_demo_account "$program_dir/Quorv10.ini" "${settings[@]}"

if ((devices)); then
  # On the USB bus as its adapter, with the ids its model file names.
  start monitor "$bin/quorv_sim_monitor" "$tree" --model-file "$model_file" --usb 0b1e:5a01
  pids+=("$started")
  await "$started" "$work/monitor.out" ": plugged in" || {
    echo "demo: the simulated blood-pressure monitor could not be made; the program is not started" >&2
    exit 1
  }
  export QUORV_SYSFS_ROOT=${QUORV_SYSFS_ROOT:-$tree/sys}
  export QUORV_DEV_ROOT=${QUORV_DEV_ROOT:-$tree/dev}
  export QUORV_COMPORTS=${QUORV_COMPORTS:-COM3=$tree/dev/ttyBP0}
  echo "demo: monitor $started below $tree (QUORV_SYSFS_ROOT=$QUORV_SYSFS_ROOT" \
       "QUORV_DEV_ROOT=$QUORV_DEV_ROOT QUORV_COMPORTS=$QUORV_COMPORTS)"
fi

start program bash -c 'cd "$1" && shift && exec ./quorvix /autoRun "$@"' program "$program_dir" "$@"
program=$started
echo "demo: program $program"
trap 'kill -INT "$program" 2>/dev/null || true' INT TERM

if ((devices)); then
  if await "$program" "$work/program.out" "RefashElementList(" 60; then
    start pedometer "$bin/quorv_sim_pedometer" "$tree"
    pids+=("$started")
    if await "$started" "$work/pedometer.out" ": plugged in"; then
      echo "demo: pedometer $started plugged in"
    else
      echo "demo: the simulated pedometer could not be made" >&2
    fi
  else
    echo "demo: the device watch did not start; the pedometer is not plugged in" >&2
  fi
fi

status=0
while :; do
  wait "$program" && status=0 || status=$?
  kill -0 "$program" 2>/dev/null || break  # a signal only interrupted the wait
done
echo "demo: the program ended ($status)"
exit "$status"
