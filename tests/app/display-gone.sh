#!/usr/bin/env bash
# The X display goes away under a window with a book open (its server is
# killed): the program ends at once with status 1 and says why, its settings
# written, instead of tearing itself down under its running workers (X's own
# handler calls exit, which destroyed what the workers were using).
# The display stops answering (its server is stopped) while the program
# draws: the main thread is held in the display's call, and SIGTERM still
# ends the program within a few seconds, with the signal's status.
# A display that never answers holds a start: SIGTERM ends it at once, with
# the signal's status.
# display-gone.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
fail() {
  echo "FAIL: $*" >&2
  for f in run.log frozen.log start.log; do [ -f "$work/$f" ] && { echo "--- $f" >&2; tail -20 "$work/$f" >&2; }; done
  exit 1
}
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

printf 'wait 2\ntap "Close"\nwait 1\ntap "Leafbright Sample"\nwait 2\nshot open\nwait 600\n' > run.txt
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
start_xvfb
printf 'wait 2\nshot open\nwait 1\nkey space\nwait 1\nshot late\nwait 600\n' > frozen.txt
"$program" --home home --device phone --script frozen.txt --shots frozen-shots > frozen.log 2>&1 &
pid=$!
for _ in $(seq 300); do
  kill -0 $pid 2>/dev/null || fail "the program ended before its display stopped"
  [ -s frozen-shots/open.png ] && break
  sleep 0.1
done
[ -s frozen-shots/open.png ] || fail "the book did not open again"
kill -STOP $xvfb
sleep 3
[ -e frozen-shots/late.png ] && fail "the stopped display did not hold the program"
kill -0 $pid 2>/dev/null || fail "the program ended while its display was stopped"
start=$(date +%s%N)
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
kill -0 $pid 2>/dev/null && fail "SIGTERM did not end a program held by a display that stopped answering"
set +e
wait $pid
rc=$?
set -e
took=$((($(date +%s%N) - start) / 1000000))
pid=
[ $rc -eq 143 ] || fail "the program held by its display ended with status $rc"
[ $took -le 3500 ] || fail "the program held by its display took $took ms to end after SIGTERM"
kill -9 $xvfb
xvfb=
echo "ok: the program held by a stopped display ended $took ms after SIGTERM"

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
for _ in $(seq 100); do grep -q '^display ' silent.log && break; sleep 0.1; done
number=$(sed -n 's/^display //p' silent.log)
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
start=$(date +%s%N)
kill -TERM $pid
for _ in $(seq 250); do kill -0 $pid 2>/dev/null || break; sleep 0.02; done
set +e
wait $pid
rc=$?
set -e
took=$((($(date +%s%N) - start) / 1000000))
pid=
[ $rc -eq 143 ] || fail "the start on a silent display ended with status $rc"
[ $took -le 1000 ] || fail "the start on a silent display took $took ms to end after SIGTERM"
grep -q "after the signal" start.log && fail "the start was ended by the watch, not at once by the signal"
echo "ok: a start on a silent display ended $took ms after SIGTERM"
