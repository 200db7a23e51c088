#!/usr/bin/env bash
# A book read in a real window under a virtual X server and a window
# manager, changed from outside as a user changes it: full screen and back
# (with F11, and out with Escape: a menu in front closes first), maximised
# and back (and full screen from maximised), made smaller, and a
# page turned by a swipe. After each change the page is laid out again for
# the window: its frame (a black line round each red page) is whole on
# screen. Then the menu's settings screen is opened and left with Escape,
# the window made larger and the book closed: no black tool bar is left
# over the page or the library. A small window left maximised (and full
# screen over it) opens maximised the next time, with its own size under it,
# also when it was sized and maximised while the program was too busy to
# look. A run on a desktop
# asking for twice the density (Xft.dpi 192) has a window twice as many
# pixels wide, with a page frame and text drawn at those pixels, not
# enlarged.
# reading-window.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$1 work=$2
self=$(realpath "$0")
# A failure keeps what the window showed then, in failed.png.
fail() {
  echo "FAIL: $*" >&2
  [ -n "${wid:-}" ] && import -window "$wid" failed.png 2>/dev/null
  [ -f run.log ] && tail -20 run.log >&2
  exit 1
}
for tool in Xvfb flock xdotool openbox wmctrl convert import xprop xrdb; do
  command -v "$tool" >/dev/null || { echo "$tool missing"; exit 77; }
done
work=$(realpath -m "$work")
program=$(realpath "$program")
. "$(dirname "$self")/windowed-run.sh"
if [ "${3:-}" != inside ]; then
  rm -rf "$work"
  mkdir -p "$work"
  cd "$work"
  # Four red pages, 600 x 800, each framed by an 8-pixel black line.
  for i in 1 2 3 4; do
    convert -size 600x800 xc:black -fill "rgb(220,40,40)" -draw "rectangle 8,8 591,791" "p$i.png"
  done
  zip -q -X Framed.cbz p1.png p2.png p3.png p4.png
  notice_seen home home2x
  "$(dirname "$self")/own-display.sh" -s "-screen 0 2400x1600x24" "$self" "$program" "$work" inside || fail "the windowed run failed"
  echo "reading window ok"
  exit 0
fi

# ---- Inside the virtual X server -------------------------------------------------------------
cd "$work"
openbox --sm-disable > openbox.log 2>&1 &
wm=$!
pid=
cleanup() {
  # (A program stopped by a step below is let go on, to end.)
  [ -n "$pid" ] && { kill "$pid"; kill -CONT "$pid"; } 2>/dev/null
  kill "$wm" 2>/dev/null || true
}
trap cleanup EXIT
# Every wait below is on a condition, bounded generously: this runs beside
# many other tests.
await_window_manager ||
  fail "the window manager did not start on $DISPLAY ($(kill -0 $wm 2>/dev/null && echo running || echo ended)): $(tail -5 openbox.log)"

# poll TRIES COMMAND...: runs COMMAND every tenth of a second until it succeeds
# (a snapshot taken by COMMAND adds its own time).
poll() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program ended"
    sleep 0.1
  done
  return 1
}
# The window of this run of the program, titled so.
has_window() { wid=$(window_of "$pid" "$1") && [ -n "$wid" ]; }
snap() { import -window "$wid" "$1" 2>/dev/null; }
size_of() { identify -format '%wx%h' "$1"; }
dark() { local c; c=$(rgb "$1" "$2" "$3"); set -- $c; [ $(($1 + $2 + $3)) -lt 150 ]; }
red() { local c; c=$(rgb "$1" "$2" "$3"); set -- $c; [ "$1" -gt 170 ] && [ "$2" -lt 90 ] && [ "$3" -lt 90 ]; }
# frame_whole PNG: the red of the pages, and the black line just outside it
# on all four sides, inside the picture; over min_width pixels wide where
# that is set.
frame_whole() {
  local box w h x y W H
  box=$(convert "$1" -fuzz 20% -fill black +opaque "rgb(220,40,40)" -fill white -opaque "rgb(220,40,40)" \
    -format '%@' info: 2>/dev/null) || return 1
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
  w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
  W=$(identify -format %w "$1") H=$(identify -format %h "$1")
  [ "$w" -gt "${min_width:-100}" ] && [ "$h" -gt 100 ] || return 1
  [ $((x - 3)) -ge 0 ] && [ $((y - 3)) -ge 0 ] && [ $((x + w + 2)) -lt "$W" ] && [ $((y + h + 2)) -lt "$H" ] || return 1
  dark "$1" $((x - 3)) $((y + h / 2)) && dark "$1" $((x + w + 2)) $((y + h / 2)) &&
    dark "$1" $((x + w / 4)) $((y - 3)) && dark "$1" $((x + w / 4)) $((y + h + 2))
}
# expect_frame PNG WHAT [SIZE]: the window shows the whole frame, at SIZE
# where that is given (what the window held before it took its new size
# may show a whole frame too).
shows_whole_frame() { snap "$1" && { [ -z "$2" ] || [ "$(size_of "$1")" = "$2" ]; } && frame_whole "$1"; }
expect_frame() {
  poll 300 shows_whole_frame "$1" "${3:-}" || fail "$2: the page's frame is not whole on screen ($(size_of "$1"))"
}
# The page at X Y shows in its own red (no menu dims it), or it does not.
page_clear() { snap "$1" && red "$1" "$2" "$3"; }
# The menu fades in over the page: it takes taps once it is fully there
# (a tap while it fades goes to the page under it), the page dimmed to well
# under half its red and no longer changing from one look to the next.
last_dim=
menu_open() {
  local c
  snap "$1" && c=$(rgb "$1" "$2" "$3") && set -- $c || return 1
  [ "$1" -lt 120 ] && [ "$1" = "$last_dim" ] && return 0
  last_dim=$1
  return 1
}
light() { local c; c=$(rgb "$1" "$2" "$3"); set -- $c; [ $(($1 + $2 + $3)) -gt 600 ]; }
settings_shown() { snap "$1" && light "$1" "$2" "$3"; }
library_clear() { snap "$1" && ! dark "$1" "$2" "$3"; }
geometry_is() { [ "$(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { print $2 }')" = "$1" ]; }

"$program" --home home Framed.cbz > run.log 2>&1 &
pid=$!
poll 600 has_window 'Framed . 1/4' || fail "no window titled with the book and page"
expect_frame opened.png "as opened"
# The window manager is told the smallest size (320 x 320 points) from the
# first showing on, and again when the window is shown after being hidden.
min_size_hint() { xprop -id "$wid" WM_NORMAL_HINTS | grep -q 'minimum size: 320 by 320'; }
poll 300 min_size_hint || fail "no smallest size of 320 x 320 in the size hints: $(xprop -id "$wid" WM_NORMAL_HINTS)"
xdotool windowunmap --sync "$wid"
xdotool windowmap --sync "$wid"
poll 300 min_size_hint || fail "shown again, the size hints lost the smallest size: $(xprop -id "$wid" WM_NORMAL_HINTS)"
expect_frame remapped.png "shown again"

xdotool key --window "$wid" F11
poll 300 geometry_is 2400x1600 || fail "F11 did not make the window full screen"
expect_frame full.png "full screen"
xdotool key --window "$wid" F11
expect_frame back.png "back from full screen at 1024x768" 1024x768
# Escape leaves full screen too, and only that: the book stays open.
xdotool key --window "$wid" F11
poll 300 geometry_is 2400x1600 || fail "F11 did not make the window full screen again"
xdotool key --window "$wid" Escape
poll 300 geometry_is 1024x768 || fail "Escape did not leave full screen"
has_window 'Framed . 1/4' || fail "Escape in full screen closed the book"
# With the menu up in full screen, Escape closes the menu first, then
# leaves full screen.
xdotool key --window "$wid" F11
poll 300 geometry_is 2400x1600 || fail "F11 did not make the window full screen a third time"
expect_frame full3.png "full screen again"
xdotool mousemove --window "$wid" 900 800 click 1
last_dim=
poll 300 menu_open fullmenu.png 900 800 || fail "the menu did not open in full screen"
xdotool key --window "$wid" Escape
poll 300 page_clear fullnomenu.png 900 800 || fail "Escape in full screen left the menu up ($(rgb fullnomenu.png 900 800))"
geometry_is 2400x1600 || fail "Escape left full screen before it closed the menu"
xdotool key --window "$wid" Escape
poll 300 geometry_is 1024x768 || fail "the second Escape did not leave full screen"
has_window 'Framed . 1/4' || fail "Escape in full screen closed the book"

wmctrl -i -r "$wid" -b add,maximized_vert,maximized_horz
# Drawn for the maximised window: what the window held before its new
# size was drawn may show a whole frame too, in a corner.
min_width=2000 expect_frame maximised.png "maximised"
# Full screen from a maximised window comes back maximised.
maximised() { xprop -id "$wid" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT; }
poll 300 maximised || fail "the window was not maximised"
xdotool key --window "$wid" F11
poll 300 geometry_is 2400x1600 || fail "F11 did not make the maximised window full screen"
xdotool key --window "$wid" F11
poll 300 maximised || fail "back from full screen the window is no longer maximised ($(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { print $2 }'))"
min_width=2000 expect_frame remaximised.png "maximised again after full screen"
wmctrl -i -r "$wid" -b remove,maximized_vert,maximized_horz
poll 300 geometry_is 1024x768 || fail "un-maximising did not give the size back"
expect_frame unmaximised.png "un-maximised"

xdotool windowsize "$wid" 700 500
expect_frame smaller.png "made smaller" 700x500
# A swipe to the next page: the page lands whole, as after a key, not where
# the pulled page was held.
xdotool mousemove --window "$wid" 550 250 mousedown 1 sleep 0.05 mousemove --window "$wid" 400 250 sleep 0.05 \
  mousemove --window "$wid" 250 250 sleep 0.05 mousemove --window "$wid" 100 250 sleep 0.02 mouseup 1
poll 300 has_window 'Framed . [23]/4' || fail "the swipe did not turn the page"
expect_frame swiped.png "after a swipe"

# The menu's settings and back with Escape; then a taller window: no bar
# left where the old bottom edge was.
xdotool mousemove --window "$wid" 350 250 click 1
# The menu opens after the single-tap delay.
last_dim=
poll 300 menu_open menu.png 175 250 || fail "the menu did not open"
xdotool mousemove --window "$wid" 680 486 click 1
poll 300 settings_shown settings.png 175 250 || fail "the settings did not open ($(rgb settings.png 175 250))"
xdotool key --window "$wid" Escape
poll 300 page_clear after-settings.png 175 250 || fail "Escape did not bring the page back ($(rgb after-settings.png 175 250))"
xdotool windowsize "$wid" 600 800
expect_frame taller.png "made taller after the settings" 600x800
red taller.png 300 520 || fail "a bar is left over the page where the window ended ($(rgb taller.png 300 520))"

# The book closed from the menu: the library shows no bar of it.
xdotool mousemove --window "$wid" 300 400 click 1
last_dim=
poll 300 menu_open menu2.png 300 400 || fail "the menu did not open again"
xdotool mousemove --window "$wid" 300 133 click 1
poll 300 has_window 'Leafbright$' || fail "the book did not close"
# A bar left behind stays: one still there once the closing has had time to end is a fault.
poll 100 library_clear library.png 300 520 || fail "a dark bar is left over the library ($(rgb library.png 300 520))"

# A small window left maximised (here full screen over it) opens maximised
# the next time, and gives back its own size when it is no longer maximised.
# Nothing smaller than 320 x 320: the bars would no longer fit.
xdotool windowsize "$wid" 200 200
poll 300 geometry_is 320x320 ||
  fail "the window was made $(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { print $2 }'), under 320x320"
# Made 420x520 and then maximised while the program is too busy to look at
# its events (here stopped): it learns of both at once, and the size under
# the maximised window is still 420x520.
kill -STOP "$pid"
xdotool windowsize "$wid" 420 520
poll 300 geometry_is 420x520 || fail "the window cannot be made 420x520"
wmctrl -i -r "$wid" -b add,maximized_vert,maximized_horz
poll 300 maximised || fail "the window was not maximised"
kill -CONT "$pid"
# The program has taken the new state once it draws the window's new width.
drawn_wide() { snap wide.png && [ "$(identify -format %w wide.png)" = 2400 ]; }
poll 300 drawn_wide || fail "the maximised window was not drawn at its new size"
# Left full screen over the maximised window: that opens maximised too.
xdotool key --window "$wid" F11
poll 300 geometry_is 2400x1600 || fail "F11 did not make the maximised window full screen"
kill "$pid"
wait "$pid" 2>/dev/null || true
"$program" --home home > run.log 2>&1 &
pid=$!
poll 600 has_window 'Leafbright$' || fail "no window on the second run"
poll 300 maximised || fail "a window left full screen over a maximised one opened as a normal window"
wmctrl -i -r "$wid" -b remove,maximized_vert,maximized_horz
poll 300 geometry_is 420x520 ||
  fail "the size under the maximised window was not kept ($(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { print $2 }'))"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

# ---- A dense screen ----------------------------------------------------------------------------
echo "Xft.dpi: 192" | xrdb -merge
"$program" --home home2x Framed.cbz > run.log 2>&1 &
pid=$!
poll 600 has_window 'Framed . 1/4' || fail "no window on the dense screen"
expect_frame dense.png "on the dense screen"
[ "$(size_of dense.png)" = 2048x1536 ] || fail "the window on a 2x screen is $(size_of dense.png), not 2048x1536"
# The page is composed at the screen's pixels and shown one to one: the
# edge between its frame line and its red is hard (a page drawn at half the
# pixels and enlarged blurs it over several pixels).
box=$(convert dense.png -fuzz 20% -fill black +opaque "rgb(220,40,40)" -fill white -opaque "rgb(220,40,40)" -format '%@' info:)
[[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "no page on the dense screen"
x=${BASH_REMATCH[3]} y=$((BASH_REMATCH[4] + BASH_REMATCH[2] / 2))
blurred=$(convert dense.png -crop "24x1+$((x - 20))+$y" -depth 8 txt:- |
  awk -F'[(,)]' 'NR > 1 { r = $3 + 0; if (r > 50 && r < 180) n++ } END { print n + 0 }')
[ "$blurred" -le 2 ] || fail "the page's frame edge is blurred over $blurred pixels on the dense screen"
