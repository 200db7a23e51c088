# Sourced by the program tests that run the program in a window under a
# virtual X server. Needs $program (the built program) and fail().

# The process id a run wrote to FILE.
program_pid() { [ -s "$1" ] && cat "$1"; }

# start_windowed NAME ARGS...: starts "$program" ARGS in a window, its output
# in NAME.log and its own process id in NAME.pid; $! is then the runner (own-display.sh).
start_windowed() {
  local name=$1
  shift
  "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" sh -c 'echo $$ > "$1"; shift; exec "$@"' sh "$name.pid" "$program" "$@" \
    > "$name.log" 2>&1 &
}

# wait_while_running RUNNER TRIES PAUSE WHAT COMMAND...: runs COMMAND every
# PAUSE seconds until it succeeds (status 0) or TRIES are spent (status 1);
# fails with WHAT when RUNNER ends before.
wait_while_running() {
  local runner=$1 tries=$2 pause=$3 what=$4
  shift 4
  for _ in $(seq "$tries"); do
    kill -0 "$runner" 2>/dev/null || fail "$what"
    "$@" && return 0
    sleep "$pause"
  done
  return 1
}
