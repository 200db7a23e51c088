#!/usr/bin/env bash
# What a window run tells the desktop, through stand-ins for the desktop's
# notification area and launcher on a session bus of the test's own: a
# download given on the command line ends with a notice under the program's
# name and icon; a book read with "isShowBadge" on puts its page on the
# launcher icon, page by page, and takes it away when the book closes or the
# program is ended while the book is read; with the desktop preferring dark
# (the portal's colour scheme) the window is drawn dark, and light when the
# desktop changes its mind.
# Without a notification service the notice goes to the error output and
# the run goes on. A bus that does not answer holds a start in a window up for
# a bounded wait only, and SIGTERM ends such a start at once.
# desktop-services-window.sh LEAFBRIGHT FAKE-DESKTOP WORKDIR
set -euo pipefail
program=$(realpath "$1")
fake=$(realpath "$2")
work=$(realpath -m "$3")
fail() {
  echo "FAIL: $*" >&2
  for f in run*.log desktop*.log http.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  exit 1
}
for tool in Xvfb flock dbus-daemon convert import xdotool; do command -v "$tool" >/dev/null || { echo "$tool missing"; exit 77; }; done
. "$(dirname "$0")/windowed-run.sh"
rm -rf "$work"
mkdir -p "$work/www"
cd "$work"

# Three pages of a PDF, each its own colour.
python3 "$(dirname "$(realpath "$0")")/make-pdf.py" www/Three.pdf 0.9,0.2,0.2 0.2,0.9,0.2 0.2,0.2,0.9
notice_seen home1 home2 home3 home4
mkdir -p home2/Library/lbconfigs
printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>isShowBadge</key><true/></dict></plist>\n' \
  > home2/Library/lbconfigs/.globalsettings.lbs

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory www > http.log 2>&1 &
http_pid=$!
# A session bus of the test's own, with a configuration of its own: none of
# the machine's session services (its installed portal, keyring or
# notification daemon) is ever started on it, so only the stand-ins answer.
cat > bus.conf <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
bus=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-address=1 --print-pid=1)
address=$(echo "$bus" | sed -n 1p)
bus_pid=$(echo "$bus" | sed -n 2p)
fake_pid=
cleanup() {
  for f in run1.pid run2.pid run3.pid; do p=$(program_pid $f || true); [ -n "$p" ] && kill -KILL "$p" 2>/dev/null || true; done
  [ -n "$fake_pid" ] && kill "$fake_pid" 2>/dev/null || true
  kill "$http_pid" 2>/dev/null || true
  [ -n "$bus_pid" ] && { kill -CONT "$bus_pid"; kill "$bus_pid"; } 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
export DBUS_SESSION_BUS_ADDRESS=$address
"$fake" "$address" desktop.log &
fake_pid=$!
for _ in $(seq 100); do grep -q '^ready$' desktop.log 2>/dev/null && break; sleep 0.1; done
grep -q '^ready$' desktop.log || fail "the stand-in desktop did not start"

# A download that ends raises a notice.
printf 'wait 2\ntap "Yes"\nwait 600\n' > run1.txt
start_windowed run1 --home home1 --device desktop --script run1.txt --shots shots1 "http://127.0.0.1:$port/Three.pdf"
runner=$!
wait_while_running "$runner" 600 0.1 "the first run ended by itself" grep -q '^notify ' desktop.log ||
  fail "no notice came when the download ended"
kill -TERM "$(program_pid run1.pid)"
wait "$runner" || fail "the first run did not end cleanly"
[ "$(grep '^notify ' desktop.log)" = "notify Leafbright | leafbright | Download Complete: Three.pdf |  | leafbright | 0" ] ||
  fail "the notice was: $(grep '^notify ' desktop.log)"
find home1 -name Three.pdf | grep -q . || fail "the book was not downloaded"

# With "isShowBadge" on, the page is on the launcher icon while the book is read,
# and goes when the book closes; opened again (at page 3) and the program
# ended by a signal while it is read, the icon is left without a number.
cp www/Three.pdf home2/Documents/
printf 'wait 3\ntap "Three"\nwait 1\nsheet 0\nwait 3\nkey pagedown\nwait 1.5\nkey pagedown\nwait 1.5\nback\nwait 1.5\ntap "Three"\nwait 1\nsheet 0\nwait 600\n' > run2.txt
launcher_counts() { grep '^launcher ' desktop.log | sed 's/^launcher application:\/\/leafbright.desktop //' | tr '\n' ','; }
launcher_told() { [ "$(grep -c '^launcher ' desktop.log)" -ge "$1" ]; }
start_windowed run2 --home home2 --device phone --script run2.txt --shots shots2
runner=$!
wait_while_running "$runner" 900 0.1 "the reading run ended by itself" launcher_told 5 ||
  fail "the launcher was told: $(launcher_counts)"
kill -TERM "$(program_pid run2.pid)"
wait "$runner" || fail "the reading run did not end cleanly"
for _ in $(seq 100); do launcher_told 6 && break; sleep 0.1; done
counts=$(launcher_counts)
[ "$counts" = "count 1 shown,count 2 shown,count 3 shown,count 0 hidden,count 3 shown,count 0 hidden," ] ||
  fail "the launcher was told: $counts"

# The desktop prefers dark: the window is drawn dark from its start, and
# light once the desktop says so (the portal's SettingChanged).
kill "$fake_pid"
wait "$fake_pid" 2>/dev/null || true
: > desktop.log
"$fake" "$address" desktop.log 1 &
fake_pid=$!
for _ in $(seq 100); do grep -q '^ready$' desktop.log 2>/dev/null && break; sleep 0.1; done
grep -q '^ready$' desktop.log || fail "the stand-in portal did not start"
printf 'wait 3\nshot dark\nwait 600\n' > run4.txt
start_windowed run4 --home home4 --device desktop --script run4.txt --shots shots4
runner=$!
wait_while_running "$runner" 300 0.1 "the dark run ended by itself" test -s shots4/dark.png || fail "no picture of the window"
[ "$(rgb shots4/dark.png 512 384)" = "0 0 0" ] || fail "the window was not dark: $(rgb shots4/dark.png 512 384)"
kill -USR1 "$fake_pid"
# The window as the display shows it, until it is light.
turned_light() {
  local wid
  wid=$(DISPLAY=$(cat run4.display) window_of "$(program_pid run4.pid)") && [ -n "$wid" ] &&
    DISPLAY=$(cat run4.display) import -window "$wid" light.png 2>/dev/null && [ "$(rgb light.png 512 384)" = "255 255 255" ]
}
wait_while_running "$runner" 300 0.1 "the dark run ended by itself" turned_light ||
  fail "the window did not turn light: $(rgb light.png 512 384 2>/dev/null)"
kill -TERM "$(program_pid run4.pid)"
wait "$runner" || fail "the dark run did not end cleanly"
grep -q '^color-scheme 2$' desktop.log || fail "the desktop's change was not made"

# Nothing shows notices: the notice goes to the error output, and nothing fails.
kill "$fake_pid"
wait "$fake_pid" 2>/dev/null || true
fake_pid=
printf 'wait 2\ntap "Yes"\nwait 600\n' > run3.txt
start_windowed run3 --home home3 --device desktop --script run3.txt --shots shots3 "http://127.0.0.1:$port/Three.pdf"
runner=$!
wait_while_running "$runner" 600 0.1 "the third run ended by itself" grep -q 'Download Complete: Three.pdf' run3.log ||
  fail "the notice did not reach the error output without a notification service"
kill -TERM "$(program_pid run3.pid)"
wait "$runner" || fail "the third run did not end cleanly"
grep -q '^leafbright: Download Complete: Three.pdf$' run3.log || fail "the notice read: $(grep Download run3.log)"

# A session bus that does not answer (its daemon stopped): a start in a window
# costs a bounded wait and goes on; SIGTERM during a start ends the program at
# once (killed by the signal, not after the start).
kill -STOP "$bus_pid"
printf 'wait 1\nshot started\n' > run4.txt
start_windowed run4 --home home3 --device desktop --script run4.txt --shots shots4
runner=$!
for _ in $(seq 300); do kill -0 "$runner" 2>/dev/null || break; sleep 0.1; done
kill -0 "$runner" 2>/dev/null && fail "a start in a window waits on a session bus that does not answer"
wait "$runner" || fail "the run on a session bus that does not answer failed"
[ -s shots4/started.png ] || fail "the run on a session bus that does not answer showed nothing"
start_windowed run5 --home home3 --device desktop
runner=$!
for _ in $(seq 300); do [ -s run5.pid ] && break; sleep 0.1; done
sleep 0.3
kill -TERM "$(program_pid run5.pid)"
for _ in $(seq 50); do kill -0 "$runner" 2>/dev/null || break; sleep 0.1; done
kill -0 "$runner" 2>/dev/null && fail "SIGTERM did not end a start waiting on the session bus"
status=0
wait "$runner" || status=$?
[ "$status" = 143 ] || fail "a start ended by SIGTERM went on to status $status"
kill -CONT "$bus_pid"
echo "desktop services ok"
