#!/usr/bin/env bash
# Two runs of the program on loopback: the first, in a window on the real
# clock, shares a library folder through its media-server screen; the
# second, headless, adds it as a site, lists it and reads its comic in place.
# SIGTERM then ends the first through termination, which stops its server.
# media-server-two-programs.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$1 work=$2
fail() { echo "FAIL: $*" >&2; [ -f a.log ] && cat a.log >&2; exit 1; }
for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
command -v curl >/dev/null || { echo "curl missing"; exit 77; }
. "$(dirname "$0")/windowed-run.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

mkdir -p a/Documents/Shared a/Library/Preferences b
cp "$(dirname "$program")/sample/leafbright-sample.cbz" a/Documents/Shared/Story.cbz
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
site="http://127.0.0.1:$port/"
cat > a/Library/Preferences/leafbright.plist <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>mediaServerListen</key><string>127.0.0.1:$port</string></dict></plist>
PLIST

# The menu button is the tool bar's first (32 787 on the phone), the download button its second.
cat > a.txt <<'STEPS'
wait 1
tap "Close"
wait 1
tap 32 787
wait 1
tap "Starting the MediaServer"
wait 1
tap "HTTP Server"
wait 1
tap "Shared"
wait 1
tap "Share This Folder"
wait 1
shot shared
wait 120
STEPS
cat > b.txt <<STEPS
wait 1
tap "Close"
wait 1
tap 113 787
wait 1
tap "Add Site"
wait 1
tap "URL"
type $site
tap "Display Name"
type Here
tap "Save"
wait 1
tap "Here"
wait 2
shot remote
tap "Streaming"
wait 0.5
tap "Story.cbz"
wait 1
sheet 0
wait 3
shot reading
STEPS

start_windowed a --home a --device phone --script a.txt --shots shots-a
runner=$!
stop_first() { [ -s a.pid ] && kill -TERM "$(cat a.pid)" 2>/dev/null || true; }
trap stop_first EXIT
wait_while_running "$runner" 120 0.5 "the first program ended before sharing" curl -s -f -o /dev/null "$site" || true
curl -s -f "$site" | grep -q 'booktitle="Story.cbz"' || fail "the shared folder is not served"

"$program" --headless --home b --device phone --script b.txt --shots shots-b || fail "the second program's script failed"
[ -s shots-b/reading.png ] || fail "no picture of the book read"
cmp -s shots-b/remote.png shots-b/reading.png && fail "the book did not open"
[ ! -e b/Documents/Story.cbz ] || fail "the book was downloaded instead of read in place"

stop_first
trap - EXIT
set +e
wait "$runner"
rc=$?
set -e
[ $rc -eq 0 ] || fail "the first program did not end cleanly on SIGTERM ($rc)"
if curl -s -f -o /dev/null "$site"; then fail "the server still answers after the program ended"; fi
echo "shared, listed and read on $site"
