# Sourced by the program tests that run the program in a window under a
# virtual X server. Needs $program (the built program) and fail().
#
# Every wait here is on the state a test needs (the window of the program's
# own process, the window manager's readiness, the window's pixels), bounded
# generously: these tests run beside many others on a busy machine.

# The process id a run wrote to FILE.
program_pid() { [ -s "$1" ] && cat "$1"; }

# announced FILE WORD: what follows WORD on the line "WORD ..." a helper
# writes to FILE as it is ready (a server's port), waited for up to 10 s;
# nothing when none came.
announced() {
  for _ in $(seq 100); do grep -q "^$2 " "$1" 2>/dev/null && break; sleep 0.1; done
  sed -n "s/^$2 //p" "$1" 2>/dev/null
}

# notice_seen HOME...: each HOME has seen the welcome page of this version
# of "$program" (it is not shown over the first screen).
notice_seen() {
  local version home
  version=$("$program" --version | awk '{ print $2 }')
  for home in "$@"; do
    mkdir -p "$home/Documents"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><array><string>%s</string></array></plist>\n' \
      "$version" > "$home/Documents/.notice.lbs"
  done
}

# keep_activity_log HOME: the preferences in HOME keep the activity log
# (home/Documents/_activelog.txt).
keep_activity_log() {
  mkdir -p "$1/Library/Preferences"
  cat > "$1/Library/Preferences/leafbright.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>enable_crashlog</key><true/></dict></plist>
PLIST
}

# start_windowed NAME ARGS...: starts "$program" ARGS in a window, its output
# in NAME.log, its own process id in NAME.pid and its X display in
# NAME.display (written before the process id); $! is then the runner
# (own-display.sh).
start_windowed() {
  local name=$1
  shift
  "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" \
    sh -c 'echo "$DISPLAY" > "$2"; echo $$ > "$1"; shift 2; exec "$@"' sh "$name.pid" "$name.display" "$program" "$@" \
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

# await_window_manager: waits (up to 30 s) until the window manager started
# on $DISPLAY manages windows. Openbox names itself before it does (a window
# made in that gap is never mapped); it is ready once it has set the
# desktop's work area.
await_window_manager() {
  for _ in $(seq 300); do
    xprop -root _NET_WORKAREA 2>/dev/null | grep -q = && return 0
    sleep 0.1
  done
  return 1
}

# window_of PID [TITLE]: the window of process PID shown on $DISPLAY (its
# title matching the regular expression TITLE), nothing while it has none.
# Only a shown window of that very process: a run just ended may still have
# its window listed, and a window the program made and gave up while it
# chose how to draw was never shown.
window_of() {
  xdotool search --all --onlyvisible --pid "$1" --name "${2:-}" 2>/dev/null | head -1
}

# rgb PNG X Y: the pixel's red, green and blue (0 to 255).
rgb() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }

# shows_at_rest WINDOW PNG: two looks at WINDOW one after the other show the
# same pixels (nothing on it slides or fades: a click then reaches what it
# shows), the last look in PNG.
shows_at_rest() {
  local before
  import -window "$1" "$2" 2>/dev/null || return 1
  before=$(convert "$2" rgb:- | md5sum)
  import -window "$1" "$2" 2>/dev/null || return 1
  [ "$(convert "$2" rgb:- | md5sum)" = "$before" ]
}

# end_by_sigterm PID [MS]: sends SIGTERM to the child PID and waits for its
# end: its status in $rc, the milliseconds from the signal in $took. With MS
# it waits at most MS milliseconds and 2 s more, and fails (status 1) while
# the child still runs then; without, as long as the child runs.
end_by_sigterm() {
  local start
  start=$(date +%s%N)
  kill -TERM "$1"
  if [ -n "${2:-}" ]; then
    for _ in $(seq $(($2 / 50 + 40))); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$1" 2>/dev/null && return 1
  fi
  set +e
  wait "$1"
  rc=$?
  set -e
  took=$((($(date +%s%N) - start) / 1000000))
}
