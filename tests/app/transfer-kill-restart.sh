#!/usr/bin/env bash
# The download queue survives a kill: a windowed run on the real clock is
# handed three web addresses and says "Yes" to each; nginx sends slowly, so
# the program is killed (SIGKILL) with all three queued and one half-way. A
# second run takes the queue up by itself: the book cut short continues from
# the bytes already on disk (a Range request), the rest follow, every book
# arrives whole and once, and SIGTERM then ends the run through its
# termination path. Then, as a user would: a web address on the
# command line is asked about and downloaded, and a file:// URL imports a
# book into the library.
# transfer-kill-restart.sh LEAFBRIGHT WORKDIR
set -euo pipefail
program=$1 work=$2
fail() {
  echo "FAIL: $*" >&2
  for f in run1.log run2.log nginx/error.log nginx/access.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  exit 1
}
for tool in Xvfb flock; do command -v $tool >/dev/null || { echo "$tool missing"; exit 77; }; done
. "$(dirname "$0")/windowed-run.sh"
nginx=$(command -v nginx || true)
[ -n "$nginx" ] || [ ! -x /usr/sbin/nginx ] || nginx=/usr/sbin/nginx
[ -n "$nginx" ] || { echo "nginx missing"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Three books of different bytes, slow enough to be cut off half-way.
mkdir -p www nginx/tmp
for n in 1 2 3; do head -c $((600000 + n * 50000)) /dev/urandom > "www/book$n.cbz"; done
head -c 60000 /dev/urandom > www/book4.cbz
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=""
[ "$(id -u)" -eq 0 ] && user="user root;"
cat > nginx/nginx.conf <<CONF
$user
daemon off;
pid $PWD/nginx/nginx.pid;
error_log $PWD/nginx/error.log warn;
events { worker_connections 64; }
http {
  log_format ranges '\$request_uri \$status "\$http_range" \$body_bytes_sent';
  access_log $PWD/nginx/access.log ranges;
  client_body_temp_path $PWD/nginx/tmp/body;
  proxy_temp_path $PWD/nginx/tmp/proxy;
  fastcgi_temp_path $PWD/nginx/tmp/fastcgi;
  uwsgi_temp_path $PWD/nginx/tmp/uwsgi;
  scgi_temp_path $PWD/nginx/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $PWD/www;
    location / { limit_rate 150k; }
  }
}
CONF
"$nginx" -p "$PWD/nginx" -e "$PWD/nginx/error.log" -c "$PWD/nginx/nginx.conf" &
nginx_pid=$!
cleanup() {
  for f in run1.pid run2.pid; do p=$(program_pid $f || true); [ -n "$p" ] && kill -KILL "$p" 2>/dev/null || true; done
  kill "$nginx_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
site="http://127.0.0.1:$port"

{
  echo "wait 1"
  echo 'tap "Close"'
  echo "wait 1"
  for n in 1 2 3; do
    echo "open $site/book$n.cbz"
    echo "wait 0.3"
    echo 'tap "Yes"'
    echo "wait 0.3"
  done
  echo "wait 600"
} > run1.txt
printf 'wait 600\n' > run2.txt

state=home/Library/lbconfigs/transferqueue.plist
downloads() { find home \( -name "book$1.cbz" -path '*downloads*' -o -name "book$1.cbz" -path '*Books*' \) 2>/dev/null | head -1; }
partial() { stat -c %s home/tmp/download_temp.zip 2>/dev/null || echo 0; }

# All three books queued and one half-way.
under_way() { [ "$(partial)" -gt 150000 ] && [ -s home/tmp/download_temp.lbs ] && grep -q book3 "$state" 2>/dev/null; }
all_done() { [ -n "$(downloads "$1")" ] && [ ! -e "$state" ]; }

start_windowed run1 --home home --device phone --script run1.txt --shots shots1
runner1=$!
wait_while_running "$runner1" 600 0.1 "the first run ended by itself" under_way ||
  fail "the downloads did not get under way"
kill -KILL "$(program_pid run1.pid)"
wait "$runner1" 2>/dev/null || true
[ -s "$state" ] || fail "no queue state was left by the killed run"
cut=$(partial)
# The book the kill cut short (the temporary file's side file names it).
cutbook=$(grep -o 'book[0-9]' home/tmp/download_temp.lbs | head -1)
[ -n "$cutbook" ] || fail "the temporary file names no book"
[ -z "$(downloads "${cutbook#book}")" ] || fail "$cutbook was done before the kill"

start_windowed run2 --home home --device phone --script run2.txt --shots shots2
runner2=$!
wait_while_running "$runner2" 900 0.1 "the second run ended by itself" all_done 3 ||
  fail "the queue did not finish after the restart"
kill -TERM "$(program_pid run2.pid)"
set +e
wait "$runner2"
rc=$?
set -e
[ $rc -eq 0 ] || fail "the second run did not end cleanly on SIGTERM ($rc)"

for n in 1 2 3; do
  got=$(downloads $n)
  [ -n "$got" ] || fail "book$n was not downloaded"
  cmp -s "$got" "www/book$n.cbz" || fail "book$n arrived with the wrong bytes"
  [ "$(find home -name "book$n *.cbz" 2>/dev/null | wc -l)" -eq 0 ] || fail "book$n was saved twice"
  # Nothing was fetched whole twice: the restart only went on.
  [ "$(grep -c "^/book$n.cbz 200 " nginx/access.log)" -le 1 ] || fail "book$n was fetched from the start again"
done
# The book cut short went on from where the kill left it, not from the start.
# A kill can land after its last byte came but before it was put in place:
# then there is nothing after the bytes kept, and its last byte is asked again.
if [ "$cut" -eq "$(stat -c %s "www/$cutbook.cbz")" ]; then
  grep -q "^/$cutbook.cbz 416 \"bytes=$cut-\"" nginx/access.log &&
    grep -q "^/$cutbook.cbz 206 \"bytes=$((cut - 1))-\" 1\$" nginx/access.log ||
    fail "$cutbook, whole on disk, was not finished from its last byte"
else
  grep -q "^/$cutbook.cbz 206 \"bytes=$cut-\"" nginx/access.log || fail "$cutbook was not resumed from byte $cut"
fi

# "leafbright http://.../book4.cbz": the question, "Yes", the book in the downloads.
printf 'wait 1\ntap "Yes"\nwait 600\n' > run3.txt
start_windowed run3 --home home --device phone --script run3.txt --shots shots3 "$site/book4.cbz"
runner3=$!
wait_while_running "$runner3" 300 0.1 "the third run ended by itself" all_done 4 || true
kill -TERM "$(program_pid run3.pid)"
wait "$runner3" || fail "the third run did not end cleanly"
got=$(downloads 4)
[ -n "$got" ] && cmp -s "$got" www/book4.cbz || fail "the address given on the command line was not downloaded"

# A file:// URL: the book is copied into the library and the original stays
# (a real book: one that does not open is refused).
mkdir -p outside
cp "home/Documents/Leafbright Sample.cbz" "outside/Handed Over.cbz"
printf 'wait 1\n' > run4.txt
"$program" --headless --home home --device phone --script run4.txt "file://$PWD/outside/Handed%20Over.cbz" > run4.log 2>&1 ||
  fail "the file URL run failed"
cmp -s "home/Documents/Handed Over.cbz" "outside/Handed Over.cbz" || fail "the file URL was not imported"
[ -e "outside/Handed Over.cbz" ] || fail "the imported file was moved away"
echo "killed with $cut bytes of $cutbook on disk; all three books whole after the restart; URL and file handed over"
