#!/usr/bin/env bash
# Whole runs of the program: program-test.sh MODE LEAFBRIGHT WORKDIR SCRIPTS
set -euo pipefail
mode=$1 program=$2 work=$3 scripts=$4
# The part of a run that goes on inside a virtual X server keeps the work folder.
if [ "${mode%-inside}" = "$mode" ]; then
  rm -rf "$work"
  mkdir -p "$work"
fi
cd "$work"

is_png() { [ -s "$1" ] && [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; }
fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "$0")/windowed-run.sh"

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
    # Without --home it leaves the user's own library as it was (no book
    # opened there, nothing in its history), in a home of its own that goes
    # with it.
    mkdir -p user tmp
    printf 'wait 1\n' > idle.txt
    LEAFBRIGHT_HOME=$PWD/user "$program" --headless --script idle.txt --shots user-shots >/dev/null ||
      fail "the user's library was not made"
    before=$(cd user && find . -printf '%p %s %T@\n' | sort)
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY LEAFBRIGHT_HOME="$PWD/user" TMPDIR="$PWD/tmp" "$program" --device phone \
      --shots own-shots) || fail "demonstration without a home failed"
    for shot in library page1 page2; do is_png "own-shots/$shot.png" || fail "no picture $shot without a home"; done
    [ "$(cd user && find . -printf '%p %s %T@\n' | sort)" = "$before" ] ||
      fail "the demonstration changed the user's library"
    [ -z "$(ls -A tmp)" ] || fail "the demonstration's home was left behind: $(ls -A tmp)"
    # A book named on the command line is what it pictures.
    cp "$(dirname "$program")/sample/leafbright-sample.cbz" Named.cbz
    # Looking for a program running on the user's own home to take the book
    # makes no home there.
    mkdir -p user-home
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LEAFBRIGHT_HOME -u XDG_DATA_HOME HOME="$PWD/user-home" \
      TMPDIR="$PWD/tmp" "$program" --device phone --shots book-shots \
      Named.cbz) || fail "the demonstration of a named book failed"
    for shot in page1 page2; do is_png "book-shots/$shot.png" || fail "no picture $shot of the named book"; done
    [ -z "$(ls -A user-home)" ] || fail "the demonstration of a named book left a home behind: $(ls -A user-home)"
    [ -z "$(ls -A tmp)" ] || fail "the demonstration's home of a named book was left behind: $(ls -A tmp)"
    # Opening a book named on the command line to check it, before the home
    # given is in force, writes in no other home (a solid 7z writes pages out).
    if command -v 7z >/dev/null; then
      mkdir -p seven user-home7
      (cd seven && unzip -q ../Named.cbz && 7z a -t7z -ms=on ../Named.cb7 . >/dev/null)
      env -u DISPLAY -u WAYLAND_DISPLAY -u LEAFBRIGHT_HOME -u XDG_DATA_HOME HOME="$PWD/user-home7" TMPDIR="$PWD/tmp" \
        "$program" --headless --home home7 --device phone --script idle.txt --shots seven-shots Named.cb7 >/dev/null ||
        fail "a named cb7 did not open"
      [ -z "$(ls -A user-home7)" ] || fail "a named cb7 wrote outside the home given: $(cd user-home7 && find .)"
      [ -z "$(ls -A tmp)" ] || fail "a named cb7 left its check's folder behind: $(ls -A tmp)"
    fi
    # A web address: its question is pictured and answered, then what it opens.
    fault_httpd=${LB_FAULT_HTTPD:-$(dirname "$program")/tests/lb_fault_httpd}
    mkdir -p www
    cp Named.cbz www/
    "$fault_httpd" --root www > http.log 2>&1 &
    server=$!
    trap 'kill $server 2>/dev/null || true' EXIT
    port=$(announced http.log port)
    [ -n "$port" ] || fail "the web server did not start"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$PWD/tmp" "$program" --device phone --shots web-shots \
      "http://127.0.0.1:$port/") || fail "the demonstration of a web address failed"
    for shot in question notice opened; do
      is_png "web-shots/$shot.png" || fail "no picture $shot of the web address"
      grep -q "web-shots/$shot.png" <<<"$out" || fail "path of $shot not printed for the web address"
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
    # A book that is not there, or a folder with no picture in it, is said
    # so and fails the run.
    mkdir -p folder/sub
    echo notes > folder/notes.txt
    cp "$(dirname "$program")/sample/leafbright-sample.cbz" folder/sub/
    # The same for a file address, and for a book that does not open, which
    # is not copied into the library either.
    head -c 3000 /dev/urandom > Broken.cbz
    for target in missing.cbz folder "file://$PWD/missing.cbz" Broken.cbz; do
      set +e
      err=$("$program" --headless --home home "$target" 2>&1 >/dev/null)
      rc=$?
      set -e
      [ $rc -eq 1 ] || fail "$target: status $rc"
      grep -qF "$target" <<<"$err" || fail "$target: nothing said on the error output: $err"
    done
    # A name from outside is said with its control characters escaped (no
    # title set, no screen cleared, no line forged) and its direction
    # override closed before what the program says after it.
    rlo=$'\xe2\x80\xae'
    pdf=$'\xe2\x80\xac'
    odd=$'bad\e]0;PWNED\a\e[2J\nFAKE: line'"${rlo}fdp.cbz"
    cp Broken.cbz "$odd"
    set +e
    err=$("$program" --headless --home home "$odd" 2>&1 >/dev/null)
    set -e
    [[ $err == 'leafbright: bad\e]0;PWNED\a\e[2J\nFAKE: line'"${rlo}fdp.cbz${pdf}: "* ]] &&
      [ "$(wc -l <<<"$err")" -eq 1 ] || fail "a broken book's name was said raw: $(od -c <<<"$err" | head -5)"
    grep -q "no such file" <<<"$("$program" --headless --home home "file://$PWD/missing.cbz" 2>&1)" ||
      fail "a missing file's address is not said to be missing"
    [ ! -e home/Documents/Broken.cbz ] || fail "the broken book was copied into the library"
    # A folder of pictures is a book: it comes into the library and opens.
    if command -v convert >/dev/null; then
      mkdir -p Pictures
      for colour in red green blue; do convert -size 60x90 "xc:$colour" "Pictures/$colour.png"; done
      printf 'wait 2\nshot folder-book\n' > folder-book.txt
      "$program" --headless --home home --script folder-book.txt --shots shots Pictures ||
        fail "a folder of pictures failed the run"
      [ -f home/Documents/Pictures/red.png ] || fail "the pictures are not in the library"
      is_png shots/folder-book.png || fail "no picture of the folder's book"
    fi
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
    for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
    "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" "$0" window-inside "$program" "$work" "$scripts" ||
      fail "windowed start failed"
    is_png shots/window.png || fail "no window picture"
    if command -v identify >/dev/null; then
      colours=$(identify -format %k shots/window.png)
      [ "$colours" -gt 8 ] || fail "the window picture is blank ($colours colours)"
    fi
    ;;
  window-inside)
    # The program shows one window, the one it draws in: a window shown
    # and then replaced by another (as SDL makes a window anew for its
    # renderer) is one a window manager or a tool may take for the
    # program's, and find gone. Every window mapped on the screen (there
    # is no window manager here) is seen from the root window's side, with
    # a watcher that is listening before the program starts.
    mapped=
    if command -v xev >/dev/null && command -v xprop >/dev/null; then
      xev -root -event substructure -event property > xev.log 2>&1 &
      watcher=$!
      trap 'kill $watcher 2>/dev/null || true' EXIT
      for _ in $(seq 300); do
        xprop -root -f LB_WATCHED 32c -set LB_WATCHED 1 2>/dev/null
        grep -q LB_WATCHED xev.log && break
        sleep 0.05
      done
      grep -q LB_WATCHED xev.log && mapped=xev.log
    fi
    "$program" --home home --script "$scripts/window.txt" --shots shots || fail "the windowed run failed"
    if [ -n "$mapped" ]; then
      kill $watcher
      wait $watcher 2>/dev/null || true
      # "MapNotify event, ..., window ROOT," then "event ROOT, window MAPPED, ...".
      windows=$(awk '/^MapNotify/ { m = 1; next } m { sub(/.*event [^ ]* window /, ""); sub(/,.*/, ""); print; m = 0 }' \
        "$mapped" | sort -u | wc -l)
      [ "$windows" -eq 1 ] || fail "the program mapped $windows windows, not one"
    fi
    ;;
  resize)
    # The window under a virtual X server: resized by the window system and
    # made full screen with F11, each picture at the window's new size with
    # the list laid out to its edges (its bars reach the right and bottom
    # edges); the windowed size is kept for the next run.
    for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
    command -v xdotool >/dev/null || { echo "xdotool missing"; exit 77; }
    command -v openbox >/dev/null || { echo "openbox missing"; exit 77; }
    command -v identify >/dev/null || { echo "identify missing"; exit 77; }
    make_library home
    "$(dirname "$0")/own-display.sh" -s "-screen 0 1600x1000x24" "$0" resize-inside "$program" "$work" "$scripts" || fail "resize run failed"
    size() { identify -format '%wx%h' "$1"; }
    [ "$(size shots/small.png)" = 1024x768 ] || fail "first window $(size shots/small.png)"
    [ "$(size shots/resized.png)" = 1200x800 ] || fail "resized window $(size shots/resized.png)"
    [ "$(size shots/full.png)" = 1600x1000 ] || fail "full screen $(size shots/full.png)"
    [ "$(size shots/back.png)" = 1200x800 ] || fail "back from full screen $(size shots/back.png)"
    [ "$(size root-full.png)" = 1600x1000 ] || fail "no picture of the screen"
    # The bars are light grey at both ends: the layout followed the window.
    bar() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)]" info:; }
    for shot in shots/small.png shots/resized.png shots/full.png shots/back.png root-full.png; do
      w=$(identify -format %w "$shot") h=$(identify -format %h "$shot")
      for xy in "3 3" "$((w - 3)) 3" "3 $((h - 3))" "$((w - 3)) $((h - 3))"; do
        v=$(bar "$shot" $xy)
        [ "$v" -gt 200 ] && [ "$v" -lt 250 ] || fail "$shot is not laid out to the window at $xy ($v)"
      done
    done
    # What the X window shows is what the program drew (1 % of pixels may
    # differ), and full screen the window is all the screen shows.
    ae=$(compare -metric AE shots/small.png x-small.png null: 2>&1 || true)
    [ "${ae%%[.e ]*}" -lt 8000 ] || fail "the window does not show what the program drew ($ae)"
    ae=$(compare -metric AE shots/full.png root-full.png null: 2>&1 || true)
    [ "${ae%%[.e ]*}" -lt 16000 ] || fail "the screen does not show the full-screen window ($ae)"
    "$(dirname "$0")/own-display.sh" -s "-screen 0 1600x1000x24" "$program" --home home --script "$scripts/reopen.txt" --shots shots ||
      fail "second run failed"
    [ "$(size shots/again.png)" = 1200x800 ] || fail "the window size was not kept ($(size shots/again.png))"
    # A tablet's window, taller than a screen 1024 pixels high, opens as high
    # as fits there with its title bar, as wide as the tablet.
    "$(dirname "$0")/own-display.sh" -s "-screen 0 1280x1024x24" "$0" fit-inside "$program" "$work" "$scripts" || fail "tablet run failed"
    tablet=$(size tablet-shots/again.png)
    [ "${tablet%x*}" = 1024 ] && [ "${tablet#*x}" -ge 900 ] && [ "${tablet#*x}" -lt 1024 ] ||
      fail "the tablet's window does not fit the screen ($tablet)"
    ;;
  fit-inside)
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    pid=
    trap '[ -n "$pid" ] && kill $pid 2>/dev/null; kill $wm 2>/dev/null || true' EXIT
    await_window_manager || fail "the window manager did not start"
    "$program" --home tablet-home --device pad &
    pid=$!
    # The window is fitted once the window manager has told the size of its
    # frame (soon after the window shows): its picture is taken once the
    # window is as high as fits with its title bar (what it has before is
    # as high as the screen).
    mkdir -p tablet-shots
    fitted() {
      local wid size
      wid=$(window_of $pid) && [ -n "$wid" ] && import -window "$wid" tablet-shots/again.png 2>/dev/null || return 1
      size=$(identify -format '%wx%h' tablet-shots/again.png)
      [ "${size#*x}" -lt 1024 ]
    }
    for _ in $(seq 300); do fitted && break; kill -0 $pid 2>/dev/null || fail "the tablet run ended"; sleep 0.1; done
    kill -TERM $pid
    wait $pid || fail "the tablet run failed"
    pid=
    ;;
  resize-inside)
    # Inside the virtual X server, under a window manager (full screen is
    # the window manager's): the program pictures its first window and
    # waits; this side changes the window and pictures it once it shows the
    # change. Every wait is on a condition, bounded generously: this runs
    # beside many other tests.
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    pid=
    trap '[ -n "$pid" ] && kill $pid 2>/dev/null; kill $wm 2>/dev/null || true' EXIT
    await_window_manager || fail "the window manager did not start"
    "$program" --home home --script "$scripts/resize.txt" --shots shots &
    pid=$!
    # until TRIES COMMAND...: COMMAND every tenth of a second until it succeeds.
    until_ok() {
      local tries=$1
      shift
      for _ in $(seq "$tries"); do
        "$@" && return 0
        kill -0 $pid 2>/dev/null || fail "the program ended"
        sleep 0.1
      done
      return 1
    }
    until_ok 600 test -s shots/small.png || fail "no first picture"
    has_window() { wid=$(window_of $pid 'Leafbright$') && [ -n "$wid" ]; }
    until_ok 300 has_window || fail "no window"
    import -window "$wid" x-small.png
    # laid_out PNG WxH: the window at that size, its bars light grey at all four corners.
    laid_out() {
      import -window "${3:-$wid}" "$1" 2>/dev/null && [ "$(identify -format '%wx%h' "$1")" = "$2" ] || return 1
      local w=${2%x*} h=${2#*x} xy
      for xy in "3 3" "$((w - 3)) 3" "3 $((h - 3))" "$((w - 3)) $((h - 3))"; do
        # The bars' light grey, not the white of a list or of window area
        # the program has not drawn yet.
        local v; v=$(convert "$1" -format "%[fx:int(255*p{${xy% *},${xy#* }}.r)]" info:)
        [ "$v" -gt 200 ] && [ "$v" -lt 250 ] || return 1
      done
    }
    xdotool windowsize "$wid" 1200 800
    until_ok 300 laid_out shots/resized.png 1200x800 || fail "the window was not laid out at 1200x800"
    xdotool key --window "$wid" F11
    until_ok 300 laid_out shots/full.png 1600x1000 || fail "the window was not laid out full screen"
    until_ok 300 laid_out root-full.png 1600x1000 root || fail "the screen does not show the full-screen window"
    xdotool key --window "$wid" F11
    until_ok 300 laid_out shots/back.png 1200x800 || fail "the window was not laid out back from full screen"
    # Ended as a desktop ends it: the window's size is kept for the next run.
    kill -TERM $pid
    wait $pid || fail "the program failed"
    pid=
    ;;
  sigterm)
    for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
    keep_activity_log home
    "$(dirname "$0")/own-display.sh" "$0" sigterm-inside "$program" "$work" "$scripts" || fail "the windowed run failed"
    [ "$(tail -c 18 home/Documents/_activelog.txt)" = "X---------------0" ] || fail "no termination line in the activity log"
    ;;
  sigterm-inside)
    # SIGTERM once the program is up (it listens for hand-overs, or its
    # window is there), however long that takes beside other tests.
    "$program" --home home &
    pid=$!
    up() {
      [ -S home/leafbright.sock ] && return 0
      command -v xdotool >/dev/null && [ -n "$(window_of $pid)" ]
    }
    for _ in $(seq 600); do up && break; kill -0 $pid 2>/dev/null || fail "the program ended by itself"; sleep 0.1; done
    up || { kill $pid; fail "the program did not come up"; }
    kill -TERM $pid
    set +e
    wait $pid
    rc=$?
    set -e
    [ $rc -eq 0 ] || fail "the program did not end cleanly on SIGTERM ($rc)"
    # A window script's step looking for a text that never shows gives up
    # at SIGTERM, not at the end of its patience: the run ends at once.
    printf 'shot up\ntap "Nothing Shows This"\nshot late\n' > looking.txt
    "$program" --home looking --script looking.txt --shots looking-shots &
    pid=$!
    for _ in $(seq 600); do [ -s looking-shots/up.png ] && break; kill -0 $pid 2>/dev/null || fail "the script ended by itself"; sleep 0.1; done
    [ -s looking-shots/up.png ] || { kill $pid; fail "the script did not start"; }
    # No thread of the drawing program runs below the program's priority:
    # the process ends only once each of its threads has run, and one that
    # other work starves (as Mesa's shader cache keeps one, at the lowest
    # priority) held every end on a busy machine for seconds.
    nice_of() { sed 's/.*) //' "$1" | awk '{ print $17 " " $39 }'; }
    own=$(nice_of /proc/$pid/stat)
    for task in /proc/$pid/task/*; do
      now=$(nice_of "$task/stat" 2>/dev/null) || continue
      [ -z "$now" ] || [ "$now" = "$own" ] ||
        { kill $pid; fail "the thread $(cat "$task/comm") runs at nice and policy $now, the program at $own"; }
    done
    sleep 0.5
    kill -0 $pid 2>/dev/null || fail "the script ended before the signal"
    end_by_sigterm $pid
    [ $rc -eq 0 ] || fail "the script run did not end cleanly on SIGTERM ($rc)"
    [ $took -le 3000 ] || fail "the script run took $took ms to end after SIGTERM"
    [ ! -e looking-shots/late.png ] || fail "the script went on after SIGTERM"
    ;;
  download)
    # A headless run downloading from a slow web server: a download holds a
    # step up for a few seconds of real time at most (a "wait 3" does not
    # last until the download ends), so the download can be cancelled on
    # the progress screen; SIGTERM during a step held by the next download
    # ends the run at once through its termination path, the queue and the
    # part downloaded kept for the next start.
    fault_httpd=${LB_FAULT_HTTPD:-$(dirname "$program")/tests/lb_fault_httpd}
    [ -x "$fault_httpd" ] || { echo "lb_fault_httpd missing"; exit 77; }
    mkdir -p www
    # 20 s each at 300 KB/s.
    head -c 6000000 /dev/urandom > www/first.cbz
    head -c 6000000 /dev/urandom > www/second.cbz
    "$fault_httpd" --root www > http.log 2>&1 &
    server=$!
    pid=
    trap '[ -n "$pid" ] && kill -9 $pid 2>/dev/null; kill $server 2>/dev/null || true' EXIT
    port=$(announced http.log port)
    [ -n "$port" ] || fail "the web server did not start"
    first="http://127.0.0.1:$port/first.cbz?rate=300000"
    second="http://127.0.0.1:$port/second.cbz?rate=300000"
    keep_activity_log home
    # The library's download button (desktop), then the progress screen.
    cat > download.txt <<STEPS
wait 1
tap "Close"
wait 1
open $first
wait 1
tap "Yes"
shot started
wait 3
shot waited
open $second
wait 1
tap "Yes"
tap 99 746
wait 1
tap "Progress"
wait 1
shot progress
tap "Cancel"
wait 600
STEPS
    "$program" --headless --home home --device desktop --script download.txt --shots shots > run.log 2>&1 &
    pid=$!
    mtime() { stat -c %.3Y "$1"; }
    for _ in $(seq 600); do [ -s shots/started.png ] && break; kill -0 $pid 2>/dev/null || fail "the run ended early"; sleep 0.05; done
    [ -s shots/started.png ] || fail "the download did not start"
    # Before the fault was mended the step lasted until the download ended (20 s).
    for _ in $(seq 200); do [ -s shots/waited.png ] && break; kill -0 $pid 2>/dev/null || fail "the run ended early"; sleep 0.05; done
    [ -s shots/waited.png ] || fail "\"wait 3\" with a download going lasted over 10 s"
    held=$(awk -v a="$(mtime shots/started.png)" -v b="$(mtime shots/waited.png)" 'BEGIN { printf "%d", (b - a) * 1000 }')
    [ "$held" -le 7000 ] || fail "\"wait 3\" with a download going lasted $held ms"
    # The first download cancelled on the progress screen: the second runs
    # (its part is the one on disk), and the first is no longer queued.
    running_second() { grep -q second.cbz home/tmp/download_temp.lbs 2>/dev/null && [ -s home/tmp/download_temp.zip ]; }
    for _ in $(seq 400); do running_second && break; kill -0 $pid 2>/dev/null || fail "the run ended early"; sleep 0.02; done
    running_second || fail "the second download did not start after \"Cancel\""
    [ -s shots/progress.png ] || fail "no picture of the progress screen"
    grep -q first.cbz home/Library/lbconfigs/transferqueue.plist && fail "the cancelled download is still queued"
    find home -name first.cbz | grep -q . && fail "the cancelled download reached the library"
    # The step after "Cancel" is held by the second download (for a few
    # seconds): SIGTERM now.
    kill -0 $pid 2>/dev/null || fail "the run ended before the signal"
    end_by_sigterm $pid
    pid=
    [ $rc -eq 0 ] || fail "the run did not end cleanly on SIGTERM ($rc)"
    [ $took -le 1500 ] || fail "the run took $took ms to end after SIGTERM"
    [ "$(tail -c 18 home/Documents/_activelog.txt)" = "X---------------0" ] || fail "no termination line in the activity log"
    grep -q second.cbz home/Library/lbconfigs/transferqueue.plist || fail "the running download left the queue"
    grep -q second.cbz home/tmp/download_temp.lbs || fail "the part downloaded is not marked for resuming"
    echo "\"wait 3\" lasted $held ms; the run ended $took ms after SIGTERM"
    ;;
  *) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
