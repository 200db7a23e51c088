#!/usr/bin/env bash
# A web link on a PDF page, followed from the link's sheet ("Open in
# Browser"): in a window it is handed to the desktop's browser through
# xdg-open (a stand-in on PATH here, which only writes down what it was
# given); a headless run hands nothing outside itself and says the link
# could not be opened.
# links-window.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
fail() { echo "FAIL: $*" >&2; [ -f window.log ] && tail -20 window.log >&2; exit 1; }
for tool in Xvfb flock xdotool convert import; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
. "$(dirname "$0")/windowed-run.sh"
rm -rf "$work"; mkdir -p "$work/bin"; cd "$work"
# One blue page, a link to the address over all of it.
python3 "$(dirname "$(realpath "$0")")/make-pdf.py" "$work/Linked.pdf" --link "https://leafbright.example/news" 0.2,0.5,0.9
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s/opened.txt"\n' "$work" > bin/xdg-open
chmod +x bin/xdg-open
export PATH="$work/bin:$PATH"
notice_seen window headless

# In a window the page is clicked as a user clicks it, once it shows at rest
# (the start screen's animation over: a click while it fades goes nowhere),
# and so is the sheet's first button once the sheet is at rest.
start_windowed window --home window --device desktop "$work/Linked.pdf"
runner=$!
trap 'p=$(program_pid window.pid || true); [ -n "$p" ] && kill -KILL "$p" 2>/dev/null; true' EXIT
wait_while_running "$runner" 300 0.1 "the windowed run ended by itself" program_pid window.pid > /dev/null ||
  fail "the windowed run did not start"
pid=$(program_pid window.pid)
DISPLAY=$(cat window.display)
export DISPLAY
blue() { local c; c=$(rgb "$1" "$2" "$3"); set -- $c; [ "$1" -lt 100 ] && [ "$3" -gt 200 ]; }
light() { local c; c=$(rgb "$1" "$2" "$3"); set -- $c; [ "$1" -gt 230 ] && [ "$2" -gt 230 ] && [ "$3" -gt 230 ]; }
page_shown() { wid=$(window_of "$pid") && [ -n "$wid" ] && shows_at_rest "$wid" page.png && blue page.png 512 384; }
wait_while_running "$runner" 600 0.1 "the windowed run ended by itself" page_shown ||
  fail "the page was not shown at rest"
xdotool mousemove --window "$wid" 512 384 click 1
# The sheet over the middle of the page: the address, then "Open in Browser".
sheet_shown() { shows_at_rest "$wid" sheet.png && light sheet.png 380 479; }
wait_while_running "$runner" 300 0.1 "the windowed run ended by itself" sheet_shown ||
  fail "the link's sheet did not show"
xdotool mousemove --window "$wid" 512 479 click 1
wait_while_running "$runner" 300 0.1 "the windowed run ended by itself" test -s opened.txt ||
  fail "nothing was handed to the browser"
kill -TERM "$pid"
wait "$runner" || fail "the windowed run did not end cleanly"
trap - EXIT
[ "$(cat opened.txt 2>/dev/null)" = "https://leafbright.example/news" ] || fail "the browser was handed: $(cat opened.txt 2>/dev/null)"

rm -f opened.txt
printf 'wait 2\ntap 195 422\nwait 1\nsheet 0\nwait 2\nshot after\n' > headless.txt
timeout 60 "$program" --headless --home headless --device phone --script headless.txt \
  --shots shots-headless "$work/Linked.pdf" > headless.log 2>&1 || fail "the headless run failed"
[ ! -e opened.txt ] || fail "a headless run handed the link on: $(cat opened.txt)"
echo "links window ok"
