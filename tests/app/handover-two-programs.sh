#!/usr/bin/env bash
# Two runs of the program on one home: the first in a window under a virtual
# X server, the second `leafbright FILE` hands its book to the first and ends
# at once; the first lists and opens it without a restart. A socket left by
# a killed run does not stop the next run from starting on its own; a file of
# the user's in the socket's place is kept, and the run says it is not handed books.
# handover-two-programs.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$1 work=$2
fail() { echo "FAIL: $*" >&2; [ -f first.log ] && cat first.log >&2; exit 1; }
for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
. "$(dirname "$0")/windowed-run.sh"
rm -rf "$work"
mkdir -p "$work/home/Documents" "$work/outside"
cd "$work"
cp "$(dirname "$program")/sample/leafbright-sample.cbz" "outside/Handed Story.cbz"

# The first run: the book handed over during the welcome page opens once it
# is closed; back in the list its row is there (a tap on a missing row fails
# the script).
cat > first.txt <<'STEPS'
wait 2
tap "Close"
wait 3
shot handed
back
wait 1
shot list
tap "Handed Story"
wait 1
STEPS
start_windowed first --home home --device phone --script first.txt --shots shots
runner=$!
stop_first() { [ -s first.pid ] && kill -TERM "$(cat first.pid)" 2>/dev/null || true; }
trap stop_first EXIT
wait_while_running "$runner" 600 0.1 "the first program ended before listening" test -S home/leafbright.sock || true
[ -S home/leafbright.sock ] || fail "the first program does not listen for hand-overs"
[ "$(stat -c %a home/leafbright.sock)" = 600 ] || fail "the socket is open to others"

# The second run hands over and ends with status 0, without a window or shots of its own.
timeout 60 "$program" --home home --headless --shots second-shots "outside/Handed Story.cbz" > second.log 2>&1 ||
  fail "the second run failed: $(cat second.log)"
[ ! -e second-shots ] || fail "the second run started a program of its own"
# The running program copies the book in while it goes on answering.
wait_while_running "$runner" 300 0.1 "the first program ended before the book came in" \
  test -f "home/Documents/Handed Story.cbz" || true
[ -f "home/Documents/Handed Story.cbz" ] || fail "the book is not in the library"
[ -f "outside/Handed Story.cbz" ] || fail "the book was moved, not copied"

wait "$runner" || fail "the first program's script failed"
trap - EXIT
[ -s shots/handed.png ] && [ -s shots/list.png ] || fail "no pictures of the first program"
[ ! -e home/leafbright.sock ] || fail "the socket outlived the program"

# A run killed outright leaves its socket; the next run with a book replaces it
# and opens the book itself.
printf 'wait 1\nshot own\n' > own.txt
"$program" --headless --home home --script own.txt --shots shots-killed > /dev/null 2>&1 &
killed=$!
for _ in $(seq 1 1200); do [ -S home/leafbright.sock ] && break; kill -0 "$killed" 2>/dev/null || break; sleep 0.05; done
kill -KILL "$killed" 2>/dev/null || true
wait "$killed" 2>/dev/null || true
if [ -S home/leafbright.sock ]; then
  timeout 60 "$program" --headless --home home --script own.txt --shots shots-after "outside/Handed Story.cbz" \
    > third.log 2>&1 || fail "a stale socket stopped the next run: $(cat third.log)"
  [ -s shots-after/own.png ] || fail "the run after a crash did not run on its own"
fi

# A file of the user's in the socket's place is left as it is: the run goes
# on by itself and says that books are not handed to it.
rm -f home/leafbright.sock
echo mine > home/leafbright.sock
timeout 60 "$program" --headless --home home --script own.txt --shots shots-taken > taken.log 2>&1 ||
  fail "a file in the socket's place stopped the run: $(cat taken.log)"
[ -s shots-taken/own.png ] || fail "the run beside a file in the socket's place did not run"
[ "$(cat home/leafbright.sock)" = mine ] || fail "the file in the socket's place was changed"
grep -q "leafbright.sock is not a socket; it is left alone; books are not handed to this run" taken.log ||
  fail "the run did not say that books are not handed to it: $(cat taken.log)"
echo "hand-over ok"
