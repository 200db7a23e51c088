#!/usr/bin/env bash
# The X display goes away under a window with a book open (its server is
# killed): the program ends at once with status 1 and says why, its settings
# written, instead of tearing itself down under its running workers (X's own
# handler calls exit, which destroyed what the workers were using).
# The display stops answering (its server is stopped) while the program
# draws: the main thread is held in the display's call, and SIGTERM still
# ends the program within a few seconds, with the signal's status; so does a
# display that stops answering while the program idles, which then holds
# its termination path.
# A display that never answers holds a start: SIGTERM ends it at once, with
# the signal's status.
# display-gone.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
fail() {
  echo "FAIL: $*" >&2
  for f in run.log frozen.log idle.log start.log; do [ -f "$work/$f" ] && { echo "--- $f" >&2; tail -20 "$work/$f" >&2; }; done
  exit 1
}
. "$(dirname "$0")/windowed-run.sh"
for tool in Xvfb xwininfo python3; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
rm -rf "$work"
mkdir -p "$work"
cd "$work"
pid= xvfb= silent=
trap 'for p in $pid $xvfb $silent; do kill -CONT $p 2>/dev/null; kill -9 $p 2>/dev/null || true; done' EXIT
# start_xvfb: a virtual X server of this test's own, its number in DISPLAY, its process in $xvfb.
start_xvfb() {
  rm -f display.txt
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3> display.txt > xvfb.log 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
  [ -s display.txt ] || fail "Xvfb did not start"
  export DISPLAY=:$(cat display.txt)
}
start_xvfb

printf 'tap "Close"\ntap "Leafbright Sample"\nwait 2\nshot open\nwait 600\n' > run.txt
"$program" --home home --device phone --script run.txt --shots shots > run.log 2>&1 &
pid=$!
for _ in $(seq 300); do
  kill -0 $pid 2>/dev/null || fail "the program ended before the display went away"
  [ -s shots/open.png ] && break
  sleep 0.1
done
[ -s shots/open.png ] || fail "the book did not open"
kill -9 $xvfb
xvfb=
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "the program was still running 10 s after its display went away"
set +e
wait $pid
rc=$?
set -e
pid=
[ $rc -eq 1 ] || fail "the program ended with status $rc"
grep -q "the display went away" run.log || fail "the program did not say why it ended"
[ -s home/Library/Preferences/leafbright.plist ] || fail "no settings were written"
echo "ok: the program ended with status 1 when its display went away"

# The display server stops (SIGSTOP) with the book open; the page turned
# next is drawn into a display that does not answer, which holds the main
# thread (no later step runs). SIGTERM ends the program all the same, with
# the signal's status: it used to wait for the display for ever.
# stopped_display NAME STEPS: the program runs STEPS (a picture "open" first)
# on a display of its own, which is stopped once that picture is taken.
stopped_display() {
  start_xvfb
  printf "$2" > "$1.txt"
  "$program" --home home --device phone --script "$1.txt" --shots "$1-shots" > "$1.log" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    kill -0 $pid 2>/dev/null || fail "$1: the program ended before its display stopped"
    [ -s "$1-shots/open.png" ] && break
    sleep 0.1
  done
  [ -s "$1-shots/open.png" ] || fail "$1: the book did not open again"
  kill -STOP $xvfb
}
# ended_by_sigterm NAME LIMIT: SIGTERM ends the program within LIMIT ms with
# the signal's status; the time it took in $took.
ended_by_sigterm() {
  kill -0 $pid 2>/dev/null || fail "$1: the program ended while its display was stopped"
  end_by_sigterm $pid "$2" || fail "$1: SIGTERM did not end a program held by a display that stopped answering"
  pid=
  [ $rc -eq 143 ] || fail "$1: the program held by its display ended with status $rc"
  [ $took -le "$2" ] || fail "$1: the program held by its display took $took ms to end after SIGTERM"
  kill -9 $xvfb
  xvfb=
}
# The main thread waits on its window's events a hundredth of a second at a
# time; held in a call to the display, it no longer wakes.
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' /proc/$pid/task/$pid/status 2>/dev/null; }
main_held() { local before; before=$(wakes); sleep 0.5; [ -n "$before" ] && [ "$(wakes)" = "$before" ]; }
# Stopped before the page is turned: the turn, or the picture after it, is
# what holds the main thread; nothing is drawn after that.
stopped_display frozen 'wait 2\nshot open\nwait 1\nkey space\nwait 1\nshot late\nwait 600\n'
for _ in $(seq 60); do main_held && break; kill -0 $pid 2>/dev/null || break; done
main_held || fail "the stopped display did not hold the program"
[ -e frozen-shots/late.png ] && fail "the stopped display did not hold the program"
ended_by_sigterm frozen 3500
grep -q "still busy 2 s after the signal" frozen.log || fail "the program held by its display was not ended by the watch"
echo "ok: the program held by a stopped display ended $took ms after SIGTERM"

# Stopped while the program draws nothing: SIGTERM begins its termination
# path, and the window it takes away on the display that does not answer
# holds that path; the program is ended all the same a few seconds later.
stopped_display idle 'wait 2\nshot open\nwait 600\n'
ended_by_sigterm idle 8000
grep -q "termination path did not end within 5 s" idle.log || fail "idle: the program was not ended by the watch of its termination path"
echo "ok: the program whose end was held by a stopped display ended $took ms after SIGTERM"

# A display that takes the connection and never answers (an X server's port
# on loopback where nothing speaks): the start waits there, and SIGTERM ends
# it at once, as it ends a program without a handler (not at the end of the
# watch for a main thread that does not reach its end, which says so).
cat > silent-display.py <<'PY'
import socket
for n in range(100, 1000):
    s = socket.socket()
    try:
        s.bind(('127.0.0.1', 6000 + n))
    except OSError:
        s.close()
        continue
    break
s.listen(4)
print('display', n, flush=True)
held = []
while True:
    c, _ = s.accept()
    held.append(c)
    print('connection', flush=True)
PY
python3 silent-display.py > silent.log 2>&1 &
silent=$!
number=$(announced silent.log display)
[ -n "$number" ] || fail "the silent display did not start"
env -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS=disabled: DISPLAY=127.0.0.1:$number \
  "$program" --home start-home --device phone > start.log 2>&1 &
pid=$!
for _ in $(seq 300); do
  grep -q connection silent.log && break
  kill -0 $pid 2>/dev/null || fail "the start ended by itself"
  sleep 0.05
done
grep -q connection silent.log || fail "the program did not ask the silent display"
sleep 0.3
kill -0 $pid 2>/dev/null || fail "the start ended by itself"
end_by_sigterm $pid 1000 || fail "SIGTERM did not end a start held by a display that never answers"
pid=
[ $rc -eq 143 ] || fail "the start on a silent display ended with status $rc"
[ $took -le 1000 ] || fail "the start on a silent display took $took ms to end after SIGTERM"
grep -q "after the signal" start.log && fail "the start was ended by the watch, not at once by the signal"
echo "ok: a start on a silent display ended $took ms after SIGTERM"
