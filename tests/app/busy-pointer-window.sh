#!/usr/bin/env bash
# The pointer over the window shows the desktop's "busy in the background"
# shape (the theme's "progress" pointer) while a download is under way and turns back to the one it had before
# once it ends. The download comes from a web server that waits 4 s before it
# answers; it is handed to the running program (by a second run) only after
# the pointer over the idle window was read, and the pointer is read from
# outside the program, as the X server shows it.
# busy-pointer-window.sh LEAFBRIGHT POINTER-TOOL WORKDIR
set -euo pipefail
program=$(realpath "$1")
shape_tool=$(realpath -m "$2")
work=$(realpath -m "$3")
fail() {
  echo "FAIL: $*" >&2
  for f in run.log http.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  exit 1
}
for tool in Xvfb flock xdotool python3; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
[ -x "$shape_tool" ] || { echo "lb_pointer_shape missing"; exit 77; }
fault_httpd=$(dirname "$shape_tool")/lb_fault_httpd
[ -x "$fault_httpd" ] || { echo "lb_fault_httpd missing"; exit 77; }

if [ "${4:-}" != inside ]; then
  rm -rf "$work"
  mkdir -p "$work"
  exec "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" "$0" "$program" "$shape_tool" "$work" inside
fi
cd "$work"
. "$(dirname "$0")/windowed-run.sh"
pids=()
pid=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

mkdir -p www home/Documents
head -c 20000 /dev/urandom > www/Slow.cbz
"$fault_httpd" --root www > http.log 2>&1 &
pids+=($!)
port=$(announced http.log port)
[ -n "$port" ] || fail "the web server did not start"
# No welcome page: it was seen with this version.
notice_seen home

# The question about the download handed over is answered when it shows.
printf 'wait 5\ntap "Yes"\nwait 600\n' > run.txt
"$program" --home home --device desktop --script run.txt > run.log 2>&1 &
pid=$!
running() { kill -0 "$pid" 2>/dev/null || fail "the program ended by itself"; }
window=
for _ in $(seq 300); do
  running
  window=$(window_of "$pid" '^Leafbright') && [ -n "$window" ] &&
    [ -S home/leafbright.sock ] && break
  sleep 0.05
done
[ -n "$window" ] && [ -S home/leafbright.sock ] || fail "no window listening for hand-overs"
xdotool mousemove --window "$window" 40 40
idle=$("$shape_tool") || fail "the pointer cannot be read"
[ "$("$shape_tool")" = "$idle" ] || fail "the pointer changes over the idle window"

# The download: the pointer turns busy while it runs...
"$program" --home home "http://127.0.0.1:$port/Slow.cbz?delay_ms=4000" > handover.log 2>&1 ||
  fail "the download was not handed over: $(cat handover.log)"
# Where the desktop's cursor theme has the "progress" pointer, it is that one
# (not the "wait" one); any other change counts where it has none.
progress=$("$shape_tool" --theme progress) || progress=
busy=
for _ in $(seq 400); do
  running
  now=$("$shape_tool")
  if [ -n "$progress" ]; then [ "$now" = "$progress" ] && { busy=$now; break; }
  else [ "$now" != "$idle" ] && { busy=$now; break; }
  fi
  sleep 0.05
done
[ -n "$busy" ] || fail "the pointer was $now, not ${progress:-another than $idle}, while the download was under way"
[ ! -f home/Library/downloads/Slow.cbz ] || fail "the download ended before the pointer was seen busy"
# ... and is back to what it was once it ended.
for _ in $(seq 400); do running; [ -f home/Library/downloads/Slow.cbz ] && break; sleep 0.05; done
[ -f home/Library/downloads/Slow.cbz ] || fail "the download did not end"
back=
for _ in $(seq 200); do
  running
  now=$("$shape_tool")
  [ "$now" = "$idle" ] && { back=1; break; }
  sleep 0.05
done
[ -n "$back" ] || fail "the pointer stayed $now after the download ended (idle: $idle, busy: $busy)"
kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=
echo "busy pointer ok: $idle / $busy"
