#!/usr/bin/env bash
# Whole runs of the program: program-test.sh MODE LEAFBRIGHT WORKDIR SCRIPTS
set -euo pipefail
mode=$1 program=$2 work=$3 scripts=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"

is_png() { [ -s "$1" ] && [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# A library with folders and books (copies of the sample) to sort and search.
make_library() {
  local docs=$1/Documents sample
  sample=$(dirname "$program")/sample/leafbright-sample.cbz
  mkdir -p "$docs/Comics" "$docs/Magazines"
  for name in "Vol 1" "Vol 2" "Vol 10" "[Group] Another Story"; do cp "$sample" "$docs/$name.cbz"; done
  cp "$sample" "$docs/Comics/Inside.cbz"
}

case $mode in
  demo)
    # No script and no display: the demonstration pictures, their paths printed.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --home home --device phone) || fail "demonstration failed"
    for shot in library page1 page2; do
      is_png "shots/$shot.png" || fail "no picture $shot"
      grep -q "shots/$shot.png" <<<"$out" || fail "path of $shot not printed"
    done
    ;;
  library)
    make_library home
    "$program" --headless --home home --device phone --script "$scripts/library.txt" --shots shots ||
      fail "library script failed"
    for shot in list-name list-date bookshelf search folder landscape; do is_png "shots/$shot.png" || fail "no $shot"; done
    cmp -s shots/list-name.png shots/bookshelf.png && fail "bookshelf looks like the list"
    ;;
  broken)
    set +e
    err=$("$program" --headless --home home --script "$scripts/broken.txt" --shots shots 2>&1 >/dev/null)
    rc=$?
    set -e
    [ $rc -eq 1 ] || fail "a failing step must end the run with status 1 (got $rc)"
    grep -q "line 3" <<<"$err" || fail "the message does not name the step: $err"
    is_png shots/before.png || fail "the steps before the failure did not run"
    [ ! -e shots/after.png ] || fail "steps after the failure ran"
    "$program" --frobnicate 2>/dev/null && fail "an unknown flag was accepted"
    [ $? -eq 2 ] || true
    ;;
  turns)
    # Every device profile turned with the bookshelf and with a book open:
    # each picture has the shape of the turned window.
    shape() { identify -format '%w %h' "$1" | awk '{ print ($1 > $2) ? "landscape" : "portrait" }'; }
    for device in phone phone-se pad desktop; do
      rm -rf "home-$device" "shots-$device"
      make_library "home-$device"
      "$program" --headless --home "home-$device" --device "$device" --script "$scripts/turns.txt" \
        --shots "shots-$device" || fail "turns script failed on $device"
      for shot in shelf-landscape shelf-portrait book-landscape book-portrait; do
        is_png "shots-$device/$shot.png" || fail "no $shot on $device"
        if command -v identify >/dev/null; then
          [ "$(shape "shots-$device/$shot.png")" = "${shot#*-}" ] || fail "$shot on $device has the wrong shape"
        fi
      done
      cmp -s "shots-$device/book-landscape.png" "shots-$device/book-portrait.png" && fail "the book did not turn on $device"
    done
    ;;
  window)
    command -v xvfb-run >/dev/null || { echo "xvfb-run missing"; exit 77; }
    xvfb-run -a -s "-screen 0 1280x1024x24" "$program" --home home --script "$scripts/window.txt" --shots shots ||
      fail "windowed start failed"
    is_png shots/window.png || fail "no window picture"
    if command -v identify >/dev/null; then
      colours=$(identify -format %k shots/window.png)
      [ "$colours" -gt 8 ] || fail "the window picture is blank ($colours colours)"
    fi
    ;;
  sigterm)
    command -v xvfb-run >/dev/null || { echo "xvfb-run missing"; exit 77; }
    mkdir -p home/Library/Preferences
    cat > home/Library/Preferences/leafbright.plist <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>enable_crashlog</key><true/></dict></plist>
PLIST
    set +e
    xvfb-run -a timeout -s TERM 3 "$program" --home home
    rc=$?
    set -e
    [ $rc -eq 0 ] || [ $rc -eq 124 ] || fail "the program did not end cleanly on SIGTERM ($rc)"
    [ "$(tail -c 18 home/Documents/_activelog.txt)" = "X---------------0" ] || fail "no termination line in the activity log"
    ;;
  *) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
