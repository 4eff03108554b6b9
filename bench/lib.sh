# Helpers of the timing scripts; sourced.

# copy_program <dist> <to>: the program folder as the build lays it out, without the log
# and the user folders of earlier runs.
copy_program() {
  cp -r "$1" "$2"
  rm -rf "$2/Log" "$2"/quorv_*/
}

# wait_for <seconds> <command>...: polls the command every WAIT_POLL seconds (default
# 0.005); fails, naming the command, when it has not succeeded in time.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || { echo "timed out: $*" >&2; return 1; }
    sleep "${WAIT_POLL:-0.005}"
  done
}

# report <what> <times in us>...: median, min and max.
report() {
  local what=$1
  shift
  local sorted
  sorted=($(printf '%s\n' "$@" | sort -n))
  local n=${#sorted[@]}
  echo "$what: median $(( sorted[n / 2] )) us over $n runs (min ${sorted[0]}, max ${sorted[n - 1]})"
}
