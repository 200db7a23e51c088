#!/usr/bin/env bash
# own-display.sh [-s "SERVER ARGS"] COMMAND [ARGS...]: runs COMMAND on a
# virtual X server of its own (Xvfb, "-screen 0 1280x1024x24" unless told),
# as xvfb-run -a does, and exits with COMMAND's status; the server ends
# with it.
#
# xvfb-run -a picks its display by looking for a lock file; runs started at
# the same moment pick the same number, the second server takes the number
# over as well, and clients of one reach the other, which refuses them. Here
# each display number is claimed through a lock of our own before its
# server starts, so no two runs on this machine ever share one, and the
# server says itself when it is ready (-displayfd). The server never resets
# (-noreset): one resets when its last client leaves, and a client that
# connects meanwhile (a window manager started beside a script's first look
# at the screen) is turned away.
set -u
server_args="-screen 0 1280x1024x24"
if [ "${1:-}" = -s ]; then
  server_args=$2
  shift 2
fi
[ $# -gt 0 ] || { echo "usage: own-display.sh [-s ARGS] COMMAND [ARGS...]" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "Xvfb missing" >&2; exit 77; }
command -v flock >/dev/null || { echo "flock missing" >&2; exit 77; }

claims=/tmp/.leafbright-displays
mkdir -p "$claims" 2>/dev/null
chmod 1777 "$claims" 2>/dev/null
ready=$(mktemp "${TMPDIR:-/tmp}/own-display.XXXXXX") || exit 1
xvfb=
child=
clean_up() {
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null
  if [ -n "$xvfb" ]; then
    kill -TERM "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -f "$ready"
}
trap clean_up EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

display=
# Numbers far above those xvfb-run (99 on) and Xvfb -displayfd (0 on)
# choose for themselves.
for n in $(seq 200 999); do
  exec {claim}>>"$claims/$n" || continue
  if ! flock -n "$claim"; then
    exec {claim}>&-
    continue
  fi
  # A server nobody of ours started (or one left running when its run was
  # killed) keeps its number.
  if [ -e "/tmp/.X$n-lock" ] && kill -0 "$(tr -dc 0-9 < "/tmp/.X$n-lock")" 2>/dev/null; then
    exec {claim}>&-
    continue
  fi
  : > "$ready"
  # shellcheck disable=SC2086
  Xvfb ":$n" $server_args -nolisten tcp -noreset -displayfd 3 3> "$ready" {claim}>&- > /dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 300); do
    [ -s "$ready" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if [ -s "$ready" ] && kill -0 "$xvfb" 2>/dev/null; then
    display=:$n
    break
  fi
  kill -KILL "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=
  exec {claim}>&-
done
[ -n "$display" ] || { echo "own-display.sh: no virtual X server could be started" >&2; exit 1; }

# The claim stays with this script (not with COMMAND, which may leave
# programs running) until the server is gone.
DISPLAY=$display "$@" {claim}>&- <&0 &
child=$!
while :; do
  wait "$child"
  rc=$?
  kill -0 "$child" 2>/dev/null || break
done
child=
exit $rc
