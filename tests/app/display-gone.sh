#!/usr/bin/env bash
# The X display goes away under a window with a book open (its server is
# killed): the program ends at once with status 1 and says why, its settings
# written, instead of tearing itself down under its running workers (X's own
# handler calls exit, which destroyed what the workers were using).
# display-gone.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
fail() { echo "FAIL: $*" >&2; [ -f "$work/run.log" ] && tail -20 "$work/run.log" >&2; exit 1; }
for tool in Xvfb xwininfo; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
rm -rf "$work"
mkdir -p "$work"
cd "$work"
pid= xvfb=
trap 'for p in $pid $xvfb; do kill -9 $p 2>/dev/null || true; done' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3> display.txt > xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || fail "Xvfb did not start"
export DISPLAY=:$(cat display.txt)

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
